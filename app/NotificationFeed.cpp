#include "app/NotificationFeed.h"

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

void NotificationFeed::CaptureRelay::OnEvent(const OxCapturingEvent& event) {
  const std::uint64_t place = feed.Reserve();
  FeedEvent e;
  e.kind = FeedEvent::Kind::Capture;
  e.at = std::chrono::system_clock::now();
  e.capture = event.GetEventID();
  e.error = event.GetErrorID();
  try {
    // The library names files the Windows way; here they are paths of this system.
    const std::u8string path = zelto::platform::NativePath(event.GetFileName().GetStdString()).u8string();
    e.file.assign(path.begin(), path.end());
  } catch (...) {
    // The event is queued all the same: its place must be filled.
  }
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
    const auto ready = [&] { return !events.empty() && events.begin()->first == taken + 1; };
    if (ready()) {
      event = events.begin()->second;
      events.erase(events.begin());
      ++taken;
      return Wait::Event;
    }
    if (arrived.wait_until(guard, deadline) == std::cv_status::timeout && !ready() && !Interrupt::Requested())
      return Wait::TimedOut;
  }
}

}  // namespace zelto::app
