// Helpers shared by the platform tests. They run unchanged natively and,
// cross-built, under Wine.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/win32.h"

namespace platform_test {

// A generous limit for waits that must succeed.
constexpr DWORD kLongWait = 10000;

// True when running on Wine rather than on Windows or natively.
inline bool OnWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// The last error to expect: Windows' own, or Wine's where Wine is known to
// differ (each caller says how).
inline DWORD WindowsOrWine(DWORD windows, DWORD wine) { return OnWine() ? wine : windows; }

// Runs body on a thread of the runtime's _beginthreadex; the handle is the
// thread's, waitable, and must be closed by the caller.
inline HANDLE StartThread(std::function<unsigned()> body, unsigned* threadId = nullptr) {
  struct Start {
    static unsigned WINAPI Run(void* raw) {
      std::unique_ptr<std::function<unsigned()>> fn(static_cast<std::function<unsigned()>*>(raw));
      return (*fn)();
    }
  };
  auto* fn = new std::function<unsigned()>(std::move(body));
  std::uintptr_t handle = _beginthreadex(nullptr, 0, &Start::Run, fn, 0, threadId);
  if (!handle) delete fn;
  return reinterpret_cast<HANDLE>(handle);
}

// Waits for a thread and closes its handle; returns its exit code.
inline DWORD Join(HANDLE thread) {
  DWORD code = 0xDEADu;
  if (WaitForSingleObject(thread, kLongWait) == WAIT_OBJECT_0) GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}

struct HandleCloser {
  void operator()(void* h) const { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

inline UniqueHandle NewEvent(bool manualReset, bool initialState) {
  return UniqueHandle(CreateEventW(nullptr, manualReset, initialState, nullptr));
}

inline bool IsSignalled(HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

// Registers a window class of this module; returns 0 and sets the last error
// on failure.
inline ATOM RegisterTestClass(LPCWSTR name, WNDPROC procedure, UINT style = 0) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = style;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  return RegisterClassExW(&wc);
}

inline HWND CreateTestWindow(LPCWSTR className) {
  return CreateWindowExW(0, className, nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace platform_test

// Expects `call` to return `failed` and to leave `error` as the thread's last
// error; the error is cleared first so a stale value cannot pass.
#define EXPECT_FAILS_WITH(call, failed, error)                          \
  do {                                                                   \
    SetLastError(0);                                                     \
    EXPECT_EQ((call), (failed)) << #call;                                \
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(error)) << #call;       \
  } while (0)
