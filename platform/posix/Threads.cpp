// Threads: the runtime's _beginthreadex/_endthreadex, CreateThread, thread
// ids and exit codes. A thread's handle is signalled after its windows and
// message queue are gone, as on Windows.
#include "platform/posix/KernelObjects.h"
#include "platform/posix/ThreadState.h"
#include "platform/posix/kernel.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

namespace zelto::platform::detail {

namespace {

std::atomic<DWORD> nextThreadId{0x104};
thread_local DWORD currentThreadId = 0;
thread_local DWORD currentExitCode = 0;

struct StartInfo {
  unsigned(WINAPI* runtimeStart)(void*) = nullptr;
  LPTHREAD_START_ROUTINE win32Start = nullptr;
  void* argument = nullptr;
  ThreadObject* thread = nullptr;  // the thread's own reference
};

// Runs on the way out of the thread, also when _endthreadex unwinds it.
struct ThreadExit {
  ThreadObject* thread;
  ~ThreadExit() {
    EndThreadMessaging();
    thread->Finish(currentExitCode);
    thread->Release();
  }
};

void* ThreadEntry(void* raw) {
  std::unique_ptr<StartInfo> info(static_cast<StartInfo*>(raw));
  currentThreadId = info->thread->id();
  currentExitCode = 0;
  ThreadExit exit{info->thread};
  currentExitCode = info->runtimeStart ? info->runtimeStart(info->argument) : info->win32Start(info->argument);
  return nullptr;
}

// Starts a detached thread; returns its handle or null with errno set.
HANDLE StartThread(StartInfo info, SIZE_T stackSize, DWORD* threadId) {
  DWORD id = NewThreadId();
  auto* thread = new ThreadObject(id);
  HANDLE handle = InsertHandle(thread);
  if (!handle) {
    thread->Release();
    errno = EAGAIN;
    return nullptr;
  }
  thread->AddRef();  // the thread's own
  info.thread = thread;
  auto* heapInfo = new StartInfo(info);

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize > 0) {
    SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    const auto minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
    SIZE_T size = stackSize < minimum ? minimum : stackSize;
    pthread_attr_setstacksize(&attr, (size + page - 1) / page * page);
  }
  pthread_t pthread;
  int rc = pthread_create(&pthread, &attr, ThreadEntry, heapInfo);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete heapInfo;
    thread->Release();
    RemoveHandle(handle);
    errno = rc;
    return nullptr;
  }
  if (threadId) *threadId = id;
  return handle;
}

}  // namespace

DWORD NewThreadId() { return nextThreadId.fetch_add(4, std::memory_order_relaxed); }

void AdoptThreadId(DWORD id) { currentThreadId = id; }

}  // namespace zelto::platform::detail

using namespace zelto::platform::detail;

DWORD WINAPI GetCurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = NewThreadId();
  return currentThreadId;
}

std::uintptr_t _beginthreadex(void*, unsigned stackSize, unsigned(WINAPI* startAddress)(void*), void* argument,
                              unsigned initFlag, unsigned* threadId) {
  // Suspended starts are not supported: nothing here could resume them.
  if (!startAddress || (initFlag & CREATE_SUSPENDED)) {
    errno = EINVAL;
    return 0;
  }
  StartInfo info;
  info.runtimeStart = startAddress;
  info.argument = argument;
  DWORD id = 0;
  HANDLE handle = StartThread(info, stackSize, &id);
  if (handle && threadId) *threadId = id;
  return reinterpret_cast<std::uintptr_t>(handle);
}

void _endthreadex(unsigned exitCode) {
  currentExitCode = exitCode;
  // Unwinds the thread, so the exit record in ThreadEntry still runs.
  pthread_exit(nullptr);
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE startAddress,
                           LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
  if (!startAddress || (creationFlags & CREATE_SUSPENDED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  StartInfo info;
  info.win32Start = startAddress;
  info.argument = parameter;
  HANDLE handle = StartThread(info, stackSize, threadId);
  if (!handle) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return handle;
}

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  Ref<KernelObject> object = LookupHandle(handle);
  if (!object || object->kind() != KernelObject::Kind::Thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!exitCode) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  *exitCode = static_cast<ThreadObject*>(object.get())->exitCode();
  return TRUE;
}
