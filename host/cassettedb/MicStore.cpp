#include "host/cassettedb/MicStore.h"

#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <system_error>

#include "host/foundation/OxFile.h"
#include "platform/PlatformExtras.h"

namespace Orvex::micdb {

namespace {

namespace fs = std::filesystem;
using zelto::platform::FromUtf8;
using zelto::platform::ToUtf8;
// sqlite3 takes its file names in UTF-8 on every platform.
using zelto::platform::Utf8FromPath;

// Marks the file as ours in the database header ("OXMC").
constexpr std::int64_t kApplicationId = 0x4F584D43;
constexpr std::int64_t kSchemaVersion = 2;
// Version 1 listed records by start time code, which is not tape order once
// the camcorder restarts its time code after blank tape; it is still read,
// and migrated where it may be written.
constexpr std::int64_t kFirstSchemaVersion = 1;

// Record ids are never reused (AUTOINCREMENT), so an id a caller kept from
// an earlier listing cannot silently reach a newer record.
constexpr const char* kSchema = R"sql(
CREATE TABLE cassette(
  id        INTEGER PRIMARY KEY,
  identity  TEXT NOT NULL UNIQUE,
  title     TEXT NOT NULL DEFAULT '',
  tape_text TEXT NOT NULL DEFAULT '',
  cleaning  INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE rec_info(
  id              INTEGER PRIMARY KEY AUTOINCREMENT,
  cassette_id     INTEGER NOT NULL REFERENCES cassette(id) ON DELETE CASCADE,
  recorded_at     INTEGER NOT NULL DEFAULT 0,
  start_time_code INTEGER NOT NULL DEFAULT 0,
  end_time_code   INTEGER NOT NULL DEFAULT 0,
  duration        INTEGER NOT NULL DEFAULT 0,
  flag            INTEGER NOT NULL DEFAULT 0,
  note            TEXT NOT NULL DEFAULT '',
  picture1        BLOB,
  picture2        BLOB,
  tape_order      INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX rec_info_in_tape_order ON rec_info(cassette_id, tape_order, start_time_code, id);
CREATE TABLE current_cassette(
  slot        INTEGER PRIMARY KEY CHECK (slot = 1),
  cassette_id INTEGER REFERENCES cassette(id) ON DELETE SET NULL
);
PRAGMA application_id = 1331187011;
PRAGMA user_version = 2;
)sql";

// From version 1: the records keep the order they were listed in until the
// next load of their cassette puts them in tape order.
constexpr const char* kMigrationFrom1 = R"sql(
ALTER TABLE rec_info ADD COLUMN tape_order INTEGER NOT NULL DEFAULT 0;
UPDATE rec_info SET tape_order = (
  SELECT count(*) FROM rec_info AS other
  WHERE other.cassette_id = rec_info.cassette_id
    AND (other.start_time_code < rec_info.start_time_code
         OR (other.start_time_code = rec_info.start_time_code AND other.id <= rec_info.id)));
DROP INDEX rec_info_by_cassette;
CREATE INDEX rec_info_in_tape_order ON rec_info(cassette_id, tape_order, start_time_code, id);
PRAGMA user_version = 2;
)sql";

static_assert(kApplicationId == 1331187011, "the schema text repeats the application id");

#define OX_CURRENT "(SELECT cassette_id FROM current_cassette WHERE slot = 1)"

std::int64_t cassetteIdOf(Connection& db, const std::string& identity) {
  Statement st(db, "SELECT id FROM cassette WHERE identity = ?1");
  st.bindText(1, identity);
  return st.step() ? st.columnInt(0) : 0;
}

// Throws unless the connection holds a sound database of ours; its schema
// version.
std::int64_t checkDatabase(Connection& db) {
  if (db.queryInt("PRAGMA application_id") != kApplicationId) {
    throw SqliteError(SQLITE_NOTADB, "not a cassette-memory database");
  }
  const std::int64_t version = db.queryInt("PRAGMA user_version");
  if (version < kFirstSchemaVersion || version > kSchemaVersion) {
    throw SqliteError(SQLITE_NOTADB, "unsupported cassette-memory database version");
  }
  Statement st(db, "PRAGMA quick_check(1)");
  if (!st.step() || st.columnText(0) != "ok") {
    throw SqliteError(SQLITE_CORRUPT, "cassette-memory database failed its integrity check");
  }
  return version;
}

StoredRecord readRecord(const Statement& st) {
  StoredRecord r;
  r.id = static_cast<std::int32_t>(st.columnInt(0));
  r.recordedAt = st.columnInt(1);
  r.startTimeCode = static_cast<std::uint32_t>(st.columnInt(2));
  r.endTimeCode = static_cast<std::uint32_t>(st.columnInt(3));
  r.duration = static_cast<std::uint32_t>(st.columnInt(4));
  r.flag = st.columnInt(5) != 0;
  r.text = FromUtf8(st.columnText(6));
  r.hasFirstPicture = st.columnInt(7) != 0;
  r.hasSecondPicture = st.columnInt(8) != 0;
  return r;
}

constexpr const char* kRecordColumns =
    "SELECT id, recorded_at, start_time_code, end_time_code, duration, flag, note, "
    "picture1 IS NOT NULL, picture2 IS NOT NULL FROM rec_info ";

// How every connection that may write keeps the file safe. A rollback
// journal rather than WAL: the file is replaced whole by a delete and a copy
// after each compaction, and a write-ahead log left beside it would belong
// to the file that went (and WAL's shared memory fails on a network or
// removable data folder). FULL, so that a commit is on the disk, journal
// and all, before it is reported: a camcorder's data folder may be a stick
// pulled out or a laptop whose battery dies. The journal mode, which a
// file keeps, is set only on a file known to be ours and opened to write.
void keepDurable(Connection& db) { db.exec("PRAGMA synchronous = FULL"); }
// A file another program put in WAL leaves it once no one else has it open;
// until then it is sound as it is, and the next opener tries again.
void keepRollbackJournal(Connection& db) {
  try {
    db.exec("PRAGMA journal_mode = DELETE");
  } catch (const SqliteError& e) {
    if (e.code() != SQLITE_BUSY && e.code() != SQLITE_LOCKED) throw;
  }
}

// Puts a destination back the way Compact found it.
void restoreDestination(const fs::path& destination, bool existed) noexcept {
  std::error_code ec;
  if (existed) {
    fs::resize_file(destination, 0, ec);
  } else {
    fs::remove(destination, ec);
  }
}

fs::path replacementNoteOf(const fs::path& database) {
  fs::path note = database;
  note += ".replacing";
  return note;
}

// Puts a noted copy in place of a database that a killed program deleted
// before its copy had taken the name, and forgets the note. Called with the
// file's use lock held, so never while the replacement is still under way.
void finishReplacement(const fs::path& database) {
  const fs::path note = replacementNoteOf(database);
  std::error_code ec;
  if (!fs::exists(note, ec)) return;
  std::ifstream in(note, std::ios::binary);
  std::string copyText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const fs::path copy = zelto::platform::PathFromUtf8(copyText);
  if (!copyText.empty() && fs::is_regular_file(copy, ec)) {
    if (!fs::exists(database, ec) && !ec) {
      bool sound = false;
      try {
        Connection check(Utf8FromPath(copy), SQLITE_OPEN_READONLY);
        checkDatabase(check);
        sound = true;
      } catch (const SqliteError&) {
      }
      if (sound) {
        const Orvex::OxFile from(Orvex::OxString(zelto::platform::WidePath(copy).c_str()));
        std::unique_ptr<Orvex::OxFile> placed(from.CopyTo(Orvex::OxString(zelto::platform::WidePath(database).c_str())));
        if (!placed) throw SqliteError(SQLITE_IOERR, "the compacted copy cannot be put in place of the database");
      }
    }
    // The replacement is over either way: the copy was the program's
    // temporary, which it could not remove once killed.
    fs::remove(copy, ec);
  }
  fs::remove(note, ec);
}

}  // namespace

void MicStore::NoteReplacement(const fs::path& source, const fs::path& copy) {
  const fs::path note = replacementNoteOf(source);
  std::ofstream out(note, std::ios::binary | std::ios::trunc);
  out << Utf8FromPath(fs::absolute(copy));
  out.close();
  // A note cut short names no file and is forgotten; the source is still
  // there then, as the caller deletes it only after this returns.
  if (!out) throw SqliteError(SQLITE_IOERR, "cannot note the replacement of the database");
}

bool MicStore::CreateDatabase(const fs::path& path) {
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) return false;
  // Not while another process's compaction has the file away.
  const DatabaseUseLock use(path, DatabaseUseLock::Mode::Shared);
  finishReplacement(path);
  const bool existed = fs::exists(path, ec);
  try {
    Connection db(Utf8FromPath(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.setBusyTimeout(kBusyTimeoutMs);
    keepDurable(db);
    // The check and the creation share one write transaction, so two
    // creators racing on one file cannot both lay down the schema.
    Transaction tx(db, Transaction::Kind::Immediate);
    const std::int64_t tables = db.queryInt("SELECT count(*) FROM sqlite_schema");
    const std::int64_t appId = db.queryInt("PRAGMA application_id");
    if (tables == 0 && appId == 0 && db.queryInt("PRAGMA user_version") == 0) {
      db.exec(kSchema);
      tx.commit();
      return true;
    }
    if (appId != kApplicationId) return false;
    checkDatabase(db);
    return true;
  } catch (...) {
    if (!existed) {
      fs::remove(path, ec);
    }
    throw;
  }
}

bool MicStore::Compact(const fs::path& source, const fs::path& destination) {
  std::error_code ec;
  const auto status = fs::status(destination, ec);
  const bool existed = fs::exists(status);
  if (existed) {
    // Only a placeholder made by a temporary-name creator may be filled.
    if (!fs::is_regular_file(status) || fs::file_size(destination, ec) != 0 || ec) return false;
    if (fs::equivalent(source, destination, ec)) return false;
  }

  Connection src(Utf8FromPath(source), SQLITE_OPEN_READONLY);
  src.setBusyTimeout(kBusyTimeoutMs);
  {
    Transaction tx(src, Transaction::Kind::Deferred);
    checkDatabase(src);
    tx.commit();
  }
  // The compacted copy is a throw-away that the caller copies into place:
  // syncing it to the disk (four flushes) would cost more than the whole
  // compaction and protect nothing.
  src.exec("PRAGMA synchronous = OFF");
  try {
    Statement vacuum(src, "VACUUM INTO ?1");
    vacuum.bindText(1, Utf8FromPath(destination));
    vacuum.run();
    Connection out(Utf8FromPath(destination), SQLITE_OPEN_READONLY);
    checkDatabase(out);
  } catch (...) {
    restoreDestination(destination, existed);
    throw;
  }
  return true;
}

void MicStore::open(const fs::path& path, bool readOnly) {
  close();
  auto use = std::make_unique<DatabaseUseLock>(path, DatabaseUseLock::Mode::Shared);
  finishReplacement(path);
  Connection db(Utf8FromPath(path), readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  db.setBusyTimeout(kBusyTimeoutMs);
  keepDurable(db);
  db.exec("PRAGMA foreign_keys = ON");
  std::int64_t version = 0;
  {
    // Immediate where it may migrate, so that two openers cannot both do it.
    Transaction tx(db, readOnly ? Transaction::Kind::Deferred : Transaction::Kind::Immediate);
    version = checkDatabase(db);
    if (version == kFirstSchemaVersion && !readOnly) {
      db.exec(kMigrationFrom1);
      version = kSchemaVersion;
    }
    tx.commit();
  }
  if (!readOnly) keepRollbackJournal(db);
  db_ = std::move(db);
  use_ = std::move(use);
  readOnly_ = readOnly;
  inTapeOrder_ = version >= kSchemaVersion;
}

std::optional<std::int64_t> MicStore::currentCassetteId() {
  Statement st(db_, "SELECT cassette_id FROM current_cassette WHERE slot = 1 AND cassette_id IS NOT NULL");
  if (!st.step()) return std::nullopt;
  return st.columnInt(0);
}

bool MicStore::selectCassette(const std::wstring& identity, bool create) {
  if (identity.empty()) return false;
  const std::string key = ToUtf8(identity);
  Transaction tx(db_, Transaction::Kind::Immediate);
  std::int64_t id = cassetteIdOf(db_, key);
  if (id == 0) {
    if (!create) return false;
    Statement insert(db_, "INSERT INTO cassette(identity) VALUES (?1)");
    insert.bindText(1, key).run();
    id = db_.lastInsertRowId();
  }
  Statement current(db_,
                    "INSERT INTO current_cassette(slot, cassette_id) VALUES (1, ?1) "
                    "ON CONFLICT(slot) DO UPDATE SET cassette_id = excluded.cassette_id");
  current.bind(1, id).run();
  tx.commit();
  return true;
}

std::vector<std::int32_t> MicStore::loadCassette(const MemoryContents& memory) {
  Transaction tx(db_, Transaction::Kind::Immediate);
  const std::string identity = ToUtf8(memory.identity);
  std::int64_t cassette = cassetteIdOf(db_, identity);
  if (cassette == 0) {
    Statement insert(db_, "INSERT INTO cassette(identity) VALUES (?1)");
    insert.bindText(1, identity).run();
    cassette = db_.lastInsertRowId();
  }
  Statement header(db_, "UPDATE cassette SET title = ?1, tape_text = ?2, cleaning = ?3 WHERE id = ?4");
  header.bindText(1, ToUtf8(memory.title))
      .bindText(2, ToUtf8(memory.text))
      .bind(3, memory.cleaning ? 1 : 0)
      .bind(4, cassette)
      .run();
  Statement current(db_,
                    "INSERT INTO current_cassette(slot, cassette_id) VALUES (1, ?1) "
                    "ON CONFLICT(slot) DO UPDATE SET cassette_id = excluded.cassette_id");
  current.bind(1, cassette).run();

  db_.exec("CREATE TEMP TABLE IF NOT EXISTS kept_rec_info(id INTEGER PRIMARY KEY)");
  db_.exec("DELETE FROM kept_rec_info");
  std::vector<std::int32_t> ids;
  std::int64_t position = 0;
  for (const MemoryContents::Record& r : memory.records) {
    const StoredRecord& f = r.fields;
    ++position;
    // The key's record first (-1 matches no id when there is no key), then
    // the oldest untaken record of the same scene.
    Statement same(db_,
                   "SELECT id FROM rec_info WHERE cassette_id = ?1 AND recorded_at = ?2 AND start_time_code = ?3 "
                   "AND id NOT IN (SELECT id FROM kept_rec_info) ORDER BY id <> ?4, id LIMIT 1");
    same.bind(1, cassette).bind(2, f.recordedAt).bind(3, f.startTimeCode).bind(4, r.key > 0 ? r.key : -1);
    std::int64_t id = same.step() ? same.columnInt(0) : 0;
    if (id != 0) {
      Statement update(db_, "UPDATE rec_info SET end_time_code = ?1, duration = ?2, tape_order = ?3 WHERE id = ?4");
      update.bind(1, f.endTimeCode).bind(2, f.duration).bind(3, position).bind(4, id).run();
    } else {
      Statement add(db_,
                    "INSERT INTO rec_info(cassette_id, recorded_at, start_time_code, end_time_code, duration, note, "
                    "tape_order) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
      add.bind(1, cassette)
          .bind(2, f.recordedAt)
          .bind(3, f.startTimeCode)
          .bind(4, f.endTimeCode)
          .bind(5, f.duration)
          .bindText(6, ToUtf8(f.text))
          .bind(7, position)
          .run();
      id = db_.lastInsertRowId();
      if (id <= 0 || id > std::numeric_limits<std::int32_t>::max()) {
        throw SqliteError(SQLITE_FULL, "record ids exhausted");
      }
    }
    Statement keep(db_, "INSERT INTO kept_rec_info(id) VALUES (?1)");
    keep.bind(1, id).run();
    ids.push_back(static_cast<std::int32_t>(id));
  }
  Statement gone(db_, "DELETE FROM rec_info WHERE cassette_id = ?1 AND id NOT IN (SELECT id FROM kept_rec_info)");
  gone.bind(1, cassette).run();
  db_.exec("DELETE FROM kept_rec_info");
  tx.commit();
  return ids;
}

void MicStore::clearCurrent() { db_.exec("UPDATE current_cassette SET cassette_id = NULL"); }

std::optional<std::wstring> MicStore::currentIdentity() {
  Statement st(db_, "SELECT identity FROM cassette WHERE id = " OX_CURRENT);
  if (!st.step()) return std::nullopt;
  return FromUtf8(st.columnText(0));
}

bool MicStore::removeCassette(const std::wstring& identity) {
  Transaction tx(db_, Transaction::Kind::Immediate);
  const std::int64_t id = cassetteIdOf(db_, ToUtf8(identity));
  if (id == 0) return false;
  // Explicit, so the outcome does not hang on the foreign-key pragma.
  Statement records(db_, "DELETE FROM rec_info WHERE cassette_id = ?1");
  records.bind(1, id).run();
  Statement current(db_, "UPDATE current_cassette SET cassette_id = NULL WHERE cassette_id = ?1");
  current.bind(1, id).run();
  Statement cassette(db_, "DELETE FROM cassette WHERE id = ?1");
  cassette.bind(1, id).run();
  tx.commit();
  return true;
}

std::vector<std::wstring> MicStore::cassetteIdentities() {
  std::vector<std::wstring> out;
  Statement st(db_, "SELECT identity FROM cassette ORDER BY identity");
  while (st.step()) out.push_back(FromUtf8(st.columnText(0)));
  return out;
}

std::optional<std::wstring> MicStore::title() {
  Statement st(db_, "SELECT title FROM cassette WHERE id = " OX_CURRENT);
  if (!st.step()) return std::nullopt;
  return FromUtf8(st.columnText(0));
}

std::optional<std::wstring> MicStore::text() {
  Statement st(db_, "SELECT tape_text FROM cassette WHERE id = " OX_CURRENT);
  if (!st.step()) return std::nullopt;
  return FromUtf8(st.columnText(0));
}

std::optional<bool> MicStore::isCleaning() {
  Statement st(db_, "SELECT cleaning FROM cassette WHERE id = " OX_CURRENT);
  if (!st.step()) return std::nullopt;
  return st.columnInt(0) != 0;
}

bool MicStore::setCassetteColumn(const char* sql, std::int64_t value, const std::string* text) {
  Transaction tx(db_, Transaction::Kind::Immediate);
  Statement st(db_, sql);
  if (text != nullptr) {
    st.bindText(1, *text);
  } else {
    st.bind(1, value);
  }
  st.run();
  const bool changed = db_.changes() > 0;
  tx.commit();
  return changed;
}

bool MicStore::setTitle(const std::wstring& title) {
  const std::string utf8 = ToUtf8(title);
  return setCassetteColumn("UPDATE cassette SET title = ?1 WHERE id = " OX_CURRENT, 0, &utf8);
}

bool MicStore::setText(const std::wstring& text) {
  const std::string utf8 = ToUtf8(text);
  return setCassetteColumn("UPDATE cassette SET tape_text = ?1 WHERE id = " OX_CURRENT, 0, &utf8);
}

bool MicStore::setCleaning(bool cleaning) {
  return setCassetteColumn("UPDATE cassette SET cleaning = ?1 WHERE id = " OX_CURRENT, cleaning ? 1 : 0,
                           nullptr);
}

std::optional<std::int64_t> MicStore::recordCount() {
  Transaction tx(db_, Transaction::Kind::Deferred);
  if (!currentCassetteId()) return std::nullopt;
  const std::int64_t count = db_.queryInt("SELECT count(*) FROM rec_info WHERE cassette_id = " OX_CURRENT);
  tx.commit();
  return count;
}

std::optional<std::vector<StoredRecord>> MicStore::records() {
  Transaction tx(db_, Transaction::Kind::Deferred);
  if (!currentCassetteId()) return std::nullopt;
  std::vector<StoredRecord> out;
  Statement st(db_, (std::string(kRecordColumns) + "WHERE cassette_id = " OX_CURRENT +
                     (inTapeOrder_ ? " ORDER BY tape_order, start_time_code, id" : " ORDER BY start_time_code, id"))
                        .c_str());
  while (st.step()) out.push_back(readRecord(st));
  tx.commit();
  return out;
}

std::optional<StoredRecord> MicStore::record(std::int32_t id) {
  Statement st(db_, (std::string(kRecordColumns) + "WHERE id = ?1 AND cassette_id = " OX_CURRENT).c_str());
  st.bind(1, id);
  if (!st.step()) return std::nullopt;
  return readRecord(st);
}

std::optional<std::int32_t> MicStore::addRecord(const StoredRecord& fields) {
  Transaction tx(db_, Transaction::Kind::Immediate);
  const auto cassette = currentCassetteId();
  if (!cassette) return std::nullopt;
  Statement st(db_,
               "INSERT INTO rec_info(cassette_id, recorded_at, start_time_code, end_time_code, "
               "duration, flag, note, tape_order) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
               "(SELECT coalesce(max(tape_order), 0) FROM rec_info WHERE cassette_id = ?1 AND start_time_code <= ?3))");
  st.bind(1, *cassette)
      .bind(2, fields.recordedAt)
      .bind(3, fields.startTimeCode)
      .bind(4, fields.endTimeCode)
      .bind(5, fields.duration)
      .bind(6, fields.flag ? 1 : 0)
      .bindText(7, ToUtf8(fields.text))
      .run();
  const std::int64_t id = db_.lastInsertRowId();
  // The record form carries a 32-bit id; stop rather than hand out a wrapped one.
  if (id <= 0 || id > std::numeric_limits<std::int32_t>::max()) {
    throw SqliteError(SQLITE_FULL, "record ids exhausted");
  }
  tx.commit();
  return static_cast<std::int32_t>(id);
}

bool MicStore::removeRecord(std::int32_t id) {
  Transaction tx(db_, Transaction::Kind::Immediate);
  Statement st(db_, "DELETE FROM rec_info WHERE id = ?1 AND cassette_id = " OX_CURRENT);
  st.bind(1, id).run();
  const bool removed = db_.changes() > 0;
  tx.commit();
  return removed;
}

bool MicStore::removeAllRecords() {
  Transaction tx(db_, Transaction::Kind::Immediate);
  if (!currentCassetteId()) return false;
  db_.exec("DELETE FROM rec_info WHERE cassette_id = " OX_CURRENT);
  tx.commit();
  return true;
}

bool MicStore::setRecordFlag(std::int32_t id, bool flag) {
  Transaction tx(db_, Transaction::Kind::Immediate);
  Statement st(db_, "UPDATE rec_info SET flag = ?1 WHERE id = ?2 AND cassette_id = " OX_CURRENT);
  st.bind(1, flag ? 1 : 0).bind(2, id).run();
  const bool changed = db_.changes() > 0;
  tx.commit();
  return changed;
}

bool MicStore::setRecordText(std::int32_t id, const std::wstring& text) {
  Transaction tx(db_, Transaction::Kind::Immediate);
  Statement st(db_, "UPDATE rec_info SET note = ?1 WHERE id = ?2 AND cassette_id = " OX_CURRENT);
  st.bindText(1, ToUtf8(text)).bind(2, id).run();
  const bool changed = db_.changes() > 0;
  tx.commit();
  return changed;
}

bool MicStore::setPicture(std::int32_t id, Picture which, std::span<const std::uint8_t> bytes, bool replace) {
  const bool first = which == Picture::First;
  const char* sql = nullptr;
  if (bytes.empty() || replace) {
    sql = first ? "UPDATE rec_info SET picture1 = ?1 WHERE id = ?2 AND cassette_id = " OX_CURRENT
                : "UPDATE rec_info SET picture2 = ?1 WHERE id = ?2 AND cassette_id = " OX_CURRENT;
  } else {
    sql = first ? "UPDATE rec_info SET picture1 = ?1 WHERE id = ?2 AND picture1 IS NULL AND cassette_id = " OX_CURRENT
                : "UPDATE rec_info SET picture2 = ?1 WHERE id = ?2 AND picture2 IS NULL AND cassette_id = " OX_CURRENT;
  }
  Transaction tx(db_, Transaction::Kind::Immediate);
  Statement st(db_, sql);
  st.bindBlob(1, bytes).bind(2, id).run();
  const bool changed = db_.changes() > 0;
  tx.commit();
  return changed;
}

std::optional<std::vector<std::uint8_t>> MicStore::picture(std::int32_t id, Picture which) {
  Statement st(db_, which == Picture::First
                        ? "SELECT picture1 FROM rec_info WHERE id = ?1 AND cassette_id = " OX_CURRENT
                        : "SELECT picture2 FROM rec_info WHERE id = ?1 AND cassette_id = " OX_CURRENT);
  st.bind(1, id);
  if (!st.step()) return std::nullopt;
  return st.columnBlob(0);
}

#undef OX_CURRENT

}  // namespace Orvex::micdb
