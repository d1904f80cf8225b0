// What the library sets up when it is loaded: the two registered window
// messages of the driver event path and the module instance that the
// message window's class is registered with.
#pragma once

#include "platform/win32.h"

namespace zelto {

// "VELDMARKDEVICEEVENTMESSAGEID": from the driver; wParam points to a
// DRIVER_EVENT_RECORD, lParam is the event's argument. 0 if registration failed.
UINT DeviceEventMessage();
// "LMessageReceiveWindowClass": the receiver re-posting an event to its own
// window; wParam is the event code, lParam the argument.
UINT DeferredEventMessage();
// The library's module instance.
HINSTANCE ModuleInstance();

}  // namespace zelto
