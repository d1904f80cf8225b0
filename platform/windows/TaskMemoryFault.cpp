// The wrapper behind CoTaskMemAlloc on Windows, with the test fault hook.
#define ZELTO_NO_TASK_MEMORY_HOOK
#include "platform/com.h"

#include <atomic>

#include "platform/PlatformExtras.h"

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

extern "C" LPVOID WINAPI ZeltoCoTaskMemAlloc(SIZE_T cb) {
  if (takeFault()) return nullptr;
  return ::CoTaskMemAlloc(cb);
}
