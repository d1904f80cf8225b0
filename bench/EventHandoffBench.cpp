// Latency of SetEvent on one thread until WaitForSingleObject returns on
// another, beside the floor: the same hand-off through a std::mutex and a
// std::condition_variable, measured the same way in the same run.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/win32.h"

namespace {

// Each round: the sender stamps the time and signals; the receiver notes the
// time it woke and answers, so the next round starts from a sleeping receiver.
std::vector<long long> EventRounds(int rounds) {
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<long long> sentAt{0};
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  std::thread receiver([&] {
    for (int i = 0; i < rounds; ++i) {
      WaitForSingleObject(ping, INFINITE);
      samples[static_cast<std::size_t>(i)] = bench::NowNs() - sentAt.load(std::memory_order_acquire);
      SetEvent(pong);
    }
  });
  for (int i = 0; i < rounds; ++i) {
    sentAt.store(bench::NowNs(), std::memory_order_release);
    SetEvent(ping);
    WaitForSingleObject(pong, INFINITE);
  }
  receiver.join();
  CloseHandle(ping);
  CloseHandle(pong);
  return samples;
}

// An auto-reset event built the textbook way.
class CvEvent {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      set_ = true;
    }
    cv_.notify_one();
  }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    cv_.wait(guard, [&] { return set_; });
    set_ = false;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool set_ = false;
};

std::vector<long long> FloorRounds(int rounds) {
  CvEvent ping, pong;
  std::atomic<long long> sentAt{0};
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  std::thread receiver([&] {
    for (int i = 0; i < rounds; ++i) {
      ping.Wait();
      samples[static_cast<std::size_t>(i)] = bench::NowNs() - sentAt.load(std::memory_order_acquire);
      pong.Set();
    }
  });
  for (int i = 0; i < rounds; ++i) {
    sentAt.store(bench::NowNs(), std::memory_order_release);
    ping.Set();
    pong.Wait();
  }
  receiver.join();
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 20000);
  // Warm both paths up, then measure them alternately to share the machine's state.
  EventRounds(1000);
  FloorRounds(1000);
  bench::Percentiles ours = bench::Summarise(EventRounds(rounds));
  bench::Percentiles floor = bench::Summarise(FloorRounds(rounds));
  std::printf("event hand-off, %d rounds           p50 us    p99 us\n", rounds);
  std::printf("  SetEvent -> WaitForSingleObject %8.2f  %8.2f\n", ours.p50Us, ours.p99Us);
  std::printf("  condition_variable floor        %8.2f  %8.2f\n", floor.p50Us, floor.p99Us);
  std::printf("  p50 ratio (ours / floor)        %8.2f\n", ours.p50Us / floor.p50Us);
  return 0;
}
