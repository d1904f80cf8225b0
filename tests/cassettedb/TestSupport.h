// Helpers shared by the cassette-memory database tests.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/cassettedb/MicStore.h"
#include "platform/PlatformExtras.h"
#include "tests/TestFolder.h"

namespace cassettedb_test {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = zelto::testing::TestFolder("cassettedb-" + std::string(info != nullptr ? info->name() : "test") + "-" + std::to_string(counter++));
    zelto::testing::RemoveFolder(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    zelto::platform::RemoveTree(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path file(const char* name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline std::vector<char> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& file, const std::vector<char>& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Every row of every table, read through a connection of its own, as text
// (pictures as their length and a checksum); throws if the file cannot be read.
inline std::string DumpDatabase(const fs::path& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(zelto::platform::Utf8FromPath(file).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string out;
  const char* sql =
      "SELECT id, identity, title, tape_text, cleaning FROM cassette ORDER BY id;"
      "SELECT id, cassette_id, recorded_at, start_time_code, end_time_code, duration, flag, note,"
      " length(picture1), hex(substr(picture1, 1, 8)), length(picture2), hex(substr(picture2, -8))"
      " FROM rec_info ORDER BY id;"
      "SELECT slot, cassette_id FROM current_cassette;";
  auto row = [](void* text, int columns, char** values, char**) {
    auto& dump = *static_cast<std::string*>(text);
    for (int c = 0; c < columns; ++c) dump.append(values[c] != nullptr ? values[c] : "NULL").append("|");
    dump += '\n';
    return 0;
  };
  const int rc = sqlite3_exec(db, sql, row, &out, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot read " + file.string());
  return out;
}

// Holds another connection's exclusive lock on a database while alive.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const fs::path& file) {
    if (sqlite3_open_v2(zelto::platform::Utf8FromPath(file).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      throw std::runtime_error("cannot lock " + file.string());
    }
  }
  ~ExclusiveLock() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

// Bytes that differ with the seed, so mixed-up pictures are noticed.
inline std::vector<std::uint8_t> Bytes(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
  return out;
}

// Remembers every event it hears; optionally runs an action on each.
class Recorder : public KelSafeEventListener<Orvex::OxReadingMicEvent> {
 public:
  void OnEvent(const Orvex::OxReadingMicEvent& event) override {
    std::unique_lock guard(mutex);
    seen.push_back(event.GetEventID());
    guard.unlock();
    if (action) action(event);
  }
  std::vector<Orvex::_OxReadingMicEventID> take() {
    std::lock_guard guard(mutex);
    return std::exchange(seen, {});
  }
  std::function<void(const Orvex::OxReadingMicEvent&)> action;
  std::mutex mutex;
  std::vector<Orvex::_OxReadingMicEventID> seen;
};

inline Orvex::OxBitmap Picture(std::uint32_t size, std::uint8_t seed) {
  const auto bytes = Bytes(size, seed);
  Orvex::OxBitmap out;
  out.SetBitmap(bytes.data(), size);
  return out;
}

struct ManagerDeleter {
  void operator()(Orvex::IMicDatabaseManager* m) const { m->Destroy(); }
};
using ManagerPtr = std::unique_ptr<Orvex::IMicDatabaseManager, ManagerDeleter>;

}  // namespace cassettedb_test
