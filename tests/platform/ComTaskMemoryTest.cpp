// Task memory with its fault hook, and GUID text.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/PlatformExtras.h"
#include "platform/com.h"

namespace {

std::wstring GuidText(REFGUID guid) {
  wchar_t text[39] = {};
  EXPECT_EQ(StringFromGUID2(guid, text, 39), 39);
  return text;
}

// Disarms the fault even when an assertion ends the test early.
struct FaultGuard {
  ~FaultGuard() { zelto::platform::FailNthTaskMemAlloc(0); }
};

}  // namespace

TEST(ComTaskMemory, NthAllocationFailsOnceThenAllocationsSucceedAgain) {
  FaultGuard guard;
  zelto::platform::FailNthTaskMemAlloc(3);
  void* first = CoTaskMemAlloc(16);
  void* second = CoTaskMemAlloc(16);
  void* third = CoTaskMemAlloc(16);
  void* fourth = CoTaskMemAlloc(16);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  for (void* p : {first, second, fourth}) CoTaskMemFree(p);

  zelto::platform::FailNthTaskMemAlloc(1);
  zelto::platform::FailNthTaskMemAlloc(0);  // disarmed before it fires
  void* kept = CoTaskMemAlloc(8);
  EXPECT_NE(kept, nullptr);
  CoTaskMemFree(kept);
}

TEST(ComTaskMemory, FaultCountsEveryThreadAndFiresExactlyOnce) {
  FaultGuard guard;
  zelto::platform::FailNthTaskMemAlloc(150);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        void* p = CoTaskMemAlloc(32);
        if (p == nullptr) ++failures;
        CoTaskMemFree(p);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 1);
}

TEST(ComTaskMemory, EdgeSizesBehaveAsOnWindows) {
  void* empty = CoTaskMemAlloc(0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(CoTaskMemRealloc(empty, 0), nullptr);  // frees the block
  CoTaskMemFree(nullptr);
}

TEST(ComGuidText, WellKnownIdentifiersHaveTheirWindowsValues) {
  EXPECT_EQ(GuidText(IID_IUnknown), L"{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidText(IID_IClassFactory), L"{00000001-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidText(IID_IMarshal), L"{00000003-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidText(IID_IStream), L"{0000000C-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidText(IID_ISequentialStream), L"{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
}

TEST(ComGuidText, ParsingAcceptsOnlyTheBracedForm) {
  const GUID expected = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {1, 2, 3, 4, 5, 6, 7, 0xEF}};
  CLSID parsed{};
  EXPECT_EQ(CLSIDFromString(L"{aaaaaaaa-BBBB-cccc-0102-0304050607eF}", &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, expected));
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, GUID_NULL));
  for (const wchar_t* bad : {L"", L"{aaaaaaaa-bbbb-cccc-0102-03040506070}",
                             L"{aaaaaaag-bbbb-cccc-0102-030405060708}",
                             L"{aaaaaaaa-bbbb-cccc-0102-030405060708}x"}) {
    EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING) << bad;
  }
  wchar_t small[38];
  EXPECT_EQ(StringFromGUID2(expected, small, 38), 0);
}
