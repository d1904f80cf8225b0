// The storage layer on its own: how cassettes stay apart, and that a write
// failing at any point leaves the file exactly as it was.
#include "host/cassettedb/MicStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

#include "tests/cassettedb/TestSupport.h"

namespace {

using Orvex::micdb::MicStore;
using Orvex::micdb::Picture;
using Orvex::micdb::SqliteError;
using Orvex::micdb::StoredRecord;
using cassettedb_test::Bytes;
using cassettedb_test::DumpDatabase;
using cassettedb_test::ScratchDir;

StoredRecord Scene(std::uint32_t start, const wchar_t* text) {
  StoredRecord r;
  r.startTimeCode = start;
  r.text = text;
  return r;
}

class MicStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MicStore::CreateDatabase(db));
    store.open(db, false);
  }
  ScratchDir dir;
  std::filesystem::path db = dir.file("micdb.mdb");
  MicStore store;
};

TEST_F(MicStoreTest, ACassetteCannotReachAnothersRecords) {
  ASSERT_TRUE(store.selectCassette(L"A", true));
  const auto a = store.addRecord(Scene(1, L"a"));
  ASSERT_TRUE(a);
  ASSERT_TRUE(store.setPicture(*a, Picture::First, Bytes(10, 3), true));
  ASSERT_TRUE(store.selectCassette(L"B", true));
  const std::string before = DumpDatabase(db);

  EXPECT_EQ(store.recordCount(), 0);
  EXPECT_FALSE(store.record(*a));
  EXPECT_FALSE(store.picture(*a, Picture::First));
  EXPECT_FALSE(store.setPicture(*a, Picture::First, Bytes(10, 9), true));
  EXPECT_FALSE(store.setRecordFlag(*a, true));
  EXPECT_FALSE(store.setRecordText(*a, L"x"));
  EXPECT_FALSE(store.removeRecord(*a));
  ASSERT_TRUE(store.removeAllRecords());
  EXPECT_FALSE(store.selectCassette(L"C", false));
  EXPECT_FALSE(store.selectCassette(L"", true));
  EXPECT_EQ(store.currentIdentity(), L"B");
  EXPECT_EQ(before, DumpDatabase(db));

  // Removing the current cassette leaves none current; the other survives.
  ASSERT_TRUE(store.removeCassette(L"B"));
  EXPECT_FALSE(store.currentIdentity());
  EXPECT_FALSE(store.title());
  EXPECT_FALSE(store.addRecord(Scene(2, L"orphan")));
  EXPECT_FALSE(store.removeCassette(L"B"));
  EXPECT_EQ(store.cassetteIdentities(), std::vector<std::wstring>{L"A"});
  ASSERT_TRUE(store.selectCassette(L"A", false));
  EXPECT_EQ(store.picture(*a, Picture::First), Bytes(10, 3));

  // Without replace a stored picture stays; an empty one removes it.
  EXPECT_FALSE(store.setPicture(*a, Picture::First, Bytes(10, 4), false));
  EXPECT_EQ(store.picture(*a, Picture::First), Bytes(10, 3));
  EXPECT_TRUE(store.setPicture(*a, Picture::First, {}, false));
  EXPECT_FALSE(store.record(*a)->hasFirstPicture);
  // A removed record's id is never handed out again.
  ASSERT_TRUE(store.removeRecord(*a));
  EXPECT_GT(store.addRecord(Scene(1, L"b")).value_or(0), *a);
}

