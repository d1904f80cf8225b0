#include "app/Interrupt.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "app/ExitCode.h"
#include "platform/ThreadGuard.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <pthread.h>
#include <csignal>
#endif

namespace zelto::app {

namespace {

std::atomic<Interrupt::Signal> requested{Interrupt::Signal::None};

// Never destroyed: a signal may still arrive while the program's statics go.
struct Wakers {
  std::mutex lock;
  std::vector<Interrupt::Waker*> list;
  std::condition_variable ended;
  bool programEnded = false;
};
Wakers& TheWakers() {
  static auto* wakers = new Wakers;
  return *wakers;
}

#ifdef _WIN32
// Windows runs console control handlers on a thread of their own, so the
// handler may take locks and wait.
BOOL WINAPI OnConsoleEvent(DWORD type) {
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
    zelto::platform::GuardThread("console control", [] { Interrupt::Request(Interrupt::Signal::CtrlC); });
    return TRUE;
  }
  if (type != CTRL_CLOSE_EVENT && type != CTRL_LOGOFF_EVENT && type != CTRL_SHUTDOWN_EVENT) return FALSE;
  zelto::platform::GuardThread("console control", [] { Interrupt::Request(Interrupt::Signal::Terminate); });
  // The system ends the process once this returns (and after about five
  // seconds in any case): give the program that long to stop the camcorder
  // and keep its files.
  Wakers& wakers = TheWakers();
  std::unique_lock guard(wakers.lock);
  wakers.ended.wait_for(guard, std::chrono::milliseconds(4500), [&] { return wakers.programEnded; });
  return TRUE;
}
#endif

}  // namespace

void Interrupt::InstallHandlers() {
#ifdef _WIN32
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
#else
  // A closed pipe is a failed write, reported by the program's status,
  // not a signal that kills it before the camcorder is taken down.
  signal(SIGPIPE, SIG_IGN);
  // A signal handler may not take locks; instead every thread blocks the
  // signals (threads started later inherit the mask) and one thread takes
  // them with sigwait, sleeping until one comes.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
  std::thread([signals] {
    // Guarded a signal at a time: the next Ctrl-C is heard all the same.
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0) continue;
      const Interrupt::Signal which = signal == SIGTERM ? Interrupt::Signal::Terminate : Interrupt::Signal::CtrlC;
      zelto::platform::GuardThread("signal", [which] { Interrupt::Request(which); });
    }
  }).detach();
#endif
}

bool Interrupt::Requested() { return requested.load() != Signal::None; }

void Interrupt::Request(Signal signal) {
  if (signal == Signal::None) return;
  Signal none = Signal::None;
  requested.compare_exchange_strong(none, signal);
  Wakers& wakers = TheWakers();
  std::lock_guard guard(wakers.lock);
  for (Waker* waker : wakers.list) waker->wake();
}

void Interrupt::Clear() { requested.store(Signal::None); }

Interrupt::Signal Interrupt::Which() { return requested.load(); }

std::string Interrupt::What() {
  if (Which() != Signal::Terminate) return "Ctrl-C";
#ifdef _WIN32
  return "the console closing";
#else
  return "SIGTERM";
#endif
}

std::string Interrupt::StoppedBy() { return "stopped by " + What(); }

int Interrupt::ExitCode() { return Which() == Signal::Terminate ? kExitTerminated : kExitInterrupted; }

void Interrupt::ProgramEnded() {
  Wakers& wakers = TheWakers();
  std::lock_guard guard(wakers.lock);
  wakers.programEnded = true;
  wakers.ended.notify_all();
}

Interrupt::Waker::Waker(std::function<void()> wake) : wake(std::move(wake)) {
  Wakers& wakers = TheWakers();
  std::lock_guard guard(wakers.lock);
  wakers.list.push_back(this);
}

Interrupt::Waker::~Waker() {
  Wakers& wakers = TheWakers();
  std::lock_guard guard(wakers.lock);
  std::erase(wakers.list, this);
}

}  // namespace zelto::app
