// Futex wait/wake and the parker built on them.
#include "platform/posix/Futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>

namespace zelto::platform::detail {

void FutexWait(std::int32_t* word, std::int32_t expected, std::int64_t timeoutNs) {
  timespec ts{};
  timespec* tsp = nullptr;
  if (timeoutNs >= 0) {
    ts.tv_sec = static_cast<time_t>(timeoutNs / 1000000000);
    ts.tv_nsec = static_cast<long>(timeoutNs % 1000000000);
    tsp = &ts;
  }
  syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, tsp, nullptr, 0);
}

void FutexWake(std::int32_t* word, int count) {
  syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

namespace {
std::int32_t* Word(std::atomic<std::int32_t>& a) {
  static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(std::int32_t));
  return reinterpret_cast<std::int32_t*>(&a);
}
std::int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

bool Parker::Park(std::int64_t timeoutNs) {
  // kNotified -> kEmpty consumes a wake-up that came first.
  if (state_.fetch_sub(1, std::memory_order_acquire) == kNotified) return true;
  const std::int64_t deadline = timeoutNs >= 0 ? MonotonicNs() + timeoutNs : -1;
  for (;;) {
    std::int64_t left = -1;
    if (deadline >= 0) {
      left = deadline - MonotonicNs();
      if (left <= 0) break;
    }
    FutexWait(Word(state_), kParked, left);
    std::int32_t expected = kNotified;
    if (state_.compare_exchange_strong(expected, kEmpty, std::memory_order_acquire)) return true;
  }
  // Timed out; a wake-up may still have raced in.
  return state_.exchange(kEmpty, std::memory_order_acquire) == kNotified;
}

void Parker::Unpark() {
  if (state_.exchange(kNotified, std::memory_order_release) == kParked) FutexWake(Word(state_), 1);
}

}  // namespace zelto::platform::detail
