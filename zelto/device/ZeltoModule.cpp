// Load-time work of the library: the registered messages, the object whose
// destruction at unload deletes the smart-control singleton, and the module
// instance handle.
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"
#include "zelto/events/ZeltoMessages.h"

namespace {

const UINT deviceEventMessage = RegisterWindowMessageW(DRIVER_EVENT_MESSAGE_NAME);
const UINT deferredEventMessage = RegisterWindowMessageW(L"LMessageReceiveWindowClass");

ZeltoVideoDeviceSmartControlSingletonStack singletonStack;

// In the DLL the entry point replaces this with the DLL's own handle; linked
// into a program (the unit tests), the program's handle is the right one.
HINSTANCE moduleInstance = GetModuleHandleW(nullptr);

}  // namespace

namespace zelto {

UINT DeviceEventMessage() { return deviceEventMessage; }
UINT DeferredEventMessage() { return deferredEventMessage; }
HINSTANCE ModuleInstance() { return moduleInstance; }

}  // namespace zelto

#ifdef _WIN32
// The runtime has run the static initialisers above before it calls this.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) moduleInstance = instance;
  return TRUE;
}
#endif
