#include "simulator/StateFile.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <system_error>

#include "platform/PlatformExtras.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zelto::sim {

namespace {

// A state is a few kilobytes; anything much larger is not one of ours, and
// reading it whole would be a waste.
constexpr std::uint64_t kLargestState = 16u << 20;

using Kind = StateFileError::Kind;

std::string Text(const std::filesystem::path& path) { return zelto::platform::Utf8FromPath(path); }

[[noreturn]] void Fail(Kind kind, const std::filesystem::path& path, const std::string& why) {
  throw StateFileError(kind, Text(path) + ": " + why);
}

[[noreturn]] void FailNotOurs(const std::filesystem::path& path, const std::string& why = {}) {
  Fail(Kind::NotOurs, path, "not a state file of the simulated camcorder" + why + "; it is left as it is");
}

[[noreturn]] void FailReadOnly(const std::filesystem::path& path) {
  Fail(Kind::ReadOnly, path, "is read-only: the camcorder's state in it cannot change");
}

#ifdef _WIN32
std::string Reason() { return std::system_category().message(static_cast<int>(GetLastError())); }
#else
std::string Reason() { return std::generic_category().message(errno); }
#endif

// Whether text that is no whole JSON object begins as a state of ours does:
// one cut short by a crash or a full disk, or emptied. States begin with
// their format (those before version 3 with the camcorder's mode).
bool BeginsLikeOurs(const std::string& text) {
  std::string start;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    start += c;
    if (start.size() == 64) break;
  }
  if (start.empty()) return true;
  for (const std::string_view signature : {R"({"format":"zelto-sim-state")", R"({"camcorderMode":)"}) {
    if (start.starts_with(signature)) return true;
    // Cut off within the signature itself; a brace alone says nothing.
    if (start.size() >= 3 && signature.starts_with(start)) return true;
  }
  return false;
}

// Returns when the text is a state of ours; otherwise throws the error that
// says what it is.
void Classify(const std::filesystem::path& path, const std::string& text) {
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  const bool marked = text.find(kStateFormat) != std::string::npos;
  if (json.is_discarded() || !json.is_object()) {
    if (text.empty()) Fail(Kind::Damaged, path, "the state file is empty");
    if (json.is_discarded() && (marked || BeginsLikeOurs(text)))
      Fail(Kind::Damaged, path, "the state in it is damaged (cut short)");
    FailNotOurs(path);
  }
  const auto format = json.find("format");
  if (format == json.end() || !format->is_string() || format->get<std::string>() != kStateFormat) FailNotOurs(path);
  const auto version = json.find("version");
  if (version == json.end() || !version->is_number_integer() || version->get<long long>() < 1)
    Fail(Kind::Damaged, path, "the state in it is damaged (no format version)");
  if (version->get<long long>() > kStateVersion)
    Fail(Kind::Newer, path,
         "a state of format version " + std::to_string(version->get<long long>()) +
             ", written by a newer program; it is left as it is");
}

}  // namespace

StateFile::StateFile(std::filesystem::path path, Access access) : path_(std::move(path)), access_(access) {
  if (path_.empty()) Fail(Kind::Unusable, path_, "no file name");
  lockPath_ = path_;
  lockPath_ += ".lock";
  newPath_ = path_;
  newPath_ += ".new";
  const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) Fail(Kind::Unusable, path_, "the folder " + Text(folder) + " does not exist");
  // What is there is looked at before a lock file is made beside it: a file
  // that is not ours (or a folder, or a link) gets none. A damaged state is
  // the caller's to replace or refuse.
  if (Look()) {
    try {
      Classify(path_, ReadText());
    } catch (const StateFileError& e) {
      if (e.kind() != Kind::Damaged) throw;
    }
    if (access_ == Access::ReadWrite) RefuseReadOnly();
  }
  OpenLock();
}

std::string StateFile::Name() const { return Text(path_); }

StateFile::~StateFile() {
#ifdef _WIN32
  if (lockHandle_) CloseHandle(static_cast<HANDLE>(lockHandle_));
#else
  if (lockDescriptor_ >= 0) close(lockDescriptor_);
#endif
}

StateFile::Lock::Lock(StateFile& file) : file_(file) { file_.LockFile(); }
StateFile::Lock::~Lock() { file_.UnlockFile(); }

