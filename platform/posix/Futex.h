// Futex primitives for the POSIX layer's own locks and sleeps (internal).
#pragma once

#include <atomic>
#include <cstdint>

namespace zelto::platform::detail {

// Sleeps while *word == expected, for at most timeoutNs of real time
// (negative: no limit). Returns on a wake, a time-out or a signal.
void FutexWait(std::int32_t* word, std::int32_t expected, std::int64_t timeoutNs);
void FutexWake(std::int32_t* word, int count);

// A one-shot wake-up flag for a single sleeping thread. Unpark may come before
// Park; the wake-up is then kept, never lost.
class Parker {
 public:
  // Sleeps until unparked or until timeoutNs of real time passed (negative:
  // no limit). Returns true if it was unparked.
  bool Park(std::int64_t timeoutNs);
  void Unpark();

 private:
  static constexpr std::int32_t kParked = -1;
  static constexpr std::int32_t kEmpty = 0;
  static constexpr std::int32_t kNotified = 1;
  std::atomic<std::int32_t> state_{kEmpty};
};

}  // namespace zelto::platform::detail
