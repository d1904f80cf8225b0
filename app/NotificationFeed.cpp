#include "app/NotificationFeed.h"

#include <algorithm>

#include "app/Interrupt.h"

namespace zelto::app {

namespace {

// How long a wait may go without looking at the Ctrl-C flag, which a signal
// handler cannot announce through the condition variable.
constexpr std::chrono::milliseconds kInterruptCheck{100};

}  // namespace

void NotificationFeed::DeviceRelay::OnEvent(const Orvex::_OxVideoDeviceNotification& event) {
  FeedEvent e;
  e.kind = FeedEvent::Kind::Device;
  e.device = event;
  e.at = std::chrono::system_clock::now();
  feed.Push(e);
}

void NotificationFeed::SceneRelay::OnEvent(const Orvex::OxSceneSearchEvent& event) {
  FeedEvent e;
  e.kind = FeedEvent::Kind::SceneSearch;
  e.sceneSearch = event.GetEventID();
  e.at = std::chrono::system_clock::now();
  feed.Push(e);
}

void NotificationFeed::Push(const FeedEvent& event) {
  {
    std::lock_guard<std::mutex> guard(mutex);
    events.push_back(event);
  }
  arrived.notify_all();
}

NotificationFeed::Wait NotificationFeed::Next(Clock::time_point deadline, FeedEvent& event) {
  std::unique_lock<std::mutex> guard(mutex);
  for (;;) {
    // Ctrl-C first: a steady flow of events must not keep the program going.
    if (Interrupt::Requested()) return Wait::Interrupted;
    if (!events.empty()) {
      event = events.front();
      events.pop_front();
      return Wait::Event;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return Wait::TimedOut;
    arrived.wait_until(guard, std::min(deadline, now + kInterruptCheck));
  }
}

}  // namespace zelto::app
