// Driver events dispatched per second through the device's message window:
// events without a handler (code 0), posted in bursts with a camcorder-mode
// event at the end of each, whose notification tells that the burst is
// through. Never more than 10,000 messages wait in the window's queue, the
// limit of a Windows message queue. Beside it, the same traffic through a
// bare window running the same loop: what the message layer alone allows.
#include <atomic>
#include <cstdio>
#include <thread>

#include "bench/BenchDevice.h"
#include "bench/BenchSupport.h"

namespace {

constexpr long long kBurst = 2000;
constexpr long long kBurstsInFlight = 4;  // 4 x 2001 messages, below the queue limit

const DRIVER_EVENT_RECORD kNoHandler = {0, 0};
const DRIVER_EVENT_RECORD kModeEvent = {0, DRIVER_EVENT_CAMCORDER_MODE};

// Posts `bursts` bursts of events, each closed by `closer`, keeping at most
// kBurstsInFlight unfinished; `finished` counts the closers handled.
template <typename Post, typename Close>
double Drive(long long bursts, std::atomic<long long>& finished, HANDLE progress, Post post, Close closer,
             long long& failures) {
  const long long start = bench::NowNs();
  for (long long b = 0; b < bursts; ++b) {
    while (b - finished.load(std::memory_order_acquire) >= kBurstsInFlight) WaitForSingleObject(progress, INFINITE);
    for (long long i = 0; i < kBurst; ++i)
      if (!post()) ++failures;
    while (!closer()) {  // a lost closer would leave the burst unfinished for ever
      ++failures;
      std::this_thread::yield();
    }
  }
  while (finished.load(std::memory_order_acquire) < bursts) WaitForSingleObject(progress, INFINITE);
  const long long elapsed = bench::NowNs() - start;
  return static_cast<double>(bursts * (kBurst + 1)) * 1e9 / static_cast<double>(elapsed);
}

// Counts the closers the device has handled. The listener that feeds it
// lives as long as the device: removing a listener does not wait for a
// delivery already under way on the window's thread.
struct Closers {
  std::atomic<long long> finished{0};
  HANDLE progress = CreateEventW(nullptr, FALSE, FALSE, nullptr);

  void OnNotification(Orvex::_OxVideoDeviceNotification value) {
    if (value != Orvex::OX_NOTIFY_CAMCORDER_MODE) return;
    finished.fetch_add(1, std::memory_order_release);
    SetEvent(progress);
  }
};

double DeviceRate(bench::TappedDevice& device, Closers& closers, long long bursts, long long& failures) {
  closers.finished.store(0);
  const HWND window = device.Window();
  return Drive(
      bursts, closers.finished, closers.progress, [&] { return bench::PostDriverEvent(window, &kNoHandler); },
      [&] { return bench::PostDriverEvent(window, &kModeEvent); }, failures);
}

// The bare window: the receiver's loop, a procedure that only counts.
constexpr UINT kBareMessage = WM_APP + 11;
constexpr UINT kBareCloser = WM_APP + 12;
std::atomic<long long>* bareFinished = nullptr;
HANDLE bareProgress = nullptr;

LRESULT CALLBACK BareProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kBareMessage) return 0;
  if (message == kBareCloser) {
    bareFinished->fetch_add(1, std::memory_order_release);
    SetEvent(bareProgress);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

double BareRate(long long bursts, long long& failures) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &BareProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ZeltoDispatchBenchWindow";
  RegisterClassExW(&windowClass);
  std::atomic<long long> finished{0};
  bareFinished = &finished;
  bareProgress = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<HWND> window{nullptr};
  std::thread loop([&] {
    window = CreateWindowExW(0, L"ZeltoDispatchBenchWindow", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SetEvent(ready);
    for (bool running = true; running;) {
      const DWORD woken = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, 0xFF);
      if (woken == WAIT_OBJECT_0) break;
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
          running = false;
          break;
        }
      }
    }
    DestroyWindow(window);
  });
  WaitForSingleObject(ready, INFINITE);
  const HWND target = window.load();
  const double rate = Drive(
      bursts, finished, bareProgress, [&] { return PostMessageW(target, kBareMessage, 0, 0); },
      [&] { return PostMessageW(target, kBareCloser, 0, 0); }, failures);
  SetEvent(stop);
  loop.join();
  CloseHandle(stop);
  CloseHandle(ready);
  CloseHandle(bareProgress);
  UnregisterClassW(L"ZeltoDispatchBenchWindow", GetModuleHandleW(nullptr));
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  const long long bursts = bench::Rounds(argc, argv, 500);
  bench::SimulatedCamcorder camcorder("dispatch");
  if (!camcorder.Ok()) return 1;
  Closers closers;
  bench::CallbackListener<Orvex::_OxVideoDeviceNotification> listener(
      [&](const Orvex::_OxVideoDeviceNotification& value) { closers.OnNotification(value); });
  bench::TappedDevice device;
  if (!device.Initialize()) {
    std::fprintf(stderr, "the device could not be initialised\n");
    return 1;
  }
  device->AddEventListener(&listener);

  long long failures = 0, bareFailures = 0;
  DeviceRate(device, closers, 20, failures);
  BareRate(20, bareFailures);
  failures = bareFailures = 0;
  const double ours = DeviceRate(device, closers, bursts, failures);
  const double bare = BareRate(bursts, bareFailures);
  std::printf("driver events dispatched, %lld bursts of %lld       events per second\n", bursts, kBurst + 1);
  std::printf("  device message window (code 0, no handler)   %12.0f   (target >= 500000)\n", ours);
  std::printf("  bare window, same loop (message layer alone) %12.0f\n", bare);
  std::printf("  posts refused (queue full): device %lld, bare %lld\n", failures, bareFailures);
  device->RemoveEventListener(&listener);
  return 0;
}
