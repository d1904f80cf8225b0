// Registered messages, window classes, windows and their user data.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/platform/PlatformTestSupport.h"

using namespace platform_test;

namespace {

// Messages of interest seen by RecordingProcedure on this thread.
thread_local std::vector<UINT>* seen = nullptr;
thread_local bool stillWindowInNcDestroy = false;

LRESULT CALLBACK RecordingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (seen && (message == WM_NCCREATE || message == WM_CREATE || message == WM_DESTROY || message == WM_NCDESTROY))
    seen->push_back(message);
  if (message == WM_NCDESTROY) stillWindowInNcDestroy = IsWindow(hwnd) != FALSE;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK RefusingProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_CREATE ? -1 : DefWindowProcW(hwnd, message, wParam, lParam);
}

// Wine differs: DestroyWindow of a window that does not exist reports
// ERROR_ACCESS_DENIED, as for another thread's window.
const DWORD kDestroyInvalidError = WindowsOrWine(ERROR_INVALID_WINDOW_HANDLE, ERROR_ACCESS_DENIED);

// A class registered for one test and unregistered after it.
class WindowClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = L"ZeltoTestClass" + std::to_wstring(counter_++);
    ASSERT_NE(Register(name_.c_str()), 0);
  }
  void TearDown() override { Unregister(); }
  static ATOM Register(LPCWSTR name) { return RegisterTestClass(name, &RecordingProcedure, CS_GLOBALCLASS); }
  BOOL Unregister() const { return UnregisterClassW(name_.c_str(), GetModuleHandleW(nullptr)); }
  HWND Create() const { return CreateTestWindow(name_.c_str()); }

  std::wstring name_;
  static inline int counter_ = 0;
};

}  // namespace

TEST(RegisteredMessages, SameNameSameValueWithoutCase) {
  UINT a = RegisterWindowMessageW(L"ZeltoTestMessageOne");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessageW(L"zeltotestmessageONE"), a);
  UINT b = RegisterWindowMessageW(L"ZeltoTestMessageTwo");
  EXPECT_NE(b, 0u);
  EXPECT_NE(b, a);

  EXPECT_FAILS_WITH(RegisterWindowMessageW(L""), 0u, ERROR_INVALID_NAME);
  const std::wstring tooLong(256, L'm');
  EXPECT_FAILS_WITH(RegisterWindowMessageW(tooLong.c_str()), 0u, ERROR_INVALID_PARAMETER);
  EXPECT_NE(RegisterWindowMessageW(tooLong.substr(1).c_str()), 0u);
}

TEST_F(WindowClassTest, RegistrationIsByNameForTheWholeProcess) {
  EXPECT_FAILS_WITH(Register(name_.c_str()), 0, ERROR_CLASS_ALREADY_EXISTS);
  // Case does not make a new name.
  std::wstring upper;
  for (wchar_t c : name_) upper += static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - 32 : c);
  EXPECT_FAILS_WITH(Register(upper.c_str()), 0, ERROR_CLASS_ALREADY_EXISTS);
  // Nor does another thread.
  HANDLE t = StartThread([&] {
    SetLastError(0);
    return Register(name_.c_str()) == 0 ? static_cast<unsigned>(GetLastError()) : 0u;
  });
  EXPECT_EQ(Join(t), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

  WNDCLASSEXW wrongSize{};
  wrongSize.cbSize = sizeof(wrongSize) - 1;
  wrongSize.lpfnWndProc = &RecordingProcedure;
  wrongSize.lpszClassName = L"ZeltoTestWrongSize";
  EXPECT_FAILS_WITH(RegisterClassExW(&wrongSize), 0, ERROR_INVALID_PARAMETER);
}

TEST(WindowClasses, ThreadsRacingForOneNameLetExactlyOneWin) {
  const wchar_t* name = L"ZeltoTestRacedClass";
  UniqueHandle go = NewEvent(true, false);
  std::vector<HANDLE> threads;
  for (int i = 0; i < 8; ++i) {
    threads.push_back(StartThread([&] {
      WaitForSingleObject(go.get(), kLongWait);
      SetLastError(0);
      if (RegisterTestClass(name, &RecordingProcedure)) return 1u;
      return GetLastError() == ERROR_CLASS_ALREADY_EXISTS ? 0u : 2u;
    }));
  }
  SetEvent(go.get());
  unsigned winners = 0;
  for (HANDLE t : threads) {
    DWORD r = Join(t);
    EXPECT_NE(r, 2u);
    winners += r;
  }
  EXPECT_EQ(winners, 1u);
  EXPECT_TRUE(UnregisterClassW(name, GetModuleHandleW(nullptr)));
}

