// The file in which the simulated camcorder keeps its state between runs.
// One state file is one camcorder: every process that names it shares it.
//
// All access happens under a lock on a companion file, the state file's name
// with ".lock" added, which stays beside it. A change is read, made and
// written while the lock is held exclusively; the state is written beside
// the file, flushed to the disk and renamed over it, so that no reader ever
// sees half of it, even after a crash.
//
// Opened read-only, the file and its folder are never written: the lock file
// is used (shared) only where it exists already, and read-only files and
// folders are fine.
//
// The file is never reached through a link, and a file that is not a state
// of ours (some other text, a cassette file, a state of a newer format, a
// folder) is never overwritten or deleted, and gets no lock file beside it.
// A read-only state file is never replaced (nor its mode changed).
//
// Thread-bound: one object per camcorder, used under the camcorder's lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelto::sim {

// Why the state file cannot be used; what() names the file and the reason.
class StateFileError : public std::runtime_error {
 public:
  enum class Kind {
    Unusable,  // cannot be opened, read, locked or written
    NotOurs,   // some other file, or a folder or a link: left alone
    Newer,     // a state of a later format: left alone
    Damaged,   // a state of ours that cannot be read (cut short, emptied): may be replaced on purpose
    ReadOnly,  // a state file that may not be written, opened to change it
  };
  StateFileError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// What the state's JSON text says it is.
inline constexpr std::string_view kStateFormat = "zelto-sim-state";
// 2: the cassette memory's header, scene records and recorded content, the
// transmit and the scan. 3: times on the camcorder's own clock instead of
// the wall clock, and who started the transmit and the scan. Versions 1 and
// 2 are still read.
inline constexpr int kStateVersion = 3;

class StateFile {
 public:
  enum class Access { ReadWrite, ReadOnly };
  // Checks the path (an existing folder, not a link, not a folder itself)
  // and what a file there holds, then opens the lock file (for writing,
  // making it where it is missing). Throws StateFileError.
  explicit StateFile(std::filesystem::path path, Access access = Access::ReadWrite);
  ~StateFile();
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path as UTF-8 text, for messages.
  std::string Name() const;

  // Holds the lock for its lifetime: exclusive, or shared when read-only.
  class Lock {
   public:
    explicit Lock(StateFile& file);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    StateFile& file_;
  };

  // Under the lock: the state's text when the file changed since this object
  // last read or wrote it; none when unchanged or when there is no file yet.
  // Throws StateFileError for a file that is not a state of ours, a newer
  // one, or one that cannot be read.
  std::optional<std::string> ReadIfChanged();
  // Under the lock: the same, changed or not.
  std::optional<std::string> ReadAgain();
  // Under the lock: replaces the file's contents, keeping its permissions.
  // Throws StateFileError (always when read-only); the file is then as it was.
  void Write(const std::string& text);

 private:
  struct Identity {
    std::uint64_t a = 0, b = 0, c = 0, d = 0;
    bool operator==(const Identity&) const = default;
  };
  // None when the path does not exist; throws when it is not a plain file.
  std::optional<Identity> Look() const;
  // The file's whole text; throws when it cannot be read or is far too
  // large to be a state.
  std::string ReadText() const;
  // Throws ReadOnly when the file exists and may not be written.
  void RefuseReadOnly() const;
  void OpenLock();
  void LockFile();
  void UnlockFile();

  std::filesystem::path path_;
  std::filesystem::path lockPath_;
  std::filesystem::path newPath_;
  Access access_;
  std::optional<Identity> seen_;  // what this object last read or wrote
#ifdef _WIN32
  void* lockHandle_ = nullptr;  // none: read-only, and no lock file to share
#else
  int lockDescriptor_ = -1;  // as lockHandle_
#endif
};

}  // namespace zelto::sim
