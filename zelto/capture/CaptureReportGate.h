// Binds the driver's reports of files and errors to the capture they belong
// to. The window thread delivers them late under load: a report of a capture
// the host has already ended, or of the one before the capture now running,
// must not reach the host.
//
// The capture mode and a capture number change together. A report takes
// both as it arrives (Current) and is told only if they still hold when it
// is told (Open, which holds the telling open until the host's listener has
// returned). A change of mode waits for a telling under way on another
// thread: once the host's stop or exit has returned, the host hears nothing
// more of that capture. A telling on the changing thread itself (a listener
// that ends the capture from inside its call) is not waited for.
//
// The wait is bounded: a listener that blocks for longer than that (say, on
// the very thread that is ending the capture) costs a late report, never a
// hang.
//
// "As it arrives" is not late enough by itself: the window may take a
// report from its queue only after the host has begun the next capture. So
// every new capture is announced through that same queue (the herald), and
// a report takes the capture the window had last seen announced when it
// reached the report, which is the capture in force when the driver posted
// it. Where an announcement could not be posted (a full queue), reports
// take the current capture, as if none were made.
//
// A Telling keeps the gate alive: a listener may destroy the device, and
// with it the gate's owner, before the telling closes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/runtime/KelThread.h"

namespace zelto::capture {

class CaptureReportGate {
 public:
  struct Capture {
    std::int32_t mode = 0;
    std::uint64_t number = 0;
  };

  class Telling {
   public:
    Telling() = default;
    Telling(Telling&& other) noexcept;
    Telling& operator=(Telling&&) = delete;
    ~Telling();
    explicit operator bool() const { return gate_ != nullptr; }

   private:
    friend class CaptureReportGate;
    explicit Telling(std::shared_ptr<CaptureReportGate> gate) : gate_(std::move(gate)) {}
    std::shared_ptr<CaptureReportGate> gate_;
  };

  static constexpr std::chrono::milliseconds kTellingWait{2000};

  // Posts the announcement of a new capture behind the reports already
  // queued; false if it could not. Called under the gate's lock: it must not
  // wait for anything.
  using Herald = std::function<bool(Capture)>;
  void SetHerald(Herald herald);
  // The window has reached the announcement of `capture`.
  void Witness(Capture capture);

  std::int32_t Mode() const;
  Capture Current() const;
  // The capture a report the window is taking now belongs to.
  Capture OfArrival() const;
  bool IsCurrent(Capture capture) const;
  // A new capture in `mode` (the same mode included: a new run); returns once
  // no telling of an earlier one is under way on another thread, or the wait
  // is over.
  void Change(std::int32_t mode);
  // A new capture in the same mode (a new run) if the mode is `mode`; waits
  // as Change does.
  void Renew(std::int32_t mode);
  // A telling of a report of `capture`; empty when that capture is over.
  static Telling Open(const std::shared_ptr<CaptureReportGate>& gate, Capture capture);

 private:
  void Close();
  void Begin(std::unique_lock<std::mutex>& guard, std::int32_t mode);

  mutable std::mutex lock_;
  std::condition_variable closed_;
  Capture current_;
  Herald herald_;
  bool announced_ = false;  // the current capture's announcement was posted
  Capture witnessed_;
  std::vector<std::uint64_t> tellers_;  // one thread id per telling open
};

}  // namespace zelto::capture
