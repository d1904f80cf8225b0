#include "platform/ThreadGuard.h"

#include <atomic>
#include <mutex>

namespace zelto::platform {

namespace {

struct Escapes {
  std::atomic<std::uint64_t> count{0};
  std::atomic<EscapedExceptionReporter> reporter{nullptr};
  std::mutex lock;  // guards last
  std::string last;
};

Escapes& TheEscapes() {
  static auto* escapes = new Escapes;  // never destroyed: a thread may fail while statics go
  return *escapes;
}

}  // namespace

void NoteEscapedException(const char* thread, const char* what) noexcept {
  Escapes& escapes = TheEscapes();
  escapes.count.fetch_add(1);
  try {
    const std::string description = std::string("the ") + (thread ? thread : "unnamed") +
                                    " thread: " + (what ? what : "an exception of an unknown type");
    {
      std::lock_guard guard(escapes.lock);
      escapes.last = description;
    }
    if (const EscapedExceptionReporter reporter = escapes.reporter.load()) reporter(description);
  } catch (...) {
    // Out of memory, or a reporter that failed: the count stands.
  }
}

std::uint64_t EscapedExceptions() noexcept { return TheEscapes().count.load(); }

std::string LastEscapedException() {
  Escapes& escapes = TheEscapes();
  std::lock_guard guard(escapes.lock);
  return escapes.last;
}

void SetEscapedExceptionReporter(EscapedExceptionReporter reporter) noexcept { TheEscapes().reporter.store(reporter); }

}  // namespace zelto::platform
