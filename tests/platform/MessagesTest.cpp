// Message queues: posting, peeking, the "new input" rule of
// MsgWaitForMultipleObjects, the queue limit and cross-thread delivery.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "tests/platform/PlatformTestSupport.h"

using namespace platform_test;

namespace {

constexpr UINT kProbe = WM_APP + 1;
constexpr const wchar_t* kClass = L"ZeltoTestMessageClass";

// What the procedure saw of kProbe: how many, whether in wParam order, and on
// which thread. Answers wParam * 2.
struct Delivery {
  std::atomic<int> count{0};
  std::atomic<bool> wrongThread{false}, outOfOrder{false};
  DWORD ownerThread = 0;
  int expected = 0;
  HANDLE done = nullptr;
};
Delivery* delivery = nullptr;

LRESULT CALLBACK CountingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kProbe || !delivery) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (GetCurrentThreadId() != delivery->ownerThread) delivery->wrongThread = true;
  int n = delivery->count.fetch_add(1);
  if (static_cast<int>(wParam) != n) delivery->outOfOrder = true;
  if (n + 1 == delivery->expected) SetEvent(delivery->done);
  return static_cast<LRESULT>(wParam) * 2;
}

class Messages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterTestClass(kClass, &CountingProcedure); }
  static void TearDownTestSuite() { UnregisterClassW(kClass, GetModuleHandleW(nullptr)); }
  void TearDown() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  // 0xFF is the library's own wake mask.
  static DWORD MsgWait(DWORD count, const HANDLE* handles, DWORD timeout, DWORD mask = 0xFF) {
    return MsgWaitForMultipleObjects(count, handles, FALSE, timeout, mask);
  }
};

}  // namespace

