// Helpers shared by the cassette-memory database tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct sqlite3;

namespace cassettedb_test {

// A fresh directory per test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path file(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::vector<char> ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::vector<char>& bytes);

// Every row of every table, read through a connection of its own, as text
// (pictures as their length and a checksum); throws if the file cannot be read.
std::string DumpDatabase(const std::filesystem::path& file);

// Holds another connection's exclusive lock on a database while alive.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const std::filesystem::path& file);
  ~ExclusiveLock();
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace cassettedb_test
