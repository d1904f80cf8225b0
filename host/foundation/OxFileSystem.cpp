// Folders, files and temporary names. Paths are Windows-style wide text;
// every file system call goes through NativePath.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "host/foundation/OxFile.h"
#include "host/foundation/OxFolder.h"
#include "host/foundation/OxTemporaryNameCreator.h"
#include "platform/PlatformExtras.h"
#include "platform/win32.h"

#ifndef _WIN32
#  include <cerrno>
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <sys/statvfs.h>
#  include <sys/vfs.h>
#  include <unistd.h>
#endif

namespace fs = std::filesystem;
using zelto::platform::NativePath;

namespace Orvex {

namespace {

fs::path native(const OxString& path) { return NativePath(path.GetStdString()); }

bool endsWithSeparator(const std::wstring& path) {
  return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

bool hasSeparator(const std::wstring& text) {
  return text.find_first_of(L"\\/") != std::wstring::npos;
}

#ifndef _WIN32
// statfs's f_type for the FAT family (vfat and msdos share it).
constexpr long kMsdosSuperMagic = 0x4d44;
#endif

enum class CreateResult { Created, Exists, Failed };

CreateResult createExclusive(const std::wstring& path) {
#ifdef _WIN32
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateResult::Exists
                                                                       : CreateResult::Failed;
  }
  CloseHandle(h);
  return CreateResult::Created;
#else
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
  ::close(fd);
  return CreateResult::Created;
#endif
}

}  // namespace

// ---- OxFolder ----

OxFolder::OxFolder() = default;
OxFolder::OxFolder(const OxString& path) : path(path) {}
OxFolder::OxFolder(const OxFolder& other) = default;
OxFolder::~OxFolder() = default;
OxFolder& OxFolder::operator=(const OxFolder& other) = default;

OxString OxFolder::GetPath() const { return path; }

bool OxFolder::Exists() const {
  if (path.IsEmpty()) return false;
#ifdef _WIN32
  std::error_code ec;
  return fs::is_directory(native(path), ec);
#else
  struct stat info {};
  return ::stat(zelto::platform::NativePathText(path.GetStdString()).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

std::uint64_t OxFolder::GetFreeDiskSpace() const {
  // Windows answers for the volume even when the folder is missing; a missing
  // folder has no space to offer.
  if (!Exists()) return 0;
#ifdef _WIN32
  std::error_code ec;
  fs::space_info info = fs::space(native(path), ec);
  if (ec || info.available == static_cast<std::uintmax_t>(-1)) return 0;
  return static_cast<std::uint64_t>(info.available);
#else
  // Asked with every progress query: the path as text, not a path object.
  struct statvfs info {};
  if (::statvfs(zelto::platform::NativePathText(path.GetStdString()).c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
#endif
}

bool OxFolder::IsNTFSFileSystem() const {
  if (!Exists()) return false;
#ifdef _WIN32
  wchar_t root[MAX_PATH + 1] = {};
  if (!GetVolumePathNameW(path.GetString(), root, MAX_PATH + 1)) return false;
  wchar_t fsName[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, fsName, MAX_PATH + 1))
    return false;
  for (const wchar_t* fat : {L"FAT", L"FAT12", L"FAT16", L"FAT32"})
    if (lstrcmpiW(fsName, fat) == 0) return false;
  return true;
#else
  struct statfs info {};
  if (::statfs(native(path).c_str(), &info) != 0) return false;
  return static_cast<long>(info.f_type) != kMsdosSuperMagic;
#endif
}

// ---- OxFile ----

OxFile::OxFile(const OxString& path) : path(path) {}

OxFile::~OxFile() {
  if (removeAfterDestroy && !path.IsEmpty()) {
    std::error_code ec;
    fs::remove(native(path), ec);
  }
}

OxString OxFile::GetPath() const { return path; }

bool OxFile::Exists() const {
  if (path.IsEmpty()) return false;
  std::error_code ec;
  return fs::exists(native(path), ec);
}

// One look at the file, not one for its kind and another for its size:
// progress figures measure every part of a capture this way.
std::int64_t OxFile::GetFileSize() const {
  if (path.IsEmpty()) return -1;
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(native(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
#else
  struct stat info {};
  if (::stat(zelto::platform::NativePathText(path.GetStdString()).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
#endif
}

// The copy is made under a name of its own beside the destination, put on
// the disk and only then given the destination's name, never over a file
// that is there: a program killed while it copies leaves no half-made file
// under that name (a database replaced by its copy would be left damaged).
OxFile* OxFile::CopyTo(const OxString& destination) const {
  if (path.IsEmpty() || destination.IsEmpty()) return nullptr;
  const fs::path from = native(path);
  const fs::path to = native(destination);
  std::error_code ec;
  if (!fs::is_regular_file(from, ec)) return nullptr;
  if (fs::exists(to, ec) || ec) return nullptr;
  fs::path copying = to;
  copying += L".copying";
  fs::remove(copying, ec);  // what a killed copy left
  bool made = fs::copy_file(from, copying, fs::copy_options::none, ec) && !ec;
  made = made && zelto::platform::FlushFileToDisk(copying);
#ifdef _WIN32
  // Without MOVEFILE_REPLACE_EXISTING: a file that appeared meanwhile stays.
  made = made && MoveFileExW(copying.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
#else
  // A link fails where the name is taken; a file system without links
  // (FAT on a stick) takes a rename, the name having been free just now.
  if (made && ::link(copying.c_str(), to.c_str()) != 0)
    made = errno != EEXIST && !fs::exists(to, ec) && ::rename(copying.c_str(), to.c_str()) == 0;
#endif
  std::error_code ignored;
  fs::remove(copying, ignored);
  if (!made) return nullptr;
  zelto::platform::FlushFolderToDisk(to.parent_path());  // the new name lives there
  return new OxFile(destination);
}

void OxFile::SetFileRemovedAfterDestroy(bool remove) { removeAfterDestroy = remove; }

// ---- OxTemporaryNameCreator ----

bool OxTemporaryNameCreator::CreateTempFileName(const OxString& folder, const OxString& prefix,
                                                const OxString& extension, OxString& outName) {
  const std::wstring& dir = folder.GetStdString();
  if (dir.empty() || hasSeparator(prefix.GetStdString()) || hasSeparator(extension.GetStdString()))
    return false;
  std::wstring base = dir;
  if (!endsWithSeparator(base)) base += L'\\';
  base += prefix.GetStdString();
  std::wstring suffix;
  if (!extension.IsEmpty()) {
    if (extension.GetString()[0] != L'.') suffix = L".";
    suffix += extension.GetStdString();
  }

  // Callers in this process start at different numbers, so they rarely
  // collide; the exclusive create settles any collision that remains.
  static std::atomic<unsigned> next{static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() % 10000)};
  const unsigned start = next.fetch_add(1) % 10000;
  for (unsigned attempt = 0; attempt < 10000; ++attempt) {
    OxString number;
    number.Format(L"%04u", (start + attempt) % 10000);
    std::wstring candidate = base + number.GetStdString() + suffix;
    switch (createExclusive(candidate)) {
      case CreateResult::Created:
        outName.SetString(candidate.c_str());
        return true;
      case CreateResult::Exists:
        continue;
      case CreateResult::Failed:
        return false;
    }
  }
  return false;
}

}  // namespace Orvex
