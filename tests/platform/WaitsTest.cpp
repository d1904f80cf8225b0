// Events and waits: the signal rules the library's threads rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "tests/platform/PlatformTestSupport.h"

using namespace platform_test;

TEST(Events, ManualResetStaysSetAutoResetServesOneWait) {
  UniqueHandle manual = NewEvent(true, true), automatic = NewEvent(false, true), unset = NewEvent(false, false);
  ASSERT_TRUE(manual && automatic && unset);
  EXPECT_TRUE(IsSignalled(manual.get()));
  EXPECT_TRUE(IsSignalled(manual.get()));
  EXPECT_TRUE(ResetEvent(manual.get()));
  EXPECT_FALSE(IsSignalled(manual.get()));

  EXPECT_TRUE(IsSignalled(automatic.get()));
  EXPECT_FALSE(IsSignalled(automatic.get()));
  EXPECT_FALSE(IsSignalled(unset.get()));
  // Setting twice is still one signal.
  EXPECT_TRUE(SetEvent(unset.get()) && SetEvent(unset.get()));
  EXPECT_TRUE(IsSignalled(unset.get()));
  EXPECT_FALSE(IsSignalled(unset.get()));
}

TEST(Waits, WaitAnyReturnsLowestSignalledIndexAndConsumesOnlyThatSignal) {
  UniqueHandle a = NewEvent(false, false), b = NewEvent(false, false), c = NewEvent(false, false);
  HANDLE handles[] = {a.get(), b.get(), c.get()};
  SetEvent(c.get());
  SetEvent(b.get());
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_FALSE(IsSignalled(b.get()));
  EXPECT_TRUE(IsSignalled(c.get()));

  // A manual-reset event at a lower index wins and keeps its signal.
  UniqueHandle manual = NewEvent(true, true);
  HANDLE mixed[] = {manual.get(), a.get()};
  SetEvent(a.get());
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(IsSignalled(manual.get()));
  EXPECT_TRUE(IsSignalled(a.get()));

  // The same handle twice answers with its first index.
  HANDLE twice[] = {b.get(), b.get()};
  SetEvent(b.get());
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
}

TEST(Waits, TimedOutWaitsConsumeNothing) {
  UniqueHandle set = NewEvent(false, true), unset = NewEvent(false, false);
  HANDLE both[] = {set.get(), unset.get()};
  // Wait-all cannot be satisfied: the set auto-reset event must keep its signal.
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 30), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(IsSignalled(set.get()));

  // A timed-out waiter on another thread leaves a later signal to the next wait.
  HANDLE t = StartThread([&] { return WaitForSingleObject(unset.get(), 20); });
  EXPECT_EQ(Join(t), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(unset.get());
  EXPECT_TRUE(IsSignalled(unset.get()));
}

TEST(Waits, WaitAllTakesEveryObjectAtOnce) {
  UniqueHandle a = NewEvent(false, false), b = NewEvent(false, false), done = NewEvent(true, false);
  HANDLE pair[] = {a.get(), b.get()};
  HANDLE t = StartThread([&] {
    DWORD r = WaitForMultipleObjects(2, pair, TRUE, kLongWait);
    SetEvent(done.get());
    return static_cast<unsigned>(r);
  });
  // While b is unset the waiter must not take a: it is still there for us.
  SetEvent(a.get());
  EXPECT_TRUE(IsSignalled(a.get()));
  EXPECT_FALSE(IsSignalled(done.get()));
  SetEvent(a.get());
  SetEvent(b.get());
  EXPECT_EQ(Join(t), WAIT_OBJECT_0);
  EXPECT_FALSE(IsSignalled(a.get()));
  EXPECT_FALSE(IsSignalled(b.get()));

  // The same object twice cannot be waited for "all".
  // Wine differs: it accepts the duplicate (and here times out).
  if (!OnWine()) {
    HANDLE twice[] = {a.get(), a.get()};
    EXPECT_FAILS_WITH(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED, ERROR_INVALID_PARAMETER);
  }
}

