// What the capture benchmarks share: a tape recorded from end to end, the
// bytes the capture files in a folder hold, a direct capture's parameters,
// and, on Linux, the threads of the process with the CPU time each has used.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <utility>

#include "host/foundation/OxDeviceTypes.h"
#include "platform/PlatformExtras.h"
#include "simulator/Cassette.h"
#include "simulator/CaptureStreamWriter.h"

#if defined(__linux__)
#  include <sys/types.h>
#  include <time.h>
#  include <unistd.h>

#  include <fstream>
#  include <sstream>
#endif

namespace bench {

inline constexpr double kStreamBytesPerSecond = zelto::sim::CaptureStreamWriter::kStreamBytesPerSecond;

// Ten hours of tape holding one scene, a second of blank at either end: a
// capture at any clock speed plays recorded tape for as long as it runs.
inline zelto::sim::Cassette LongTape() {
  constexpr std::uint32_t kHours = 10;
  zelto::sim::Cassette tape;
  tape.lengthTracks = kHours * 3600 * zelto::sim::kTracksPerSecond;
  zelto::sim::Scene scene;
  scene.startTrack = zelto::sim::kTracksPerSecond;
  scene.endTrack = tape.lengthTracks - zelto::sim::kTracksPerSecond;
  scene.recorded = "2025-07-12T10:14:03";
  tape.scenes.push_back(scene);
  return tape;
}

// What the files directly in a folder hold, as the capture has written them
// so far.
inline std::uint64_t FolderBytes(const std::filesystem::path& folder) {
  std::uint64_t total = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::error_code sizeError;
    const std::uintmax_t size = entry.file_size(sizeError);
    if (!sizeError) total += size;
  }
  return total;
}

// One run of files in the folder, never split: the automatic limit.
inline Orvex::_OxDirectCapturingParam DirectParam(const std::filesystem::path& folder, const wchar_t* baseName) {
  Orvex::_OxDirectCapturingParam param;
  param.folderPath = Orvex::OxString(zelto::platform::WidePath(folder).c_str());
  param.fileBaseName = Orvex::OxString(baseName);
  return param;
}

#if defined(__linux__)

inline std::set<long> Tasks() {
  std::set<long> tasks;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec))
    tasks.insert(std::stol(entry.path().filename().string()));
  return tasks;
}

inline std::set<long> Minus(const std::set<long>& a, const std::set<long>& b) {
  std::set<long> out;
  for (long t : a)
    if (!b.count(t)) out.insert(t);
  return out;
}

inline long CurrentTask() { return static_cast<long>(gettid()); }

// User and system time from /proc, in clock ticks: which of the two a busy
// thread spends its time in. Negative once the thread is gone.
inline std::pair<double, double> TaskUserSystemSeconds(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return {-1, -1};
  // The fields after the name, which is in parentheses and may hold spaces;
  // utime and stime are the 14th and 15th.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stoull(field);
    if (i == 15) system = std::stoull(field);
  }
  const auto tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  return {static_cast<double>(user) / tick, static_cast<double>(system) / tick};
}

// CPU seconds a thread of this process has used, from the kernel's clock of
// that thread: the clock pthread_getcpuclockid names, made here from the
// kernel's thread id, which is all we know of the threads the library and
// the simulator start. Falls back on /proc's ticks; negative once the
// thread is gone.
inline double TaskCpuSeconds(long tid) {
  const auto clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);  // per thread, scheduler time
  timespec now{};
  if (clock_gettime(clock, &now) == 0) return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  const auto [user, system] = TaskUserSystemSeconds(tid);
  return user < 0 ? -1 : user + system;
}

// How often a thread has gone to sleep and been woken since it began.
inline long long TaskWakeups(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stoll(line.substr(24));
  return -1;
}

inline double OwnCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

#endif

}  // namespace bench