TEST_F(WindowClassTest, CreationAndDestructionMessagesComeInWindowsOrder) {
  std::vector<UINT> messages;
  seen = &messages;
  HWND hwnd = Create();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(messages, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  // The class cannot go while a window of it exists.
  EXPECT_FAILS_WITH(Unregister(), FALSE, ERROR_CLASS_HAS_WINDOWS);

  messages.clear();
  EXPECT_TRUE(DestroyWindow(hwnd));
  seen = nullptr;
  EXPECT_EQ(messages, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
  EXPECT_TRUE(stillWindowInNcDestroy);
  EXPECT_FALSE(IsWindow(hwnd));
  // A stale handle is refused by everything.
  EXPECT_FAILS_WITH(DestroyWindow(hwnd), FALSE, kDestroyInvalidError);
  EXPECT_FAILS_WITH(PostMessageW(hwnd, WM_APP, 0, 0), FALSE, ERROR_INVALID_WINDOW_HANDLE);

  EXPECT_TRUE(Unregister());
  EXPECT_FAILS_WITH(Unregister(), FALSE, ERROR_CLASS_DOES_NOT_EXIST);
  // Wine differs: it reports ERROR_CLASS_DOES_NOT_EXIST for an unknown class.
  EXPECT_FAILS_WITH(Create(), nullptr, WindowsOrWine(ERROR_CANNOT_FIND_WND_CLASS, ERROR_CLASS_DOES_NOT_EXIST));

  // A creation the procedure refuses leaves no window: its class can go.
  ASSERT_NE(RegisterTestClass(L"ZeltoTestRefusingClass", &RefusingProcedure), 0);
  EXPECT_EQ(CreateTestWindow(L"ZeltoTestRefusingClass"), nullptr);
  EXPECT_TRUE(UnregisterClassW(L"ZeltoTestRefusingClass", GetModuleHandleW(nullptr)));
}

TEST_F(WindowClassTest, UserDataHoldsA64BitPointerAndOnlyRealWindowsHaveAny) {
  HWND hwnd = Create();
  ASSERT_NE(hwnd, nullptr);
  const auto pointer = static_cast<LONG_PTR>(0x123456789ABCDEF0ull);
  // The library's pattern: clear the last error, set, and read it back.
  SetLastError(0);
  EXPECT_EQ(SetWindowLongPtrW(hwnd, GWLP_USERDATA, pointer), 0);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA), pointer);
  // Success does not clear an older error.
  SetLastError(1234);
  EXPECT_EQ(SetWindowLongPtrW(hwnd, GWLP_USERDATA, pointer + 16), pointer);
  EXPECT_EQ(GetLastError(), 1234u);
  // The 32-bit forms see and set the low half.
  EXPECT_EQ(GetWindowLongW(hwnd, GWLP_USERDATA), static_cast<LONG>(pointer + 16));
  EXPECT_EQ(SetWindowLongW(hwnd, GWLP_USERDATA, -2), static_cast<LONG>(pointer + 16));
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA), -2);
  // Readable from another thread too.
  EXPECT_EQ(Join(StartThread([&] { return GetWindowLongPtrW(hwnd, GWLP_USERDATA) == -2 ? 1u : 0u; })), 1u);

  EXPECT_TRUE(DestroyWindow(hwnd));
  EXPECT_FAILS_WITH(GetWindowLongPtrW(hwnd, GWLP_USERDATA), 0, ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FAILS_WITH(SetWindowLongPtrW(nullptr, GWLP_USERDATA, pointer), 0, ERROR_INVALID_WINDOW_HANDLE);
  for (ULONG_PTR value : {ULONG_PTR{0}, ULONG_PTR{4}, ULONG_PTR{0x7FFFFF0}, ~ULONG_PTR{0} - 7}) {
    HWND bogus = reinterpret_cast<HWND>(value);
    EXPECT_FALSE(IsWindow(bogus));
    EXPECT_FAILS_WITH(DestroyWindow(bogus), FALSE, kDestroyInvalidError);
    EXPECT_EQ(GetWindowLongPtrW(bogus, GWLP_USERDATA), 0);
  }
}

TEST_F(WindowClassTest, OnlyTheOwningThreadDestroysAndItsEndDestroysForIt) {
  UniqueHandle created = NewEvent(false, false), release = NewEvent(false, false);
  std::atomic<HWND> hwnd{nullptr};
  HANDLE owner = StartThread([&] {
    hwnd.store(Create());
    SetEvent(created.get());
    WaitForSingleObject(release.get(), kLongWait);
    return 0u;  // ends without destroying its window
  });
  ASSERT_EQ(WaitForSingleObject(created.get(), kLongWait), WAIT_OBJECT_0);
  ASSERT_NE(hwnd.load(), nullptr);
  EXPECT_FAILS_WITH(DestroyWindow(hwnd.load()), FALSE, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(IsWindow(hwnd.load()));

  SetEvent(release.get());
  EXPECT_EQ(Join(owner), 0u);
  EXPECT_FALSE(IsWindow(hwnd.load()));
  EXPECT_FAILS_WITH(DestroyWindow(hwnd.load()), FALSE, kDestroyInvalidError);
  EXPECT_TRUE(Unregister());
}
