#include "app/EventPump.h"

#include "app/Names.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

std::string EventPump::TimeCodeNow() { return TimeCodeText(device.GetTimecode()); }

void EventPump::Print(const FeedEvent& event) {
  if (event.kind == FeedEvent::Kind::SceneSearch) {
    if (event.sceneSearch == OX_SCENE_SEARCH_COMPLETE) {
      if (sceneFoundShown) return;
      sceneFoundShown = true;
    }
    console.Event(event.at, "scene search", SceneSearchEventName(event.sceneSearch) + " at " + TimeCodeNow());
    return;
  }
  std::string detail;
  switch (event.device) {
    case OX_NOTIFY_DEVICE_STATE:
      detail = DeviceStateName(device.GetDeviceState()) + " at " + TimeCodeNow();
      break;
    case OX_NOTIFY_MEDIA_INFO: detail = MediaInfoName(device.GetMediaInfo()); break;
    case OX_NOTIFY_CAMCORDER_MODE: detail = CamcorderModeName(device.GetCamcorderMode()); break;
    case OX_NOTIFY_DISPLAY_SIZE: detail = AspectRatioName(device.GetAspectRatio()); break;
    default: break;
  }
  console.Event(event.at, NotificationName(event.device), detail);
}

EventPump::Outcome EventPump::Until(const std::function<bool(const FeedEvent*)>& done, Clock::duration limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  if (done(nullptr)) return Outcome::Done;
  for (;;) {
    FeedEvent event;
    switch (feed.Next(deadline, event)) {
      case NotificationFeed::Wait::TimedOut: return Outcome::TimedOut;
      case NotificationFeed::Wait::Interrupted: return Outcome::Interrupted;
      case NotificationFeed::Wait::Event: break;
    }
    if (print) Print(event);
    if (done(&event)) return Outcome::Done;
  }
}

EventPump::Outcome EventPump::UntilState(_OxVideoDeviceState state, Clock::duration limit) {
  // Any change of state is announced, so looking after each event (and once
  // before the first) cannot miss the state arriving.
  return Until([&](const FeedEvent*) { return device.GetDeviceState() == state; }, limit);
}

EventPump::Outcome EventPump::For(Clock::duration span) {
  return Until([](const FeedEvent*) { return false; }, span);
}

}  // namespace zelto::app
