// Latency of the driver's "file created" report during a direct capture,
// its file already on disk, until the host's capture listener runs. Two
// roads: the event posted to the device's message window, as the driver's
// thread posts it (the library's whole path: the window procedure, the
// part's name made, the file looked for and found, the listeners told), and
// the event handed to the simulated camcorder's panel, whose own thread
// then posts it (one hand-off more, the simulator's). Beside them, the
// floor: PostMessageW to a window of another thread until its procedure
// runs, measured the same way in the same run.
//
// The driver's own capture is refused, so that it makes no file and runs no
// capture thread: the device's capture is set up all the same (the
// component looks for the parts it is told of) and the program makes the
// files it will be told of beforehand.
//
// Where the threads run matters as much as what they do: on a machine of
// two cores, waking a thread asleep on the sender's own core took a third
// of the time of waking one on the other core. Each road and the floor must
// see the same placement, so on Linux the program sets it, and measures
// twice: the sender on one core and every receiving thread on another, then
// every thread on one core. Elsewhere the system places them.
// Optional first argument: rounds of each road (default 5000).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "bench/BenchCapture.h"
#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"
#include "host/devevents/OxCapturingEvent.h"

#if defined(__linux__)
#  include <sched.h>
#endif

namespace {

constexpr UINT kFloorMessage = WM_APP + 9;
constexpr DWORD kPatienceMs = 10000;
constexpr int kWarmUp = 500;  // rounds of each road before each measurement
const DRIVER_EVENT_RECORD kFileCreated = {0, DRIVER_EVENT_FILE_CREATED};

// Where a round's time goes when its receiver runs, ours and the floor's.
struct Probe {
  std::vector<long long> samples;
  std::atomic<long long> sentAt{0};
  std::atomic<int> index{-1};
  HANDLE heard = CreateEventW(nullptr, FALSE, FALSE, nullptr);

  void Received() {
    const int i = index.load(std::memory_order_acquire);
    if (i < 0) return;
    samples[static_cast<std::size_t>(i)] = bench::NowNs() - sentAt.load(std::memory_order_acquire);
    SetEvent(heard);
  }
};

Probe* floorProbe = nullptr;

LRESULT CALLBACK FloorProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kFloorMessage) {
    floorProbe->Received();
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A window on a thread of its own that runs the loop the library's message
// receiver runs.
class FloorWindow {
 public:
  FloorWindow() {
    stop_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      hwnd_ = CreateWindowExW(0, L"ZeltoBenchFloorWindow", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
      SetEvent(ready);
      for (;;) {
        if (MsgWaitForMultipleObjects(1, &stop_, FALSE, INFINITE, 0xFF) == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      }
      DestroyWindow(hwnd_);
    });
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
  }
  ~FloorWindow() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
  }
  FloorWindow(const FloorWindow&) = delete;
  FloorWindow& operator=(const FloorWindow&) = delete;
  HWND Handle() const { return hwnd_; }

 private:
  HANDLE stop_;
  HWND hwnd_ = nullptr;
  std::thread thread_;
};

using Send = std::function<bool()>;

// Rounds of one road: send, then wait until the receiver has run.
bool RunRounds(Probe& probe, int rounds, std::vector<long long>* into, const Send& send) {
  probe.samples.assign(static_cast<std::size_t>(rounds), 0);
  bool ok = true;
  for (int i = 0; i < rounds && ok; ++i) {
    probe.index.store(i, std::memory_order_release);
    probe.sentAt.store(bench::NowNs(), std::memory_order_release);
    ok = send() && WaitForSingleObject(probe.heard, kPatienceMs) == WAIT_OBJECT_0;
  }
  probe.index.store(-1, std::memory_order_release);
  if (into) into->insert(into->end(), probe.samples.begin(), probe.samples.end());
  return ok;
}

// Each road and the floor in alternating blocks, so that each sees the same
// machine; one line each.
bool MeasureRoads(Probe& ours, Probe& floor, int rounds, const Send& toWindow, const Send& throughPanel,
                  const Send& floorPost) {
  bool ok = RunRounds(ours, kWarmUp, nullptr, toWindow) && RunRounds(ours, kWarmUp, nullptr, throughPanel) &&
            RunRounds(floor, kWarmUp, nullptr, floorPost);
  constexpr int kBlock = 250;
  std::vector<long long> direct, panel, floorSamples;
  for (int done = 0; ok && done < rounds; done += kBlock) {
    const int block = std::min(kBlock, rounds - done);
    ok = RunRounds(ours, block, &direct, toWindow) && RunRounds(ours, block, &panel, throughPanel) &&
         RunRounds(floor, block, &floorSamples, floorPost);
  }
  if (!ok) return false;
  const bench::Percentiles d = bench::Summarise(direct);
  const bench::Percentiles p = bench::Summarise(panel);
  const bench::Percentiles f = bench::Summarise(floorSamples);
  std::printf("    posted to the device's window, as the driver posts it   %8.2f  %8.2f\n", d.p50Us, d.p99Us);
  std::printf("    through the simulated camcorder's thread                %8.2f  %8.2f\n", p.p50Us, p.p99Us);
  std::printf("    PostMessageW -> window procedure (floor)                %8.2f  %8.2f\n", f.p50Us, f.p99Us);
  std::printf("    p50 ratio, device's window / floor                      %8.2f   (target <= 3)\n", d.p50Us / f.p50Us);
  std::printf("    p50 ratio, through the camcorder / floor                %8.2f\n", p.p50Us / f.p50Us);
  return true;
}

