// A hidden window with a thread of its own that runs its message loop until
// told to stop.
//
// Create blocks until the thread has tried to create the window; the
// destructor blocks until the thread has ended, except on that thread itself
// (see HandOver). The thread leaves its loop only between two dispatches, so
// a handler that runs when the stop is signalled completes first and the
// messages still queued are dropped.
#pragma once

#include <functional>

#include "host/foundation/OxString.h"
#include "platform/win32.h"

class VideoCapturingMessageReceiver {
public:
  // Throws std::runtime_error when an event cannot be created.
  VideoCapturingMessageReceiver();
  virtual ~VideoCapturingMessageReceiver();
  VideoCapturingMessageReceiver(const VideoCapturingMessageReceiver&) = delete;
  VideoCapturingMessageReceiver& operator=(const VideoCapturingMessageReceiver&) = delete;

  // Registers the class (process-wide: a name already taken fails), starts
  // the thread and returns its window; null on any failure, or at once when
  // the procedure is null or a window already exists.
  HWND Create(WNDPROC windowProcedure, const wchar_t* className);

  HWND GetWindow() const { return windowHandle; }

  // Ends the loop after the message being dispatched, if any.
  BOOL SignalStop();

  bool OnWindowThread() const { return thread && GetCurrentThreadId() == threadId; }

  // For an owner let go from inside one of this window's dispatches, which
  // cannot wait for its own thread: destroys the window and unregisters the
  // class at once, so that the name is free when this returns, ends the loop
  // after the dispatch under way and leaves deleteOwner (which destroys this
  // object) to the thread, once it is out of the loop. Window thread only.
  void HandOver(std::function<void()> deleteOwner);

private:
  static unsigned WINAPI threadMain(void* self);
  void run();
  void destroyWindowAndClass();

  HWND windowHandle;
  Orvex::OxString className;
  HANDLE thread;
  unsigned threadId;
  HANDLE stopEvent;
  HANDLE readyEvent;
  // Set by HandOver; read by the thread once it has left its loop.
  std::function<void()> deleteOwnerAtEnd;
};
