#include "tests/cassettedb/TestSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "host/cassettedb/MicStore.h"

namespace cassettedb_test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  path_ = fs::temp_directory_path() /
          ("cassettedb-" + std::string(info != nullptr ? info->name() : "test") + "-" + std::to_string(counter++));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<char> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& file, const std::vector<char>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string DumpDatabase(const fs::path& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(Orvex::micdb::SqlitePath(file).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
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

ExclusiveLock::ExclusiveLock(const fs::path& file) {
  if (sqlite3_open_v2(Orvex::micdb::SqlitePath(file).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close(db_);
    throw std::runtime_error("cannot lock " + file.string());
  }
}

ExclusiveLock::~ExclusiveLock() {
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
}

}  // namespace cassettedb_test
