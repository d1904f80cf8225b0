// Module handles. The library is linked into the process, so the process's
// instance handle is also the library's.
#include "platform/posix/kernel.h"

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
  if (!moduleName) return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x140000000ull));
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}
