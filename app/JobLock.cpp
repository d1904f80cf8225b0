#include "app/JobLock.h"

#include <ctime>
#include <sstream>
#include <system_error>
#include <vector>

#include "app/Names.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zelto::app {

namespace {

constexpr std::intptr_t kNoFile = -1;
// The press log starts again past this size: a person's presses between
// jobs, kept for readers that began before them.
constexpr std::uint64_t kLargestLog = 64 * 1024;
// A job's text is a few lines; a file far larger is not one of ours.
constexpr std::uint64_t kLargestJobText = 4096;

enum class LockResult { Locked, Busy, Failed };

// The few file operations the two files need, on a descriptor (POSIX) or a
// handle (Windows), at explicit offsets so that no reader moves another's
// place.
#ifdef _WIN32

HANDLE H(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

std::string Reason() { return std::system_category().message(static_cast<int>(GetLastError())); }

std::intptr_t OpenShared(const std::filesystem::path& path, DWORD access, std::string* error) {
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error) *error = PathText(path) + ": " + Reason();
    return kNoFile;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    CloseHandle(file);
    if (error) *error = PathText(path) + ": not a plain file; zelto leaves it as it is";
    return kNoFile;
  }
  return reinterpret_cast<std::intptr_t>(file);
}

std::intptr_t OpenForReading(const std::filesystem::path& path, std::string* error) {
  return OpenShared(path, GENERIC_READ | GENERIC_WRITE, error);
}

void CloseFile(std::intptr_t file) { CloseHandle(H(file)); }

std::uint64_t SizeOf(std::intptr_t file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(H(file), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

std::size_t ReadAt(std::intptr_t file, std::uint64_t at, char* buffer, std::size_t size) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  DWORD got = 0;
  if (!ReadFile(H(file), buffer, static_cast<DWORD>(size), &got, &where)) return 0;
  return got;
}

bool Replace(std::intptr_t file, const std::string& text) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(H(file), start, nullptr, FILE_BEGIN) || !SetEndOfFile(H(file))) return false;
  DWORD written = 0;
  return text.empty() ||
         (WriteFile(H(file), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size());
}

// The lock is a byte far past any text: Windows locks are mandatory, and
// readers of the text must never be refused.
OVERLAPPED LockedByte() {
  OVERLAPPED where{};
  where.OffsetHigh = 0x40000000;
  return where;
}

