// A hidden window with a thread of its own that runs its message loop until
// told to stop.
//
// Create blocks until the thread has tried to create the window; the
// destructor blocks until the thread has ended. The thread leaves its loop
// only between two dispatches, so a handler that runs when the stop is
// signalled completes first and the messages still queued are dropped.
#pragma once

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

private:
  static unsigned WINAPI threadMain(void* self);
  void run();

  HWND windowHandle;
  Orvex::OxString className;
  HANDLE thread;
  HANDLE stopEvent;
  HANDLE readyEvent;
};
