// Task memory and its fault hook.
#include <atomic>
#include <cstdlib>

#include "platform/PlatformExtras.h"
#include "platform/posix/com_api.h"

namespace {

// Calls left until the one that fails; 0 when no fault is armed.
std::atomic<unsigned> allocationsUntilFault{0};

bool takeFault() {
  unsigned left = allocationsUntilFault.load();
  while (left != 0) {
    if (allocationsUntilFault.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

}  // namespace

namespace zelto::platform {

void FailNthTaskMemAlloc(unsigned n) { allocationsUntilFault.store(n); }

}  // namespace zelto::platform

// A zero-byte request still yields a distinct block that CoTaskMemFree accepts.
LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb) {
  if (takeFault()) return nullptr;
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