// Records list in tape order, which is not time-code order once the time
// code starts again after blank tape; a database of the first version, which
// listed by time code, is read as it was and migrated where it is written.
TEST_F(MicStoreTest, RecordsListInTapeOrderAndAFirstVersionDatabaseIsMigrated) {
  Orvex::micdb::MemoryContents memory;
  memory.identity = L"T";
  for (std::uint32_t start : {36000u, 0u, 900u}) memory.records.push_back({0, Scene(start, L"")});
  store.loadCassette(memory);
  const auto starts = [&](MicStore& s) {
    std::vector<std::uint32_t> out;
    for (const StoredRecord& r : s.records().value_or(std::vector<StoredRecord>{})) out.push_back(r.startTimeCode);
    return out;
  };
  EXPECT_EQ(starts(store), (std::vector<std::uint32_t>{36000, 0, 900}));
  // A record added by hand follows the tape's record whose time code it
  // follows.
  ASSERT_TRUE(store.addRecord(Scene(5, L"by hand")));
  EXPECT_EQ(starts(store), (std::vector<std::uint32_t>{36000, 0, 5, 900}));

  // Turn the file back into the first version: no tape order column.
  store.close();
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(zelto::platform::Utf8FromPath(db).c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "DROP INDEX rec_info_in_tape_order; ALTER TABLE rec_info DROP COLUMN tape_order; "
                           "CREATE INDEX rec_info_by_cassette ON rec_info(cassette_id, start_time_code, id); "
                           "PRAGMA user_version = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
  }
  MicStore reader;
  reader.open(db, true);
  EXPECT_EQ(starts(reader), (std::vector<std::uint32_t>{0, 5, 900, 36000})) << "read-only: as it was listed";
  reader.close();

  store.open(db, false);
  EXPECT_EQ(starts(store), (std::vector<std::uint32_t>{0, 5, 900, 36000})) << "migrated in the order it had";
  memory.records.insert(memory.records.begin() + 2, {0, Scene(5, L"")});
  store.loadCassette(memory);
  EXPECT_EQ(starts(store), (std::vector<std::uint32_t>{36000, 0, 5, 900})) << "tape order from the next load on";
  MicStore again;
  again.open(db, false);
  EXPECT_EQ(starts(again), (std::vector<std::uint32_t>{36000, 0, 5, 900})) << "migrated once";
}

// Fault injection: cap the file's size at every page count from where it
// stands up to where the whole script fits. Each write must then either
// succeed or leave the file unchanged, byte for byte in content.
TEST_F(MicStoreTest, AWriteThatRunsOutOfSpaceChangesNothing) {
  ASSERT_TRUE(store.selectCassette(L"base", true));
  ASSERT_TRUE(store.addRecord(Scene(1, L"base")));
  store.close();
  const auto pristine = cassettedb_test::ReadBytes(db);

  std::vector<std::function<bool(MicStore&)>> script = {
      [](MicStore& s) { return s.selectCassette(std::wstring(6000, L'i'), true); },
      [](MicStore& s) { return s.setTitle(std::wstring(12000, L'T')); },
      [](MicStore& s) { return s.addRecord(Scene(5, L"one")).has_value(); },
      [](MicStore& s) { return s.setPicture(s.records()->at(0).id, Picture::First, Bytes(20000, 4), true); },
      [](MicStore& s) { return s.setPicture(s.records()->at(0).id, Picture::Second, Bytes(9000, 5), true); },
      [](MicStore& s) { return s.addRecord(Scene(6, std::wstring(5000, L'n').c_str())).has_value(); },
      [](MicStore& s) { return s.removeCassette(L"base"); },
  };

  int faults = 0;
  bool completed = false;
  for (int extraPages = 0; extraPages < 64 && !completed; ++extraPages) {
    cassettedb_test::WriteBytes(db, pristine);
    MicStore s;
    s.open(db, false);
    s.execForTesting(("PRAGMA max_page_count = " + std::to_string(pristine.size() / 4096 + extraPages)).c_str());
    completed = true;
    for (std::size_t step = 0; step < script.size(); ++step) {
      const std::string before = DumpDatabase(db);
      try {
        ASSERT_TRUE(script[step](s)) << "step " << step;
      } catch (const SqliteError& e) {
        ASSERT_EQ(e.code(), SQLITE_FULL) << e.what();
        EXPECT_EQ(before, DumpDatabase(db)) << "step " << step << " with " << extraPages << " extra pages";
        ++faults;
        completed = false;
        break;
      }
    }
  }
  EXPECT_TRUE(completed);
  EXPECT_GT(faults, 3);
}

// A file left in WAL (by another program, or an older one of ours) is put
// back to a rollback journal by the first writer, so that no write-ahead
// log lies beside it when a compaction deletes and copies the file; every
// write is synced in full.
TEST_F(MicStoreTest, AWriterKeepsARollbackJournalAndSyncsInFull) {
  store.close();
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(db.string().c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  ASSERT_EQ(cassettedb_test::ReadBytes(db)[18], 2) << "the file is in WAL";

  store.open(db, false);
  EXPECT_EQ(store.queryIntForTesting("PRAGMA synchronous"), 2);
  ASSERT_TRUE(store.selectCassette(L"tape", true));
  store.close();
  EXPECT_EQ(cassettedb_test::ReadBytes(db)[18], 1) << "back to a rollback journal";
  EXPECT_FALSE(std::filesystem::exists(db.string() + "-wal"));
}

}  // namespace
