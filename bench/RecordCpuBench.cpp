// What recording a file onto tape costs the processor: a file of `seconds`
// of stream (default 60) recorded by the library's batch recording onto
// blank tape of the simulated camcorder, in real time, while the host asks
// for progress every half second. The library's threads (its message
// window) and the host's calls are timed apart from the simulated
// camcorder's threads, per second of tape. Linux only (threads from /proc).
#include <cstdio>

#if defined(__linux__)

#include <atomic>
#include <fstream>
#include <vector>

#include "bench/BenchCapture.h"
#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "host/devevents/OxRecordingEvent.h"

int main(int argc, char** argv) {
  const int seconds = bench::Rounds(argc, argv, 60);
  zelto::sim::Cassette blank;
  blank.lengthTracks = static_cast<std::uint32_t>(seconds + 120) * zelto::sim::kTracksPerSecond;

  const std::set<long> before = bench::Tasks();
  bench::SimulatedCamcorder camcorder("record-cpu", blank);
  if (!camcorder.Ok()) return 1;
  const std::set<long> withDriver = bench::Tasks();
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  const std::set<long> library = bench::Minus(bench::Tasks(), withDriver);

  // The file: null packets, as many as the seconds take at the stream rate.
  const std::filesystem::path file = camcorder.CaptureFolder() / "record-cpu.m2t";
  {
    std::vector<char> packet(188, static_cast<char>(0xFF));
    packet[0] = 0x47, packet[1] = 0x1F, packet[2] = static_cast<char>(0xFF), packet[3] = 0x10;
    std::ofstream out(file, std::ios::binary);
    for (std::uint64_t n = 0; n < static_cast<std::uint64_t>(seconds) * 1'590'000 / 188; ++n) out.write(packet.data(), 188);
  }
  std::atomic<int> ended{-1};
  bench::CallbackListener<Orvex::OxRecordingEvent> listener([&](const Orvex::OxRecordingEvent& event) {
    if (event.GetEventID() == Orvex::OX_RECORDING_COMPLETE || event.GetEventID() == Orvex::OX_RECORDING_ERROR_STOP)
      ended.store(event.GetEventID());
  });
  device->AddEventListener(&listener);
  Orvex::_OxRecordingItem item;
  item.path = Orvex::OxString(zelto::platform::WidePath(file).c_str());
  item.end = seconds * 100;
  std::vector<Orvex::_OxRecordingItem> list{item};
  device->SetRecordingList(list);

  std::map<long, double> start;
  for (long t : bench::Tasks()) start[t] = bench::TaskCpuSeconds(t);
  const double hostStart = bench::OwnCpuSeconds();
  const long long wallStart = bench::NowNs();
  device->StartBatchRecording(0, 0);  // returns once the data flows (about 5.4 s)
  const double startCall = bench::OwnCpuSeconds() - hostStart;
  int polls = 0;
  double pollCpu = 0;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 2 + 60) * 1000;
  while (ended.load() < 0 && GetTickCount64() < deadline) {
    Sleep(500);
    Orvex::_OxRecordingProgress progress;
    const double cpuBefore = bench::OwnCpuSeconds();
    device->GetRecordingProgress(progress);
    pollCpu += bench::OwnCpuSeconds() - cpuBefore;
    ++polls;
  }
  const double host = bench::OwnCpuSeconds() - hostStart;
  double libraryCpu = 0, simulatorCpu = 0;
  for (long t : bench::Tasks()) {
    const double used = bench::TaskCpuSeconds(t) - (start.count(t) ? start[t] : 0.0);
    if (library.count(t)) libraryCpu += used;
    else if (t != bench::CurrentTask()) simulatorCpu += used;
  }
  const double wall = static_cast<double>(bench::NowNs() - wallStart) * 1e-9;
  device->RemoveEventListener(&listener);
  if (ended.load() != Orvex::OX_RECORDING_COMPLETE) {
    std::fprintf(stderr, "the recording did not complete\n");
    return 1;
  }
  const double tape = seconds;
  std::printf("CPU of a batch recording of %d s of stream, %.1f s from start to completion (clock scale %g)\n",
              seconds, wall, zelto::platform::TimeScale());
  std::printf("per second of tape                          us/s of tape   %% of core\n");
  std::printf("  library threads                           %12.1f %10.4f\n", libraryCpu / tape * 1e6,
              libraryCpu / tape * 100);
  std::printf("  the start call                            %12.1f %10.4f   (%.0f us in all)\n", startCall / tape * 1e6,
              startCall / tape * 100, startCall * 1e6);
  std::printf("  host's %3d progress calls                 %12.1f %10.4f   (%.1f us a call)\n", polls,
              pollCpu / tape * 1e6, pollCpu / tape * 100, pollCpu / polls * 1e6);
  std::printf("  library in all                            %12.1f %10.4f   (target < 0.1)\n",
              (libraryCpu + startCall + pollCpu) / tape * 1e6, (libraryCpu + startCall + pollCpu) / tape * 100);
  std::printf("  the host's own Sleep between calls        %12.1f %10.4f\n", (host - startCall - pollCpu) / tape * 1e6,
              (host - startCall - pollCpu) / tape * 100);
  std::printf("  simulated camcorder                       %12.1f %10.4f\n", simulatorCpu / tape * 1e6,
              simulatorCpu / tape * 100);
  std::filesystem::remove(file);
  return 0;
}

#else

int main() {
  std::printf("CPU of a recording by thread: not measured on this system\n");
  return 0;
}

#endif
