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

TEST(ComTaskMemory, NthAllocationFailsExactlyOnceCountingEveryThread) {
  FaultGuard guard;
  zelto::platform::FailNthTaskMemAlloc(3);
  void* blocks[4];
  for (void*& p : blocks) p = CoTaskMemAlloc(16);
  EXPECT_TRUE(blocks[0] && blocks[1] && !blocks[2] && blocks[3]);
  for (void* p : blocks) CoTaskMemFree(p);

  zelto::platform::FailNthTaskMemAlloc(1);
  zelto::platform::FailNthTaskMemAlloc(0);  // disarmed before it fires
  void* kept = CoTaskMemAlloc(8);
  EXPECT_NE(kept, nullptr);
  CoTaskMemFree(kept);

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

  // Edge sizes as on Windows: a zero-size block exists; reallocating it to
  // zero frees it.
  void* empty = CoTaskMemAlloc(0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(CoTaskMemRealloc(empty, 0), nullptr);
}

TEST(ComGuidText, FormatsWindowsValuesAndParsesOnlyTheBracedForm) {
  EXPECT_EQ(GuidText(IID_IUnknown), L"{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidText(IID_ISequentialStream), L"{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
  const GUID expected = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {1, 2, 3, 4, 5, 6, 7, 0xEF}};
  CLSID parsed{};
  EXPECT_EQ(CLSIDFromString(L"{aaaaaaaa-BBBB-cccc-0102-0304050607eF}", &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, expected));
  EXPECT_EQ(CLSIDFromString(GuidText(expected).c_str(), &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, expected));
  EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, GUID_NULL));
  for (const wchar_t* bad : {L"", L"{aaaaaaaa-bbbb-cccc-0102-03040506070}", L"{aaaaaaag-bbbb-cccc-0102-030405060708}",
                             L"{aaaaaaaa-bbbb-cccc-0102-030405060708}x"}) {
    EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING) << bad;
  }
  wchar_t small[38];
  EXPECT_EQ(StringFromGUID2(expected, small, 38), 0);
}
