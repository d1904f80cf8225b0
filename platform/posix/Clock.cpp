// The process clock: real monotonic time divided by ZELTO_TIME_SCALE, so that
// tests can shorten the pauses the product must make (at 0.01 a 2000 ms
// pause takes 20 ms of real time).
#include "platform/PlatformExtras.h"
#include "platform/posix/ProcessClock.h"
#include "platform/posix/kernel.h"

#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace zelto::platform {

namespace detail {
namespace {

std::int64_t RealNowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One span of constant scale. Spans are immutable and never freed, so a
// reader holding an old one stays safe while the scale changes.
struct Span {
  std::int64_t realStart;
  std::int64_t clockStart;
  double scale;
  const Span* previous;  // keeps retired spans reachable
};

double ScaleFromEnvironment() { return ParseTimeScale(std::getenv("ZELTO_TIME_SCALE")).value_or(1.0); }

std::atomic<const Span*>& CurrentSpan() {
  // Starts at the real monotonic time, like a tick count since boot.
  static std::atomic<const Span*> span{new Span{RealNowNs(), RealNowNs(), ScaleFromEnvironment(), nullptr}};
  return span;
}

std::int64_t ClockAt(const Span& s, std::int64_t realNow) {
  return s.clockStart + static_cast<std::int64_t>(static_cast<double>(realNow - s.realStart) / s.scale);
}

std::mutex& ScaleChangeLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::atomic<std::uint64_t> lastTickMs{0};

// Whether a test has changed the scale since the process started. Until one
// does, a timed wait sleeps its whole time at once, as on Windows, instead
// of waking every 50 ms to look at a scale that cannot have changed.
std::atomic<bool> scaleChanged{false};

}  // namespace

std::int64_t ClockNowNs() {
  const Span* s = CurrentSpan().load(std::memory_order_acquire);
  return ClockAt(*s, RealNowNs());
}

std::int64_t RealNsUntil(std::int64_t deadlineNs) {
  constexpr std::int64_t kCap = 50'000'000;  // re-read the scale at least every 50 ms
  const Span* s = CurrentSpan().load(std::memory_order_acquire);
  std::int64_t left = deadlineNs - ClockAt(*s, RealNowNs());
  if (left <= 0) return 0;
  double real = std::ceil(static_cast<double>(left) * s->scale);
  const double cap = scaleChanged.load(std::memory_order_relaxed) ? static_cast<double>(kCap) : 1e18;
  return real >= cap ? static_cast<std::int64_t>(cap) : static_cast<std::int64_t>(real);
}

std::int64_t DeadlineAfterMs(std::uint32_t milliseconds) {
  if (milliseconds == INFINITE) return -1;
  return ClockNowNs() + static_cast<std::int64_t>(milliseconds) * 1000000;
}

}  // namespace detail

double TimeScale() { return detail::CurrentSpan().load(std::memory_order_acquire)->scale; }

void SetTimeScaleForTesting(double scale) {
  if (!std::isfinite(scale) || scale <= 0) return;
  std::lock_guard<std::mutex> guard(detail::ScaleChangeLock());
  detail::scaleChanged.store(true, std::memory_order_relaxed);
  auto& current = detail::CurrentSpan();
  const detail::Span* old = current.load(std::memory_order_acquire);
  std::int64_t realNow = detail::RealNowNs();
  // The old span is kept: other threads may still be reading it.
  current.store(new detail::Span{realNow, detail::ClockAt(*old, realNow), scale, old}, std::memory_order_release);
}

}  // namespace zelto::platform

ULONGLONG WINAPI GetTickCount64() {
  using namespace zelto::platform::detail;
  auto ms = static_cast<std::uint64_t>(ClockNowNs() / 1000000);
  // A reader that loaded the span just before a scale change may compute a
  // later time than one that loaded the new span; never let the count go back.
  std::uint64_t last = lastTickMs.load(std::memory_order_relaxed);
  while (ms > last) {
    if (lastTickMs.compare_exchange_weak(last, ms, std::memory_order_relaxed)) return ms;
  }
  return last > ms ? last : ms;
}

DWORD WINAPI GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

VOID WINAPI Sleep(DWORD milliseconds) {
  using namespace zelto::platform::detail;
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::int64_t deadline = DeadlineAfterMs(milliseconds);
  for (;;) {
    std::int64_t realNs = deadline < 0 ? 50'000'000 : RealNsUntil(deadline);
    if (realNs == 0) return;
    timespec ts{static_cast<time_t>(realNs / 1000000000), static_cast<long>(realNs % 1000000000)};
    nanosleep(&ts, nullptr);
  }
}
