#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/foundation/OxBitmap.h"
#include "host/foundation/OxString.h"

using Orvex::OxBitmap;
using Orvex::OxString;

namespace {

std::wstring fmt(const wchar_t* format, auto... args) {
  OxString s;
  int n = s.Format(format, args...);
  EXPECT_EQ(n, static_cast<int>(s.GetLength()));
  return s.GetString();
}

}  // namespace

TEST(OxStringTest, NullPointersAreEmptyStringsAndCopiesAreIndependent) {
  OxString a(L"abc");
  OxString b(a);
  b.Append(L"def");
  b.Append(a);
  b.Append(static_cast<const wchar_t*>(nullptr));
  EXPECT_STREQ(b.GetString(), L"abcdefabc");
  EXPECT_STREQ(a.GetString(), L"abc");
  EXPECT_TRUE(OxString(static_cast<const wchar_t*>(nullptr)).IsEmpty());
  b.SetString(nullptr);
  EXPECT_TRUE(b.IsEmpty());
  a.Erase();
  EXPECT_STREQ(a.GetUnicodeString(), L"");
}

TEST(OxStringTest, StringDirectivesUseTheWideMeaning) {
  EXPECT_EQ(fmt(L"[%s]", L"wide"), L"[wide]");
  EXPECT_EQ(fmt(L"[%ls|%ws]", L"a", L"b"), L"[a|b]");
  EXPECT_EQ(fmt(L"[%S|%hs]", "narrow", "n2"), L"[narrow|n2]");
  EXPECT_EQ(fmt(L"[%S]", "caf\xc3\xa9"), L"[caf\u00e9]");
  EXPECT_EQ(fmt(L"[%s|%S]", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
            L"[(null)|(null)]");
  EXPECT_EQ(fmt(L"[%c%C%hc]", L'w', 'n', 'h'), L"[wnh]");
}

TEST(OxStringTest, WidthPrecisionAndFlags) {
  EXPECT_EQ(fmt(L"[%6s][%-6s][%.2s][%6.2s]", L"abc", L"abc", L"abc", L"abc"),
            L"[   abc][abc   ][ab][    ab]");
  EXPECT_EQ(fmt(L"[%*s][%-*s][%.*s]", 5, L"ab", 4, L"ab", 1, L"ab"), L"[   ab][ab  ][a]");
  // A negative '*' width means left-justified; a negative precision is none.
  EXPECT_EQ(fmt(L"[%*d][%.*s]", -4, 7, -1, L"xyz"), L"[7   ][xyz]");
  EXPECT_EQ(fmt(L"%02d%02d%02d%02d", 1, 2, 3, 0), L"01020300");
  EXPECT_EQ(fmt(L"[%+d][% d][%05d][%-5d]", 3, 3, -42, 9), L"[+3][ 3][-0042][9    ]");
  EXPECT_EQ(fmt(L"%x %X %#x %o %u", 255u, 255u, 255u, 8u, 4000000000u), L"ff FF 0xff 10 4000000000");
  EXPECT_EQ(fmt(L"%.3f %e %g", 1.5, 1000.0, 0.5), L"1.500 1.000000e+03 0.5");
  EXPECT_EQ(fmt(L"100%% %d", 1), L"100% 1");
  OxString self(L"C:\\cap");
  self.Format(L"%s\\%s", self.GetString(), L"a.zlt");  // an argument may be the string itself
  EXPECT_STREQ(self.GetString(), L"C:\\cap\\a.zlt");
}

TEST(OxStringTest, IntegerLengthsFollowTheWindowsModel) {
  EXPECT_EQ(fmt(L"%lld %I64d %llu", -5000000000LL, 5000000000LL, 18446744073709551615ULL),
            L"-5000000000 5000000000 18446744073709551615");
  EXPECT_EQ(fmt(L"%ld %lu", static_cast<std::int32_t>(-1), static_cast<std::uint32_t>(4000000000u)),
            L"-1 4000000000");
  EXPECT_EQ(fmt(L"%hd %hhu %zu", 70000, 300, static_cast<std::size_t>(12)), L"4464 44 12");
  EXPECT_EQ(fmt(L"%p", reinterpret_cast<void*>(0x1234)),
            sizeof(void*) == 8 ? L"0000000000001234" : L"00001234");
}

TEST(OxStringTest, MalformedFormatsAreCopiedAndConsumeNothing) {
  // Each bad directive is copied; the argument goes to the next good one.
  EXPECT_EQ(fmt(L"%n|%q|%hhs|%d", 42), L"%n|%q|%hhs|42");
  EXPECT_EQ(fmt(L"%*q %d", 7), L"%*q 7");
  EXPECT_EQ(fmt(L"tail %"), L"tail %");
  EXPECT_EQ(fmt(L"%5"), L"%5");
  // Enormous widths are clamped rather than allocated.
  EXPECT_EQ(fmt(L"%99999999999d", 1).size(), 65536u);
  OxString s(L"old");
  EXPECT_EQ(s.Format(nullptr), -1);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(OxBitmapTest, OwnsAndResizesItsBytes) {
  const std::uint8_t data[] = {1, 2, 3, 4};
  OxBitmap a;
  ASSERT_TRUE(a.SetBitmap(data, 4));
  OxBitmap b(a);
  a.SetBitmapSize(2);
  ASSERT_EQ(b.GetBitmapSize(), 4u);  // the copy has bytes of its own
  EXPECT_EQ(b.GetBitmap()[3], 4);
  a.SetBitmapSize(3);  // growing keeps the bytes and zeroes the rest
  EXPECT_EQ(a.GetBitmap()[1], 2);
  EXPECT_EQ(a.GetBitmap()[2], 0);
  EXPECT_FALSE(a.SetBitmap(nullptr, 5));
  EXPECT_EQ(a.GetBitmapSize(), 3u);
  a.SetBitmapSize(0);
  EXPECT_EQ(a.GetBitmap(), nullptr);
  b = a;
  EXPECT_EQ(b.GetBitmapSize(), 0u);
}
