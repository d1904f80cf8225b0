// Takes the feed's events on the host's thread, prints each with what it
// announced, and tells a waiting command when what it waits for has
// happened.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/Console.h"
#include "app/NotificationFeed.h"

class ZeltoVideoDevice;

namespace zelto::app {

// A span of the camcorder's clock (ZELTO_TIME_SCALE shortens it) as a wait
// on the steady clock.
std::chrono::steady_clock::duration OnProcessClock(double seconds);

class EventPump {
public:
  using Clock = NotificationFeed::Clock;
  // OutputFailed: standard output cannot be written (a closed pipe, a full
  // disk); waiting on would print to nobody.
  enum class Outcome { Done, TimedOut, Interrupted, OutputFailed };

  EventPump(ZeltoVideoDevice& device, NotificationFeed& feed, Console& console, bool print = true)
      : device(device), feed(feed), console(console), print(print) {}

  // Asks done() once with no event, then after each event (printed first),
  // until it answers true, the limit passes or Ctrl-C is pressed.
  Outcome Until(const std::function<bool(const FeedEvent*)>& done, Clock::duration limit);
  // As Until, but Ctrl-C does not end it: for what a command must still
  // see happen on its way out after Ctrl-C.
  Outcome UntilEvenIfInterrupted(const std::function<bool(const FeedEvent*)>& done, Clock::duration limit);
  // Until the deck is in this state: now, or as an event announces it.
  Outcome UntilState(Orvex::_OxVideoDeviceState state, Clock::duration limit);
  // Until a wind ends: the deck announces a state other than the wind.
  // With alreadyAtEnd, the wind had nowhere to go and ended as it began.
  // *ended: the state it ended in.
  Outcome UntilWindEnds(Orvex::_OxVideoDeviceState wind, bool alreadyAtEnd, Clock::duration limit,
                        Orvex::_OxVideoDeviceState* ended);
  // Prints what arrives for a while.
  Outcome For(Clock::duration span);
  // Takes (and prints) what has queued so far, so that a wait started next
  // judges only what the deck announces from now on.
  void Drain();

  // One event as a line. The deck reports a found scene on every refresh
  // while it plays, so a found scene is shown once per search.
  void Print(const FeedEvent& event);
  // A seek has been sent: its found scene is news again.
  void NewSearch() { sceneFoundShown = false; }

private:
  Outcome Wait(const std::function<bool(const FeedEvent*)>& done, Clock::duration limit, bool interruptible);

  ZeltoVideoDevice& device;
  NotificationFeed& feed;
  Console& console;
  bool print;
  bool sceneFoundShown = false;
};

}  // namespace zelto::app
