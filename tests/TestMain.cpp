// The main of every test binary: GoogleTest's, with the escaped-exception
// check after each test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "platform/ThreadGuard.h"
#include "tests/EscapedExceptionCheck.h"

namespace zelto::testing {

namespace {

std::atomic<std::uint64_t> looked{0};

void Check(const char* when) {
  const std::uint64_t now = zelto::platform::EscapedExceptions();
  const std::uint64_t before = looked.exchange(now);
  if (now != before)
    ADD_FAILURE() << now - before << " exception(s) reached a thread guard" << when << "; the latest on "
                  << zelto::platform::LastEscapedException();
}

class EscapedExceptionListener : public ::testing::EmptyTestEventListener {
  // A thread that outlived an earlier test fails the next one.
  void OnTestStart(const ::testing::TestInfo&) override { Check(" before this test began"); }
  // Runs while the test is still the current one, so a failure is its own.
  void OnTestEnd(const ::testing::TestInfo&) override { Check(""); }
};

}  // namespace

void CheckNoEscapedExceptions() { Check(""); }

void ExpectEscapedExceptions(std::uint64_t count) {
  const std::uint64_t now = zelto::platform::EscapedExceptions();
  const std::uint64_t before = looked.exchange(now);
  EXPECT_EQ(now - before, count) << "the latest on " << zelto::platform::LastEscapedException();
}

}  // namespace zelto::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new zelto::testing::EscapedExceptionListener);
  return RUN_ALL_TESTS();
}