TEST(Waits, AutoResetEventWakesExactlyOneOfManyWaiters) {
  constexpr int kThreads = 6, kSignals = 600;
  UniqueHandle work = NewEvent(false, false), woke = NewEvent(false, false);
  std::atomic<int> wakeups{0};
  std::atomic<bool> stop{false};
  std::vector<HANDLE> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(StartThread([&] {
      for (;;) {
        if (WaitForSingleObject(work.get(), INFINITE) != WAIT_OBJECT_0) return 1u;
        if (stop.load()) return 0u;
        wakeups.fetch_add(1);
        SetEvent(woke.get());
      }
    }));
  }
  for (int i = 0; i < kSignals; ++i) {
    SetEvent(work.get());
    ASSERT_EQ(WaitForSingleObject(woke.get(), kLongWait), WAIT_OBJECT_0) << "signal " << i;
  }
  // A signal that woke two threads would have left `woke` set or counted twice.
  EXPECT_EQ(wakeups.load(), kSignals);
  EXPECT_FALSE(IsSignalled(woke.get()));
  stop.store(true);
  while (!threads.empty()) {
    SetEvent(work.get());
    DWORD r = WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), FALSE, kLongWait);
    ASSERT_LT(r, WAIT_OBJECT_0 + threads.size());
    EXPECT_EQ(Join(threads[r - WAIT_OBJECT_0]), 0u);
    threads.erase(threads.begin() + (r - WAIT_OBJECT_0));
  }
  EXPECT_EQ(wakeups.load(), kSignals);
}

TEST(Waits, SixtyFourHandlesAtMost) {
  std::vector<UniqueHandle> events;
  std::vector<HANDLE> handles;
  for (int i = 0; i < MAXIMUM_WAIT_OBJECTS + 1; ++i) {
    events.push_back(NewEvent(false, false));
    handles.push_back(events.back().get());
  }
  SetEvent(handles[MAXIMUM_WAIT_OBJECTS - 1]);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, handles.data(), FALSE, 0),
            WAIT_OBJECT_0 + MAXIMUM_WAIT_OBJECTS - 1);
  EXPECT_FAILS_WITH(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, handles.data(), FALSE, 0), WAIT_FAILED,
                    ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WaitForMultipleObjects(0, handles.data(), FALSE, 0), WAIT_FAILED);
}

TEST(Handles, BadHandlesFailWithoutHarm) {
  // Made before the close: Windows reuses a closed handle's value at once.
  UniqueHandle good = NewEvent(true, true);
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  HANDLE made_up = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFFFF0));
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), closed, made_up}) {
    EXPECT_FAILS_WITH(SetEvent(bad), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(ResetEvent(bad), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(WaitForSingleObject(bad, 0), WAIT_FAILED, ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(CloseHandle(bad), FALSE, ERROR_INVALID_HANDLE);
  }
  EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));  // the pseudo handle: nothing to close
  // One bad handle fails the whole wait, even beside a signalled one.
  HANDLE mixed[] = {good.get(), closed};
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);

  // A thread handle is waitable but is not an event.
  HANDLE t = StartThread([] { return 3u; });
  ASSERT_EQ(WaitForSingleObject(t, kLongWait), WAIT_OBJECT_0);
  EXPECT_FAILS_WITH(SetEvent(t), FALSE, ERROR_INVALID_HANDLE);
  EXPECT_EQ(Join(t), 3u);

  // INVALID_HANDLE_VALUE is the current process: waitable, never signalled.
  EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Handles, ClosingAHandleWhileAnotherThreadWaitsOnIt) {
  // The waiter keeps the object: it returns normally through its other
  // handle, or (if the close came first) fails cleanly.
  for (int round = 0; round < 50; ++round) {
    HANDLE doomed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    UniqueHandle other = NewEvent(false, false), started = NewEvent(false, false);
    HANDLE pair[] = {doomed, other.get()};
    HANDLE t = StartThread([&] {
      SetEvent(started.get());
      return static_cast<unsigned>(WaitForMultipleObjects(2, pair, FALSE, kLongWait));
    });
    ASSERT_EQ(WaitForSingleObject(started.get(), kLongWait), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(doomed));
    SetEvent(other.get());
    DWORD r = Join(t);
    EXPECT_TRUE(r == WAIT_OBJECT_0 + 1 || r == WAIT_FAILED) << r;
  }
}
