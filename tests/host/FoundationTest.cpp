// Time codes, folders, files, temporary names and settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/foundation/OxFile.h"
#include "host/foundation/OxFolder.h"
#include "host/foundation/OxTemporaryNameCreator.h"
#include "host/foundation/OxTimeCode.h"
#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"

using namespace Orvex;
namespace fs = std::filesystem;
using zelto::platform::NativePath;
using zelto::platform::WidePath;

namespace {

// A fresh directory under the system's temporary one, removed afterwards.
class ScratchDir : public ::testing::Test {
protected:
  void SetUp() override {
    OxString name;
    fs::path base = fs::temp_directory_path();
    ASSERT_TRUE(OxTemporaryNameCreator::CreateTempFileName(OxString(WidePath(base).c_str()), L"hostt", L"",
                                                           name));
    dir = NativePath(name.GetStdString());
    fs::remove(dir);
    fs::create_directory(dir);
    wide = WidePath(dir);
  }
  void TearDown() override {
    std::error_code ec;
    zelto::platform::RemoveTree(dir, ec);
  }
  OxString at(const std::wstring& leaf) const { return OxString((wide + L"\\" + leaf).c_str()); }
  void write(const std::wstring& leaf, const std::string& bytes) const {
    std::ofstream(NativePath(at(leaf).GetStdString()), std::ios::binary) << bytes;
  }
  std::string read(const OxString& path) const {
    std::ifstream in(NativePath(path.GetStdString()), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir;
  std::wstring wide;
};

using FileTest = ScratchDir;

}  // namespace

TEST(OxTimeCodeTest, ParsesEightDigitsAndRejectsEverythingElse) {
  OxUnique::GetInstance().SetAppVideoSystem(1);
  OxTimeCode tc;
  tc.Reset();
  EXPECT_EQ(tc.GetFrameRate(), 25);
  ASSERT_TRUE(tc.SetTimeCode(L"01234524"));
  EXPECT_EQ(tc.ToString(), OxString(L"01:23:45:24"));
  for (const wchar_t* bad : {L"0123452", L"012345240", L"0123a524", L"01604524", L"01236024", L"01234525",
                             L"", L" 1234524", L"-1234524"}) {
    EXPECT_FALSE(tc.SetTimeCode(bad)) << "accepted " << zelto::platform::ToUtf8(bad);
    EXPECT_EQ(tc.ToString(), OxString(L"01:23:45:24")) << "changed by a rejected text";
  }
  EXPECT_FALSE(tc.SetTimeCode(static_cast<const wchar_t*>(nullptr)));

  OxUnique::GetInstance().SetAppVideoSystem(0);
  tc.Reset();
  EXPECT_EQ(tc.GetFrameRate(), 30);
  EXPECT_TRUE(tc.SetTimeCode(L"00000029"));
  EXPECT_FALSE(tc.SetTimeCode(L"00000030"));
  // With the rate unknown, any two-digit frame count is taken.
  tc.ResetNoFrameRate();
  EXPECT_EQ(tc.GetFrameRate(), 0);
  EXPECT_TRUE(tc.SetTimeCode(L"99595999"));
  EXPECT_EQ(tc.GetHours(), 99);
  EXPECT_EQ(tc.GetFrames(), 99);
  OxUnique::GetInstance().ResetToDefaults();
}

TEST(OxTimeCodeTest, FromDriverRecordAndOrder) {
  __MIDL___MIDL_itf_plgdefs_0000_0001 record{1, 2, 3, 4, 0};
  OxTimeCode fromRecord(record);
  EXPECT_EQ(fromRecord.ToString(), OxString(L"01:02:03:04"));
  EXPECT_FALSE(fromRecord.IsNoTimeCode());
  record.flags = kTimeCodeRecordNoTimeCode;
  EXPECT_TRUE(OxTimeCode(record).IsNoTimeCode());
  OxTimeCode later;
  ASSERT_TRUE(later.SetTimeCode(L"01020305"));
  EXPECT_LT(fromRecord, later);
  ASSERT_TRUE(later.SetTimeCode(L"00590000"));
  EXPECT_GT(fromRecord, later);
}

TEST_F(FileTest, FolderReportsSpaceAndLargeFileSupport) {
  OxFolder folder{OxString(wide.c_str())};
  EXPECT_GT(folder.GetFreeDiskSpace(), 0u);
  EXPECT_TRUE(folder.IsNTFSFileSystem());  // the test machine's temp volume is not FAT
  OxFolder trailing{OxString((wide + L"\\").c_str())};
  EXPECT_TRUE(trailing.IsNTFSFileSystem());
  EXPECT_GT(trailing.GetFreeDiskSpace(), 0u);
  OxFolder missing{at(L"no-such-folder")};
  EXPECT_FALSE(missing.IsNTFSFileSystem());
  EXPECT_EQ(missing.GetFreeDiskSpace(), 0u);
}

TEST_F(FileTest, CopyNeverOverwritesAndRemovalFollowsTheMark) {
  write(L"a.bin", std::string("hello\0world", 11));
  write(L"taken.bin", "keep");
  OxFile a(at(L"a.bin"));
  EXPECT_EQ(a.GetFileSize(), 11);
  EXPECT_EQ(OxFile(at(L"missing")).GetFileSize(), -1);
  EXPECT_EQ(OxFile(OxString(wide.c_str())).GetFileSize(), -1);  // a folder is not a file

  std::unique_ptr<OxFile> copy(a.CopyTo(at(L"b.bin")));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(read(copy->GetPath()), std::string("hello\0world", 11));
  copy.reset();  // a copy is kept when its object goes
  EXPECT_TRUE(OxFile(at(L"b.bin")).Exists());

  EXPECT_EQ(a.CopyTo(at(L"taken.bin")), nullptr);
  EXPECT_EQ(read(at(L"taken.bin")), "keep");
  EXPECT_EQ(OxFile(at(L"missing")).CopyTo(at(L"c.bin")), nullptr);
  EXPECT_FALSE(OxFile(at(L"c.bin")).Exists());

  {
    OxFile doomed(at(L"b.bin"));
    doomed.SetFileRemovedAfterDestroy(true);
  }
  EXPECT_FALSE(OxFile(at(L"b.bin")).Exists());
}

TEST_F(FileTest, TemporaryNamesAreUniqueUnderConcurrentCallers) {
  constexpr int kThreads = 6, kEach = 40;
  std::vector<std::vector<std::wstring>> names(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        OxString name;
        if (OxTemporaryNameCreator::CreateTempFileName(OxString((wide + L"\\").c_str()), L"micdb", L"tmp", name))
          names[t].push_back(name.GetStdString());
      }
    });
  for (auto& thread : threads) thread.join();
  std::set<std::wstring> all;
  for (auto& list : names) all.insert(list.begin(), list.end());
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
  const std::wstring expectedStart = wide + L"\\micdb";
  for (const auto& name : all) {
    ASSERT_EQ(name.size(), expectedStart.size() + 8) << "folder\\prefixNNNN.tmp, one separator";
    EXPECT_EQ(name.compare(0, expectedStart.size(), expectedStart), 0);
    EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
    EXPECT_EQ(OxFile(OxString(name.c_str())).GetFileSize(), 0);
  }