#if defined(__linux__)
// Puts this thread on one core and every other thread of the process on
// another (or the same).
bool Place(int senderCpu, int receiverCpu) {
  const long self = bench::CurrentTask();
  for (long t : bench::Tasks()) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(t == self ? senderCpu : receiverCpu, &set);
    if (sched_setaffinity(static_cast<pid_t>(t), sizeof set, &set) != 0) return false;
  }
  return true;
}
#endif

// The rounds each road may need, warm-ups included.
constexpr int ReportsFor(int rounds) { return 2 * 2 * (kWarmUp + rounds); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 5000);
  bench::SimulatedCamcorder camcorder("capture-event");
  if (!camcorder.Ok()) return 1;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &FloorProcedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZeltoBenchFloorWindow";
  if (!RegisterClassExW(&wc)) {
    std::fprintf(stderr, "cannot register the window class\n");
    return 1;
  }

  Probe ours;
  bench::CallbackListener<Orvex::OxCapturingEvent> listener([&](const Orvex::OxCapturingEvent& event) {
    if (event.GetEventID() == Orvex::OX_CAPTURING_CREATE_FILE) ours.Received();
  });
  bench::TappedDevice device;
  if (!device.Initialize()) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  device->AddEventListener(&listener);

  // Every report moves the part number on; the device finds each part it
  // looks for at its first look.
  const std::filesystem::path captures = camcorder.CaptureFolder();
  for (int part = 1; part <= ReportsFor(rounds); ++part) {
    char name[32];
    std::snprintf(name, sizeof name, "Clip-%02d.zlt", part);
    std::ofstream(captures / name).put('\0');
  }
  camcorder.Driver().Panel().FailCall(zelto::sim::Method::StartCapture, 1, E_FAIL,
                                      zelto::sim::FaultRepeat::FromThenOn);
  Orvex::_OxDirectCapturingParam param = bench::DirectParam(captures, L"Clip");
  device->SetDirectCapturingStructure(param);
  device->StartDirectCapturing();

  Probe floor;
  floorProbe = &floor;
  bool ok = true;
  {
    FloorWindow window;
    const Send toWindow = [&] { return bench::PostDriverEvent(device.Window(), &kFileCreated) != FALSE; };
    const Send throughPanel = [&] {
      camcorder.Driver().Panel().PostEvent(DRIVER_EVENT_FILE_CREATED, 0);
      return true;
    };
    const Send floorPost = [&] { return PostMessageW(window.Handle(), kFloorMessage, 0, 0) != FALSE; };
    std::printf("file created (3), file on disk -> capture listener, %d rounds     p50 us    p99 us\n", rounds);
#if defined(__linux__)
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu)
      if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
    if (cpus.size() == 2 && Place(cpus[0], cpus[1])) {
      std::printf("  the sender on core %d, every receiving thread on core %d\n", cpus[0], cpus[1]);
      ok = MeasureRoads(ours, floor, rounds, toWindow, throughPanel, floorPost);
    }
    if (ok && Place(cpus[0], cpus[0])) {
      std::printf("  every thread on core %d\n", cpus[0]);
      ok = MeasureRoads(ours, floor, rounds, toWindow, throughPanel, floorPost);
    }
    for (long t : bench::Tasks()) sched_setaffinity(static_cast<pid_t>(t), sizeof allowed, &allowed);
#else
    std::printf("  the threads where the system puts them\n");
    ok = MeasureRoads(ours, floor, rounds, toWindow, throughPanel, floorPost);
#endif
  }
  if (!ok) std::fprintf(stderr, "a report was never heard: the device did not find its file\n");

  device->AbortCapturing();
  device->ExitDirectCapturing();
  device->RemoveEventListener(&listener);
  camcorder.Driver().Panel().ClearCallFaults();
  UnregisterClassW(L"ZeltoBenchFloorWindow", GetModuleHandleW(nullptr));
  return ok ? 0 : 1;
}
