// Takes the feed's events on the host's thread, prints each with what the
// device reads now, and tells a waiting command when what it waits for has
// happened.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/Console.h"
#include "app/NotificationFeed.h"

class ZeltoVideoDevice;

namespace zelto::app {

class EventPump {
public:
  using Clock = NotificationFeed::Clock;
  enum class Outcome { Done, TimedOut, Interrupted };

  EventPump(ZeltoVideoDevice& device, NotificationFeed& feed, Console& console, bool print = true)
      : device(device), feed(feed), console(console), print(print) {}

  // Asks done() once with no event, then after each event (printed first),
  // until it answers true, the limit passes or Ctrl-C is pressed.
  Outcome Until(const std::function<bool(const FeedEvent*)>& done, Clock::duration limit);
  // Until the deck reports this state.
  Outcome UntilState(Orvex::_OxVideoDeviceState state, Clock::duration limit);
  // Prints what arrives for a while.
  Outcome For(Clock::duration span);

  // One event as a line. The deck reports a found scene on every refresh
  // while it plays, so a found scene is shown once per search.
  void Print(const FeedEvent& event);
  // A seek has been sent: its found scene is news again.
  void NewSearch() { sceneFoundShown = false; }

private:
  std::string TimeCodeNow();

  ZeltoVideoDevice& device;
  NotificationFeed& feed;
  Console& console;
  bool print;
  bool sceneFoundShown = false;
};

}  // namespace zelto::app
