// Windows: creation and destruction, window longs, the default procedure,
// PostMessageW and DispatchMessageW. A window belongs to the thread that
// created it; handles are checked against a table, so a stale one is refused.
#include "platform/posix/SlotTable.h"
#include "platform/posix/UserObjects.h"
#include "platform/posix/kernel.h"
#include "platform/posix/user.h"

#include <cstring>

namespace zelto::platform::detail {

namespace {

struct Window {
  HWND handle = nullptr;
  std::shared_ptr<WindowClass> windowClass;
  DWORD threadId = 0;
  Ref<MessageQueue> queue;
  std::atomic<HINSTANCE> instance{nullptr};
  HWND parent = nullptr;
  std::atomic<WNDPROC> procedure{nullptr};
  std::atomic<LONG_PTR> userData{0};
  std::atomic<LONG_PTR> id{0};
  std::atomic<LONG> style{0};
  std::atomic<LONG> exStyle{0};
  std::mutex extraLock;
  std::vector<unsigned char> extra;
  bool destroying = false;  // owner thread only
  bool gone = false;        // guarded by the queue's lock

  void AddRef() { refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  std::atomic<long> refs{1};
};

SlotTable<Window>& WindowTable() {
  static auto* table = new SlotTable<Window>;
  return *table;
}

Ref<Window> Lookup(HWND window) { return WindowTable().Lookup(reinterpret_cast<std::uintptr_t>(window)); }

Ref<Window> LookupOrFail(HWND window) {
  Ref<Window> found = Lookup(window);
  if (!found) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return found;
}

LRESULT Call(Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure = window.procedure.load(std::memory_order_acquire);
  return procedure ? procedure(window.handle, message, wParam, lParam) : 0;
}

// Takes the window out of the table and its queue. sendDestroy: the
// procedure gets WM_DESTROY first; it always gets WM_NCDESTROY unless the
// thread is ending.
void Destroy(Ref<Window> window, bool sendDestroy, bool sendNcDestroy) {
  if (window->destroying) return;
  window->destroying = true;
  if (sendDestroy) Call(*window, WM_DESTROY, 0, 0);
  if (sendNcDestroy) Call(*window, WM_NCDESTROY, 0, 0);
  WindowTable().Remove(reinterpret_cast<std::uintptr_t>(window->handle));
  window->queue->DropWindow(window->handle, &window->gone);
  ReleaseClassWindow(*window->windowClass);
  RemoveThreadWindow(window->handle);
}

// Where a window long lives: a field, or bytes of the window's extra memory.
bool ExtraRange(Window& window, int index, std::size_t size) {
  return index >= 0 && static_cast<std::size_t>(index) + size <= window.extra.size();
}

LONG_PTR GetLong(HWND handle, int index, std::size_t size) {
  Ref<Window> window = LookupOrFail(handle);
  if (!window) return 0;
  switch (index) {
    case GWLP_USERDATA:
      return window->userData.load(std::memory_order_acquire);
    case GWL_STYLE:
      return window->style.load();
    case GWL_EXSTYLE:
      return window->exStyle.load();
    case GWLP_ID:
      return window->id.load();
    case GWLP_WNDPROC:
    case GWLP_HINSTANCE:
      // A 32-bit long cannot hold a pointer: refused on 64-bit Windows too.
      if (size == sizeof(LONG)) break;
      return index == GWLP_WNDPROC ? reinterpret_cast<LONG_PTR>(window->procedure.load())
                                   : reinterpret_cast<LONG_PTR>(window->instance.load());
    default:
      if (ExtraRange(*window, index, size)) {
        std::lock_guard<std::mutex> guard(window->extraLock);
        LONG_PTR value = 0;
        if (size == sizeof(LONG)) {
          LONG v;
          std::memcpy(&v, window->extra.data() + index, size);
          value = v;
        } else {
          std::memcpy(&value, window->extra.data() + index, size);
        }
        return value;
      }
      break;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

// Returns the previous value. Success leaves the last error as it was.
LONG_PTR SetLong(HWND handle, int index, LONG_PTR value, std::size_t size) {
  Ref<Window> window = LookupOrFail(handle);
  if (!window) return 0;
  switch (index) {
    case GWLP_USERDATA:
      return window->userData.exchange(value, std::memory_order_acq_rel);
    case GWL_STYLE:
      return window->style.exchange(static_cast<LONG>(value));
    case GWL_EXSTYLE:
      return window->exStyle.exchange(static_cast<LONG>(value));
    case GWLP_ID:
      return window->id.exchange(value);
    case GWLP_WNDPROC:
      if (size == sizeof(LONG)) break;
      return reinterpret_cast<LONG_PTR>(
          window->procedure.exchange(reinterpret_cast<WNDPROC>(value), std::memory_order_acq_rel));
    case GWLP_HINSTANCE:
      if (size == sizeof(LONG)) break;
      return reinterpret_cast<LONG_PTR>(window->instance.exchange(reinterpret_cast<HINSTANCE>(value)));
    default:
      if (ExtraRange(*window, index, size)) {
        std::lock_guard<std::mutex> guard(window->extraLock);
        LONG_PTR previous = 0;
        if (size == sizeof(LONG)) {
          LONG old, v = static_cast<LONG>(value);
          std::memcpy(&old, window->extra.data() + index, size);
          std::memcpy(window->extra.data() + index, &v, size);
          previous = old;
        } else {
          std::memcpy(&previous, window->extra.data() + index, size);
          std::memcpy(window->extra.data() + index, &value, size);
        }
        return previous;
      }
      break;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

}  // namespace

void DestroyWindowAtThreadExit(HWND handle) {
  // The thread is on its way out: no procedure is called any more.
  if (Ref<Window> window = Lookup(handle)) Destroy(std::move(window), false, false);
}

}  // namespace zelto::platform::detail

using namespace zelto::platform::detail;

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                            LPVOID parameter) {
  std::shared_ptr<WindowClass> windowClass = className ? AcquireClassForWindow(className) : nullptr;
  if (!windowClass) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  if (parent && parent != HWND_MESSAGE && !IsWindow(parent)) {
    ReleaseClassWindow(*windowClass);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto* window = new Window;
  window->windowClass = windowClass;
  window->threadId = GetCurrentThreadId();
  MessageQueue& queue = CurrentQueue();
  queue.AddRef();
  window->queue = Ref<MessageQueue>::Adopt(&queue);
  window->instance.store(instance);
  window->parent = parent;
  window->procedure.store(windowClass->procedure);
  window->style.store(static_cast<LONG>(style));
  window->exStyle.store(static_cast<LONG>(exStyle));
  window->id.store(reinterpret_cast<LONG_PTR>(menu));
  window->extra.assign(static_cast<std::size_t>(windowClass->windowExtra), 0);

  window->AddRef();  // ours, beside the table's
  Ref<Window> ours = Ref<Window>::Adopt(window);
  HWND handle = reinterpret_cast<HWND>(WindowTable().Insert(window));
  if (!handle) {
    window->Release();
    ReleaseClassWindow(*windowClass);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  window->handle = handle;
  AddThreadWindow(handle);

  CREATESTRUCTW create{parameter, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                       windowName, className, exStyle};
  if (!Call(*window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    Destroy(ours, false, true);
    return nullptr;
  }
  if (Call(*window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    Destroy(ours, true, true);
    return nullptr;
  }
  // The procedure may have destroyed the window already.
  return window->destroying ? nullptr : handle;
}

BOOL WINAPI DestroyWindow(HWND handle) {
  Ref<Window> window = LookupOrFail(handle);
  if (!window) return FALSE;
  if (window->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  Destroy(std::move(window), true, true);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND handle) { return Lookup(handle) ? TRUE : FALSE; }

DWORD WINAPI GetWindowThreadProcessId(HWND handle, LPDWORD processId) {
  Ref<Window> window = LookupOrFail(handle);
  if (!window) return 0;
  if (processId) *processId = 1;
  return window->threadId;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  return SetLong(window, index, value, sizeof(LONG_PTR));
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index) { return GetLong(window, index, sizeof(LONG_PTR)); }

LONG WINAPI SetWindowLongW(HWND window, int index, LONG value) {
  return static_cast<LONG>(SetLong(window, index, value, sizeof(LONG)));
}

LONG WINAPI GetWindowLongW(HWND window, int index) {
  return static_cast<LONG>(GetLong(window, index, sizeof(LONG)));
}

LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    default:
      return 0;
  }
}

BOOL WINAPI PostMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD error;
  if (!handle) {
    error = CurrentQueue().Post(nullptr, message, wParam, lParam, nullptr);
  } else {
    Ref<Window> window = LookupOrFail(handle);
    if (!window) return FALSE;
    error = window->queue->Post(handle, message, wParam, lParam, &window->gone);
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

LRESULT WINAPI DispatchMessageW(const MSG* message) {
  if (!message || !message->hwnd) return 0;
  Ref<Window> window = LookupOrFail(message->hwnd);
  if (!window) return 0;
  // A procedure runs only on its window's thread.
  if (window->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_MESSAGE_SYNC_ONLY);
    return 0;
  }
  return Call(*window, message->message, message->wParam, message->lParam);
}
