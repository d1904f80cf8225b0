// The device's notifications as a queue the host's thread drains: listeners
// for device notifications and scene-search events that only record what
// arrived and when, on whichever thread raised it. Reading the device in
// answer is left to the draining thread.
//
// Thread-safe. Detach from the device (after TerminateDevice, which ends the
// thread that raises most events) before the feed is destroyed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "app/Interrupt.h"
#include "host/devevents/OxSceneSearchEvent.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/kel/KelSafeEventListener.h"

namespace zelto::app {

struct FeedEvent {
  enum class Kind { Device, SceneSearch };
  Kind kind = Kind::Device;
  Orvex::_OxVideoDeviceNotification device = Orvex::OX_NOTIFY_DEVICE_STATE;  // for Kind::Device
  Orvex::_OxSceneSearchEventID sceneSearch = Orvex::OX_SCENE_SEARCH_COMPLETE;  // for Kind::SceneSearch
  std::chrono::system_clock::time_point at;

  bool Is(Orvex::_OxVideoDeviceNotification value) const { return kind == Kind::Device && device == value; }
  bool Is(Orvex::_OxSceneSearchEventID value) const { return kind == Kind::SceneSearch && sceneSearch == value; }
};

class NotificationFeed {
public:
  using Clock = std::chrono::steady_clock;

  NotificationFeed() : deviceListener(*this), sceneListener(*this), interrupted([this] { Wake(); }) {}
  NotificationFeed(const NotificationFeed&) = delete;
  NotificationFeed& operator=(const NotificationFeed&) = delete;

  KelSafeEventListener<Orvex::_OxVideoDeviceNotification>* DeviceListener() { return &deviceListener; }
  KelSafeEventListener<Orvex::OxSceneSearchEvent>* SceneSearchListener() { return &sceneListener; }

  enum class Wait { Event, TimedOut, Interrupted };
  // The oldest event not yet taken, waiting for one until the deadline or
  // until Ctrl-C (Interrupt::Request wakes the wait).
  Wait Next(Clock::time_point deadline, FeedEvent& event);
  void Push(const FeedEvent& event);

private:
  class DeviceRelay : public KelSafeEventListener<Orvex::_OxVideoDeviceNotification> {
  public:
    explicit DeviceRelay(NotificationFeed& feed) : feed(feed) {}
    void OnEvent(const Orvex::_OxVideoDeviceNotification& event) override;

  private:
    NotificationFeed& feed;
  };
  class SceneRelay : public KelSafeEventListener<Orvex::OxSceneSearchEvent> {
  public:
    explicit SceneRelay(NotificationFeed& feed) : feed(feed) {}
    void OnEvent(const Orvex::OxSceneSearchEvent& event) override;

  private:
    NotificationFeed& feed;
  };

  void Wake();

  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<FeedEvent> events;
  DeviceRelay deviceListener;
  SceneRelay sceneListener;
  Interrupt::Waker interrupted;
};

}  // namespace zelto::app
