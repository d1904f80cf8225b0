// The per-thread last error.
#include "platform/posix/kernel.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD WINAPI GetLastError() { return lastError; }

VOID WINAPI SetLastError(DWORD errorCode) { lastError = errorCode; }
