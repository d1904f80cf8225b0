#include "app/NotificationFeed.h"

#include "app/Interrupt.h"

namespace zelto::app {

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

void NotificationFeed::Wake() {
  // Taking the lock orders this after a waiter's look at the flag: the
  // notification cannot fall between that look and its wait.
  { std::lock_guard<std::mutex> guard(mutex); }
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
    if (arrived.wait_until(guard, deadline) == std::cv_status::timeout && events.empty() &&
        !Interrupt::Requested())
      return Wait::TimedOut;
  }
}

}  // namespace zelto::app
