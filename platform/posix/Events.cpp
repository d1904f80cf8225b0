// Event objects.
#include "platform/posix/KernelObjects.h"
#include "platform/posix/kernel.h"

using namespace zelto::platform::detail;

namespace {

// The event behind a handle, or null (last error set) if it is not one.
Ref<KernelObject> EventFor(HANDLE handle) {
  Ref<KernelObject> object = LookupHandle(handle);
  if (!object || object->kind() != KernelObject::Kind::Event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return {};
  }
  return object;
}

}  // namespace

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR) {
  // Names are not supported: every event is a new, unnamed one.
  auto* event = new Event(manualReset != FALSE, initialState != FALSE);
  HANDLE handle = InsertHandle(event);
  if (!handle) {
    event->Release();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Windows clears the last error when a new event is created under no name.
  SetLastError(ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI SetEvent(HANDLE handle) {
  Ref<KernelObject> object = EventFor(handle);
  if (!object) return FALSE;
  auto* event = static_cast<Event*>(object.get());
  Wakeups wakeups;
  std::lock_guard<std::mutex> guard(event->lock());
  event->SignalLocked(wakeups);
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE handle) {
  Ref<KernelObject> object = EventFor(handle);
  if (!object) return FALSE;
  auto* event = static_cast<Event*>(object.get());
  std::lock_guard<std::mutex> guard(event->lock());
  event->ResetLocked();
  return TRUE;
}