  OxString untouched(L"same");
  EXPECT_FALSE(OxTemporaryNameCreator::CreateTempFileName(at(L"missing"), L"x", L"tmp", untouched));
  EXPECT_FALSE(OxTemporaryNameCreator::CreateTempFileName(OxString(wide.c_str()), L"..\\x", L"tmp", untouched));
  EXPECT_EQ(untouched, OxString(L"same"));
}

TEST(OxUniqueTest, SettingsSurviveConcurrentUseAndReset) {
  OxUnique& settings = OxUnique::GetInstance();
  EXPECT_FALSE(settings.GetTempFolder().GetPath().IsEmpty());
  std::thread writer([&] {
    for (int i = 0; i < 500; ++i) {
      settings.SetCaptureFolder(i % 2 ? L"C:\\one" : L"D:\\two\\");
      settings.SetScaptureStreamTimeOut(static_cast<DWORD>(i));
    }
  });
  for (int i = 0; i < 500; ++i) {
    OxString path = settings.GetCaptureFolder().GetPath();
    EXPECT_TRUE(path.IsEmpty() || path == OxString(L"C:\\one") || path == OxString(L"D:\\two\\") ||
                path == settings.GetTempFolder().GetPath());
  }
  writer.join();
  EXPECT_EQ(settings.GetCaptureFolder().GetPath(), OxString(L"C:\\one"));
  EXPECT_EQ(settings.GetScaptureStreamTimeOut(), 499u);
  settings.ResetToDefaults();
  EXPECT_EQ(settings.GetScaptureStreamTimeOut(), 10000u);
}
