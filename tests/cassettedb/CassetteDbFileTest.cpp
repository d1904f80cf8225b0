// Creating and compacting the database file: what is produced, and that a
// refusal or failure leaves every file as it was.
#include <gtest/gtest.h>
#include <chrono>
#include <memory>
#include <sqlite3.h>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/cassettedb/MicStore.h"
#include "host/foundation/OxFile.h"
#include "platform/PlatformExtras.h"
#include "tests/cassettedb/TestSupport.h"

namespace {

using namespace Orvex;
using cassettedb_test::DumpDatabase;
using cassettedb_test::ReadBytes;
using cassettedb_test::WriteBytes;
namespace fs = std::filesystem;

OxString Wide(const fs::path& p) { return OxString(zelto::platform::WidePath(p).c_str()); }

class CassetteDbFileTest : public ::testing::Test {
 protected:
  // 20 pictured records, 18 of them then removed: the file holds free pages.
  void SetUp() override {
    ASSERT_TRUE(CreateMicDatabase(source));
    IMicDatabaseManager* m = CreateMicDatabaseManager();
    ASSERT_TRUE(m->Open(source, 0) && m->SelectCassette(L"tape", true));
    std::vector<long> ids;
    for (std::uint8_t i = 0; i < 20; ++i) {
      _OxMicDbRecInfo r;
      r.startTimeCode = i;
      OxBitmap picture(30000);
      picture.GetBitmapBuffer()[0] = i;
      ASSERT_TRUE(m->AddRecInfo(r) && m->SetRecInfoPicture(r.id, picture, true));
      ids.push_back(r.id);
    }
    for (std::size_t i = 2; i < ids.size(); ++i) ASSERT_TRUE(m->RemoveRecInfo(ids[i]));
    m->Destroy();
    sourceBytes = ReadBytes(sourceFile);
  }

  cassettedb_test::ScratchDir dir;
  fs::path sourceFile = dir.file("micdb.mdb");
  fs::path destinationFile = dir.file("micdb1234.tmp");
  OxString source = Wide(sourceFile);
  OxString destination = Wide(destinationFile);
  std::vector<char> sourceBytes;
};

TEST_F(CassetteDbFileTest, CompactionCopiesTheContentIntoASmallerFile) {
  // A temporary-name creator leaves an empty file: it must be accepted.
  WriteBytes(destinationFile, {});
  ASSERT_TRUE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_EQ(ReadBytes(sourceFile), sourceBytes);
  EXPECT_EQ(DumpDatabase(destinationFile), DumpDatabase(sourceFile));
  EXPECT_LT(fs::file_size(destinationFile), sourceBytes.size() / 2);
  IMicDatabaseManager* m = CreateMicDatabaseManager();
  EXPECT_TRUE(m->Open(destination, 0));
  EXPECT_EQ(m->GetRecInfoCount(), 2);
  m->Destroy();
}

TEST_F(CassetteDbFileTest, CreationAndCompactionRefuseOrFailWithoutLoss) {
  EXPECT_TRUE(CreateMicDatabase(source));  // an existing database is accepted as it is
  EXPECT_EQ(ReadBytes(sourceFile), sourceBytes);
  // Another program's database is neither adopted nor changed.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(zelto::platform::Utf8FromPath(destinationFile).c_str(), &raw), SQLITE_OK);
  sqlite3_exec(raw, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  const auto foreign = ReadBytes(destinationFile);
  EXPECT_FALSE(CreateMicDatabase(destination));
  EXPECT_EQ(ReadBytes(destinationFile), foreign);
  EXPECT_FALSE(CreateMicDatabase(Wide(dir.path())));

  const std::vector<char> precious = {'k', 'e', 'e', 'p'};
  WriteBytes(destinationFile, precious);
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_EQ(ReadBytes(destinationFile), precious);
  EXPECT_FALSE(CompactDatabase(&source, &source, nullptr, nullptr));
  EXPECT_FALSE(CompactDatabase(nullptr, &destination, nullptr, nullptr));
  OxString unwritable = Wide(dir.file("missing-dir") / "x.tmp");
  EXPECT_FALSE(CompactDatabase(&source, &unwritable, nullptr, nullptr));
  EXPECT_FALSE(fs::exists(dir.file("missing-dir")));
  EXPECT_EQ(ReadBytes(sourceFile), sourceBytes);

  // A damaged source: it stays as it is, and so does the empty destination.
  auto damaged = sourceBytes;
  for (std::size_t i = 4096; i < damaged.size(); i += 3) damaged[i] = static_cast<char>(i);
  WriteBytes(sourceFile, damaged);
  WriteBytes(destinationFile, {});
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_EQ(ReadBytes(sourceFile), damaged);
  EXPECT_EQ(fs::file_size(destinationFile), 0u);
  // A truncated source, and a destination that did not exist: none appears.
  fs::remove(destinationFile);
  WriteBytes(sourceFile, std::vector<char>(sourceBytes.begin(), sourceBytes.begin() + 6000));
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr));
  EXPECT_FALSE(fs::exists(destinationFile));
}

}  // namespace

