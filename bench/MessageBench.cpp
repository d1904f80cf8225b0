// PostMessageW to a window owned by another thread until its window
// procedure runs: latency (p50/p99) and throughput, beside the floor of the
// same traffic through a std::deque guarded by a std::mutex and a
// std::condition_variable. At most 10,000 messages are ever outstanding,
// the limit of a Windows message queue.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/win32.h"

namespace {

constexpr UINT kBenchMessage = WM_APP + 7;
constexpr long long kWindow = 9000;  // outstanding messages, below the queue limit

// What the receiving side does for each message, ours and the floor's alike.
struct Receiver {
  std::atomic<long long> sentAt{0};
  std::vector<long long>* samples = nullptr;  // latency mode
  std::atomic<long long> received{0};
  long long expected = 0;
  HANDLE ack = nullptr;   // latency mode, ours
  HANDLE done = nullptr;  // throughput mode, ours

  // Returns true when the sender is to be told.
  bool OnMessage(WPARAM index) {
    if (samples) {
      (*samples)[index] = bench::NowNs() - sentAt.load(std::memory_order_acquire);
      return true;
    }
    return received.fetch_add(1, std::memory_order_release) + 1 == expected;
  }
};

Receiver* current = nullptr;

LRESULT CALLBACK BenchProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kBenchMessage) {
    if (current->OnMessage(wParam)) SetEvent(current->samples ? current->ack : current->done);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The window thread runs the loop the library's receiver runs.
class WindowThread {
 public:
  WindowThread() {
    stop_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      hwnd_ = CreateWindowExW(0, L"ZeltoBenchWindow", nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
      SetEvent(ready);
      for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &stop_, FALSE, INFINITE, 0xFF);
        if (r == WAIT_OBJECT_0) break;
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
  ~WindowThread() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
  }
  HWND hwnd() const { return hwnd_; }

 private:
  HANDLE stop_;
  HWND hwnd_ = nullptr;
  std::thread thread_;
};

std::vector<long long> OurLatency(int rounds) {
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  Receiver r;
  r.samples = &samples;
  r.ack = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  current = &r;
  {
    WindowThread window;
    for (int i = 0; i < rounds; ++i) {
      r.sentAt.store(bench::NowNs(), std::memory_order_release);
      PostMessageW(window.hwnd(), kBenchMessage, static_cast<WPARAM>(i), 0);
      WaitForSingleObject(r.ack, INFINITE);
    }
  }
  CloseHandle(r.ack);
  return samples;
}

double OurThroughput(long long total) {
  Receiver r;
  r.expected = total;
  r.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  current = &r;
  double perSecond;
  {
    WindowThread window;
    long long start = bench::NowNs();
    for (long long sent = 0; sent < total;) {
      if (sent - r.received.load(std::memory_order_acquire) >= kWindow) {
        std::this_thread::yield();
        continue;
      }
      if (PostMessageW(window.hwnd(), kBenchMessage, 0, 0)) ++sent;
    }
    WaitForSingleObject(r.done, INFINITE);
    perSecond = static_cast<double>(total) * 1e9 / static_cast<double>(bench::NowNs() - start);
  }
  CloseHandle(r.done);
  return perSecond;
}

// The floor: a queue of messages and a thread that takes them one by one.
class FloorQueue {
 public:
  explicit FloorQueue(Receiver& r) : receiver_(r), thread_([this] { Run(); }) {}
  ~FloorQueue() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  void Post(WPARAM index) {
    bool wasEmpty;
    {
      std::lock_guard<std::mutex> guard(lock_);
      wasEmpty = queue_.empty();
      queue_.push_back(MSG{nullptr, kBenchMessage, index, 0, 0, {0, 0}});
    }
    if (wasEmpty) cv_.notify_one();
  }
  // The sender's side of an acknowledgement.
  void WaitAck() {
    std::unique_lock<std::mutex> guard(ackLock_);
    ackCv_.wait(guard, [&] { return acked_; });
    acked_ = false;
  }

 private:
  void Run() {
    for (;;) {
      MSG msg;
      {
        std::unique_lock<std::mutex> guard(lock_);
        cv_.wait(guard, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        msg = queue_.front();
        queue_.pop_front();
      }
      if (receiver_.OnMessage(msg.wParam)) {
        {
          std::lock_guard<std::mutex> guard(ackLock_);
          acked_ = true;
        }
        ackCv_.notify_one();
      }
    }
  }

  Receiver& receiver_;
  std::mutex lock_;
  std::condition_variable cv_;
  std::deque<MSG> queue_;
  bool stop_ = false;
  std::mutex ackLock_;
  std::condition_variable ackCv_;
  bool acked_ = false;
  std::thread thread_;
};

std::vector<long long> FloorLatency(int rounds) {
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  Receiver r;
  r.samples = &samples;
  FloorQueue queue(r);
  for (int i = 0; i < rounds; ++i) {
    r.sentAt.store(bench::NowNs(), std::memory_order_release);
    queue.Post(static_cast<WPARAM>(i));
    queue.WaitAck();
  }
  return samples;
}

double FloorThroughput(long long total) {
  Receiver r;
  r.expected = total;
  FloorQueue queue(r);
  long long start = bench::NowNs();
  for (long long sent = 0; sent < total; ++sent) {
    while (sent - r.received.load(std::memory_order_acquire) >= kWindow) std::this_thread::yield();
    queue.Post(0);
  }
  queue.WaitAck();
  return static_cast<double>(total) * 1e9 / static_cast<double>(bench::NowNs() - start);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 20000);
  const long long total = 2000000;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &BenchProcedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZeltoBenchWindow";
  if (!RegisterClassExW(&wc)) {
    std::fprintf(stderr, "cannot register the window class (error %lu)\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  OurLatency(1000);
  FloorLatency(1000);
  bench::Percentiles ours = bench::Summarise(OurLatency(rounds));
  bench::Percentiles floor = bench::Summarise(FloorLatency(rounds));
  double ourRate = OurThroughput(total);
  double floorRate = FloorThroughput(total);
  std::printf("posted message to another thread's window, %d rounds   p50 us    p99 us\n", rounds);
  std::printf("  PostMessageW -> window procedure                  %8.2f  %8.2f\n", ours.p50Us, ours.p99Us);
  std::printf("  deque + condition_variable floor                  %8.2f  %8.2f\n", floor.p50Us, floor.p99Us);
  std::printf("  p50 ratio (ours / floor)                          %8.2f\n", ours.p50Us / floor.p50Us);
  std::printf("throughput, %lld messages, at most %lld outstanding\n", total, kWindow);
  std::printf("  PostMessageW -> window procedure  %12.0f messages/s\n", ourRate);
  std::printf("  deque + condition_variable floor  %12.0f messages/s\n", floorRate);
  UnregisterClassW(L"ZeltoBenchWindow", GetModuleHandleW(nullptr));
  return 0;
}
