#include "app/Interrupt.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ThreadGuard.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <pthread.h>
#include <csignal>
#endif

namespace zelto::app {

namespace {

std::atomic<bool> requested{false};

// Never destroyed: a signal may still arrive while the program's statics go.
struct Wakers {
  std::mutex lock;
  std::vector<Interrupt::Waker*> list;
};
Wakers& TheWakers() {
  static auto* wakers = new Wakers;
  return *wakers;
}

#ifdef _WIN32
// Windows runs console control handlers on a thread of their own, so the
// handler may take locks.
BOOL WINAPI OnConsoleEvent(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  zelto::platform::GuardThread("console control", [] { Interrupt::Request(); });
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
      if (sigwait(&signals, &signal) == 0) zelto::platform::GuardThread("signal", [] { Interrupt::Request(); });
    }
  }).detach();
#endif
}

bool Interrupt::Requested() { return requested.load(); }

void Interrupt::Request() {
  requested.store(true);
  Wakers& wakers = TheWakers();
  std::lock_guard guard(wakers.lock);
  for (Waker* waker : wakers.list) waker->wake();
}

void Interrupt::Clear() { requested.store(false); }

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