std::optional<std::string> StateFile::ReadIfChanged() {
  const std::optional<Identity> now = Look();
  if (now == seen_) return std::nullopt;
  return ReadAgain();
}

std::optional<std::string> StateFile::ReadAgain() {
  const std::optional<Identity> now = Look();
  if (!now) return std::nullopt;
  std::string text = ReadText();
  Classify(path_, text);
  seen_ = now;
  return text;
}

#ifdef _WIN32

void StateFile::OpenLock() {
  const bool readOnly = access_ == Access::ReadOnly;
  HANDLE handle = CreateFileW(lockPath_.c_str(), readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              readOnly ? OPEN_EXISTING : OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A reader does without a lock file it may not open: states are
    // replaced whole, never written in place.
    if (readOnly) return;
    Fail(Kind::Unusable, lockPath_, Reason());
  }
  lockHandle_ = handle;
}

void StateFile::LockFile() {
  if (!lockHandle_) return;
  OVERLAPPED whole{};
  const DWORD flags = access_ == Access::ReadOnly ? 0 : LOCKFILE_EXCLUSIVE_LOCK;
  if (!LockFileEx(static_cast<HANDLE>(lockHandle_), flags, 0, MAXDWORD, MAXDWORD, &whole))
    Fail(Kind::Unusable, lockPath_, "cannot be locked: " + Reason());
}

void StateFile::UnlockFile() {
  if (!lockHandle_) return;
  OVERLAPPED whole{};
  UnlockFileEx(static_cast<HANDLE>(lockHandle_), 0, MAXDWORD, MAXDWORD, &whole);
}

std::optional<StateFile::Identity> StateFile::Look() const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    Fail(Kind::Unusable, path_, Reason());
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    Fail(Kind::NotOurs, path_, "is a link; the simulated camcorder never writes through one");
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Fail(Kind::NotOurs, path_, "is a folder");
  return Identity{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime, data.nFileSizeLow,
                  data.nFileSizeHigh};
}

void StateFile::RefuseReadOnly() const {
  const DWORD attributes = GetFileAttributesW(path_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) FailReadOnly(path_);
}

std::string StateFile::ReadText() const {
  HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(Kind::Unusable, path_, "cannot be read: " + Reason());
  std::string text;
  char buffer[16384];
  DWORD got = 0;
  BOOL ok = TRUE;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0 && text.size() <= kLargestState)
    text.append(buffer, got);
  const std::string reason = ok ? std::string() : Reason();
  CloseHandle(file);
  if (!ok) Fail(Kind::Unusable, path_, "cannot be read: " + reason);
  if (text.size() > kLargestState) FailNotOurs(path_, " (far too large)");
  return text;
}

