// Threads, critical sections, the per-thread last error and the process clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "tests/platform/PlatformTestSupport.h"

using namespace platform_test;

TEST(Threads, HandleIsSignalledWhenTheThreadEndsAndKeepsItsExitCode) {
  UniqueHandle go = NewEvent(false, false);
  unsigned id = 0;
  std::atomic<DWORD> seenId{0};
  HANDLE t = StartThread(
      [&] {
        seenId.store(GetCurrentThreadId());
        WaitForSingleObject(go.get(), kLongWait);
        return 42u;
      },
      &id);
  ASSERT_NE(t, nullptr);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(t, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(go.get());
  EXPECT_EQ(Join(t), 42u);
  EXPECT_EQ(seenId.load(), id);
  EXPECT_NE(seenId.load(), GetCurrentThreadId());

  // _endthreadex ends the thread at once, with its code.
  EXPECT_EQ(Join(StartThread([] {
              _endthreadex(7);
              return 1u;
            })),
            7u);
  // CreateThread's handle is waitable too.
  struct Body {
    static DWORD WINAPI Run(LPVOID p) { return *static_cast<DWORD*>(p) + 1; }
  };
  DWORD input = 9, createdId = 0;
  HANDLE created = CreateThread(nullptr, 0, &Body::Run, &input, 0, &createdId);
  ASSERT_NE(created, nullptr);
  EXPECT_NE(createdId, 0u);
  EXPECT_EQ(Join(created), 10u);
  EXPECT_FAILS_WITH(GetExitCodeThread(nullptr, &code), FALSE, ERROR_INVALID_HANDLE);
}

TEST(LastError, BelongsToEachThread) {
  SetLastError(1234);
  UniqueHandle ready = NewEvent(false, false), check = NewEvent(false, false);
  HANDLE t = StartThread([&] {
    SetLastError(5);
    SetEvent(ready.get());
    WaitForSingleObject(check.get(), kLongWait);
    return static_cast<unsigned>(GetLastError());
  });
  ASSERT_EQ(WaitForSingleObject(ready.get(), kLongWait), WAIT_OBJECT_0);
  SetLastError(77);
  SetEvent(check.get());
  // WaitForSingleObject succeeding must not have touched the thread's value.
  EXPECT_EQ(Join(t), 5u);
  EXPECT_EQ(GetLastError(), 77u);
}

TEST(CriticalSection, RecursiveForItsOwnerAndGuardsDataAcrossThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  auto tryFromOtherThread = [&] {
    return Join(StartThread([&] {
      if (!TryEnterCriticalSection(&section)) return 0u;
      LeaveCriticalSection(&section);
      return 1u;
    }));
  };
  EXPECT_EQ(tryFromOtherThread(), 0u);
  LeaveCriticalSection(&section);
  EXPECT_EQ(tryFromOtherThread(), 0u);  // still held once
  LeaveCriticalSection(&section);
  EXPECT_EQ(tryFromOtherThread(), 1u);

  long counter = 0;  // deliberately not atomic
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<HANDLE> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(StartThread([&] {
      for (int k = 0; k < kRounds; ++k) {
        EnterCriticalSection(&section);
        EnterCriticalSection(&section);
        ++counter;
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
      }
      return 0u;
    }));
  }
  for (HANDLE t : threads) EXPECT_EQ(Join(t), 0u);
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
  DeleteCriticalSection(&section);
}

class ProcessClock : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = zelto::platform::TimeScale(); }
  void TearDown() override { zelto::platform::SetTimeScaleForTesting(saved_); }
  double saved_ = 1.0;
};

TEST_F(ProcessClock, ScaledSleepsAndTimeOutsAreFastButCountFullTime) {
  zelto::platform::SetTimeScaleForTesting(0.01);
#ifdef _WIN32
  // Windows keeps its own clock: the scale is always 1.
  EXPECT_EQ(zelto::platform::TimeScale(), 1.0);
  GTEST_SKIP() << "the process clock cannot be scaled on Windows";
#else
  EXPECT_EQ(zelto::platform::TimeScale(), 0.01);
  auto realStart = std::chrono::steady_clock::now();
  ULONGLONG tickStart = GetTickCount64();
  Sleep(2000);
  ULONGLONG slept = GetTickCount64() - tickStart;
  EXPECT_GE(slept, 2000u);
  EXPECT_LT(slept, 20000u);

  UniqueHandle never = NewEvent(false, false);
  tickStart = GetTickCount64();
  EXPECT_EQ(WaitForSingleObject(never.get(), 3000), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(GetTickCount64() - tickStart, 3000u);
  auto real = std::chrono::steady_clock::now() - realStart;
  EXPECT_LT(real, std::chrono::milliseconds(2500)) << "5 s of process time should take about 50 ms";
#endif
}

TEST_F(ProcessClock, TickCountNeverGoesBack) {
  DWORD last = GetTickCount();
  for (int i = 0; i < 20000; ++i) {
    if (i == 10000) zelto::platform::SetTimeScaleForTesting(0.5);
    DWORD now = GetTickCount();
    ASSERT_GE(now, last);
    last = now;
  }
  // GetTickCount is the low half of GetTickCount64.
  EXPECT_LE(GetTickCount() - static_cast<DWORD>(GetTickCount64()), 100u);
}