namespace {

// The file is replaced by its compacted copy (deleted and copied anew): a
// connection still open on it would write into the deleted file.
TEST_F(CassetteDbFileTest, CompactionWaitsForTheFileToBeItsAloneAndHoldsItUntilReplaced) {
  IMicDatabaseManager* user = CreateMicDatabaseManager();
  ASSERT_TRUE(user->Open(source, 0));
  WriteBytes(destinationFile, {});
  EXPECT_FALSE(CompactDatabase(&source, &destination, nullptr, nullptr)) << "another connection has it open";
  EXPECT_EQ(ReadBytes(sourceFile), sourceBytes);
  EXPECT_FALSE(fs::exists(destinationFile)) << "the empty placeholder is not left behind";
  user->Destroy();

  WriteBytes(destinationFile, {});
  ASSERT_TRUE(CompactDatabase(&source, &destination, nullptr, nullptr));
  // Until the copy is gone (it has replaced the file), nobody else compacts.
  const OxString other = Wide(dir.file("micdb5678.tmp"));
  EXPECT_FALSE(CompactDatabase(&source, &other, nullptr, nullptr));
  // This process using the file again is never held up by its own compaction.
  IMicDatabaseManager* again = CreateMicDatabaseManager();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(again->Open(source, 0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(again->GetRecInfoCount(), 2);
  again->Destroy();
}

// The device replaces the file by its compacted copy with a delete and a
// copy. Killed at any point of that, the program leaves the next creator of
// the file (every device's initialisation) a database with every record.
TEST_F(CassetteDbFileTest, AReplacementCutShortByAKillIsFinishedByTheNextCreator) {
  const struct {
    const char* killed;
    bool deleted;  // the old file was gone
    bool copied;   // the copy had taken its place
  } cases[] = {
      {"before the delete", false, false},
      {"after the delete", true, false},
      {"after the copy", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.killed);
    WriteBytes(sourceFile, sourceBytes);
    WriteBytes(destinationFile, {});
    ASSERT_TRUE(CompactDatabase(&source, &destination, nullptr, nullptr));
    if (c.deleted) fs::remove(sourceFile);
    if (c.copied) fs::copy_file(destinationFile, sourceFile);

    ASSERT_TRUE(CreateMicDatabase(source));
    IMicDatabaseManager* m = CreateMicDatabaseManager();
    EXPECT_TRUE(m->Open(source, 0) && m->SelectCassette(L"tape", false));
    EXPECT_EQ(m->GetRecInfoCount(), 2);
    m->Destroy();
    EXPECT_FALSE(fs::exists(destinationFile)) << "the killed program's copy is not left behind";
    EXPECT_FALSE(fs::exists(dir.file("micdb.mdb.replacing")));
  }
}

// A copy made for a file is either there whole under its name or not there.
TEST_F(CassetteDbFileTest, ACopyTakesItsNameOnlyWholeAndNeverOverAFile) {
  const OxFile from(source);
  std::unique_ptr<OxFile> copy(from.CopyTo(destination));
  ASSERT_TRUE(copy);
  EXPECT_EQ(ReadBytes(destinationFile), sourceBytes);
  const std::vector<char> there = {'t', 'h', 'e', 'r', 'e'};
  WriteBytes(destinationFile, there);
  EXPECT_FALSE(std::unique_ptr<OxFile>(from.CopyTo(destination)));
  EXPECT_EQ(ReadBytes(destinationFile), there);
  // A copy a killed program left half-made under its working name is no obstacle.
  fs::remove(destinationFile);
  WriteBytes(dir.file("micdb1234.tmp.copying"), there);
  EXPECT_TRUE(std::unique_ptr<OxFile>(from.CopyTo(destination)));
  EXPECT_EQ(ReadBytes(destinationFile), sourceBytes);
  EXPECT_FALSE(fs::exists(dir.file("micdb1234.tmp.copying")));
}

}  // namespace
