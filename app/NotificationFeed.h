// The device's notifications as a queue the host's thread drains: listeners
// for device notifications and scene-search events that record what arrived,
// when, and what it announced, read from the device by the listener itself on
// the thread that delivered it (a line printed later must not show a state
// the deck reached afterwards).
//
// The thread that waits in Next dispatches its window messages while it
// waits: a driver whose objects live on that thread is reached from the
// library's other threads by calls carried there as messages, and a wait
// that left them queued would never see the event those calls lead to.
//
// Thread-safe. Attach the device before adding the listeners; detach from
// the device (after TerminateDevice) before the feed is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "app/Interrupt.h"
#include "host/devevents/OxCapturingEvent.h"
#include "host/devevents/OxRecordingEvent.h"
#include "host/devevents/OxScanningEvent.h"
#include "host/devevents/OxScapturingEvent.h"
#include "host/devevents/OxSceneSearchEvent.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/foundation/OxTimeCode.h"
#include "host/kel/KelSafeEventListener.h"
#include "platform/win32.h"

class ZeltoVideoDevice;

namespace zelto::app {

struct FeedEvent {
  enum class Kind { Device, SceneSearch, Capture, Recording, Scanning, Scapturing };
  Kind kind = Kind::Device;
  Orvex::_OxVideoDeviceNotification device = Orvex::OX_NOTIFY_DEVICE_STATE;  // for Kind::Device
  Orvex::_OxSceneSearchEventID sceneSearch = Orvex::OX_SCENE_SEARCH_COMPLETE;  // for Kind::SceneSearch
  std::chrono::system_clock::time_point at;
  // What the event announced, as the device read when it arrived: the deck
  // state with its time code, the media, the mode or the picture shape.
  std::optional<Orvex::_OxVideoDeviceState> state;
  std::optional<Orvex::_OxMediaInfo> media;
  std::optional<Orvex::_OxCamcorderMode> mode;
  std::optional<Orvex::_OxAspectRatio> aspect;
  std::optional<Orvex::OxTimeCode> timeCode;  // deck-state and scene-search events
  // For Kind::Capture and Kind::Scapturing: what happened, the file (a path
  // of this system, in UTF-8) and the error.
  Orvex::_OxCapturingEventID capture = Orvex::OX_CAPTURING_CREATE_FILE;
  Orvex::_OxScapturingEventID scapturing = Orvex::OX_SCAPTURING_CREATE_FILE;
  std::string file;
  Orvex::_OxCapturingErrorID error = Orvex::OX_CAPTURING_ERROR_NONE;
  Orvex::_OxRecordingEventID recording = Orvex::OX_RECORDING_START;  // for Kind::Recording
  Orvex::_OxRecordingErrorID recordingError = Orvex::OX_RECORDING_ERROR_NONE;
  Orvex::_OxScanningEventID scanning = Orvex::OX_SCANNING_START;  // for Kind::Scanning

  bool Is(Orvex::_OxVideoDeviceNotification value) const { return kind == Kind::Device && device == value; }
  bool Is(Orvex::_OxSceneSearchEventID value) const { return kind == Kind::SceneSearch && sceneSearch == value; }
  bool Is(Orvex::_OxCapturingEventID value) const { return kind == Kind::Capture && capture == value; }
  bool Is(Orvex::_OxRecordingEventID value) const { return kind == Kind::Recording && recording == value; }
  bool Is(Orvex::_OxScanningEventID value) const { return kind == Kind::Scanning && scanning == value; }
  bool Is(Orvex::_OxScapturingEventID value) const { return kind == Kind::Scapturing && scapturing == value; }
};

class NotificationFeed {
public:
  using Clock = std::chrono::steady_clock;

  NotificationFeed()
      : deviceListener(*this), sceneListener(*this), captureListener(*this), recordingListener(*this),
        scanningListener(*this), scapturingListener(*this), interrupted([this] { Wake(); }) {}
  NotificationFeed(const NotificationFeed&) = delete;
  NotificationFeed& operator=(const NotificationFeed&) = delete;

