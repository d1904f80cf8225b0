#include "platform/common/TaskMemoryFault.h"

#include <atomic>

#include "platform/PlatformExtras.h"

namespace zelto::platform {

namespace {
// Calls left until the one that fails; 0 when no fault is armed.
std::atomic<unsigned> allocationsUntilFault{0};
}  // namespace

void FailNthTaskMemAlloc(unsigned n) { allocationsUntilFault.store(n); }

bool TakeTaskMemAllocFault() {
  unsigned left = allocationsUntilFault.load();
  while (left != 0) {
    if (allocationsUntilFault.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

}  // namespace zelto::platform
