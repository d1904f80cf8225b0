#include "app/NotificationFeed.h"

#include <stdexcept>

#include "app/Interrupt.h"
#include "platform/PlatformExtras.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

void NotificationFeed::DeviceRelay::OnEvent(const _OxVideoDeviceNotification& event) {
  const std::uint64_t place = feed.Reserve();
  FeedEvent e;
  e.kind = FeedEvent::Kind::Device;
  e.device = event;
  e.at = std::chrono::system_clock::now();
  ZeltoVideoDevice* device = feed.reader.load();
  try {
    switch (device ? event : OX_NOTIFY_RESERVED) {
      case OX_NOTIFY_DEVICE_STATE:
        e.state = device->GetDeviceState();
        e.timeCode = device->GetTimecode();
        break;
      case OX_NOTIFY_MEDIA_INFO: e.media = device->GetMediaInfo(); break;
      case OX_NOTIFY_CAMCORDER_MODE: e.mode = device->GetCamcorderMode(); break;
      case OX_NOTIFY_DISPLAY_SIZE: e.aspect = device->GetAspectRatio(); break;
      default: break;
    }
  } catch (...) {
    // The event is queued all the same: its place must be filled.
  }
  feed.Fill(place, e);
}

void NotificationFeed::SceneRelay::OnEvent(const OxSceneSearchEvent& event) {
  const std::uint64_t place = feed.Reserve();
  FeedEvent e;
  e.kind = FeedEvent::Kind::SceneSearch;
  e.sceneSearch = event.GetEventID();
  e.at = std::chrono::system_clock::now();
  try {
    if (ZeltoVideoDevice* device = feed.reader.load()) e.timeCode = device->GetTimecode();
  } catch (...) {
    // The event is queued all the same: its place must be filled.
  }
  feed.Fill(place, e);
}

namespace {

// A file the library names the Windows way, as a path of this system in
// UTF-8; empty where it cannot be converted (the event is queued all the
// same: its place must be filled).
std::string FileText(const OxString& name) noexcept {
  try {
    return zelto::platform::Utf8FromPath(zelto::platform::NativePath(name.GetStdString()));
  } catch (...) {
    return {};
  }
}

}  // namespace

void NotificationFeed::CaptureRelay::OnEvent(const OxCapturingEvent& event) {
  const std::uint64_t place = feed.Reserve();
  FeedEvent e;
  e.kind = FeedEvent::Kind::Capture;
  e.at = std::chrono::system_clock::now();
  e.capture = event.GetEventID();
  e.error = event.GetErrorID();
  e.file = FileText(event.GetFileName());
  feed.Fill(place, e);
}

void NotificationFeed::ScapturingRelay::OnEvent(const OxScapturingEvent& event) {
  const std::uint64_t place = feed.Reserve();
  FeedEvent e;
  e.kind = FeedEvent::Kind::Scapturing;
  e.at = std::chrono::system_clock::now();
  e.scapturing = event.GetEventID();
  e.error = event.GetErrorID();
  e.file = FileText(event.GetFileName());
  feed.Fill(place, e);
}

template <>
void NotificationFeed::PlainRelay<OxRecordingEvent>::OnEvent(const OxRecordingEvent& event) {
  FeedEvent e;
  e.kind = FeedEvent::Kind::Recording;
  e.at = std::chrono::system_clock::now();
  e.recording = event.GetEventID();
  e.recordingError = event.GetErrorID();
  feed.Fill(feed.Reserve(), e);
}

template <>
void NotificationFeed::PlainRelay<OxScanningEvent>::OnEvent(const OxScanningEvent& event) {
  FeedEvent e;
  e.kind = FeedEvent::Kind::Scanning;
  e.at = std::chrono::system_clock::now();
  e.scanning = event.GetEventID();
  feed.Fill(feed.Reserve(), e);
}

std::uint64_t NotificationFeed::Reserve() {
  std::lock_guard<std::mutex> guard(mutex);
  return ++reserved;
}

void NotificationFeed::Fill(std::uint64_t place, const FeedEvent& event) {
  {
    std::lock_guard<std::mutex> guard(mutex);
    events.emplace(place, event);
  }
  SetEvent(arrived.handle);
}

// Set after the queue or the flag changed, and auto-reset: a waiter that
// looked just before still finds it set, and one signal serves any number
// of arrivals, since the waiter looks at the whole queue each time.
void NotificationFeed::Wake() { SetEvent(arrived.handle); }

NotificationFeed::ArrivalEvent::ArrivalEvent() : handle(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  if (!handle) throw std::runtime_error("no event could be made for the device's notifications");
}

void NotificationFeed::AwaitArrival(Clock::time_point deadline) {
  const Clock::time_point now = Clock::now();
  if (now >= deadline) return;
  // The wait's time-out runs on the process clock, which ZELTO_TIME_SCALE
  // may speed up; the deadline is real time.
  const double realMs = std::chrono::duration<double, std::milli>(deadline - now).count();
  const double processMs = realMs / zelto::platform::TimeScale() + 1.0;
  const DWORD timeout = processMs >= static_cast<double>(INFINITE - 1) ? INFINITE - 1 : static_cast<DWORD>(processMs);
  const DWORD woke = MsgWaitForMultipleObjects(1, &arrived.handle, FALSE, timeout, QS_ALLINPUT);
  if (woke == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      // Nothing here runs a loop of its own that WM_QUIT could end.
      if (message.message == WM_QUIT) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  } else if (woke == WAIT_FAILED) {
    // The queue cannot be waited on: a plain wait is all that is left.
    WaitForSingleObject(arrived.handle, timeout);
  }
}

NotificationFeed::Wait NotificationFeed::Next(Clock::time_point deadline, FeedEvent& event, bool interruptible) {
  for (;;) {
    // Ctrl-C first: a steady flow of events must not keep the program going.
    if (interruptible && Interrupt::Requested()) return Wait::Interrupted;
    {
      std::lock_guard<std::mutex> guard(mutex);
      if (!events.empty() && events.begin()->first == taken + 1) {
        event = events.begin()->second;
        events.erase(events.begin());
        ++taken;
        return Wait::Event;
      }
    }
    // Looked at once more after the deadline: what arrived as it passed
    // (or from a message dispatched in the last wait) is still taken.
    if (Clock::now() >= deadline) return Wait::TimedOut;
    AwaitArrival(deadline);
  }
}

}  // namespace zelto::app
