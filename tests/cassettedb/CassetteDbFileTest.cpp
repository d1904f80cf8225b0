// Compaction of the database file: what it produces, and that a failure
// leaves both files as they were.
#include <gtest/gtest.h>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "platform/PlatformExtras.h"
#include "tests/cassettedb/TestSupport.h"

namespace {

using namespace Orvex;
using cassettedb_test::DumpDatabase;
using cassettedb_test::ReadBytes;
using cassettedb_test::ScratchDir;
using cassettedb_test::WriteBytes;
namespace fs = std::filesystem;

OxString Wide(const fs::path& p) { return OxString(zelto::platform::WidePath(p).c_str()); }

class CompactDatabaseTest : public ::testing::Test {
 protected:
  // A database with many pictured records, most of them then removed, so
  // that it holds free pages.
  void SetUp() override {
    ASSERT_TRUE(CreateMicDatabase(source));
    IMicDatabaseManager* m = CreateMicDatabaseManager();
    ASSERT_TRUE(m->Open(source, 0));
    ASSERT_TRUE(m->SelectCassette(L"tape", true));
    std::vector<std::uint8_t> bytes(30000, 0x5A);
    std::vector<long> ids;
    for (int i = 0; i < 20; ++i) {
      _OxMicDbRecInfo r;
      r.startTimeCode = static_cast<std::uint32_t>(i);
      r.text = L"scene";
      ASSERT_TRUE(m->AddRecInfo(r));
      bytes[0] = static_cast<std::uint8_t>(i);
      OxBitmap picture;
      picture.SetBitmap(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      ASSERT_TRUE(m->SetRecInfoPicture(r.id, picture, true));
      ids.push_back(r.id);
    }
    for (std::size_t i = 2; i < ids.size(); ++i) ASSERT_TRUE(m->RemoveRecInfo(ids[i]));
    m->Close();
    m->Destroy();
    sourceBytes = ReadBytes(sourceFile);
  }

  ScratchDir dir;
  fs::path sourceFile = dir.file("micdb.mdb");
  fs::path destinationFile = dir.file("micdb1234.tmp");
  OxString source = Wide(sourceFile);
  OxString destination = Wide(destinationFile);
  std::vector<char> sourceBytes;
};

TEST_F(CompactDatabaseTest, CopiesTheContentIntoASmallerFile) {
  // The temporary-name creator leaves an empty file: it must be accepted.
  WriteBytes(destinationFile, {});
  ASSERT_TRUE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_EQ(ReadBytes(sourceFile), sourceBytes);
  EXPECT_EQ(DumpDatabase(destinationFile), DumpDatabase(sourceFile));
  EXPECT_LT(fs::file_size(destinationFile), sourceBytes.size() / 2);

  IMicDatabaseManager* m = CreateMicDatabaseManager();
  ASSERT_TRUE(m->Open(destination, 0));
  EXPECT_EQ(m->GetRecInfoCount(), 2);
  m->Destroy();

  // Into a name that does not exist yet, too.
  fs::path fresh = dir.file("fresh.tmp");
  OxString freshName = Wide(fresh);
  EXPECT_TRUE(CompactDatabase(&source, &freshName, nullptr, nullptr));
  EXPECT_EQ(DumpDatabase(fresh), DumpDatabase(sourceFile));
}

TEST_F(CompactDatabaseTest, RefusesWhatWouldLoseData) {
  // A destination with content is never overwritten, not even by itself.
  const std::vector<char> precious = {'k', 'e', 'e', 'p'};
  WriteBytes(destinationFile, precious);
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_EQ(ReadBytes(destinationFile), precious);
  EXPECT_FALSE(CompactDatabase(&source, &source, nullptr, nullptr));
  EXPECT_FALSE(CompactDatabase(nullptr, &destination, nullptr, nullptr));
  EXPECT_FALSE(CompactDatabase(&source, nullptr, nullptr, nullptr));
  EXPECT_EQ(ReadBytes(sourceFile), sourceBytes);

  // Destination cannot be written: nothing is left behind.
  OxString unwritable = Wide(dir.file("missing-dir") / "x.tmp");
  EXPECT_FALSE(CompactDatabase(&source, &unwritable, nullptr, nullptr));
  EXPECT_FALSE(fs::exists(dir.file("missing-dir")));
  EXPECT_EQ(ReadBytes(sourceFile), sourceBytes);
}

TEST_F(CompactDatabaseTest, ADamagedSourceFailsAndStaysAsItWas) {
  auto damaged = sourceBytes;
  for (std::size_t i = 4096; i < damaged.size(); i += 3) damaged[i] = static_cast<char>(i);
  WriteBytes(sourceFile, damaged);
  WriteBytes(destinationFile, {});
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_EQ(ReadBytes(sourceFile), damaged);
  EXPECT_TRUE(fs::exists(destinationFile));
  EXPECT_EQ(fs::file_size(destinationFile), 0u);

  fs::remove(destinationFile);
  WriteBytes(sourceFile, std::vector<char>(sourceBytes.begin(), sourceBytes.begin() + 6000));
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_FALSE(fs::exists(destinationFile));

  fs::remove(sourceFile);
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_FALSE(fs::exists(sourceFile));
}

}  // namespace
