// What a direct capture costs the processor, thread by thread: one long
// scene played at the speed of the process clock and captured into a file,
// while the host asks for progress every half second of it, as the zelto
// command does. Each thread is named by whose it is, from when it appeared:
// with the simulated camcorder (its deck thread), with the device (the
// library's message-window thread, where the capture listener is heard),
// with the capture (the simulated driver's capture thread, which encodes the
// video). The host thread's progress calls are the library's too; they are
// timed on their own. Every figure is CPU time per second of tape, which is
// a share of one core while the tape plays in real time.
// Optional first argument: seconds of tape (default 60). Run it with
// ZELTO_TIME_SCALE unset: the tape then plays in real time.
// Linux only: threads are found in /proc and timed on their CPU clocks.
#include <cstdio>

#if defined(__linux__)

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "bench/BenchCapture.h"
#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "host/devevents/OxCapturingEvent.h"

namespace {

std::string Name(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

enum class Role { Host, Library, Camcorder, Capture, Other };

const char* RoleText(Role role) {
  switch (role) {
    case Role::Host: return "host (all the benchmark did)";
    case Role::Library: return "library";
    case Role::Camcorder: return "simulated camcorder (deck)";
    case Role::Capture: return "simulated driver (capture)";
    case Role::Other: return "unknown";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = bench::Rounds(argc, argv, 60);
  const std::set<long> before = bench::Tasks();
  bench::SimulatedCamcorder camcorder("capture-cpu", bench::LongTape());
  if (!camcorder.Ok()) return 1;
  const std::set<long> withDriver = bench::Tasks();
  std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  if (!device || !device->InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true)) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  const std::set<long> withDevice = bench::Tasks();

  const std::filesystem::path captures = camcorder.CaptureFolder();
  std::atomic<long> heardOn{0};
  bench::CallbackListener<Orvex::OxCapturingEvent> listener([&](const Orvex::OxCapturingEvent& event) {
    if (event.GetEventID() == Orvex::OX_CAPTURING_CREATE_FILE) heardOn.store(bench::CurrentTask());
  });
  device->AddEventListener(&listener);
  Orvex::_OxDirectCapturingParam param = bench::DirectParam(captures, L"Cpu");
  device->SetDirectCapturingStructure(param);
  device->StartDirectCapturing();
  const std::set<long> withCapture = bench::Tasks();

  std::map<long, Role> roles;
  for (long t : withCapture) roles[t] = Role::Other;
  for (long t : bench::Minus(withDriver, before)) roles[t] = Role::Camcorder;
  for (long t : bench::Minus(withDevice, withDriver)) roles[t] = Role::Library;
  for (long t : bench::Minus(withCapture, withDevice)) roles[t] = Role::Capture;
  roles[bench::CurrentTask()] = Role::Host;

  std::map<long, double> start;
  std::map<long, long long> wakeupsAtStart;
  for (long t : withCapture) {
    start[t] = bench::TaskCpuSeconds(t);
    wakeupsAtStart[t] = bench::TaskWakeups(t);
  }
  const long long wallStart = bench::NowNs();
  device->DeckPlay();

  // Progress as a host asks for it, each call timed on this thread's clock.
  double pollCpu = 0;
  int polls = 0;
  const double wanted = static_cast<double>(seconds) * bench::kStreamBytesPerSecond;
  const long long patience = (static_cast<long long>(seconds) * 3 + 30) * 1000;  // ms of the process clock
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(patience);
  while (static_cast<double>(bench::FolderBytes(captures)) < wanted && GetTickCount64() < deadline) {
    Sleep(500);
    Orvex::_OxDirectCapturingProgress progress;
    const double cpuBefore = bench::OwnCpuSeconds();
    device->GetDirectCapturingProgress(progress);
    pollCpu += bench::OwnCpuSeconds() - cpuBefore;
    ++polls;
  }
  std::map<long, double> end;
  std::map<long, std::string> names;  // read now: the capture's thread ends with it
  std::map<long, long long> wakeups;
  const std::set<long> atEnd = bench::Tasks();
  for (long t : atEnd) {
    end[t] = bench::TaskCpuSeconds(t);
    names[t] = Name(t);
    wakeups[t] = bench::TaskWakeups(t) - (wakeupsAtStart.count(t) ? wakeupsAtStart[t] : 0);
  }
  const double wall = static_cast<double>(bench::NowNs() - wallStart) * 1e-9;
  const double tape = static_cast<double>(bench::FolderBytes(captures)) / bench::kStreamBytesPerSecond;

  device->AbortCapturing();
  device->ExitDirectCapturing();
  device->DeckStop();
  device->RemoveEventListener(&listener);
  if (tape < seconds * 0.9) {
    std::fprintf(stderr, "only %.1f s of tape were captured\n", tape);
    return 1;
  }
  for (long t : bench::Minus(atEnd, withCapture)) roles[t] = Role::Other;  // appeared during the capture

  std::printf("CPU of a direct capture, %.1f s of tape in %.1f s (clock scale %g)\n", tape, wall,
              zelto::platform::TimeScale());
  std::printf("  %-8s %-16s %-30s %10s %14s %10s %9s\n", "tid", "name", "role", "CPU ms", "us/s of tape", "% of core",
              "wake-ups");
  std::map<Role, double> byRole;
  for (const auto& [t, role] : roles) {
    if (!end.count(t) || end[t] < 0) continue;
    const double used = end[t] - (start.count(t) ? start[t] : 0.0);
    byRole[role] += used;
    std::printf("  %-8ld %-16s %-30s %10.2f %14.1f %10.4f %9lld\n", t, names[t].c_str(),
                (std::string(RoleText(role)) + (t == heardOn.load() ? " *" : "")).c_str(), used * 1e3,
                used / tape * 1e6, used / tape * 100, wakeups[t]);
  }
  std::printf("  (* the thread the capture listener was called on)\n");
  const double library = byRole[Role::Library];
  const double simulator = byRole[Role::Camcorder] + byRole[Role::Capture];
  std::printf("per second of tape                          us/s of tape   %% of core\n");
  std::printf("  library threads                           %12.1f %10.4f\n", library / tape * 1e6,
              library / tape * 100);
  std::printf("  host's %4d progress calls                 %12.1f %10.4f   (%.1f us a call)\n", polls,
              pollCpu / tape * 1e6, pollCpu / tape * 100, pollCpu / polls * 1e6);
  std::printf("  library in all                            %12.1f %10.4f   (target < 0.1)\n",
              (library + pollCpu) / tape * 1e6, (library + pollCpu) / tape * 100);
  std::printf("  simulated camcorder, deck + capture       %12.1f %10.4f   (target < 25)\n", simulator / tape * 1e6,
              simulator / tape * 100);
  if (byRole[Role::Other] > 0)
    std::printf("  threads of no known owner                 %12.1f %10.4f\n", byRole[Role::Other] / tape * 1e6,
                byRole[Role::Other] / tape * 100);
  return 0;
}

#else

int main() {
  std::printf("CPU of a direct capture by thread: not measured on this system\n");
  return 0;
}

#endif
