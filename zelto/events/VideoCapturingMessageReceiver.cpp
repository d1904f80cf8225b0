#include "zelto/events/VideoCapturingMessageReceiver.h"

#include <stdexcept>

#include "platform/ThreadGuard.h"
#include "platform/com.h"
#include "zelto/events/ZeltoMessages.h"

namespace {
// Every kind of queue input, posted messages included.
constexpr DWORD kWakeMask = 0xFF;
}  // namespace

VideoCapturingMessageReceiver::VideoCapturingMessageReceiver()
    : windowHandle(nullptr),
      thread(nullptr),
      threadId(0),
      stopEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      readyEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  if (!stopEvent || !readyEvent) {
    if (stopEvent) CloseHandle(stopEvent);
    if (readyEvent) CloseHandle(readyEvent);
    throw std::runtime_error("VideoCapturingMessageReceiver::VideoCapturingMessageReceiver");
  }
}

// The thread's end has already taken its window down, so the window is only
// destroyed here when it outlived a thread that never ran. On the window's
// own thread (after HandOver) the thread is on its way out and is not waited
// for; its window and class are gone already.
VideoCapturingMessageReceiver::~VideoCapturingMessageReceiver() {
  if (SignalStop() && thread && !OnWindowThread()) WaitForSingleObject(thread, INFINITE);
  if (thread) CloseHandle(thread);
  destroyWindowAndClass();
  CloseHandle(stopEvent);
  CloseHandle(readyEvent);
}

void VideoCapturingMessageReceiver::destroyWindowAndClass() {
  if (windowHandle) DestroyWindow(windowHandle);
  windowHandle = nullptr;
  if (!className.IsEmpty()) UnregisterClassW(className.GetString(), zelto::ModuleInstance());
  className = Orvex::OxString();
}

BOOL VideoCapturingMessageReceiver::SignalStop() { return SetEvent(stopEvent); }

void VideoCapturingMessageReceiver::HandOver(std::function<void()> deleteOwner) {
  deleteOwnerAtEnd = std::move(deleteOwner);
  destroyWindowAndClass();
  SignalStop();
}

HWND VideoCapturingMessageReceiver::Create(WNDPROC windowProcedure, const wchar_t* name) {
  if (!windowProcedure || windowHandle) return nullptr;

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(WNDCLASSEXW);
  windowClass.style = CS_GLOBALCLASS;
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.hInstance = zelto::ModuleInstance();
  // The name is kept even when the registration fails, so the destructor
  // asks to unregister it; a class whose windows exist refuses that, so a
  // second device cannot take the first one's class away.
  className = name;
  windowClass.lpszClassName = className.GetString();
  if (!RegisterClassExW(&windowClass)) return nullptr;

  std::uintptr_t started = _beginthreadex(nullptr, 0, &VideoCapturingMessageReceiver::threadMain, this, 0, &threadId);
  if (!started) return nullptr;
  thread = reinterpret_cast<HANDLE>(started);
  WaitForSingleObject(readyEvent, INFINITE);
  return windowHandle;
}

unsigned WINAPI VideoCapturingMessageReceiver::threadMain(void* self) {
  auto* receiver = static_cast<VideoCapturingMessageReceiver*>(self);
  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // A dispatch that throws ends the loop, and the thread ends as after a
  // stop; Create, should it still wait, is let go.
  zelto::platform::GuardThread("message receiver", [receiver] { receiver->run(); },
                               [receiver] { SetEvent(receiver->readyEvent); });
  // Handed over: this object goes with its owner, and nothing of it may be
  // touched afterwards.
  if (std::function<void()> deleteOwner = std::move(receiver->deleteOwnerAtEnd))
    zelto::platform::GuardThread("message receiver", deleteOwner);
  if (SUCCEEDED(apartment)) CoUninitialize();
  return 0;
}

void VideoCapturingMessageReceiver::run() {
  windowHandle = CreateWindowExW(0, className.GetString(), nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
  SetEvent(readyEvent);

  // Without a window the loop still runs: the thread ends only when the
  // destructor (or HandOver) sets the stop event.
  bool running = true;
  while (running) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &stopEvent, FALSE, INFINITE, kWakeMask);
    if (woken == WAIT_OBJECT_0) break;
    if (woken != WAIT_OBJECT_0 + 1) continue;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
      if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
        running = false;
        break;
      }
    }
  }
}
