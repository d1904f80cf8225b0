#include "simulator/StateFile.h"

#include <nlohmann/json.hpp>

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

#ifdef _WIN32
std::string Reason() { return std::system_category().message(static_cast<int>(GetLastError())); }
#else
std::string Reason() { return std::generic_category().message(errno); }
#endif

// Returns when the text is a state of ours; otherwise throws the error that
// says what it is.
void Classify(const std::filesystem::path& path, const std::string& text) {
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  const bool marked = text.find(kStateFormat) != std::string::npos;
  if (json.is_discarded() || !json.is_object()) {
    if (marked) Fail(Kind::Damaged, path, "the state in it is damaged");
    Fail(Kind::NotOurs, path, "not a state file of the simulated camcorder; it is left as it is");
  }
  const auto format = json.find("format");
  if (format == json.end() || !format->is_string() || format->get<std::string>() != kStateFormat)
    Fail(Kind::NotOurs, path, "not a state file of the simulated camcorder; it is left as it is");
  const auto version = json.find("version");
  if (version == json.end() || !version->is_number_integer() || version->get<long long>() < 1)
    Fail(Kind::Damaged, path, "the state in it is damaged (no format version)");
  if (version->get<long long>() > kStateVersion)
    Fail(Kind::Newer, path,
         "a state of format version " + std::to_string(version->get<long long>()) +
             ", written by a newer program; it is left as it is");
}

}  // namespace

StateFile::StateFile(std::filesystem::path path) : path_(std::move(path)) {
  if (path_.empty()) Fail(Kind::Unusable, path_, "no file name");
  lockPath_ = path_;
  lockPath_ += ".lock";
  newPath_ = path_;
  newPath_ += ".new";
  const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) Fail(Kind::Unusable, path_, "the folder " + Text(folder) + " does not exist");
  Look();  // refuses a folder, a link or anything else that is not a plain file
#ifdef _WIN32
  HANDLE handle = CreateFileW(lockPath_.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Fail(Kind::Unusable, lockPath_, Reason());
  lockHandle_ = handle;
#else
  lockDescriptor_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lockDescriptor_ < 0) {
    if (errno == ELOOP) Fail(Kind::NotOurs, lockPath_, "is a link; the simulated camcorder never writes through one");
    Fail(Kind::Unusable, lockPath_, Reason());
  }
#endif
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

#ifdef _WIN32

void StateFile::LockFile() {
  OVERLAPPED whole{};
  if (!LockFileEx(static_cast<HANDLE>(lockHandle_), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
    Fail(Kind::Unusable, lockPath_, "cannot be locked: " + Reason());
}

void StateFile::UnlockFile() {
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

std::optional<std::string> StateFile::ReadIfChanged() {
  const std::optional<Identity> now = Look();
  if (!now || now == seen_) return std::nullopt;
  HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
  if (text.size() > kLargestState) Fail(Kind::NotOurs, path_, "not a state file of the simulated camcorder (far too large); it is left as it is");
  Classify(path_, text);
  seen_ = now;
  return text;
}

void StateFile::Write(const std::string& text) {
  DeleteFileW(newPath_.c_str());
  HANDLE file = CreateFileW(newPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(Kind::Unusable, path_, "cannot be written: " + Reason());
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
  const std::string reason = ok ? std::string() : Reason();
  const BOOL closed = CloseHandle(file);
  if (!ok || !closed || !MoveFileExW(newPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const std::string why = reason.empty() ? Reason() : reason;
    DeleteFileW(newPath_.c_str());
    Fail(Kind::Unusable, path_, "cannot be written: " + why);
  }
  seen_ = Look();
}

#else

void StateFile::LockFile() {
  while (flock(lockDescriptor_, LOCK_EX) != 0) {
    if (errno != EINTR) Fail(Kind::Unusable, lockPath_, "cannot be locked: " + Reason());
  }
}

void StateFile::UnlockFile() { flock(lockDescriptor_, LOCK_UN); }

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

std::optional<std::string> StateFile::ReadIfChanged() {
  const std::optional<Identity> now = Look();
  if (!now || now == seen_) return std::nullopt;
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
  if (text.size() > kLargestState)
    Fail(Kind::NotOurs, path_, "not a state file of the simulated camcorder (far too large); it is left as it is");
  Classify(path_, text);
  seen_ = now;
  return text;
}

void StateFile::Write(const std::string& text) {
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
  if (close(file) != 0 && reason.empty()) reason = Reason();
  if (reason.empty() && rename(newPath_.c_str(), path_.c_str()) != 0) reason = Reason();
  if (!reason.empty()) {
    unlink(newPath_.c_str());
    Fail(Kind::Unusable, path_, "cannot be written: " + reason);
  }
  seen_ = Look();
}

#endif

}  // namespace zelto::sim
