// Book-keeping of the notification passes in flight on one safe source, so
// that a host can remove a listener and then wait until no pass that might
// still call it is running, before it destroys the listener. The source and
// each of its passes share it: a listener may destroy the source (by deleting
// its owner), and the pass under way still needs the book to end itself.
//
// Cost per pass: one uncontended mutex round trip at its start and one at its
// end, and a shared reference taken and dropped; a condition variable is
// signalled only while someone waits.
//
// Passes record KelCurrentThreadId, not std::thread::id: a pass may begin in
// one module and a wait in another (a source's NotifyEvent compiled into a
// host library, its removal into the device library), and on Windows the
// modules' std::thread::id of one thread differ.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "host/runtime/KelThread.h"

class KelNotificationPasses {
public:
  KelNotificationPasses() = default;
  KelNotificationPasses(const KelNotificationPasses&) = delete;
  KelNotificationPasses& operator=(const KelNotificationPasses&) = delete;

  // Registers a pass on the calling thread and returns its number. The source
  // calls this under its own lock while it copies its list, so numbers are
  // ordered with list changes.
  std::uint64_t Begin() {
    std::lock_guard<std::mutex> guard(mutex);
    std::uint64_t number = ++lastNumber;
    active.push_back({number, KelCurrentThreadId()});
    return number;
  }

  void End(std::uint64_t number) {
    std::lock_guard<std::mutex> guard(mutex);
    auto it = std::find_if(active.begin(), active.end(),
                           [number](const Pass& pass) { return pass.number == number; });
    if (it != active.end()) active.erase(it);
    if (waiters > 0) changed.notify_all();
  }

  // The number of the last pass begun so far.
  std::uint64_t Last() {
    std::lock_guard<std::mutex> guard(mutex);
    return lastNumber;
  }

  // Waits until every pass numbered up to `upTo` has ended. A thread that is
  // itself inside a pass of this source cannot wait (it would wait for
  // itself, or for a pass blocked on a listener lock it holds): it returns
  // false at once. True once the waited-for passes are over.
  bool WaitForPassesUpTo(std::uint64_t upTo) {
    const std::uint64_t self = KelCurrentThreadId();
    std::unique_lock<std::mutex> guard(mutex);
    for (const Pass& pass : active)
      if (pass.thread == self) return false;
    ++waiters;
    changed.wait(guard, [&] {
      return std::none_of(active.begin(), active.end(),
                          [upTo](const Pass& pass) { return pass.number <= upTo; });
    });
    --waiters;
    return true;
  }

  // Set when the source is destroyed: a pass under way calls no further
  // listener.
  void Close() { closed.store(true); }
  bool Closed() const { return closed.load(); }

private:
  struct Pass {
    std::uint64_t number;
    std::uint64_t thread;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t lastNumber = 0;
  unsigned waiters = 0;
  std::vector<Pass> active;
  std::atomic<bool> closed{false};
};
