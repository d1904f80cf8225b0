// Who uses a database file, across processes. Compacting has the file
// replaced (deleted and copied anew from the compacted copy), and a
// connection another process holds open on it would go on writing into the
// deleted file and lose every change. So every connection holds the file's
// companion lock ("<file>.lock") shared for as long as it is open; a
// compaction runs only when it can hold the lock alone, and keeps holding
// it until the replacement is over, so that nobody opens, creates or writes
// the file in between. The lock is the operating system's: it dies with its
// process.
//
// Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

namespace Orvex::micdb {

class DatabaseUseLock {
 public:
  enum class Mode { Shared, Exclusive };

  // Shared: waits while a compaction replaces the file. Exclusive: never
  // waits, and is not held when anyone else uses the file. Neither is held
  // when the companion cannot be made (a folder that cannot be written):
  // a shared user goes on without it, an exclusive one must not.
  DatabaseUseLock(const std::filesystem::path& database, Mode mode);
  ~DatabaseUseLock();
  DatabaseUseLock(const DatabaseUseLock&) = delete;
  DatabaseUseLock& operator=(const DatabaseUseLock&) = delete;

  bool held() const noexcept { return held_; }

  // Keeps a held exclusive lock after the caller is done with it, until
  // `file` (the compacted copy, removed once it has replaced the database)
  // no longer exists, half a minute has passed, or this process uses the
  // database again.
  static void HoldUntilGone(std::unique_ptr<DatabaseUseLock> lock, const std::filesystem::path& file);

 private:
  std::filesystem::path database_;
  std::intptr_t handle_ = -1;
  bool held_ = false;
};

}  // namespace Orvex::micdb
