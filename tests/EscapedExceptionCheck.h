// The tests' guard against exceptions that reach a thread guard
// (platform/ThreadGuard.h): the shared test main fails every test during
// which one does, even when the product carried on as it should.
#pragma once

#include <cstdint>

namespace zelto::testing {

// Fails the running test for each exception that has reached a thread
// guard since the last look; the test main looks at every test's start and
// end.
void CheckNoEscapedExceptions();

// For a test that makes a thread fail on purpose: expects exactly `count`
// escapes since the last look, and takes note of them.
void ExpectEscapedExceptions(std::uint64_t count);

}  // namespace zelto::testing