  // The device the listeners read what an event announced from; null: they
  // record the event alone.
  void Attach(ZeltoVideoDevice* device) { reader.store(device); }

  KelSafeEventListener<Orvex::_OxVideoDeviceNotification>* DeviceListener() { return &deviceListener; }
  KelSafeEventListener<Orvex::OxSceneSearchEvent>* SceneSearchListener() { return &sceneListener; }
  KelSafeEventListener<Orvex::OxCapturingEvent>* CapturingListener() { return &captureListener; }
  KelSafeEventListener<Orvex::OxRecordingEvent>* RecordingListener() { return &recordingListener; }
  KelSafeEventListener<Orvex::OxScanningEvent>* ScanningListener() { return &scanningListener; }
  KelSafeEventListener<Orvex::OxScapturingEvent>* ScapturingListener() { return &scapturingListener; }

  enum class Wait { Event, TimedOut, Interrupted };
  // The oldest event not yet taken, waiting for one until the deadline or
  // until Ctrl-C (Interrupt::Request wakes the wait); with interruptible
  // false, Ctrl-C does not end it (a command's last steps on its way out).
  // Dispatches the calling thread's window messages while it waits.
  Wait Next(Clock::time_point deadline, FeedEvent& event, bool interruptible = true);

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

  // An event's place in the queue is taken when it arrives, before the
  // listener reads the device: reading may raise further events (a found
  // scene while the deck state is read), which must queue behind it.
  std::uint64_t Reserve();
  void Fill(std::uint64_t place, const FeedEvent& event);
  class CaptureRelay : public KelSafeEventListener<Orvex::OxCapturingEvent> {
  public:
    explicit CaptureRelay(NotificationFeed& feed) : feed(feed) {}
    void OnEvent(const Orvex::OxCapturingEvent& event) override;

  private:
    NotificationFeed& feed;
  };

  class ScapturingRelay : public KelSafeEventListener<Orvex::OxScapturingEvent> {
  public:
    explicit ScapturingRelay(NotificationFeed& feed) : feed(feed) {}
    void OnEvent(const Orvex::OxScapturingEvent& event) override;

  private:
    NotificationFeed& feed;
  };

  // Recording and scanning events carry nothing to read: queued as they are.
  template <typename Event>
  class PlainRelay : public KelSafeEventListener<Event> {
  public:
    explicit PlainRelay(NotificationFeed& feed) : feed(feed) {}
    void OnEvent(const Event& event) override;

  private:
    NotificationFeed& feed;
  };

  // An auto-reset event, closed with the feed (after the waker that sets it
  // is gone).
  class ArrivalEvent {
  public:
    ArrivalEvent();
    ~ArrivalEvent() {
      if (handle) CloseHandle(handle);
    }
    ArrivalEvent(const ArrivalEvent&) = delete;
    ArrivalEvent& operator=(const ArrivalEvent&) = delete;
    HANDLE handle;
  };

  void Wake();
  // Until the arrival event is set or the deadline passes, dispatching
  // window messages as they come.
  void AwaitArrival(Clock::time_point deadline);

  std::atomic<ZeltoVideoDevice*> reader{nullptr};
  std::mutex mutex;
  ArrivalEvent arrived;
  std::uint64_t reserved = 0;
  std::uint64_t taken = 0;
  std::map<std::uint64_t, FeedEvent> events;  // by place; taken in order, without gaps
  DeviceRelay deviceListener;
  SceneRelay sceneListener;
  CaptureRelay captureListener;
  PlainRelay<Orvex::OxRecordingEvent> recordingListener;
  PlainRelay<Orvex::OxScanningEvent> scanningListener;
  ScapturingRelay scapturingListener;
  Interrupt::Waker interrupted;
};

}  // namespace zelto::app