LockResult TryLock(std::intptr_t file) {
  OVERLAPPED where = LockedByte();
  if (LockFileEx(H(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where))
    return LockResult::Locked;
  return GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING ? LockResult::Busy
                                                                                      : LockResult::Failed;
}

void Unlock(std::intptr_t file) {
  OVERLAPPED where = LockedByte();
  UnlockFileEx(H(file), 0, 1, 0, &where);
}

bool Append(const std::filesystem::path& path, const std::string& line, std::string* error) {
  {
    // Started again when large: a writer of its own, apart from the appends.
    const std::intptr_t file = OpenShared(path, GENERIC_READ | GENERIC_WRITE, error);
    if (file == kNoFile) return false;
    if (SizeOf(file) > kLargestLog) Replace(file, "");
    CloseFile(file);
  }
  // Appended whole, after whatever another process appended meanwhile.
  const std::intptr_t file = OpenShared(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, error);
  if (file == kNoFile) return false;
  DWORD written = 0;
  const bool ok = WriteFile(H(file), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                  written == line.size();
  if (!ok && error) *error = PathText(path) + ": " + Reason();
  CloseFile(file);
  return ok;
}

bool ProcessAlive(std::uint64_t process) {
  HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process));
  if (handle == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool alive = GetExitCodeProcess(handle, &code) && code == STILL_ACTIVE;
  CloseHandle(handle);
  return alive;
}

#else

std::string Reason() { return std::generic_category().message(errno); }

std::intptr_t OpenShared(const std::filesystem::path& path, int flags, std::string* error) {
  // Never through a link, and never waiting on a pipe someone put there.
  const int file = open(path.c_str(), flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (file < 0) {
    if (error)
      *error = PathText(path) + (errno == ELOOP ? ": is a link; zelto never writes through one" : ": " + Reason());
    return kNoFile;
  }
  struct stat info {};
  if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(file);
    if (error) *error = PathText(path) + ": not a plain file; zelto leaves it as it is";
    return kNoFile;
  }
  return file;
}

std::intptr_t OpenForReading(const std::filesystem::path& path, std::string* error) {
  return OpenShared(path, O_RDWR, error);
}

void CloseFile(std::intptr_t file) { close(static_cast<int>(file)); }

std::uint64_t SizeOf(std::intptr_t file) {
  struct stat info {};
  return fstat(static_cast<int>(file), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

std::size_t ReadAt(std::intptr_t file, std::uint64_t at, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = pread(static_cast<int>(file), buffer, size, static_cast<off_t>(at));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool Replace(std::intptr_t file, const std::string& text) {
  if (ftruncate(static_cast<int>(file), 0) != 0) return false;
  return text.empty() ||
         pwrite(static_cast<int>(file), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

LockResult TryLock(std::intptr_t file) {
  for (;;) {
    if (flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0) return LockResult::Locked;
    if (errno == EWOULDBLOCK) return LockResult::Busy;
    if (errno != EINTR) return LockResult::Failed;
  }
}

void Unlock(std::intptr_t file) { flock(static_cast<int>(file), LOCK_UN); }

bool Append(const std::filesystem::path& path, const std::string& line, std::string* error) {
  const std::intptr_t file = OpenShared(path, O_WRONLY | O_APPEND, error);
  if (file == kNoFile) return false;
  // Started again when large (appends go on at its new end); a log that
  // cannot be is still a log.
  if (SizeOf(file) > kLargestLog) Replace(file, "");
  // One write of a short line: appended whole, never inside another's.
  const bool ok = write(static_cast<int>(file), line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (!ok && error) *error = PathText(path) + ": " + Reason();
  CloseFile(file);
  return ok;
}

bool ProcessAlive(std::uint64_t process) {
  return process > 0 && (kill(static_cast<pid_t>(process), 0) == 0 || errno == EPERM);
}

#endif

std::string ReadAll(std::intptr_t file, std::uint64_t limit) {
  std::string text;
  char buffer[4096];
  for (std::size_t got = 0; text.size() < limit && (got = ReadAt(file, text.size(), buffer, sizeof buffer)) > 0;)
    text.append(buffer, got);
  return text;
}

std::optional<std::uint64_t> Number(const std::string& text) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoull(text);
}

JobHolder ParseHolder(const std::string& text) {
  JobHolder holder;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string key = line.substr(0, space);
    const std::string value = line.substr(space + 1);
    if (key == "job") holder.job = value;
    if (key == "process") holder.process = Number(value);
    if (key == "since") {
      if (const std::optional<std::uint64_t> seconds = Number(value)) holder.since = static_cast<std::int64_t>(*seconds);
    }
  }
  return holder;
}

// "HH:MM:SS" today, "YYYY-MM-DD HH:MM:SS" another day, local time.
std::string LocalTime(std::int64_t seconds) {
  const std::time_t at = static_cast<std::time_t>(seconds);
  const std::time_t now = std::time(nullptr);
  std::tm then{}, today{};
#ifdef _WIN32
  localtime_s(&then, &at);
  localtime_s(&today, &now);
#else
  localtime_r(&at, &then);
  localtime_r(&now, &today);
#endif
  const bool sameDay = then.tm_year == today.tm_year && then.tm_yday == today.tm_yday;
  char text[32];
  std::strftime(text, sizeof text, sameDay ? "%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &then);
  return text;
}

}  // namespace

CamcorderFiles CamcorderFiles::Beside(const std::filesystem::path& base) {
  CamcorderFiles files;
  files.job = base;
  files.job += ".job";
  files.presses = base;
  files.presses += ".deck";
  return files;
}

std::string JobText(const JobHolder& holder) {
  std::string text = holder.job.empty() ? "another zelto job" : holder.job;
  if (holder.process) text += " (process " + std::to_string(*holder.process) + ")";
  return text;
}

std::string BusyText(const JobHolder& holder, const std::string& refused) {
  return "the camcorder is busy: " + JobText(holder) + " is using it" +
         (holder.since ? " since " + LocalTime(*holder.since) : std::string()) +
         (refused.empty() ? std::string() : "; " + refused) + "; wait for it or stop it with zelto deck stop";
}

std::string DeckTakeover::Text() const { return command + " (process " + std::to_string(process) + ")"; }

std::uint64_t CurrentProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<std::uint64_t>(getpid());
#endif
}

DeckPressWatch::DeckPressWatch(const std::filesystem::path& log) : handle(OpenForReading(log, nullptr)) {
  if (handle != kNoFile) seen = SizeOf(handle);
}

DeckPressWatch::~DeckPressWatch() {
  if (handle != kNoFile) CloseFile(handle);
}

std::optional<DeckTakeover> DeckPressWatch::Taken() {
  if (taken || handle == kNoFile) return taken;
  const std::uint64_t size = SizeOf(handle);
  if (size < seen) {
    // Started again: everything in it is new.
    seen = 0;
    partial.clear();
  }
  char buffer[4096];
  while (seen < size) {
    const std::size_t got = ReadAt(handle, seen, buffer, sizeof buffer);
    if (got == 0) break;
    seen += got;
    partial.append(buffer, got);
  }
  const std::uint64_t self = CurrentProcessId();
  std::size_t start = 0;
  for (std::size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
    // "pressed PID WORDS"
    const std::string line = partial.substr(start, end - start);
    const std::size_t space = line.find(' ', 8);
    if (taken || line.rfind("pressed ", 0) != 0 || space == std::string::npos) continue;
    const std::optional<std::uint64_t> process = Number(line.substr(8, space - 8));
    if (process && *process != self) taken = DeckTakeover{*process, line.substr(space + 1)};
  }
  partial.erase(0, start);
  return taken;
}

JobLock::JobLock(std::intptr_t handle, const std::filesystem::path& log) : handle(handle), presses(log) {}

JobLock::~JobLock() {
  // The text goes before the lock: nobody reads a job that has ended.
  Replace(handle, "");
  Unlock(handle);
  CloseFile(handle);
}

JobLock::Outcome JobLock::Take(const CamcorderFiles& files, const std::string& job, std::unique_ptr<JobLock>* lock,
                               JobHolder* holder, std::string* error) {
  const std::intptr_t file = OpenForReading(files.job, error);
  if (file == kNoFile) return Outcome::Unusable;
  switch (TryLock(file)) {
    case LockResult::Locked: break;
    case LockResult::Busy:
      *holder = ParseHolder(ReadAll(file, kLargestJobText));
      CloseFile(file);
      return Outcome::Busy;
    case LockResult::Failed:
      *error = PathText(files.job) + ": cannot be locked: " + Reason();
      CloseFile(file);
      return Outcome::Unusable;
  }
  const std::string text = "job " + job + "\nprocess " + std::to_string(CurrentProcessId()) + "\nsince " +
                           std::to_string(static_cast<long long>(std::time(nullptr))) + "\n";
  if (!Replace(file, text)) {
    *error = PathText(files.job) + ": cannot be written: " + Reason();
    Unlock(file);
    CloseFile(file);
    return Outcome::Unusable;
  }
  lock->reset(new JobLock(file, files.presses));
  return Outcome::Taken;
}

bool NoteDeckPress(const CamcorderFiles& files, const std::string& command, std::string* error) {
  return Append(files.presses, "pressed " + std::to_string(CurrentProcessId()) + " " + command + "\n", error);
}

std::optional<JobHolder> ReadJobHolder(const CamcorderFiles& files) {
  const std::intptr_t file = OpenForReading(files.job, nullptr);
  if (file == kNoFile) return std::nullopt;
  const JobHolder holder = ParseHolder(ReadAll(file, kLargestJobText));
  CloseFile(file);
  // A job killed outright leaves its text behind, and no lock.
  if (!holder.process || !ProcessAlive(*holder.process)) return std::nullopt;
  return holder;
}

}  // namespace zelto::app
