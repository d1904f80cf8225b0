// Text conversion, wide backslash paths, file attributes and deletion, and
// string comparison.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/PlatformExtras.h"
#include "tests/platform/PlatformTestSupport.h"
#include "tests/TestFolder.h"

namespace fs = std::filesystem;
namespace zp = zelto::platform;

namespace {

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    // Named after the test: ctest runs tests in parallel processes.
    root_ = zelto::testing::TestFolder(std::string("zelto-files-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    zelto::testing::RemoveFolder(root_);
    fs::create_directories(root_ / "sub");
  }
  void TearDown() override {
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(root_, ec))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    zelto::platform::RemoveTree(root_, ec);
  }
  // The Windows form of a path under the folder: wide, with backslashes.
  std::wstring Wide(const std::string& relative) const { return zp::WidePath(root_ / relative); }
  void Touch(const std::string& relative) { std::ofstream(root_ / relative) << "x"; }

  fs::path root_;
};

}  // namespace

TEST(TextConversion, RoundTripsEveryPlaneAndReplacesMalformedInput) {
  // ASCII, Latin-1, CJK and an astral code point (a surrogate pair on Windows).
  const std::wstring text = L"A\u00e9\u65e5\U0001F3A5z";
  const std::string utf8 = zp::ToUtf8(text);
  EXPECT_EQ(utf8, "A\xc3\xa9\xe6\x97\xa5\xf0\x9f\x8e\xa5z");
  EXPECT_EQ(zp::FromUtf8(utf8), text);
  // A truncated sequence at the end and a stray continuation byte never read
  // past the input.
  EXPECT_EQ(zp::FromUtf8("a\xe6\x97"), L"a\uFFFD\uFFFD");
  EXPECT_EQ(zp::FromUtf8("\x80z"), L"\uFFFDz");

  const auto native = zp::NativePath(L"dir\\sub\\file.zlt");
  EXPECT_EQ(native.filename(), fs::path("file.zlt"));
  EXPECT_EQ(native.parent_path().filename(), fs::path("sub"));
  EXPECT_EQ(zp::WidePath(native), L"dir\\sub\\file.zlt");
#ifndef _WIN32
  // The text form, with and without its ASCII shortcut, is the path's own.
  for (const wchar_t* path : {L"dir\\sub\\file.zlt", L"d\u00e9j\u00e0\\\U0001F3A5.zlt", L"", L"\\"})
    EXPECT_EQ(zp::NativePathText(path), zp::NativePath(path).string());
#endif
}

