// Turns the driver's events into device operations. Owns the hidden window
// the driver posts to; file, capture, scan and thumbnail events are handled
// while the driver's message is dispatched, everything that reads the deck
// or stops an activity is re-posted to the window and handled from its queue.
//
// Teardown: the device takes the components down while this window still
// receives events. Every handler reaches the device only under dispatchLock
// and only while the device is attached; DetachDevice clears the pointer
// under that lock, so once it returns no handler runs on the device and none
// will. The device detaches first thing in TerminateDevice, before it deletes
// any component, and the order of its driver calls stays as it was.
#pragma once

#include <mutex>

#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"
#include "zelto/events/VideoCapturingMessageReceiver.h"

class ZeltoVideoDevice;

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

  // Waits for a handler that is running, then lets no handler reach the
  // device again. Must not be called from a handler (a listener on this
  // window's thread): it would wait for itself.
  void DetachDevice();

  HWND GetWindow() const { return receiverWindow.GetWindow(); }

  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // The driver's event, as it arrives.
  static void dispatchDeviceEvent(HWND window, DWORD code, LPARAM argument, ZeltoVideoDevice* device);
  // An event re-posted by dispatchDeviceEvent.
  static void dispatchDeferredEvent(WPARAM code, LPARAM argument, ZeltoVideoDevice* device);

private:
  template <typename Handler>
  void withDevice(Handler&& handler);
  void unadvise();

  ZeltoComPtr<ISmartControl>* smartControlHolder;
  ZeltoVideoDevice* device;
  DWORD adviseCookie;
  // Declared before the window so that it outlives the window's thread.
  std::mutex dispatchLock;
  VideoCapturingMessageReceiver receiverWindow;
};
