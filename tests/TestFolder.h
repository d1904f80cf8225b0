// A folder of a test's own under the temporary folder: named after the test
// and this process, so two checkouts (or two runs) testing at once on one
// machine never share one.
#pragma once

#include <filesystem>
#include <string>

#ifdef _WIN32
#  include <process.h>
#else
#  include <unistd.h>
#endif

namespace zelto::testing {

inline std::filesystem::path TestFolder(const std::string& name) {
#ifdef _WIN32
  const long process = static_cast<long>(_getpid());
#else
  const long process = static_cast<long>(getpid());
#endif
  return std::filesystem::temp_directory_path() / (name + "-" + std::to_string(process));
}

}  // namespace zelto::testing
