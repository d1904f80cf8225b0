// Ctrl-C: raises a flag and wakes whoever sleeps waiting for something else,
// so that a wait ends promptly without looking at the flag on a timer, and
// the device is taken down on its own thread.
#pragma once

#include <functional>

namespace zelto::app {

class Interrupt {
public:
  // Routes Ctrl-C (and on POSIX SIGTERM) to Request, and makes a write to a
  // closed pipe fail instead of killing the program. The program does this
  // first, before any other thread exists; tests don't.
  static void InstallHandlers();
  static bool Requested();
  // Raises the flag and runs every registered waker.
  static void Request();
  static void Clear();

  // A sleeper's way to be woken by Request, registered for the waker's life.
  // The wake function must not block; it runs on the requesting thread.
  class Waker {
  public:
    explicit Waker(std::function<void()> wake);
    ~Waker();  // once it returns, the wake function is not running and never will
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

  private:
    friend class Interrupt;
    std::function<void()> wake;
  };
};

}  // namespace zelto::app
