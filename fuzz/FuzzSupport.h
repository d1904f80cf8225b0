// What the fuzz targets share: reading an input as text fields, a private
// folder for targets that must hand our code a file, and a check that
// stops a run at once with a message (libFuzzer keeps the input).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace fuzz {

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input cut at each `separator`.
inline std::vector<std::string> Fields(std::string_view text, char separator) {
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    fields.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

// A folder of this process's own, made on first use and removed when the
// process ends: in memory where the system has such a place (a database's
// flushes to the disk would set the pace), else in the temporary folder.
inline const std::filesystem::path& Folder() {
  struct Owned {
    std::filesystem::path path =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        ("zelto-fuzz-" + std::to_string(getpid()));
    Owned() { std::filesystem::create_directories(path); }
    ~Owned() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Owned folder;
  return folder.path;
}

// A broken promise of our code: the run stops here and keeps the input.
#define FUZZ_CHECK(condition, ...)                                                     \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: %s failed: ", __FILE__, __LINE__, #condition);      \
      std::fprintf(stderr, __VA_ARGS__);                                               \
      std::fprintf(stderr, "\n");                                                      \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

}  // namespace fuzz
