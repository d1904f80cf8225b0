// The process-wide set of marshalling holders through which the device's
// driver interfaces reach the auto-capturing thread: position 0 carries the
// smart control, position 2 the stream receive, position 1 nothing.
#pragma once

#include "zelto/bridge/MarshalStream.h"

class ZeltoVideoDeviceSmartControlSingleton {
public:
  // Created by the first call, which always comes from the host's thread
  // before any worker exists; no lock is needed.
  static ZeltoVideoDeviceSmartControlSingleton* GetInstance();

  MarshalStream& GetSmartControlStream() { return smartControlStream; }
  MarshalStream& GetReceiveStream() { return receiveStream; }

  virtual ~ZeltoVideoDeviceSmartControlSingleton();
  ZeltoVideoDeviceSmartControlSingleton(const ZeltoVideoDeviceSmartControlSingleton&) = delete;
  ZeltoVideoDeviceSmartControlSingleton& operator=(const ZeltoVideoDeviceSmartControlSingleton&) = delete;

private:
  friend class ZeltoVideoDeviceSmartControlSingletonStack;
  ZeltoVideoDeviceSmartControlSingleton();
  static void DeleteInstance();

  MarshalStream smartControlStream;
  MarshalStream spareStream;
  MarshalStream receiveStream;
};

// A static object of the library; its destruction at unload deletes the
// singleton, and with it any marshal still waiting (see MarshalStream.h).
class ZeltoVideoDeviceSmartControlSingletonStack {
public:
  ZeltoVideoDeviceSmartControlSingletonStack() = default;
  virtual ~ZeltoVideoDeviceSmartControlSingletonStack();
};
