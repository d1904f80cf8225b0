// The thread guard: what reaches it is stopped, counted and described, the
// thread's own failure handler runs, and the tests' check fails a test that
// let one through.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "platform/ThreadGuard.h"
#include "tests/EscapedExceptionCheck.h"
#include "tests/platform/PlatformTestSupport.h"

using namespace platform_test;
namespace zp = zelto::platform;

namespace {

std::string reported;  // what the reporter was last told; one thread at a time writes it
void Report(const std::string& description) { reported = description; }

struct NotAnException {};

TEST(ThreadGuard, StopsCountsAndDescribesWhatWouldLeaveAThread) {
  struct Case {
    const char* name;
    bool bodyThrows;
    bool handlerThrows;
    std::uint64_t escapes;
    bool handlerRuns;
    const char* description;  // part of the latest description; null: none new
  };
  const Case cases[] = {
      {"a body that returns", false, false, 0, false, nullptr},
      {"a std::exception", true, false, 1, true, "the test thread: the deck model broke"},
      {"another type", true, false, 1, true, "the test thread: an exception of an unknown type"},
      {"a failing failure handler", true, true, 2, true, "the test thread: the handler broke"},
  };
  zp::SetEscapedExceptionReporter(&Report);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reported.clear();
    std::atomic<bool> handled{false};
    const std::uint64_t before = zp::EscapedExceptions();
    const bool typed = std::string(c.name) != "another type";
    // On a thread of its own, as the guard is used: an escape there would
    // end the process.
    EXPECT_EQ(Join(StartThread([&] {
                zp::GuardThread(
                    "test",
                    [&] {
                      if (!c.bodyThrows) return;
                      if (typed) throw std::runtime_error("the deck model broke");
                      throw NotAnException{};
                    },
                    [&] {
                      handled = true;
                      if (c.handlerThrows) throw std::logic_error("the handler broke");
                    });
                return 5u;
              })),
              5u)
        << "the thread ends as it would have";
    EXPECT_EQ(zp::EscapedExceptions() - before, c.escapes);
    EXPECT_EQ(handled.load(), c.handlerRuns);
    if (c.description) {
      EXPECT_EQ(zp::LastEscapedException(), c.description);
      EXPECT_EQ(reported, c.description);
    } else {
      EXPECT_TRUE(reported.empty()) << reported;
    }
    zelto::testing::ExpectEscapedExceptions(c.escapes);
  }
  zp::SetEscapedExceptionReporter(nullptr);
}

// The check itself: a test during which an exception reached a guard fails.
TEST(ThreadGuard, TheTestCheckFailsATestThatLetOneThrough) {
  Join(StartThread([] {
    zp::GuardThread("test", [] { throw std::runtime_error("lost"); });
    return 0u;
  }));
  EXPECT_NONFATAL_FAILURE(zelto::testing::CheckNoEscapedExceptions(),
                          "1 exception(s) reached a thread guard; the latest on the test thread: lost");
  // Taken note of: nothing is left to fail this test at its end.
  zelto::testing::CheckNoEscapedExceptions();
}

}  // namespace
