// The cassette-memory database file: cassettes (identity, title, text,
// cleaning mark) and their recording-information records with up to two
// pictures each, plus which cassette is the current one.
//
// Results: a value (or true) on success; nullopt (or false) when the request
// cannot apply — no current cassette, unknown record, unknown identity; a
// SqliteError when the file itself fails (missing, locked, corrupt, full).
// Every write is one transaction, so a failure leaves the file as it was.
//
// Not thread-safe: the manager serialises the calls.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/cassettedb/DatabaseUseLock.h"
#include "host/cassettedb/SqliteDb.h"

namespace Orvex::micdb {

// One recording-information record. The meaning of the numeric fields is
// documented with _OxMicDbRecInfo, which carries them to the device.
struct StoredRecord {
  std::int32_t id = 0;
  std::int64_t recordedAt = 0;
  std::uint32_t startTimeCode = 0;
  std::uint32_t endTimeCode = 0;
  std::uint32_t duration = 0;
  bool hasFirstPicture = false;
  bool hasSecondPicture = false;
  bool flag = false;
  std::wstring text;
};

enum class Picture { First, Second };

// What a cassette's memory holds, as the manager read it through the driver.
struct MemoryContents {
  std::wstring identity;
  std::wstring title;
  std::wstring text;
  bool cleaning = false;
  struct Record {
    std::int32_t key = 0;  // the id the record was given last time; 0: none
    StoredRecord fields;   // recording date, time codes, duration, text
  };
  std::vector<Record> records;  // in tape order
};

// How long a call waits for another connection's lock before it fails:
// several programs on one file take turns.
inline constexpr int kBusyTimeoutMs = 2000;

class MicStore {
 public:
  // Creates an empty database with the schema. An existing database of ours
  // is left alone (success); an existing empty file is initialised; any
  // other existing file is left alone (false). Throws on I/O failure. (Not
  // named CreateFile: windows.h renames that.)
  static bool CreateDatabase(const std::filesystem::path& path);

  // Writes a compacted copy of source to destination. Destination must not
  // exist or be an empty file; anything else is refused (false). On failure
  // destination is put back as it was (removed, or emptied). The source is
  // only ever read. Throws on database failure.
  static bool Compact(const std::filesystem::path& source, const std::filesystem::path& destination);
  // Notes beside source that its compacted copy is about to replace it (the
  // caller deletes the file and then copies the copy into place). Whoever
  // next creates or opens the file finishes a replacement that a killed
  // program left half-done (the file gone, its copy still there) and then
  // forgets the note. Throws when the note cannot be written.
  static void NoteReplacement(const std::filesystem::path& source, const std::filesystem::path& copy);

  // Opens and checks an existing database; throws if it is missing, locked,
  // not ours, or fails the integrity check. While it is open, the file is
  // in use (DatabaseUseLock): no other process's compaction replaces it.
  void open(const std::filesystem::path& path, bool readOnly);
  void close() noexcept {
    db_.close();
    use_.reset();
  }
  bool isOpen() const noexcept { return db_.isOpen(); }
  bool isReadOnly() const noexcept { return readOnly_; }

  // Makes identity the current cassette. Unknown identities are created
  // when create is true, else false.
  bool selectCassette(const std::wstring& identity, bool create);
  std::optional<std::wstring> currentIdentity();
  // Makes the memory's cassette current (added if unknown) and its header
  // and records what the memory says, in one transaction. A memory record
  // is a record of this cassette with the same recording date and start:
  // the one its key names, or else (no key, or a key this file did not
  // give) the oldest such record not taken yet. That record keeps its id,
  // pictures, flag and text, and takes the end and duration. A memory record
  // with no such record is added with the memory's fields. Records of the
  // cassette the memory no longer holds (recorded over) go. Returns the ids
  // of the memory's records, in its order.
  std::vector<std::int32_t> loadCassette(const MemoryContents& memory);
  // No cassette is current.
  void clearCurrent();
  // Removes a cassette and its records; if it was current, none is current.
  bool removeCassette(const std::wstring& identity);
  std::vector<std::wstring> cassetteIdentities();

  std::optional<std::wstring> title();
  bool setTitle(const std::wstring& title);
  std::optional<std::wstring> text();
  bool setText(const std::wstring& text);
  std::optional<bool> isCleaning();
  bool setCleaning(bool cleaning);

  // Records of the current cassette in tape order (start time code, then id).
  std::optional<std::int64_t> recordCount();
  std::optional<std::vector<StoredRecord>> records();
  std::optional<StoredRecord> record(std::int32_t id);
  // Adds a record (id and picture marks ignored) and returns its new id.
  std::optional<std::int32_t> addRecord(const StoredRecord& fields);
  bool removeRecord(std::int32_t id);
  bool removeAllRecords();
  bool setRecordFlag(std::int32_t id, bool flag);
  bool setRecordText(std::int32_t id, const std::wstring& text);
  // Without replace, a picture that is already there is kept and the call
  // reports false. Empty bytes remove the picture (replace or not).
  bool setPicture(std::int32_t id, Picture which, std::span<const std::uint8_t> bytes, bool replace);
  // nullopt: no such record; empty: the record has no such picture.
  std::optional<std::vector<std::uint8_t>> picture(std::int32_t id, Picture which);

  // Tests only: run SQL on this connection (e.g. PRAGMA max_page_count).
  void execForTesting(const char* sql) { db_.exec(sql); }
  std::int64_t queryIntForTesting(const char* sql) { return db_.queryInt(sql); }

 private:
  std::optional<std::int64_t> currentCassetteId();
  bool setCassetteColumn(const char* sql, std::int64_t value, const std::string* text);

  Connection db_;
  std::unique_ptr<DatabaseUseLock> use_;
  bool readOnly_ = false;
  // False for a database of the first version opened read-only: it has no
  // tape order to list by.
  bool inTapeOrder_ = true;
};

}  // namespace Orvex::micdb
