// Small helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

struct Percentiles {
  double p50Us;
  double p99Us;
};

inline Percentiles Summarise(std::vector<long long> samplesNs) {
  std::sort(samplesNs.begin(), samplesNs.end());
  auto at = [&](double q) {
    std::size_t i = static_cast<std::size_t>(q * static_cast<double>(samplesNs.size() - 1));
    return static_cast<double>(samplesNs[i]) / 1000.0;
  };
  return {at(0.50), at(0.99)};
}

// The whole number above zero given as the index-th argument, else fallback.
inline int PositiveArgument(int argc, char** argv, int index, int fallback) {
  if (argc > index) {
    const int n = std::atoi(argv[index]);
    if (n > 0) return n;
  }
  return fallback;
}

// Optional first argument: the number of rounds.
inline int Rounds(int argc, char** argv, int fallback) { return PositiveArgument(argc, argv, 1, fallback); }

// The floor every hand-off is measured against: an auto-reset event built the
// textbook way on a mutex and a condition variable.
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

// Ping-pong rounds through two CvEvents: the time from Set on one thread to
// the return of Wait on the other, with the receiver asleep at every start.
inline std::vector<long long> CvFloorRounds(int rounds) {
  CvEvent ping, pong;
  std::atomic<long long> sentAt{0};
  std::vector<long long> samples(static_cast<std::size_t>(rounds));
  std::thread receiver([&] {
    for (int i = 0; i < rounds; ++i) {
      ping.Wait();
      samples[static_cast<std::size_t>(i)] = NowNs() - sentAt.load(std::memory_order_acquire);
      pong.Set();
    }
  });
  for (int i = 0; i < rounds; ++i) {
    sentAt.store(NowNs(), std::memory_order_release);
    ping.Set();
    pong.Wait();
  }
  receiver.join();
  return samples;
}

}  // namespace bench
