// What the simulated camcorder's capture files cost: seconds of tape written
// as fast as the writer goes, for each frame rate and picture shape. Prints
// the bytes it produces per second as a multiple of the stream rate (how
// much faster than the tape it could go) and the CPU time a second of tape
// takes, which is its share of a core while capturing in real time.
// Optional first argument: seconds of tape per run (default 30).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "simulator/CaptureStreamWriter.h"

#ifdef _WIN32
#  include <windows.h>
#else
#  include <time.h>
#endif

namespace {

// The writer runs on the calling thread, so its CPU time is the thread's.
double ThreadCpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
#else
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  using zelto::sim::CaptureStreamWriter;
  const int seconds = bench::Rounds(argc, argv, 30);
  std::printf("capture writer, %d s of tape a run, %s\n", seconds,
              CaptureStreamWriter::HasVideo() ? "MPEG-2 video" : "tables and padding only");
  for (const auto& [fps, wide] : {std::pair{25u, true}, std::pair{30u, false}}) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("zelto-capture-bench-" + std::to_string(bench::NowNs()) + ".m2t");
    std::string error;
    auto writer = CaptureStreamWriter::Create(file, fps, wide, &error);
    if (!writer) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    const double cpuStart = ThreadCpuSeconds();
    const long long wallStart = bench::NowNs();
    // A frame at a time, as a camcorder that follows its play head writes.
    bool ok = true;
    for (unsigned frame = 0; ok && frame < fps * static_cast<unsigned>(seconds); ++frame)
      ok = writer->WriteFrames(1, frame, 1, &error);
    ok = writer->Close(&error) && ok;
    const double wall = static_cast<double>(bench::NowNs() - wallStart) * 1e-9;
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double bytes = static_cast<double>(writer->BytesWritten());
    writer.reset();
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!ok) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::printf("  %u fps %s: %5.1f x the stream rate, %5.1f ms of CPU per second of tape (%.1f%% of a core)\n",
                fps, wide ? "16:9" : " 4:3", bytes / wall / CaptureStreamWriter::kStreamBytesPerSecond,
                cpu * 1000 / seconds, cpu * 100 / seconds);
  }
  return 0;
}
