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


}  // namespace

int main(int argc, char** argv) {
  const int rounds = bench::Rounds(argc, argv, 20000);
  // Warm both paths up, then measure them alternately to share the machine's state.
  EventRounds(1000);
  bench::CvFloorRounds(1000);
  bench::Percentiles ours = bench::Summarise(EventRounds(rounds));
  bench::Percentiles floor = bench::Summarise(bench::CvFloorRounds(rounds));
  std::printf("event hand-off, %d rounds           p50 us    p99 us\n", rounds);
  std::printf("  SetEvent -> WaitForSingleObject %8.2f  %8.2f\n", ours.p50Us, ours.p99Us);
  std::printf("  condition_variable floor        %8.2f  %8.2f\n", floor.p50Us, floor.p99Us);
  std::printf("  p50 ratio (ours / floor)        %8.2f\n", ours.p50Us / floor.p50Us);
  return 0;
}
