// Ctrl-C and SIGTERM: raise a flag and wake whoever sleeps waiting for
// something else, so that a wait ends promptly without looking at the flag
// on a timer, and the device is taken down on its own thread. Which of the
// two came is kept: a script is told by the exit status, a person by the
// message.
#pragma once

#include <functional>
#include <string>

namespace zelto::app {

class Interrupt {
public:
  enum class Signal {
    None,
    CtrlC,      // SIGINT; Ctrl-C or Ctrl-Break on a Windows console
    Terminate,  // SIGTERM; the console closing, a logoff or a shutdown on Windows
  };

  // Routes Ctrl-C and SIGTERM (the console's close, logoff and shutdown
  // events on Windows) to Request, and makes a write to a closed pipe fail
  // instead of killing the program. The program does this first, before
  // any other thread exists; tests don't.
  static void InstallHandlers();
  static bool Requested();
  // Raises the flag and runs every registered waker. The first signal to
  // come is the one kept.
  static void Request(Signal signal = Signal::CtrlC);
  static void Clear();
  // The signal that came first; None before one did.
  static Signal Which();
  // What a person is told ended the command: "Ctrl-C" or "SIGTERM" (on
  // Windows "the console closing").
  static std::string What();
  // "stopped by Ctrl-C", "stopped by SIGTERM": how every command says it.
  static std::string StoppedBy();
  // The exit status for an interrupted command: 130 for Ctrl-C, 143 for
  // SIGTERM.
  static int ExitCode();
  // The program has taken everything down: on Windows a console-close
  // handler waiting for it lets the system end the process now.
  static void ProgramEnded();

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
