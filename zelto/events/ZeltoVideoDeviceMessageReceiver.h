// Turns the driver's events into device operations. Owns the hidden window
// the driver posts to; file, capture, scan and thumbnail events are handled
// while the driver's message is dispatched, everything that reads the deck
// or stops an activity is re-posted to the window and handled from its queue
// (at once where the queue is full: no state change is lost).
//
// Under load the window takes a report long after the driver posted it, by
// then perhaps in the host's next capture. Each capture the receive
// component begins is therefore announced through this same queue
// (FollowCaptures), and a file, error or batch-step report is bound to the
// capture last announced before it: a report of an ended capture reaches
// nothing, not even the capture after it. A removal is the camcorder's, not
// a capture's, and always ends what runs.
//
// Teardown: the device takes the components down while this window still
// receives events. Every handler reaches the device only under dispatchLock
// and only while the device is attached; DetachDevice clears the pointer
// under that lock, so once it returns no handler runs on the device and none
// will. The device detaches first thing in TerminateDevice, before it deletes
// any component, and the order of its driver calls stays as it was.
//
// A listener on the window's thread may terminate or delete the device from
// inside a dispatch. The detach then runs under the lock that dispatch
// holds, and Release leaves the receiver's deletion to its own thread, which
// cannot wait for itself.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"
#include "zelto/events/VideoCapturingMessageReceiver.h"

class ZeltoVideoDevice;
namespace zelto::capture {
class CaptureReportGate;
}

class ZeltoVideoDeviceMessageReceiver {
public:
  // Builds the window on its thread, binds it to this object, advises the
  // driver and brings the device's deck state, camcorder mode and media
  // information up to date. Throws std::runtime_error on any failure, with
  // the thread stopped and the class unregistered; an exception from a
  // listener during that first refresh leaves it likewise, with the window
  // unadvised.
  ZeltoVideoDeviceMessageReceiver(ZeltoComPtr<ISmartControl>* smartControl, ZeltoVideoDevice* device);
  // Unadvises the driver, then stops the thread.
  virtual ~ZeltoVideoDeviceMessageReceiver();
  ZeltoVideoDeviceMessageReceiver(const ZeltoVideoDeviceMessageReceiver&) = delete;
  ZeltoVideoDeviceMessageReceiver& operator=(const ZeltoVideoDeviceMessageReceiver&) = delete;

  // Deletes the receiver. On its window's thread (a listener letting the
  // device go) the driver is unadvised and the window and class taken down
  // now; the thread deletes the receiver once the dispatch under way is over.
  static void Release(ZeltoVideoDeviceMessageReceiver* receiver);

  // Waits for a handler that is running, then lets no handler reach the
  // device again. From a handler (a listener on this window's thread) it
  // does not wait for itself; the handler under way runs on.
  void DetachDevice();

  HWND GetWindow() const { return receiverWindow.GetWindow(); }

  // Every capture `gate` begins is announced through this window's queue,
  // behind the driver's reports already in it: the window then knows which
  // capture each report it takes belongs to, however late it takes it.
  void FollowCaptures(zelto::capture::CaptureReportGate& gate);
  // The announcement: wParam the capture's number, lParam its mode. Private
  // to this window's class.
  static constexpr UINT kCaptureBegunMessage = WM_APP;

  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // The driver's event, as it arrives.
  static void dispatchDeviceEvent(HWND window, DWORD code, LPARAM argument, ZeltoVideoDevice* device);
  // An event re-posted by dispatchDeviceEvent; handled at once when the
  // window's queue is full. Its wParam is the driver's code; a device
  // error's carries above it (kCaptureShift) the low bits of the number of
  // the capture the driver reported it in.
  static void repost(HWND window, WPARAM event, LPARAM argument, ZeltoVideoDevice* device);
  static void dispatchDeferredEvent(WPARAM event, LPARAM argument, ZeltoVideoDevice* device);

private:
  static_assert(sizeof(WPARAM) >= 8, "a re-posted device error carries its capture above its code");
  static constexpr int kCaptureShift = 32;
  static constexpr WPARAM kEventCodeMask = 0xFFFFFFFFu;

  // Driver event 5: a removed camcorder ends whatever was under way (a
  // scapture, a recording, a scan), and a batch or direct capture hears of
  // every device error. Any other error of a capture that has ended since
  // the driver reported it ends nothing: the host may have begun another.
  static void deviceError(LPARAM argument, std::uint32_t capture, ZeltoVideoDevice* device);
  template <typename Handler>
  void withDevice(Handler&& handler);
  void unadvise();

  ZeltoComPtr<ISmartControl>* smartControlHolder;
  ZeltoVideoDevice* device;
  DWORD adviseCookie;
  // Declared before the window so that it outlives the window's thread.
  // Re-entrant, for a detach from inside a dispatch.
  std::recursive_mutex dispatchLock;
  VideoCapturingMessageReceiver receiverWindow;
};
