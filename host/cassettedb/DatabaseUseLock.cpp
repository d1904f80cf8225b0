#include "host/cassettedb/DatabaseUseLock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace Orvex::micdb {

namespace {

namespace fs = std::filesystem;

// Longer than any copy of the file takes; a copy that never goes (a caller
// that keeps it) holds nobody up beyond this.
constexpr auto kLongestReplacement = std::chrono::seconds(30);
constexpr auto kLookEvery = std::chrono::milliseconds(10);

fs::path CompanionOf(const fs::path& database) {
  fs::path companion = database;
  companion += ".lock";
  return companion;
}

#ifdef _WIN32

std::intptr_t OpenCompanion(const fs::path& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(file);
}

bool Lock(std::intptr_t file, bool exclusive) {
  OVERLAPPED whole{};
  const DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY : 0;
  return LockFileEx(reinterpret_cast<HANDLE>(file), flags, 0, MAXDWORD, MAXDWORD, &whole) != FALSE;
}

void Close(std::intptr_t file) {
  OVERLAPPED whole{};
  UnlockFileEx(reinterpret_cast<HANDLE>(file), 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(reinterpret_cast<HANDLE>(file));
}

#else

std::intptr_t OpenCompanion(const fs::path& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
}

bool Lock(std::intptr_t file, bool exclusive) {
  const int operation = exclusive ? LOCK_EX | LOCK_NB : LOCK_SH;
  for (;;) {
    if (flock(static_cast<int>(file), operation) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void Close(std::intptr_t file) { close(static_cast<int>(file)); }

#endif

// Whether this process is ending (statics are destroyed on its way out,
// after Windows has ended every thread but the one exiting). A library
// unloaded from a process that goes on is not ending.
bool ProcessIsEnding() {
#ifdef _WIN32
  using Query = BOOLEAN(NTAPI*)();
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  return query != nullptr && query() != FALSE;
#else
  return false;  // POSIX threads live on until exit() is over
#endif
}

// Exclusive locks kept past their compaction, and the thread that lets each
// go once its copy is gone. The thread runs only while a lock is kept (a
// moment after each compaction), so that a library unloaded later has no
// thread of its own left; the destructor stops and joins it all the same.
//
// At process exit the keeper is never destroyed. Windows has ended every
// other thread by then, perhaps the watcher inside this mutex, or inside the
// threads library's own lock as it ended: joining it, detaching it or even
// destroying its condition would wait for ever and the process would never
// end. The system drops the locks with the process.
class Held {
 public:
  static Held& Instance() {
    struct Owner {
      ~Owner() {
        if (!ProcessIsEnding()) delete held;
      }
      Held* held;
    };
    static Owner owner{new Held};
    return *owner.held;
  }

  void Add(std::unique_ptr<DatabaseUseLock> lock, const fs::path& database, const fs::path& file) {
    std::lock_guard guard(mutex_);
    entries_.push_back({std::move(lock), database, file, std::chrono::steady_clock::now() + kLongestReplacement});
    if (watching_) return;
    // A thread that has ended (it said so under the lock) is joined at once.
    if (watcher_.joinable()) watcher_.join();
    watching_ = true;
    watcher_ = std::thread([this] { Watch(); });
  }

  // This process uses the database again: its own replacement is over (one
  // device a process, compacted on the thread that destroys it).
  void Release(const fs::path& database) {
    std::vector<Entry> gone;
    std::lock_guard guard(mutex_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->database == database) {
        gone.push_back(std::move(*it));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }

  ~Held() {
    {
      std::lock_guard guard(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
  }

 private:
  struct Entry {
    std::unique_ptr<DatabaseUseLock> lock;
    fs::path database;
    fs::path file;
    std::chrono::steady_clock::time_point until;
  };

  Held() = default;

  void Watch() {
    std::unique_lock guard(mutex_);
    while (!stopping_ && !entries_.empty()) {
      const auto now = std::chrono::steady_clock::now();
      for (auto it = entries_.begin(); it != entries_.end();) {
        std::error_code ec;
        if (now >= it->until || (!fs::exists(it->file, ec) && !ec)) {
          it = entries_.erase(it);
        } else {
          ++it;
        }
      }
      if (!entries_.empty()) wake_.wait_for(guard, kLookEvery);
    }
    entries_.clear();
    watching_ = false;
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Entry> entries_;
  bool stopping_ = false;
  bool watching_ = false;
  std::thread watcher_;
};

}  // namespace

DatabaseUseLock::DatabaseUseLock(const fs::path& database, Mode mode) : database_(database) {
  if (mode == Mode::Shared) Held::Instance().Release(database_);
  handle_ = OpenCompanion(CompanionOf(database_));
  if (handle_ == -1) return;
  held_ = Lock(handle_, mode == Mode::Exclusive);
}

DatabaseUseLock::~DatabaseUseLock() {
  if (handle_ != -1) Close(handle_);
}

void DatabaseUseLock::HoldUntilGone(std::unique_ptr<DatabaseUseLock> lock, const fs::path& file) {
  if (!lock || !lock->held()) return;
  const fs::path database = lock->database_;
  Held::Instance().Add(std::move(lock), database, file);
}

}  // namespace Orvex::micdb
