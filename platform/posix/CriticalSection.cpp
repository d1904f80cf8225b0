// Critical sections: a recursive lock in the Win32 record. LockCount is the
// lock word (0 free, 1 held, 2 held with sleepers), OwningThread the owner's
// thread id, RecursionCount the owner's depth.
#include "platform/posix/Futex.h"
#include "platform/posix/kernel.h"

#include <atomic>

using zelto::platform::detail::FutexWait;
using zelto::platform::detail::FutexWake;

namespace {

std::atomic_ref<LONG> LockWord(LPCRITICAL_SECTION section) { return std::atomic_ref<LONG>(section->LockCount); }
std::atomic_ref<HANDLE> Owner(LPCRITICAL_SECTION section) { return std::atomic_ref<HANDLE>(section->OwningThread); }

HANDLE Self() { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId())); }

bool TryLock(LPCRITICAL_SECTION section) {
  LONG expected = 0;
  return LockWord(section).compare_exchange_strong(expected, 1, std::memory_order_acquire);
}

void Lock(LPCRITICAL_SECTION section) {
  LONG c = 0;
  if (LockWord(section).compare_exchange_strong(c, 1, std::memory_order_acquire)) return;
  if (c != 2) c = LockWord(section).exchange(2, std::memory_order_acquire);
  while (c != 0) {
    FutexWait(&section->LockCount, 2, -1);
    c = LockWord(section).exchange(2, std::memory_order_acquire);
  }
}

void Unlock(LPCRITICAL_SECTION section) {
  if (LockWord(section).fetch_sub(1, std::memory_order_release) != 1) {
    LockWord(section).store(0, std::memory_order_release);
    FutexWake(&section->LockCount, 1);
  }
}

}  // namespace

VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  *section = CRITICAL_SECTION{};
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount) {
  InitializeCriticalSection(section);
  section->SpinCount = spinCount;
  return TRUE;
}

VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  HANDLE self = Self();
  // Only this thread ever stores its own id here, so the test is reliable.
  if (Owner(section).load(std::memory_order_relaxed) == self) {
    ++section->RecursionCount;
    return;
  }
  Lock(section);
  Owner(section).store(self, std::memory_order_relaxed);
  section->RecursionCount = 1;
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  HANDLE self = Self();
  if (Owner(section).load(std::memory_order_relaxed) == self) {
    ++section->RecursionCount;
    return TRUE;
  }
  if (!TryLock(section)) return FALSE;
  Owner(section).store(self, std::memory_order_relaxed);
  section->RecursionCount = 1;
  return TRUE;
}

VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  // Leaving a section this thread does not hold is a caller's bug; ignore it.
  if (Owner(section).load(std::memory_order_relaxed) != Self()) return;
  if (--section->RecursionCount > 0) return;
  Owner(section).store(nullptr, std::memory_order_relaxed);
  Unlock(section);
}

VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) { *section = CRITICAL_SECTION{}; }
