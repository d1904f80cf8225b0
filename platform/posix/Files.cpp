// GetFileAttributesW and DeleteFileW on Windows-style wide paths, with the
// error codes Windows gives.
#include "platform/PlatformExtras.h"
#include "platform/posix/kernel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool IsDirectory(const std::filesystem::path& path) {
  struct stat st{};
  return stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The Win32 error for a failed stat/unlink of path.
DWORD ErrorFor(int error, const std::filesystem::path& path) {
  switch (error) {
    case ENOENT:
      // A missing file in an existing folder, or a missing folder on the way.
      return IsDirectory(path.parent_path()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

bool ToNative(LPCWSTR fileName, std::filesystem::path& out) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  out = zelto::platform::NativePath(fileName);
  return true;
}

}  // namespace

DWORD WINAPI GetFileAttributesW(LPCWSTR fileName) {
  std::filesystem::path path;
  if (!ToNative(fileName, path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(ErrorFor(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

BOOL WINAPI DeleteFileW(LPCWSTR fileName) {
  std::filesystem::path path;
  if (!ToNative(fileName, path)) return FALSE;
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) {
    SetLastError(ErrorFor(errno, path));
    return FALSE;
  }
  // Windows refuses to delete folders and read-only files here.
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(ErrorFor(errno, path));
    return FALSE;
  }
  return TRUE;
}
