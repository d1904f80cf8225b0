// Message queues, window classes and atoms of the POSIX window layer
// (internal).
#pragma once

#include "platform/posix/KernelObjects.h"
#include "platform/posix/win32_types.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zelto::platform::detail {

// A thread's queue of posted messages. As a waitable object it is signalled
// while new messages have arrived since the thread last looked at its queue
// (PeekMessageW or GetMessageW), which is what MsgWaitForMultipleObjects waits
// for. Its lock guards the messages too.
class MessageQueue final : public Waitable {
 public:
  static constexpr std::size_t kLimit = 10000;  // posted messages, as on Windows

  explicit MessageQueue(DWORD threadId) : Waitable(Kind::Queue, true, false), threadId_(threadId) {}
  DWORD threadId() const { return threadId_; }

  // ERROR_SUCCESS or the Win32 error. windowGone (read under the lock) stops
  // a post that races with the window's destruction.
  DWORD Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const bool* windowGone);
  void PostQuit(int exitCode);
  // filter: null for any message, (HWND)-1 for thread messages only, else that window's.
  bool Peek(MSG* out, HWND filter, UINT filterMin, UINT filterMax, bool remove);
  // Drops the window's messages and marks it gone, so nothing more is queued for it.
  void DropWindow(HWND window, bool* windowGone);
  // The thread has ended: refuse further posts and drop what is queued.
  void Retire();

 private:
  MSG& At(std::size_t i) { return ring_[(head_ + i) % ring_.size()]; }
  void RemoveAt(std::size_t i);

  const DWORD threadId_;
  std::vector<MSG> ring_;  // grows to kLimit, then is reused: no allocation per message
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool quit_ = false;
  int quitCode_ = 0;
  bool retired_ = false;
};

// The calling thread's queue, created on first use.
MessageQueue& CurrentQueue();
// A live thread's queue, or null.
Ref<MessageQueue> QueueOfThread(DWORD threadId);
// Remembers/forgets the windows the calling thread owns, for its exit.
void AddThreadWindow(HWND window);
void RemoveThreadWindow(HWND window);
// Destroys a window at its thread's exit, without messages.
void DestroyWindowAtThreadExit(HWND window);

// Atoms shared by registered messages and window classes: 0xC000..0xFFFF,
// names compared without case. 0 and a Win32 error on failure.
ATOM AddAtom(LPCWSTR name, DWORD* error);
ATOM FindAtom(LPCWSTR name);

struct WindowClass {
  ATOM atom = 0;
  std::wstring name;
  UINT style = 0;
  WNDPROC procedure = nullptr;
  int classExtra = 0;
  int windowExtra = 0;
  HINSTANCE instance = nullptr;
  int windows = 0;  // guarded by the class registry's lock
};

// The class for a new window (its window count raised), or null.
std::shared_ptr<WindowClass> AcquireClassForWindow(LPCWSTR classNameOrAtom);
void ReleaseClassWindow(WindowClass& windowClass);

}  // namespace zelto::platform::detail
