#include "simulator/Owner.h"

#include <atomic>
#include <mutex>
#include <set>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>
#include <string>
#endif

namespace zelto::sim {

namespace {

std::mutex& LiveLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

std::set<std::uint64_t>& Live() {
  static auto* live = new std::set<std::uint64_t>;
  return *live;
}

#ifdef _WIN32

std::uint64_t ThisProcess() { return GetCurrentProcessId(); }

// The process's creation time, or 0 when it cannot be asked.
std::uint64_t StartedAt(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return static_cast<std::uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

std::uint64_t ThisProcessStarted() { return StartedAt(GetCurrentProcess()); }

bool ProcessRuns(std::uint64_t id, std::uint64_t started) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's: it exists
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
                    (started == 0 || StartedAt(process) == 0 || StartedAt(process) == started);
  CloseHandle(process);
  return runs;
}

#else

std::uint64_t ThisProcess() { return static_cast<std::uint64_t>(getpid()); }

// What Linux's process table says of a process: its start time in clock
// ticks since boot, and whether it has ended but not been reaped yet. False
// where there is no entry to read (another system, or no such process).
bool ProcessEntry(std::uint64_t id, std::uint64_t* started, bool* ended) {
  std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
  std::string text;
  if (!stat || !std::getline(stat, text)) return false;
  // The command name in parentheses may hold spaces: count from its end.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(text.substr(close + 1));
  std::string state;
  std::string field;
  if (!(fields >> state)) return false;
  // Fields 4 to 21, then the start time, field 22.
  for (int i = 4; i <= 21; ++i)
    if (!(fields >> field)) return false;
  if (!(fields >> *started)) return false;
  *ended = state == "Z" || state == "X";
  return true;
}

std::uint64_t ThisProcessStarted() {
  std::uint64_t started = 0;
  bool ended = false;
  return ProcessEntry(ThisProcess(), &started, &ended) ? started : 0;
}

bool ProcessRuns(std::uint64_t id, std::uint64_t started) {
  if (id == 0 || id > static_cast<std::uint64_t>(INT32_MAX)) return false;
  if (kill(static_cast<pid_t>(id), 0) != 0 && errno != EPERM) return false;
  std::uint64_t now = 0;
  bool ended = false;
  if (!ProcessEntry(id, &now, &ended)) return true;  // it exists; nothing more to tell
  return !ended && (started == 0 || now == started);
}

#endif

}  // namespace

Owner NewOwner() {
  static std::atomic<std::uint64_t> last{0};
  static const std::uint64_t started = ThisProcessStarted();
  Owner owner{ThisProcess(), started, ++last};
  std::lock_guard guard(LiveLock());
  Live().insert(owner.camcorder);
  return owner;
}

void RetireOwner(const Owner& owner) {
  std::lock_guard guard(LiveLock());
  Live().erase(owner.camcorder);
}

bool OwnerAlive(const Owner& owner) {
  if (owner.process == ThisProcess()) {
    std::lock_guard guard(LiveLock());
    return Live().count(owner.camcorder) != 0;
  }
  return ProcessRuns(owner.process, owner.started);
}

}  // namespace zelto::sim
