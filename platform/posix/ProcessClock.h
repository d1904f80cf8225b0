// The process clock behind Sleep, GetTickCount and every wait time-out
// (internal). It runs TimeScale() times as fast as real time.
#pragma once

#include <cstdint>

namespace zelto::platform::detail {

// Process-clock time in nanoseconds; continuous across scale changes.
std::int64_t ClockNowNs();

// Real nanoseconds until the process clock reaches deadlineNs (0 if it has),
// capped, once a test has changed the scale, so that sleepers notice the next
// change within a short while.
std::int64_t RealNsUntil(std::int64_t deadlineNs);

// Process-clock deadline for a Win32 time-out in milliseconds; -1 for INFINITE.
std::int64_t DeadlineAfterMs(std::uint32_t milliseconds);

}  // namespace zelto::platform::detail
