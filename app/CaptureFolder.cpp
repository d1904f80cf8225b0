#include "app/CaptureFolder.h"

#include <cerrno>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "app/Names.h"

namespace zelto::app {

namespace {

// A capture that cannot write a second of tape is over before it begins.
constexpr std::uintmax_t kLeastRoom = 2'000'000;

// Makes the file, failing where anything by that name exists; the reason
// on failure.
std::error_code CreateExclusively(const std::filesystem::path& file) {
#ifdef _WIN32
  const int fd = _wopen(file.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return std::error_code(errno, std::generic_category());
  _close(fd);
#else
  const int fd = open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return std::error_code(errno, std::generic_category());
  close(fd);
#endif
  return {};
}

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

}  // namespace

std::string WriteProblemWords(const std::error_code& error) {
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) return "permission denied";
  if (error == std::errc::no_space_on_device) return "the disk is full";
  if (error == std::errc::read_only_file_system) return "the disk is read-only";
  if (error == std::errc::filename_too_long) return "the name is too long";
  if (error == std::errc::not_a_directory) return "a part of the path is not a folder";
  if (error == std::errc::no_such_file_or_directory) return "a folder on the way is missing";
  return error.message();
}

std::string CaptureFolder::Prepare(const std::filesystem::path& asked) {
  std::error_code ec;
  path = std::filesystem::absolute(asked, ec);
  if (ec) path = asked;
  const std::string named = "the capture folder " + PathText(path);
  made.clear();
  for (std::filesystem::path at = path; !at.empty() && !std::filesystem::exists(at, ec); at = at.parent_path()) {
    made.insert(made.begin(), at);
    if (at == at.parent_path()) break;
  }
  const auto fail = [&](const std::string& why) {
    RemoveIfMadeAndEmpty();
    return why;
  };
  if (made.empty() && !std::filesystem::is_directory(path, ec)) return fail(named + " is not a folder");
  std::filesystem::create_directories(path, ec);
  if (ec) return fail("cannot make " + named + ": " + WriteProblemWords(ec));
  if (const std::string why = WhyNoWrite(false); !why.empty()) return fail("cannot write in " + named + ": " + why);
  return {};
}

std::string CaptureFolder::WhyNoWrite(bool simulatedDiskFull) const {
  std::error_code ec;
  const std::filesystem::space_info space = std::filesystem::space(path, ec);
  if (simulatedDiskFull || (!ec && space.available < kLeastRoom)) return "the disk is full";
  // Whatever the folder's permissions say, only a file made there tells.
  const std::filesystem::path probe = path / (".zelto-probe-" + std::to_string(ProcessId()));
  if (const std::error_code error = CreateExclusively(probe)) return WriteProblemWords(error);
  std::filesystem::remove(probe, ec);
  return {};
}

void CaptureFolder::RemoveIfMadeAndEmpty() {
  std::error_code ec;
  for (auto at = made.rbegin(); at != made.rend(); ++at) {
    if (!std::filesystem::is_empty(*at, ec) || ec) break;
    std::filesystem::remove(*at, ec);
    if (ec) break;
  }
  made.clear();
}

}  // namespace zelto::app
