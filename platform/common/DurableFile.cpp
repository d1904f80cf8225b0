// Files that survive a crash whole: flushed before they are renamed into
// place, so that the name points at the old bytes or the new, never at a
// file the system had not written yet.
#include <fstream>
#include <system_error>

#include "platform/PlatformExtras.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zelto::platform {

bool FlushFileToDisk(const std::filesystem::path& file) {
#ifdef _WIN32
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(h) != 0;
  CloseHandle(h);
  return flushed;
#else
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  ::close(fd);
  return flushed;
#endif
}

std::string ReplaceFileWhole(const std::filesystem::path& file, std::string_view bytes) {
  std::filesystem::path fresh = file;
  fresh += ".new";
  std::error_code ec;
  std::filesystem::remove(fresh, ec);  // what a crashed writer left
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(fresh, ec);
      return "it could not be written (the disk is full, or the folder takes no files)";
    }
  }
  if (!FlushFileToDisk(fresh)) {
    std::filesystem::remove(fresh, ec);
    return "it could not be flushed to the disk";
  }
#ifdef _WIN32
  if (!MoveFileExW(fresh.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    std::filesystem::remove(fresh, ec);
    return "the new file could not take the old one's place";
  }
#else
  if (::rename(fresh.c_str(), file.c_str()) != 0) {
    std::filesystem::remove(fresh, ec);
    return "the new file could not take the old one's place";
  }
  FlushFolderToDisk(file.parent_path());
#endif
  return {};
}

void FlushFolderToDisk(const std::filesystem::path& folder) {
#ifndef _WIN32
  const std::filesystem::path at = folder.empty() ? std::filesystem::path(".") : folder;
  if (const int fd = ::open(at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#else
  (void)folder;
#endif
}

}  // namespace zelto::platform
