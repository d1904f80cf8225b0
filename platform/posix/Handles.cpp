// The process's handle table and CloseHandle.
#include "platform/posix/KernelObjects.h"
#include "platform/posix/SlotTable.h"
#include "platform/posix/kernel.h"

namespace zelto::platform::detail {

namespace {

SlotTable<KernelObject>& HandleTable() {
  // Never destroyed: threads may still close handles while the process exits.
  static auto* table = new SlotTable<KernelObject>;
  return *table;
}

}  // namespace

HANDLE InsertHandle(KernelObject* object) {
  std::uintptr_t value = HandleTable().Insert(object);
  return reinterpret_cast<HANDLE>(value);
}

Ref<KernelObject> LookupHandle(HANDLE handle) {
  return HandleTable().Lookup(reinterpret_cast<std::uintptr_t>(handle));
}

Ref<KernelObject> RemoveHandle(HANDLE handle) {
  return HandleTable().Remove(reinterpret_cast<std::uintptr_t>(handle));
}

Waitable* ProcessObject() {
  static auto* process = new Waitable(KernelObject::Kind::Process, true, false);
  return process;
}

}  // namespace zelto::platform::detail

BOOL WINAPI CloseHandle(HANDLE object) {
  // Closing the current-process pseudo handle does nothing and succeeds.
  if (object == INVALID_HANDLE_VALUE) return TRUE;
  // Waiters hold references of their own: the object lives on until they leave.
  if (!zelto::platform::detail::RemoveHandle(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
