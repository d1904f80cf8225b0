// What the process holds: resident memory, open file descriptors and
// threads, read from /proc/self on Linux; none elsewhere.
#pragma once

#include <optional>

#if defined(__linux__)
#  include <unistd.h>

#  include <algorithm>
#  include <chrono>
#  include <filesystem>
#  include <fstream>
#  include <thread>
#endif

namespace bench {

struct ProcessFigures {
  double residentMiB = 0;
  long descriptors = 0;
  long threads = 0;
};

#if defined(__linux__)

inline long FolderEntries(const char* folder) {
  long count = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec))
    ++count;
  return count;
}

// Descriptors and threads are the least of `looks` looks 100 ms apart: one
// only passing through (a capture's writer finishing) is not held.
inline std::optional<ProcessFigures> ReadProcessFigures(int looks = 5) {
  ProcessFigures least{0, -1, -1};
  for (int look = 0; look < looks; ++look) {
    if (look > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    if (!(statm >> size >> resident)) return std::nullopt;
    least.residentMiB = static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
    const long descriptors = FolderEntries("/proc/self/fd") - 1;  // less the one this look opened
    const long threads = FolderEntries("/proc/self/task");
    least.descriptors = least.descriptors < 0 ? descriptors : std::min(least.descriptors, descriptors);
    least.threads = least.threads < 0 ? threads : std::min(least.threads, threads);
  }
  return least;
}

#else

inline std::optional<ProcessFigures> ReadProcessFigures(int = 5) { return std::nullopt; }

#endif

}  // namespace bench
