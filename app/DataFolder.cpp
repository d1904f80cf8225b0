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
  const std::string advice = isDefault ? "; remove it or choose another with --data-folder" : "; choose another";
#ifdef _WIN32
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return "cannot use the data folder " + Text(folder) + (ec ? ": " + ec.message() : ": it cannot be created");
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "the data folder " + Text(folder) + " is a link" + advice;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return "the data folder " + Text(folder) + " is not a folder" + advice;
  return {};
#else
  if (std::string problem = MakePrivateFolders(folder); !problem.empty()) return problem;
  // "name/" would look through a link named name.
  const std::filesystem::path named = folder.has_filename() ? folder : folder.parent_path();
  struct stat data {};
  if (lstat(named.c_str(), &data) != 0)
    return "cannot use the data folder " + Text(folder) + ": " + std::generic_category().message(errno);
  if (S_ISLNK(data.st_mode)) return "the data folder " + Text(folder) + " is a link" + advice;
  if (!S_ISDIR(data.st_mode)) return "the data folder " + Text(folder) + " is not a folder" + advice;
  if (data.st_uid != geteuid()) return "the data folder " + Text(folder) + " belongs to another user" + advice;
  // The default folder is zelto's alone: found open to others, it is closed.
  // A folder the user names keeps the access the user gave it.
  if (isDefault && (data.st_mode & 077) != 0 && chmod(named.c_str(), 0700) != 0)
    return "cannot make the data folder " + Text(folder) + " private: " + std::generic_category().message(errno);
  return {};
#endif
}

}  // namespace zelto::app
