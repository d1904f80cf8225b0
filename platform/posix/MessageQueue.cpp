// Per-thread message queues: posting, peeking, GetMessageW and
// MsgWaitForMultipleObjects, and the end of a thread's messaging.
#include "platform/posix/ProcessClock.h"
#include "platform/posix/ThreadState.h"
#include "platform/posix/UserObjects.h"
#include "platform/posix/kernel.h"
#include "platform/posix/user.h"

#include <unordered_map>

namespace zelto::platform::detail {

namespace {

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

struct QueueRegistry {
  std::mutex lock;
  std::unordered_map<DWORD, MessageQueue*> queues;  // each holds a reference
};

QueueRegistry& Queues() {
  static auto* registry = new QueueRegistry;
  return *registry;
}

// The calling thread's messaging: its queue and the windows it owns.
struct ThreadMessaging {
  MessageQueue* queue = nullptr;
  std::vector<HWND> windows;

  ~ThreadMessaging() { End(); }

  void End() {
    while (!windows.empty()) {
      HWND window = windows.back();
      windows.pop_back();
      DestroyWindowAtThreadExit(window);
    }
    if (!queue) return;
    {
      QueueRegistry& registry = Queues();
      std::lock_guard<std::mutex> guard(registry.lock);
      registry.queues.erase(queue->threadId());
    }
    queue->Retire();
    queue->Release();  // the registry's
    queue->Release();  // the thread's
    queue = nullptr;
  }
};

thread_local ThreadMessaging messaging;

bool Matches(const MSG& msg, HWND filter, UINT filterMin, UINT filterMax) {
  if (filter == kThreadMessagesOnly) {
    if (msg.hwnd) return false;
  } else if (filter && msg.hwnd != filter) {
    return false;
  }
  // 0..0 means every message; so does a range that ends before it starts.
  if ((filterMin == 0 && filterMax == 0) || filterMin > filterMax) return true;
  return msg.message >= filterMin && msg.message <= filterMax;
}

}  // namespace

DWORD MessageQueue::Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const bool* windowGone) {
  DWORD time = GetTickCount();
  Wakeups wakeups;
  std::lock_guard<std::mutex> guard(lock());
  if (windowGone && *windowGone) return ERROR_INVALID_WINDOW_HANDLE;
  if (retired_) return window ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_THREAD_ID;
  if (count_ == kLimit) return ERROR_NOT_ENOUGH_QUOTA;
  if (count_ == ring_.size()) {
    // Grow, unrolling the ring so that it starts at 0 again.
    std::vector<MSG> bigger;
    bigger.reserve(ring_.empty() ? 64 : std::min(ring_.size() * 2, kLimit));
    for (std::size_t i = 0; i < count_; ++i) bigger.push_back(At(i));
    bigger.resize(bigger.capacity());
    ring_.swap(bigger);
    head_ = 0;
  }
  MSG& slot = At(count_);
  slot = MSG{window, message, wParam, lParam, time, POINT{0, 0}};
  ++count_;
  SignalLocked(wakeups);
  return ERROR_SUCCESS;
}

void MessageQueue::PostQuit(int exitCode) {
  Wakeups wakeups;
  std::lock_guard<std::mutex> guard(lock());
  quit_ = true;
  quitCode_ = exitCode;
  SignalLocked(wakeups);
}

void MessageQueue::RemoveAt(std::size_t i) {
  if (i == 0) {
    head_ = (head_ + 1) % ring_.size();
  } else {
    for (std::size_t k = i; k + 1 < count_; ++k) At(k) = At(k + 1);
  }
  --count_;
}

bool MessageQueue::Peek(MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove) {
  std::lock_guard<std::mutex> guard(lock());
  // Looking at the queue makes what is in it old news for MsgWaitForMultipleObjects.
  ResetLocked();
  for (std::size_t i = 0; i < count_; ++i) {
    if (Matches(At(i), filter, filterMin, filterMax)) {
      *out = At(i);
      if (remove) RemoveAt(i);
      return true;
    }
  }
  // The quit request comes once no posted message is left, whatever the filter.
  if (quit_) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, GetTickCount(), POINT{0, 0}};
    if (remove) quit_ = false;
    return true;
  }
  return false;
}

void MessageQueue::DropWindow(HWND window, bool* windowGone) {
  std::lock_guard<std::mutex> guard(lock());
  *windowGone = true;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    if (At(i).hwnd != window) At(kept++) = At(i);
  }
  count_ = kept;
}

void MessageQueue::Retire() {
  std::lock_guard<std::mutex> guard(lock());
  retired_ = true;
  count_ = 0;
  quit_ = false;
  std::vector<MSG>().swap(ring_);
  head_ = 0;
}

MessageQueue& CurrentQueue() {
  if (!messaging.queue) {
    auto* queue = new MessageQueue(GetCurrentThreadId());
    queue->AddRef();  // the registry's
    QueueRegistry& registry = Queues();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.queues[queue->threadId()] = queue;
    messaging.queue = queue;
  }
  return *messaging.queue;
}

Ref<MessageQueue> QueueOfThread(DWORD threadId) {
  QueueRegistry& registry = Queues();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto it = registry.queues.find(threadId);
  if (it == registry.queues.end()) return {};
  it->second->AddRef();
  return Ref<MessageQueue>::Adopt(it->second);
}

void AddThreadWindow(HWND window) { messaging.windows.push_back(window); }

void RemoveThreadWindow(HWND window) {
  auto& windows = messaging.windows;
  for (auto it = windows.begin(); it != windows.end(); ++it) {
    if (*it == window) {
      windows.erase(it);
      return;
    }
  }
}

void EndThreadMessaging() { messaging.End(); }

}  // namespace zelto::platform::detail

using namespace zelto::platform::detail;

BOOL WINAPI PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  Ref<MessageQueue> queue = QueueOfThread(threadId);
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  DWORD error = queue->Post(nullptr, message, wParam, lParam, nullptr);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

VOID WINAPI PostQuitMessage(int exitCode) { CurrentQueue().PostQuit(exitCode); }

BOOL WINAPI PeekMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (window && window != kThreadMessagesOnly && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!message) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  return CurrentQueue().Peek(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  if (window && window != kThreadMessagesOnly && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  if (!message) {
    SetLastError(ERROR_NOACCESS);
    return -1;
  }
  MessageQueue& queue = CurrentQueue();
  Waitable* object = &queue;
  while (!queue.Peek(message, window, filterMin, filterMax, true)) WaitForObjects(&object, 1, false, -1);
  return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI TranslateMessage(const MSG*) {
  // Only keyboard messages are translated, and there is no keyboard.
  return FALSE;
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                       DWORD wakeMask) {
  if (count > MAXIMUM_WAIT_OBJECTS - 1 || (count > 0 && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::int64_t deadline = DeadlineAfterMs(milliseconds);
  Ref<KernelObject> refs[MAXIMUM_WAIT_OBJECTS];
  Waitable* objects[MAXIMUM_WAIT_OBJECTS];
  if (!ResolveWaitHandles(handles, count, waitAll != FALSE, refs, objects)) return WAIT_FAILED;
  MessageQueue& queue = CurrentQueue();
  int total = static_cast<int>(count);
  // Posted messages are the only input there is.
  if (wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) objects[total++] = &queue;
  if (total == 0) {
    Sleep(milliseconds);
    return WAIT_TIMEOUT;
  }
  int result = WaitForObjects(objects, total, waitAll != FALSE, deadline);
  return result == kWaitTimedOut ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<DWORD>(result);
}
