#include "app/Interrupt.h"

#include <atomic>
#include <csignal>

namespace zelto::app {

namespace {

// Lock-free, so that a signal handler may store to it.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int) { requested.store(true); }

}  // namespace

void Interrupt::InstallHandlers() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

bool Interrupt::Requested() { return requested.load(); }
void Interrupt::Request() { requested.store(true); }
void Interrupt::Clear() { requested.store(false); }

}  // namespace zelto::app