TEST(TextConversion, WhatIsNotACharacterBecomesTheReplacementCharacter) {
  struct Case {
    const char* what;
    std::string utf8;
    std::wstring wide;
  };
  const Case fromUtf8[] = {
      // An overlong '/' must not become a separator, nor an overlong NUL an end.
      {"overlong slash", "a\xc0\xaf" "b", L"a\uFFFD\uFFFDb"},
      {"overlong NUL", "\xc0\x80", L"\uFFFD\uFFFD"},
      {"overlong in three bytes", "\xe0\x80\xaf", L"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate half", "\xed\xa0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"no such lead byte", "\xff", L"\uFFFD"},
      {"the largest code point", "\xf4\x8f\xbf\xbf", L"\U0010FFFF"},
  };
  for (const Case& c : fromUtf8) EXPECT_EQ(zp::FromUtf8(c.utf8), c.wide) << c.what;
  // A lone surrogate half in wide text (a Windows name may hold one).
  const wchar_t high = static_cast<wchar_t>(0xD800), low = static_cast<wchar_t>(0xDC00);
  EXPECT_EQ(zp::ToUtf8(std::wstring{L'a', high, L'b'}), "a\xef\xbf\xbd" "b");
  EXPECT_EQ(zp::ToUtf8(std::wstring{low, high}), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(TextConversion, UtfEightPathsKeepTheirSeparatorsAndRoundTrip) {
  for (const char* name : {"caf\xc3\xa9", "\xe9\x8c\xb2\xe7\x94\xbb", "\xf0\x9f\x8e\x9e\xef\xb8\x8f" "clip"}) {
    const fs::path path = zp::PathFromUtf8(std::string("dir/") + name);
    EXPECT_EQ(zp::Utf8FromPath(path.filename()), name);
    EXPECT_EQ(zp::Utf8FromPath(path.parent_path()), "dir");
    EXPECT_EQ(zp::Utf8FromPath(path), std::string("dir/") + name);
  }
  // A backslash is a separator of Windows only.
  const fs::path back = zp::PathFromUtf8("a\\b");
#ifdef _WIN32
  EXPECT_EQ(zp::Utf8FromPath(back.filename()), "b");
#else
  EXPECT_EQ(zp::Utf8FromPath(back.filename()), "a\\b");
#endif
}

TEST_F(TempFolder, NamesOutsideAsciiReachTheDiskAsTheyAre) {
  // Made through each road in, found through each road out, bytes and all.
  const std::string names[] = {"caf\xc3\xa9", "dossier-\xc3\xa9t\xc3\xa9", "\xe9\x8c\xb2\xe7\x94\xbb",
                               "\xf0\x9f\x8e\x9e\xef\xb8\x8f" "clip",
                               "\xce\xa9mega-\xd0\x9f\xd1\x80\xd0\xb8-\xe6\x9d\xb1\xe4\xba\xac"};
  for (const std::string& name : names) {
    std::ofstream(root_ / zp::PathFromUtf8(name)) << name;
    const std::wstring wide = zp::WidePath(root_ / zp::PathFromUtf8(name));
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES) << name;
    EXPECT_EQ(zp::NativePath(wide).filename(), zp::PathFromUtf8(name));
  }
  std::vector<std::string> listed;
  for (const auto& entry : fs::directory_iterator(root_)) {
    const std::string name = zp::Utf8FromPath(entry.path().filename());
    if (name == "sub") continue;
    listed.push_back(name);
    std::ifstream in(entry.path(), std::ios::binary);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, name) << "the file of that name";
  }
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected(std::begin(names), std::end(names));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
}

TEST_F(TempFolder, AttributesTellFilesFromFoldersAndNameTheMissingPart) {
  Touch("clip.m2t");
  std::wstring file = Wide("clip.m2t");
  ASSERT_NE(file.find(L'\\'), std::wstring::npos);
  DWORD attributes = GetFileAttributesW(file.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  attributes = GetFileAttributesW(Wide("sub").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

  EXPECT_FAILS_WITH(GetFileAttributesW(Wide("absent.m2t").c_str()), INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS_WITH(GetFileAttributesW((Wide("nowhere") + L"\\absent.m2t").c_str()), INVALID_FILE_ATTRIBUTES,
                    ERROR_PATH_NOT_FOUND);
}

TEST_F(TempFolder, DeleteRefusesFoldersAndReadOnlyFiles) {
  Touch("clip.m2t");
  EXPECT_TRUE(DeleteFileW(Wide("clip.m2t").c_str()));
  EXPECT_FALSE(fs::exists(root_ / "clip.m2t"));
  EXPECT_FAILS_WITH(DeleteFileW(Wide("clip.m2t").c_str()), FALSE, ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS_WITH(DeleteFileW((Wide("nowhere") + L"\\clip.m2t").c_str()), FALSE, ERROR_PATH_NOT_FOUND);
  EXPECT_FAILS_WITH(DeleteFileW(Wide("sub").c_str()), FALSE, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::is_directory(root_ / "sub"));

  Touch("locked.m2t");
  fs::permissions(root_ / "locked.m2t", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_NE(GetFileAttributesW(Wide("locked.m2t").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FAILS_WITH(DeleteFileW(Wide("locked.m2t").c_str()), FALSE, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::exists(root_ / "locked.m2t"));
}

// Two removers over one tree: each finds entries the other took between its
// listing and its removal. Both must end, without an error, and between them
// remove every entry (Windows may let both delete one file: a name stays
// until its last handle closes).
TEST_F(TempFolder, RemovingATreeThatVanishesMeanwhileEndsAndLeavesNothing) {
  const fs::path tree = root_ / "tree";
  std::uintmax_t entries = 1;
  for (int branch = 0; branch < 8; ++branch) {
    const fs::path folder = tree / ("branch-" + std::to_string(branch)) / "leaf";
    fs::create_directories(folder);
    entries += 2;
    for (int file = 0; file < 40; ++file) std::ofstream(folder / ("f" + std::to_string(file))) << "x";
    entries += 40;
  }
  std::uintmax_t removed[2] = {};
  std::error_code errors[2];
  std::thread other([&] { removed[1] = zp::RemoveTree(tree, errors[1]); });
  removed[0] = zp::RemoveTree(tree, errors[0]);
  other.join();
  EXPECT_FALSE(errors[0]) << errors[0].message();
  EXPECT_FALSE(errors[1]) << errors[1].message();
  EXPECT_GE(removed[0] + removed[1], entries);
  EXPECT_LE(std::max(removed[0], removed[1]), entries);
  EXPECT_FALSE(fs::exists(tree));

  std::error_code error;
  EXPECT_EQ(zp::RemoveTree(tree, error), 0u) << "nothing there is nothing to do";
  EXPECT_FALSE(error);
  Touch("sub/file");
  EXPECT_EQ(zp::RemoveTree(root_ / "sub" / "file", error), 1u) << "a file is removed as it is";
  EXPECT_FALSE(error);
}

TEST(Text, LstrcmpIsNullSafeAndOrdersLikeWindows) {
  struct Case {
    const wchar_t *a, *b;
    int order;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0}, {nullptr, L"", -1}, {L"", nullptr, 1}, {L"HXQ-ZL10", L"HXQ-ZL10", 0},
      {L"abc", L"abd", -1}, {L"abd", L"abc", 1}, {L"ab", L"abc", -1},
      // Letters before case: "a" < "B" although 'a' > 'B' in code order; for
      // the same letter lower case comes first.
      {L"a", L"B", -1}, {L"a", L"A", -1}, {L"A", L"a", 1}, {L"Zelto", L"zelto", 1},
      // Digits before letters, punctuation before digits.
      {L"9", L"a", -1}, {L"_", L"0", -1}, {L"{", L"0", -1},
      // Accented letters sort with their letter; hyphens count last.
      {L"\u00e9", L"f", -1}, {L"e", L"\u00e9", -1}, {L"coop", L"co-op", -1}, {L"a-b", L"ab", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lstrcmpW(c.a, c.b), c.order) << (c.a ? zp::ToUtf8(c.a) : "null") << " vs "
                                           << (c.b ? zp::ToUtf8(c.b) : "null");
  }
  EXPECT_EQ(lstrcmpiW(L"Zelto", L"zELTO"), 0);
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);  // the process's own module
}
