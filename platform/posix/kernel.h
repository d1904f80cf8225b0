// The Win32 kernel subset on POSIX: events, threads, waits, the clock,
// critical sections, last error, files and modules. Same names, signatures
// and results as the Windows API.
#pragma once

#include "platform/posix/win32_types.h"

// Handles and events.
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                           LPCWSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
BOOL WINAPI CloseHandle(HANDLE object);

// Waits. Time-outs run on the process clock (see zelto::platform::TimeScale).
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds);

// The process clock.
VOID WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetTickCount();
ULONGLONG WINAPI GetTickCount64();

// Threads. The runtime's _beginthreadex returns a waitable thread handle
// (0 and errno on failure); the handle is signalled once the thread has ended
// and its windows are gone.
std::uintptr_t _beginthreadex(void* security, unsigned stackSize,
                              unsigned(WINAPI* startAddress)(void*), void* argument,
                              unsigned initFlag, unsigned* threadId);
[[noreturn]] void _endthreadex(unsigned exitCode);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId);
BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD WINAPI GetCurrentThreadId();

// Per-thread last error.
DWORD WINAPI GetLastError();
VOID WINAPI SetLastError(DWORD errorCode);

// Critical sections: recursive, owned by a thread.
VOID WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
VOID WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
VOID WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
VOID WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

// Strings (null-safe, as on Windows).
int WINAPI lstrcmpW(LPCWSTR first, LPCWSTR second);
int WINAPI lstrcmpiW(LPCWSTR first, LPCWSTR second);
int WINAPI lstrlenW(LPCWSTR text);

// Files: wide Windows-style paths, '\\' as separator.
DWORD WINAPI GetFileAttributesW(LPCWSTR fileName);
BOOL WINAPI DeleteFileW(LPCWSTR fileName);

// Modules: null names the process; the library shares its instance handle.
HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName);
