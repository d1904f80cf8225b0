// The wrapper behind CoTaskMemAlloc on Windows, with the test fault hook.
#define ZELTO_NO_TASK_MEMORY_HOOK
#include "platform/com.h"

#include "platform/common/TaskMemoryFault.h"

extern "C" LPVOID WINAPI ZeltoCoTaskMemAlloc(SIZE_T cb) {
  if (zelto::platform::TakeTaskMemAllocFault()) return nullptr;
  return ::CoTaskMemAlloc(cb);
}
