// How fast the whole capture path writes when the tape plays faster than
// real time: a direct capture through the device on the simulated camcorder
// playing one long scene, for each clock scale, the bytes the files gained
// over wall time as a multiple of the stream rate. Where the figure stops
// following the tape (1 / scale), the capture falls behind; on Linux the
// capture thread's share of a core, and how much of it is the kernel's
// (writing the file), tell why: a thread near a whole core is encoding as
// fast as it can, one well below it waits on its look period or the disk.
// Arguments: seconds of tape a scale (default 120), then the scales
// (default 1 0.05 0.02 0.01 0.005 0.002). Windows' clock cannot be sped up:
// there every run is at real speed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench/BenchCapture.h"
#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"

namespace {

struct Run {
  double scale = 1;
  double wall = 0;        // s
  double tape = 0;        // s of tape written in the window
  double captureCpu = -1;  // s of the capture thread's CPU in the window; negative: unknown
  double captureSystem = -1;
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = bench::Rounds(argc, argv, 120);
  std::vector<double> scales;
  for (int i = 2; i < argc; ++i)
    if (std::atof(argv[i]) > 0) scales.push_back(std::atof(argv[i]));
  if (scales.empty()) scales = {1, 0.05, 0.02, 0.01, 0.005, 0.002};

  bench::SimulatedCamcorder camcorder("capture-rate", bench::LongTape());
  if (!camcorder.Ok()) return 1;
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  const std::filesystem::path captures = camcorder.CaptureFolder();

  std::vector<Run> runs;
  for (double scale : scales) {
    zelto::platform::SetTimeScaleForTesting(scale);
    Run run;
    run.scale = zelto::platform::TimeScale();
    if (run.scale != scale && !runs.empty()) {
      std::printf("scale %g: this system's clock cannot be sped up\n", scale);
      continue;
    }
#if defined(__linux__)
    const std::set<long> idle = bench::Tasks();
#endif
    Orvex::_OxDirectCapturingParam param = bench::DirectParam(captures, L"Rate");
    device->SetDirectCapturingStructure(param);
    device->StartDirectCapturing();
#if defined(__linux__)
    // The capture's own thread is the one that came with it.
    const std::set<long> started = bench::Minus(bench::Tasks(), idle);
    const long captureThread = started.size() == 1 ? *started.begin() : 0;
#endif
    device->DeckPlay();
    // The window opens once the first frames are on disk: the start of
    // play is the deck's, not the path's.
    const long long give = 30'000'000'000LL;  // ns of patience for anything
    long long start = bench::NowNs();
    std::uint64_t bytesStart = 0;
    while ((bytesStart = bench::FolderBytes(captures)) == 0 && bench::NowNs() - start < give)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    start = bench::NowNs();
#if defined(__linux__)
    const double cpuStart = captureThread ? bench::TaskCpuSeconds(captureThread) : -1;
    const double systemStart = captureThread ? bench::TaskUserSystemSeconds(captureThread).second : -1;
#endif
    const double wanted = seconds * bench::kStreamBytesPerSecond;
    std::uint64_t bytes = bytesStart;
    const long long limit = static_cast<long long>(seconds * run.scale * 4e9) + give;
    while (static_cast<double>(bytes - bytesStart) < wanted && bench::NowNs() - start < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      bytes = bench::FolderBytes(captures);
    }
    run.wall = static_cast<double>(bench::NowNs() - start) * 1e-9;
    run.tape = static_cast<double>(bytes - bytesStart) / bench::kStreamBytesPerSecond;
#if defined(__linux__)
    if (captureThread && cpuStart >= 0) {
      run.captureCpu = bench::TaskCpuSeconds(captureThread) - cpuStart;
      run.captureSystem = bench::TaskUserSystemSeconds(captureThread).second - systemStart;
    }
#endif
    // The rest at real speed: what the capture has yet to write is written
    // before the next run begins, and its files go.
    device->DeckStop();
    device->AbortCapturing();
    zelto::platform::SetTimeScaleForTesting(1);
    device->ExitDirectCapturing();
    camcorder.Driver().Panel().AwaitCaptureEnd(120000);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(captures, ignored))
      std::filesystem::remove(entry.path(), ignored);
    runs.push_back(run);
    if (run.tape < seconds * 0.5) std::fprintf(stderr, "scale %g: only %.1f s of tape were written\n", scale, run.tape);
  }

  std::printf("direct capture through the device, %d s of tape a run, %s\n", seconds,
              zelto::sim::CaptureStreamWriter::HasVideo() ? "MPEG-2 video" : "tables and padding only");
  std::printf("  %-7s %8s %10s %12s %12s %14s %12s\n", "scale", "tape x", "wall s", "MB/s", "x stream", "capture CPU",
              "of it kernel");
  for (const Run& r : runs) {
    const double rate = r.tape / r.wall;
    std::printf("  %-7g %8.0f %10.2f %12.1f %12.1f", r.scale, 1 / r.scale, r.wall,
                rate * bench::kStreamBytesPerSecond / 1e6, rate);
    if (r.captureCpu >= 0)
      std::printf(" %13.0f%% %11.0f%%\n", r.captureCpu / r.wall * 100,
                  r.captureCpu > 0 ? r.captureSystem / r.captureCpu * 100 : 0.0);
    else
      std::printf(" %14s %12s\n", "-", "-");
  }
  std::printf("  (tape x: how fast the tape plays; x stream: the bytes written a second over the stream rate,\n"
              "   1,590,000 bytes a second; capture CPU: the simulated driver's capture thread, of one core)\n");
  device->TerminateDevice();
  return 0;
}
