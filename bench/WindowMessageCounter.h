// Counts the messages windows of this process handle, without changing
// them: each window's procedure is wrapped from outside, as a host may wrap
// any window of its process, and the wrapper hands every message on to the
// procedure it replaced. All counted windows share one procedure (the
// windows of one class); once a window cannot be wrapped, or has another
// procedure, the count is incomplete and says so.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

namespace bench {

class WindowMessageCounter {
 public:
  static void Count(HWND window) {
    const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (current == &Procedure) return;  // counted already
    WNDPROC expected = nullptr;
    const bool wrapped = current && (original_.compare_exchange_strong(expected, current) || expected == current) &&
                         SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure)) != 0;
    if (!wrapped) complete_.store(false);
  }
  static bool Complete() { return complete_.load(); }
  static std::uint64_t Handled() { return handled_.load(); }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    handled_.fetch_add(1);
#if defined(_WIN32)
    return CallWindowProcW(original_.load(), window, message, wParam, lParam);
#else
    return original_.load()(window, message, wParam, lParam);
#endif
  }

  static inline std::atomic<WNDPROC> original_{nullptr};
  static inline std::atomic<std::uint64_t> handled_{0};
  static inline std::atomic<bool> complete_{true};
};

}  // namespace bench