void StateFile::Write(const std::string& text) {
  if (access_ == Access::ReadOnly) FailReadOnly(path_);
  RefuseReadOnly();
  DeleteFileW(newPath_.c_str());
  HANDLE file = CreateFileW(newPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(Kind::Unusable, path_, "cannot be written: " + Reason());
  DWORD written = 0;
  // On the disk before it replaces the old state: a crash leaves one or the other.
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size() && FlushFileBuffers(file);
  const std::string reason = ok ? std::string() : Reason();
  const BOOL closed = CloseHandle(file);
  if (!ok || !closed ||
      !MoveFileExW(newPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::string why = reason.empty() ? Reason() : reason;
    DeleteFileW(newPath_.c_str());
    Fail(Kind::Unusable, path_, "cannot be written: " + why);
  }
  seen_ = Look();
}

#else

void StateFile::OpenLock() {
  if (access_ == Access::ReadOnly) {
    lockDescriptor_ = open(lockPath_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (lockDescriptor_ < 0 && errno == ELOOP)
      Fail(Kind::NotOurs, lockPath_, "is a link; the simulated camcorder never uses one");
    // A reader does without a lock file that is not there or that it may not
    // open: states are replaced whole, never written in place.
    return;
  }
  lockDescriptor_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lockDescriptor_ < 0) {
    if (errno == ELOOP) Fail(Kind::NotOurs, lockPath_, "is a link; the simulated camcorder never writes through one");
    Fail(Kind::Unusable, lockPath_, Reason());
  }
}

void StateFile::LockFile() {
  if (lockDescriptor_ < 0) return;
  const int how = access_ == Access::ReadOnly ? LOCK_SH : LOCK_EX;
  while (flock(lockDescriptor_, how) != 0) {
    if (errno != EINTR) Fail(Kind::Unusable, lockPath_, "cannot be locked: " + Reason());
  }
}

void StateFile::UnlockFile() {
  if (lockDescriptor_ >= 0) flock(lockDescriptor_, LOCK_UN);
}

std::optional<StateFile::Identity> StateFile::Look() const {
  struct stat data {};
  if (lstat(path_.c_str(), &data) != 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail(Kind::Unusable, path_, Reason());
  }
  if (S_ISLNK(data.st_mode)) Fail(Kind::NotOurs, path_, "is a link; the simulated camcorder never writes through one");
  if (S_ISDIR(data.st_mode)) Fail(Kind::NotOurs, path_, "is a folder");
  if (!S_ISREG(data.st_mode)) Fail(Kind::NotOurs, path_, "is not a plain file");
  // A rename over the file gives it a new inode; a rewrite in place a new time.
  return Identity{static_cast<std::uint64_t>(data.st_ino),
                  static_cast<std::uint64_t>(data.st_mtim.tv_sec) * 1000000000u +
                      static_cast<std::uint64_t>(data.st_mtim.tv_nsec),
                  static_cast<std::uint64_t>(data.st_size), static_cast<std::uint64_t>(data.st_dev)};
}

void StateFile::RefuseReadOnly() const {
  struct stat data {};
  if (lstat(path_.c_str(), &data) != 0) return;
  // No write permission for anyone is read-only even to the administrator,
  // who may write anything.
  if ((data.st_mode & 0222) == 0 || access(path_.c_str(), W_OK) != 0) FailReadOnly(path_);
}

std::string StateFile::ReadText() const {
  const int file = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file < 0) Fail(Kind::Unusable, path_, "cannot be read: " + Reason());
  std::string text;
  char buffer[16384];
  ssize_t got = 0;
  while (text.size() <= kLargestState && (got = read(file, buffer, sizeof buffer)) != 0) {
    if (got < 0) {
      if (errno == EINTR) continue;
      const std::string reason = Reason();
      close(file);
      Fail(Kind::Unusable, path_, "cannot be read: " + reason);
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(file);
  if (text.size() > kLargestState) FailNotOurs(path_, " (far too large)");
  return text;
}

void StateFile::Write(const std::string& text) {
  if (access_ == Access::ReadOnly) FailReadOnly(path_);
  RefuseReadOnly();
  // The new state keeps the permissions the file was given.
  struct stat old {};
  const mode_t mode = lstat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0600;
  // Whatever a crashed writer left behind, or someone planted, goes first:
  // the new file is created afresh and never reached through a link.
  if (unlink(newPath_.c_str()) != 0 && errno != ENOENT) Fail(Kind::Unusable, newPath_, Reason());
  const int file = open(newPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) Fail(Kind::Unusable, path_, "cannot be written: " + Reason());
  std::size_t done = 0;
  std::string reason;
  while (done < text.size()) {
    const ssize_t put = write(file, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      reason = put < 0 ? Reason() : "nothing written";
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  // On the disk before it replaces the old state: a crash leaves one or the other.
  if (reason.empty() && fchmod(file, mode) != 0) reason = Reason();
  if (reason.empty() && fsync(file) != 0) reason = Reason();
  if (close(file) != 0 && reason.empty()) reason = Reason();
  if (reason.empty() && rename(newPath_.c_str(), path_.c_str()) != 0) reason = Reason();
  if (!reason.empty()) {
    unlink(newPath_.c_str());
    Fail(Kind::Unusable, path_, "cannot be written: " + reason);
  }
  // And the rename itself, which lives in the folder. The new state is in
  // place whatever this says: a folder that cannot be flushed (some file
  // systems refuse) is no reason to undo the change.
  const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  if (const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); directory >= 0) {
    fsync(directory);
    close(directory);
  }
  seen_ = Look();
}

#endif

}  // namespace zelto::sim
