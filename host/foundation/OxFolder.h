// A folder given by a Windows-style wide path (backslashes; a trailing
// backslash is allowed).
#pragma once

#include <cstdint>

#include "host/foundation/OxString.h"

namespace Orvex {

class OxFolder {
public:
  OxFolder();
  explicit OxFolder(const OxString& path);
  OxFolder(const OxFolder& other);
  virtual ~OxFolder();
  OxFolder& operator=(const OxFolder& other);

  OxString GetPath() const;
  bool Exists() const;
  // Bytes available to this process on the folder's volume; 0 when the folder
  // does not exist or cannot be queried.
  std::uint64_t GetFreeDiskSpace() const;
  // Whether the folder's volume takes files of 4 GiB and more: false on the
  // FAT family (FAT12/16/32) and for a folder that does not exist; true for
  // any other file system (NTFS, exFAT, ext4, tmpfs...).
  bool IsNTFSFileSystem() const;

private:
  OxString path;
};

}  // namespace Orvex
