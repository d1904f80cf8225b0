#include <gtest/gtest.h>

#include "platform/PlatformExtras.h"

namespace zp = zelto::platform;

TEST(TextConversion, RoundTripsEveryPlane) {
  // ASCII, Latin-1, CJK and an astral code point (a surrogate pair on Windows).
  const std::wstring text = L"A\u00e9\u65e5\U0001F3A5z";
  const std::string utf8 = zp::ToUtf8(text);
  EXPECT_EQ(utf8, "A\xc3\xa9\xe6\x97\xa5\xf0\x9f\x8e\xa5z");
  EXPECT_EQ(zp::FromUtf8(utf8), text);
}

TEST(TextConversion, MalformedUtf8BecomesReplacementCharacters) {
  // A truncated sequence at the end and a stray continuation byte never read
  // past the input.
  EXPECT_EQ(zp::FromUtf8("a\xe6\x97"), L"a\uFFFD\uFFFD");
  EXPECT_EQ(zp::FromUtf8("\x80z"), L"\uFFFDz");
}

TEST(Paths, BackslashesAreSeparators) {
  const auto native = zp::NativePath(L"dir\\sub\\file.zlt");
  EXPECT_EQ(native.filename(), std::filesystem::path("file.zlt"));
  EXPECT_EQ(native.parent_path().filename(), std::filesystem::path("sub"));
  EXPECT_EQ(zp::WidePath(native), L"dir\\sub\\file.zlt");
}
