// Owners of one unnamed Win32 event.
#pragma once

#include "platform/win32.h"

class ZeltoEvent {
public:
  ZeltoEvent(bool manualReset, bool initiallySignalled);
  virtual ~ZeltoEvent();
  ZeltoEvent(const ZeltoEvent&) = delete;
  ZeltoEvent& operator=(const ZeltoEvent&) = delete;

  BOOL Set();
  BOOL Reset();
  // For waiting; null when the event could not be created.
  HANDLE GetHandle() const { return handle; }

private:
  HANDLE handle;
};

class ZeltoVideoEvent : public ZeltoEvent {
public:
  using ZeltoEvent::ZeltoEvent;
};
