// File attributes and deletion on wide backslash paths, string comparison
// and the module handle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/platform/PlatformTestSupport.h"

namespace fs = std::filesystem;
namespace zp = zelto::platform;

namespace {

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    // Named after the test: ctest runs tests in parallel processes.
    root_ = fs::temp_directory_path() /
            (std::string("zelto-files-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(root_, ec))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  // The Windows form of a path under the folder: wide, with backslashes.
  std::wstring Wide(const std::string& relative) const { return zp::WidePath(root_ / relative); }
  void Touch(const std::string& relative) { std::ofstream(root_ / relative) << "x"; }

  fs::path root_;
};

}  // namespace

TEST_F(TempFolder, AttributesTellFilesFromFoldersAndNameTheMissingPart) {
  Touch("clip.m2t");
  fs::create_directory(root_ / "sub");
  std::wstring file = Wide("clip.m2t");
  ASSERT_NE(file.find(L'\\'), std::wstring::npos);

  DWORD attributes = GetFileAttributesW(file.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  attributes = GetFileAttributesW(Wide("sub").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

  SetLastError(0);
  EXPECT_EQ(GetFileAttributesW(Wide("absent.m2t").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(GetFileAttributesW((Wide("nowhere") + L"\\absent.m2t").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(TempFolder, DeleteRefusesFoldersAndReadOnlyFiles) {
  Touch("clip.m2t");
  EXPECT_TRUE(DeleteFileW(Wide("clip.m2t").c_str()));
  EXPECT_FALSE(fs::exists(root_ / "clip.m2t"));
  SetLastError(0);
  EXPECT_FALSE(DeleteFileW(Wide("clip.m2t").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_FALSE(DeleteFileW((Wide("nowhere") + L"\\clip.m2t").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  fs::create_directory(root_ / "sub");
  SetLastError(0);
  EXPECT_FALSE(DeleteFileW(Wide("sub").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::is_directory(root_ / "sub"));

  Touch("locked.m2t");
  fs::permissions(root_ / "locked.m2t", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_NE(GetFileAttributesW(Wide("locked.m2t").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  SetLastError(0);
  EXPECT_FALSE(DeleteFileW(Wide("locked.m2t").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::exists(root_ / "locked.m2t"));
}

TEST(Text, LstrcmpIsNullSafeAndOrdersLikeWindows) {
  EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
  EXPECT_EQ(lstrcmpW(nullptr, L""), -1);
  EXPECT_EQ(lstrcmpW(L"", nullptr), 1);
  EXPECT_EQ(lstrcmpW(L"HXQ-ZL10", L"HXQ-ZL10"), 0);
  EXPECT_EQ(lstrcmpW(L"abc", L"abd"), -1);
  EXPECT_EQ(lstrcmpW(L"abd", L"abc"), 1);
  EXPECT_EQ(lstrcmpW(L"ab", L"abc"), -1);
  // Letters before case: "a" < "B" although 'a' > 'B' in code order;
  // for the same letter lower case comes first.
  EXPECT_EQ(lstrcmpW(L"a", L"B"), -1);
  EXPECT_EQ(lstrcmpW(L"a", L"A"), -1);
  EXPECT_EQ(lstrcmpW(L"A", L"a"), 1);
  EXPECT_EQ(lstrcmpW(L"Zelto", L"zelto"), 1);
  // Digits before letters, punctuation before digits.
  EXPECT_EQ(lstrcmpW(L"9", L"a"), -1);
  EXPECT_EQ(lstrcmpW(L"_", L"0"), -1);
  EXPECT_EQ(lstrcmpW(L"{", L"0"), -1);
  // Accented letters sort with their letter; hyphens count last.
  EXPECT_EQ(lstrcmpW(L"\u00e9", L"f"), -1);
  EXPECT_EQ(lstrcmpW(L"e", L"\u00e9"), -1);
  EXPECT_EQ(lstrcmpW(L"coop", L"co-op"), -1);
  EXPECT_EQ(lstrcmpW(L"a-b", L"ab"), 1);
  EXPECT_EQ(lstrcmpiW(L"Zelto", L"zELTO"), 0);
}

TEST(Modules, NullNamesTheProcess) {
  HMODULE process = GetModuleHandleW(nullptr);
  EXPECT_NE(process, nullptr);
  EXPECT_EQ(GetModuleHandleW(nullptr), process);
}
