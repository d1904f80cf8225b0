// The storage layer on its own: what it keeps, how cassettes stay apart, and
// that a write failing at any point leaves the file exactly as it was.
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
using cassettedb_test::DumpDatabase;
using cassettedb_test::ScratchDir;

std::vector<std::uint8_t> Bytes(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
  return out;
}

StoredRecord Scene(std::uint32_t start, const wchar_t* text) {
  StoredRecord r;
  r.recordedAt = 1700000000 + start;
  r.startTimeCode = start;
  r.endTimeCode = start + 0x100;
  r.duration = 1000;
  r.text = text;
  return r;
}

class MicStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MicStore::CreateFile(db));
    store.open(db, false);
  }
  ScratchDir dir;
  std::filesystem::path db = dir.file("micdb.mdb");
  MicStore store;
};

TEST_F(MicStoreTest, KeepsEverythingAcrossReopening) {
  ASSERT_TRUE(store.selectCassette(L"tape-\u00e9\u4e00", true));
  ASSERT_TRUE(store.setTitle(L"Holiday \u00c5"));
  ASSERT_TRUE(store.setText(L""));
  ASSERT_TRUE(store.setCleaning(true));
  // Added out of tape order: the listing follows the start time code.
  const auto late = store.addRecord(Scene(0x00020000, L"late"));
  const auto early = store.addRecord(Scene(0x00010000, L"early"));
  ASSERT_TRUE(late && early);
  EXPECT_NE(*late, *early);
  ASSERT_TRUE(store.setPicture(*early, Picture::First, Bytes(70000, 1), true));
  ASSERT_TRUE(store.setPicture(*early, Picture::Second, Bytes(3, 2), true));
  ASSERT_TRUE(store.setRecordFlag(*late, true));

  store.close();
  MicStore again;
  again.open(db, true);
  EXPECT_EQ(again.currentIdentity(), L"tape-\u00e9\u4e00");
  EXPECT_EQ(again.title(), L"Holiday \u00c5");
  EXPECT_EQ(again.text(), L"");
  EXPECT_EQ(again.isCleaning(), true);
  const auto records = again.records();
  ASSERT_TRUE(records);
  ASSERT_EQ(records->size(), 2u);
  EXPECT_EQ((*records)[0].id, *early);
  EXPECT_EQ((*records)[0].text, L"early");
  EXPECT_EQ((*records)[0].recordedAt, 1700000000 + 0x00010000);
  EXPECT_TRUE((*records)[0].hasFirstPicture);
  EXPECT_TRUE((*records)[0].hasSecondPicture);
  EXPECT_FALSE((*records)[0].flag);
  EXPECT_EQ((*records)[1].id, *late);
  EXPECT_FALSE((*records)[1].hasFirstPicture);
  EXPECT_TRUE((*records)[1].flag);
  EXPECT_EQ(again.picture(*early, Picture::First), Bytes(70000, 1));
  EXPECT_EQ(again.picture(*early, Picture::Second), Bytes(3, 2));
  EXPECT_EQ(again.picture(*late, Picture::First), std::vector<std::uint8_t>{});
  // A read-only connection refuses writes as a failure of the file, not a no.
  EXPECT_THROW(again.setTitle(L"x"), SqliteError);
}

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
}

TEST_F(MicStoreTest, PictureReplaceRulesAndRemovedIdsStayDead) {
  ASSERT_TRUE(store.selectCassette(L"A", true));
  const auto id = store.addRecord(Scene(1, L"a"));
  ASSERT_TRUE(id);
  EXPECT_TRUE(store.setPicture(*id, Picture::Second, Bytes(5, 1), false));
  EXPECT_FALSE(store.setPicture(*id, Picture::Second, Bytes(5, 2), false));
  EXPECT_EQ(store.picture(*id, Picture::Second), Bytes(5, 1));
  EXPECT_TRUE(store.setPicture(*id, Picture::Second, Bytes(5, 2), true));
  EXPECT_EQ(store.picture(*id, Picture::Second), Bytes(5, 2));
  EXPECT_TRUE(store.setPicture(*id, Picture::Second, {}, false));
  EXPECT_FALSE(store.record(*id)->hasSecondPicture);

  ASSERT_TRUE(store.removeRecord(*id));
  const auto next = store.addRecord(Scene(1, L"b"));
  ASSERT_TRUE(next);
  EXPECT_GT(*next, *id);
}

TEST_F(MicStoreTest, CreateFileLeavesExistingFilesAlone) {
  ASSERT_TRUE(store.selectCassette(L"A", true));
  ASSERT_TRUE(store.setTitle(L"kept"));
  const std::string before = DumpDatabase(db);
  EXPECT_TRUE(MicStore::CreateFile(db));
  EXPECT_EQ(before, DumpDatabase(db));

  const auto empty = dir.file("empty.mdb");
  cassettedb_test::WriteBytes(empty, {});
  EXPECT_TRUE(MicStore::CreateFile(empty));
  MicStore fresh;
  fresh.open(empty, false);
  EXPECT_TRUE(fresh.cassetteIdentities().empty());

  // A database that is not ours is neither adopted nor changed.
  const auto foreign = dir.file("foreign.db");
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(Orvex::micdb::SqlitePath(foreign).c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
  }
  const auto foreignBytes = cassettedb_test::ReadBytes(foreign);
  EXPECT_FALSE(MicStore::CreateFile(foreign));
  EXPECT_EQ(foreignBytes, cassettedb_test::ReadBytes(foreign));
  EXPECT_THROW(fresh.open(foreign, false), SqliteError);
  EXPECT_FALSE(MicStore::CreateFile(dir.path()));
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

}  // namespace
