// The soak program calls a run flat when its figures do not grow: each
// figure must see what it counts grow, or a leaking run would pass.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "bench/ProcessFigures.h"
#include "bench/WindowMessageCounter.h"

namespace {

#if defined(__linux__)
TEST(ProcessFigures, EachFigureSeesWhatItCountsHeldAndLetGo) {
  // A sanitizer's runtime starts a thread of its own with the first thread
  // made: one made and gone first keeps it out of the count.
  std::thread([] {}).join();
  const auto before = bench::ReadProcessFigures(1);
  ASSERT_TRUE(before);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::promise<void> release;
  std::thread held([gate = release.get_future()]() mutable { gate.wait(); });
  std::vector<char> block(64 << 20, 1);  // touched: resident
  const auto holding = bench::ReadProcessFigures(1);
  ASSERT_TRUE(holding);
  EXPECT_EQ(holding->descriptors, before->descriptors + 1);
  EXPECT_EQ(holding->threads, before->threads + 1);
  EXPECT_GE(holding->residentMiB, before->residentMiB + 60);

  release.set_value();
  held.join();
  std::fclose(file);
  const auto after = bench::ReadProcessFigures(1);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->descriptors, before->descriptors);
  EXPECT_EQ(after->threads, before->threads);
}
#endif

// The wrapped window still gets every message, and each is counted once.
std::vector<UINT> procedureSaw;

LRESULT CALLBACK Original(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) procedureSaw.push_back(message);
  return message == WM_APP ? 7 : DefWindowProcW(window, message, wParam, lParam);
}

TEST(WindowMessageCounter, CountsWhatTheWindowHandlesAndHandsItOn) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = Original;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZeltoSoakCountedWindow";
  ASSERT_NE(RegisterClassExW(&wc), 0);
  HWND first = CreateWindowExW(0, wc.lpszClassName, nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  HWND second = CreateWindowExW(0, wc.lpszClassName, nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(first && second);
  bench::WindowMessageCounter::Count(first);
  bench::WindowMessageCounter::Count(second);
  bench::WindowMessageCounter::Count(second);  // wrapped already: counted once all the same
  EXPECT_TRUE(bench::WindowMessageCounter::Complete());

  const std::uint64_t before = bench::WindowMessageCounter::Handled();
  const UINT posts[][2] = {{0, WM_APP}, {1, WM_APP + 1}, {0, WM_APP + 2}};
  for (const auto& [which, code] : posts) ASSERT_TRUE(PostMessageW(which ? second : first, code, 0, 0));
  std::vector<LRESULT> answers;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) answers.push_back(DispatchMessageW(&message));
  EXPECT_EQ(bench::WindowMessageCounter::Handled() - before, 3u);
  EXPECT_EQ(procedureSaw, (std::vector<UINT>{WM_APP, WM_APP + 1, WM_APP + 2}));
  EXPECT_EQ(answers.front(), 7) << "the answer is the original procedure's";
  DestroyWindow(first);
  DestroyWindow(second);
  UnregisterClassW(wc.lpszClassName, GetModuleHandleW(nullptr));
}

}  // namespace
