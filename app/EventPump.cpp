#include "app/EventPump.h"

#include "platform/PlatformExtras.h"

#include "app/Names.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

std::chrono::steady_clock::duration OnProcessClock(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds * zelto::platform::TimeScale()));
}

void EventPump::Print(const FeedEvent& event) {
  const std::string at = event.timeCode ? " at " + TimeCodeText(*event.timeCode) : "";
  if (event.kind == FeedEvent::Kind::SceneSearch) {
    if (event.sceneSearch == OX_SCENE_SEARCH_COMPLETE) {
      if (sceneFoundShown) return;
      sceneFoundShown = true;
    }
    console.Event(event.at, "scene search", SceneSearchEventName(event.sceneSearch) + at);
    return;
  }
  if (event.kind == FeedEvent::Kind::Recording) {
    console.Event(event.at, "recording", RecordingEventName(event.recording));
    return;
  }
  if (event.kind == FeedEvent::Kind::Scanning) {
    console.Event(event.at, "scan", ScanningEventName(event.scanning));
    return;
  }
  if (event.kind == FeedEvent::Kind::Scapturing) {
    std::string detail = ScapturingEventName(event.scapturing);
    if (event.Is(OX_SCAPTURING_CREATE_FILE)) detail += ": " + event.file;
    if (event.Is(OX_SCAPTURING_ERROR_STOP)) detail += ": " + CapturingErrorName(event.error);
    console.Event(event.at, "tape capture", detail);
    return;
  }
  std::string detail;
  if (event.state) detail = DeviceStateName(*event.state) + at;
  if (event.media) detail = MediaInfoName(*event.media);
  if (event.mode) detail = CamcorderModeName(*event.mode);
  if (event.aspect) detail = AspectRatioName(*event.aspect);
  console.Event(event.at, NotificationName(event.device), detail);
}

EventPump::Outcome EventPump::Until(const std::function<bool(const FeedEvent*)>& done, Clock::duration limit) {
  return Wait(done, limit, true);
}

EventPump::Outcome EventPump::UntilEvenIfInterrupted(const std::function<bool(const FeedEvent*)>& done,
                                                     Clock::duration limit) {
  return Wait(done, limit, false);
}

EventPump::Outcome EventPump::Wait(const std::function<bool(const FeedEvent*)>& done, Clock::duration limit,
                                   bool interruptible) {
  const Clock::time_point deadline = Clock::now() + limit;
  if (done(nullptr)) return Outcome::Done;
  for (;;) {
    FeedEvent event;
    switch (feed.Next(deadline, event, interruptible)) {
      case NotificationFeed::Wait::TimedOut: return Outcome::TimedOut;
      case NotificationFeed::Wait::Interrupted: return Outcome::Interrupted;
      case NotificationFeed::Wait::Event: break;
    }
    if (print) {
      Print(event);
      if (console.OutputFailed()) return Outcome::OutputFailed;
    }
    if (done(&event)) return Outcome::Done;
  }
}

EventPump::Outcome EventPump::UntilState(_OxVideoDeviceState state, Clock::duration limit) {
  // Every change of state is announced with the state it reached, so one
  // look now and one at each announcement cannot miss it.
  return Until([&](const FeedEvent* e) { return e ? e->state == state : device.GetDeviceState() == state; }, limit);
}

EventPump::Outcome EventPump::UntilWindEnds(_OxVideoDeviceState wind, bool alreadyAtEnd, Clock::duration limit,
                                            _OxVideoDeviceState* ended) {
  *ended = wind;
  if (alreadyAtEnd) {
    *ended = device.GetDeviceState();
    return Outcome::Done;
  }
  // The listener reads the state when an event arrives, so the first
  // announcement after the button that is not the wind is its end, also
  // when the wind was over before its own announcement came.
  return Until(
      [&](const FeedEvent* e) {
        if (!e || !e->state) return false;
        *ended = *e->state;
        return *ended != wind;
      },
      limit);
}

void EventPump::Drain() { For(Clock::duration::zero()); }

EventPump::Outcome EventPump::For(Clock::duration span) {
  return Until([](const FeedEvent*) { return false; }, span);
}

}  // namespace zelto::app
