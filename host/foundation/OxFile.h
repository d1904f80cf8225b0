// A file given by a Windows-style wide path. The object does not hold the
// file open; every query looks at the file system afresh.
#pragma once

#include <cstdint>

#include "host/foundation/OxString.h"

namespace Orvex {

class OxFile {
public:
  explicit OxFile(const OxString& path);
  // Deletes the file when SetFileRemovedAfterDestroy(true) was called.
  virtual ~OxFile();
  OxFile(const OxFile&) = delete;  // two owners could both delete the file
  OxFile& operator=(const OxFile&) = delete;

  OxString GetPath() const;
  bool Exists() const;
  // Size in bytes; -1 when the path is missing or not a regular file.
  std::int64_t GetFileSize() const;
  // Copies the file to `destination` and returns a new OxFile for the copy,
  // owned by the caller (not marked for removal). Never overwrites: an
  // existing destination, a missing source or a failed copy give null, and a
  // partly written copy is removed.
  OxFile* CopyTo(const OxString& destination) const;
  void SetFileRemovedAfterDestroy(bool remove);
  bool IsFileRemovedAfterDestroy() const { return removeAfterDestroy; }

private:
  OxString path;
  bool removeAfterDestroy = false;
};

}  // namespace Orvex
