// The entry of every thread of ours runs its body through GuardThread: no
// exception ever leaves one of our threads (where it would end the process).
//
// An exception that reaches the guard is a fault of ours. It is counted
// process-wide, its description is kept, and the reporter (if one is set)
// is told; then the thread's own handler says what the failure means (a
// driver's thread posts its error event, as a real driver reports a
// failure). The tests' main fails any test during which the count grows.
//
// Thread-safe. The count and the reporter live in one module, so every
// module of the process shares them.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace zelto::platform {

// Counts an exception stopped on a thread, keeps its description ("what"
// is its what(), null for one of another type) and tells the reporter.
// Never throws.
void NoteEscapedException(const char* thread, const char* what) noexcept;

// How many exceptions have reached a guard since the process began.
std::uint64_t EscapedExceptions() noexcept;
// "the <thread> thread: <what>" for the latest; empty before the first.
std::string LastEscapedException();

// Called (on the failing thread) with the description of each exception
// that reaches a guard; null for none. A program sets it once, at start.
using EscapedExceptionReporter = void (*)(const std::string& description);
void SetEscapedExceptionReporter(EscapedExceptionReporter reporter) noexcept;

// Runs body(); should it throw, notes the exception and runs onFailure(),
// itself guarded the same way.
// The exception is looked at here, in the module that caught it: where each
// module carries its own C++ runtime (Windows), another module cannot
// rethrow it.
template <typename Body, typename OnFailure>
void GuardThread(const char* thread, Body&& body, OnFailure&& onFailure) noexcept {
  try {
    body();
    return;
  } catch (const std::exception& e) {
    NoteEscapedException(thread, e.what());
  } catch (...) {
    NoteEscapedException(thread, nullptr);
  }
  try {
    onFailure();
  } catch (const std::exception& e) {
    NoteEscapedException(thread, e.what());
  } catch (...) {
    NoteEscapedException(thread, nullptr);
  }
}

template <typename Body>
void GuardThread(const char* thread, Body&& body) noexcept {
  GuardThread(thread, static_cast<Body&&>(body), [] {});
}

}  // namespace zelto::platform
