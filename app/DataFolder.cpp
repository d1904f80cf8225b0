#include "app/DataFolder.h"

#include <cstdlib>
#include <system_error>

#include "platform/PlatformExtras.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zelto::app {

namespace {

std::string Text(const std::filesystem::path& path) { return zelto::platform::Utf8FromPath(path); }

std::optional<std::filesystem::path> FromEnvironment(const char* name) {
#ifdef _WIN32
  // The wide environment: the narrow one is in the ANSI code page.
  const wchar_t* value = _wgetenv(zelto::platform::FromUtf8(name).c_str());
  if (value == nullptr || *value == L'\0') return std::nullopt;
  std::filesystem::path path = zelto::platform::NativePath(value);
#else
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  std::filesystem::path path = zelto::platform::PathFromUtf8(value);
#endif
  // A relative value is not a location (the base directory rules say to ignore it).
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

#ifndef _WIN32
// Each missing folder on the way is made 0700, as the base directory rules ask.
std::string MakePrivateFolders(const std::filesystem::path& folder) {
  std::filesystem::path built;
  for (const std::filesystem::path& part : folder) {
    built /= part;
    if (mkdir(built.c_str(), 0700) != 0 && errno != EEXIST)
      return "cannot create the data folder " + Text(built) + ": " + std::generic_category().message(errno);
  }
  return {};
}
#endif

}  // namespace

std::optional<std::filesystem::path> DefaultDataFolder() {
#ifdef _WIN32
  if (auto local = FromEnvironment("LOCALAPPDATA")) return *local / "Zelto";
  return std::nullopt;
#else
  if (auto state = FromEnvironment("XDG_STATE_HOME")) return *state / "zelto";
  if (auto home = FromEnvironment("HOME")) return *home / ".local" / "state" / "zelto";
  return std::nullopt;
#endif
}

std::string PrepareDataFolder(const std::filesystem::path& folder, bool isDefault) {
  std::error_code ec;
#ifdef _WIN32
  std::filesystem::create_directories(folder, ec);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return "cannot use the data folder " + Text(folder) + (ec ? ": " + ec.message() : ": not a folder");
  if (isDefault && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return "the data folder " + Text(folder) + " is a link; remove it or choose one with --data-folder";
  return {};
#else
  if (!isDefault) {
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder))
      return "cannot use the data folder " + Text(folder) + (ec ? ": " + ec.message() : ": not a folder");
    return {};
  }
  if (std::string problem = MakePrivateFolders(folder); !problem.empty()) return problem;
  struct stat data {};
  if (lstat(folder.c_str(), &data) != 0)
    return "cannot use the data folder " + Text(folder) + ": " + std::generic_category().message(errno);
  const std::string advice = "; remove it or choose another with --data-folder";
  if (S_ISLNK(data.st_mode)) return "the data folder " + Text(folder) + " is a link" + advice;
  if (!S_ISDIR(data.st_mode)) return "the data folder " + Text(folder) + " is not a folder" + advice;
  if (data.st_uid != geteuid()) return "the data folder " + Text(folder) + " belongs to another user" + advice;
  if ((data.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0)
    return "cannot make the data folder " + Text(folder) + " private: " + std::generic_category().message(errno);
  return {};
#endif
}

}  // namespace zelto::app