TEST_F(Messages, MsgWaitWakesOnlyForInputNotYetLookedAt) {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make sure the queue exists and is seen
  EXPECT_EQ(MsgWait(0, nullptr, 0, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(PostMessageW(nullptr, kProbe, 1, 0));
  // New since the last look: waking does not make it old.
  EXPECT_EQ(MsgWait(0, nullptr, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWait(0, nullptr, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  // Looking without removing makes it old: the wait now times out although
  // the message is still queued.
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(MsgWait(0, nullptr, 20, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));

  // A signalled handle wins over input; input is reported as index nCount.
  UniqueHandle stop = NewEvent(false, false);
  HANDLE handles[] = {stop.get()};
  ASSERT_TRUE(PostMessageW(nullptr, kProbe, 2, 0));
  EXPECT_EQ(MsgWait(1, handles, 0), WAIT_OBJECT_0 + 1);
  SetEvent(stop.get());
  EXPECT_EQ(MsgWait(1, handles, 0), WAIT_OBJECT_0);

  // Input that arrives while the thread waits wakes it.
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  DWORD self = GetCurrentThreadId();
  HANDLE poster = StartThread([&] { return PostThreadMessageW(self, kProbe, 3, 0) ? 0u : 1u; });
  EXPECT_EQ(MsgWait(1, handles, kLongWait), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(Join(poster), 0u);

  std::vector<WPARAM> order;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    EXPECT_EQ(msg.hwnd, nullptr);
    order.push_back(msg.wParam);
  }
  EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3}));
}

TEST_F(Messages, PeekFiltersByWindowAndRangeAndQuitComesLast) {
  HWND hwnd = CreateTestWindow(kClass);
  ASSERT_NE(hwnd, nullptr);
  PostMessageW(nullptr, WM_APP + 5, 0, 0);
  PostMessageW(hwnd, WM_APP + 6, 0, 0);
  PostMessageW(hwnd, WM_USER + 1, 0, 0);
  PostQuitMessage(9);

  MSG msg{};
  EXPECT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 6));
  EXPECT_EQ(msg.hwnd, hwnd);
  EXPECT_TRUE(PeekMessageW(&msg, hwnd, WM_USER, WM_USER + 10, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
  EXPECT_TRUE(PeekMessageW(&msg, reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)), 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 5));
  EXPECT_EQ(msg.hwnd, nullptr);

  EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 6));
  EXPECT_EQ(DispatchMessageW(&msg), 0);
  EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 9u);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(TranslateMessage(&msg));
  EXPECT_FAILS_WITH(GetMessageW(&msg, reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x7FFFFF0)), 0, 0), -1,
                    ERROR_INVALID_WINDOW_HANDLE);

  // Destroying a window drops its posted messages; dispatching one of them
  // afterwards fails cleanly.
  PostMessageW(hwnd, kProbe, 0, 0);
  PostMessageW(nullptr, kProbe, 1, 0);
  PostMessageW(hwnd, kProbe, 2, 0);
  EXPECT_TRUE(DestroyWindow(hwnd));
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  msg.hwnd = hwnd;
  EXPECT_FAILS_WITH(DispatchMessageW(&msg), 0, ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(Messages, AQueueHoldsTenThousandPostedMessages) {
  if (OnWine()) GTEST_SKIP() << "Wine differs: its queues have no posted-message limit (20,000 posts succeed)";
  HWND hwnd = CreateTestWindow(kClass);
  ASSERT_NE(hwnd, nullptr);
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(PostMessageW(hwnd, kProbe, i, 0)) << i;
  EXPECT_FAILS_WITH(PostMessageW(hwnd, kProbe, 0, 0), FALSE, ERROR_NOT_ENOUGH_QUOTA);
  EXPECT_FALSE(PostMessageW(nullptr, kProbe, 0, 0));
  EXPECT_FALSE(PostThreadMessageW(GetCurrentThreadId(), kProbe, 0, 0));

  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_TRUE(PostMessageW(hwnd, kProbe, 10000, 0));
  // Still first in, first out after the queue wrapped.
  for (WPARAM expected = 1; expected <= 10000; ++expected) {
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    ASSERT_EQ(msg.wParam, expected);
  }
  EXPECT_TRUE(DestroyWindow(hwnd));
}

TEST_F(Messages, PostsFromOtherThreadsAreDispatchedOnTheOwningThread) {
  constexpr int kMessages = 3000;
  UniqueHandle done = NewEvent(true, false), stop = NewEvent(false, false), ready = NewEvent(false, false);
  Delivery d;
  d.expected = kMessages;
  d.done = done.get();
  delivery = &d;
  std::atomic<HWND> hwnd{nullptr};
  std::atomic<bool> badResult{false};
  unsigned ownerId = 0;
  // The receiver's own loop: wait for its stop event or input, then drain.
  HANDLE owner = StartThread(
      [&] {
        hwnd.store(CreateTestWindow(kClass));
        SetEvent(ready.get());
        HANDLE handles[] = {stop.get()};
        MSG msg;
        while (MsgWait(1, handles, INFINITE) != WAIT_OBJECT_0) {
          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            if (msg.message == kProbe && DispatchMessageW(&msg) != static_cast<LRESULT>(msg.wParam) * 2)
              badResult = true;
          }
        }
        return 0u;
      },
      &ownerId);
  d.ownerThread = ownerId;
  ASSERT_EQ(WaitForSingleObject(ready.get(), kLongWait), WAIT_OBJECT_0);
  ASSERT_NE(hwnd.load(), nullptr);

  // Dispatching another thread's window here does not run its procedure.
  MSG foreign{hwnd.load(), kProbe, 0, 0, 0, {0, 0}};
  EXPECT_EQ(DispatchMessageW(&foreign), 0);
  EXPECT_EQ(d.count.load(), 0);

  for (int i = 0; i < kMessages; ++i) {
    while (!PostMessageW(hwnd.load(), kProbe, static_cast<WPARAM>(i), 0)) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    }
  }
  ASSERT_EQ(WaitForSingleObject(done.get(), kLongWait), WAIT_OBJECT_0);
  EXPECT_EQ(d.count.load(), kMessages);
  EXPECT_FALSE(d.wrongThread.load() || d.outOfOrder.load() || badResult.load());

  SetEvent(stop.get());
  EXPECT_EQ(Join(owner), 0u);
  delivery = nullptr;
  // The thread took its window with it.
  EXPECT_FALSE(IsWindow(hwnd.load()));
  // Wine differs: a thread that no longer exists gives ERROR_INVALID_PARAMETER.
  EXPECT_FAILS_WITH(PostThreadMessageW(ownerId, kProbe, 0, 0), FALSE,
                    WindowsOrWine(ERROR_INVALID_THREAD_ID, ERROR_INVALID_PARAMETER));
}
