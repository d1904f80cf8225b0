// Task memory and its fault hook.
#include <cstdlib>

#include "platform/common/TaskMemoryFault.h"
#include "platform/posix/com_api.h"

// A zero-byte request still yields a distinct block that CoTaskMemFree accepts.
LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb) {
  if (zelto::platform::TakeTaskMemAllocFault()) return nullptr;
  return std::malloc(cb != 0 ? cb : 1);
}

// Null reallocates nothing (an allocation); zero bytes free the block.
LPVOID STDAPICALLTYPE CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (pv == nullptr) return std::malloc(cb != 0 ? cb : 1);
  if (cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb);
}

void STDAPICALLTYPE CoTaskMemFree(LPVOID pv) { std::free(pv); }
