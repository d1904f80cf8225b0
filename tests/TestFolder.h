// A folder of a test's own under the temporary folder: named after the test
// and this process, so two checkouts (or two runs) testing at once on one
// machine never share one.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/PlatformExtras.h"

#ifdef _WIN32
#  include <process.h>
#else
#  include <unistd.h>
#endif

namespace zelto::testing {

inline std::filesystem::path TestFolder(const std::string& name) {
#ifdef _WIN32
  const long process = static_cast<long>(_getpid());
#else
  const long process = static_cast<long>(getpid());
#endif
  return std::filesystem::temp_directory_path() / (name + "-" + std::to_string(process));
}

// Removes a test's folder and all in it; throws when something cannot go.
// Never std::filesystem::remove_all: on Windows it spins for ever on an entry
// that vanishes while it works.
inline void RemoveFolder(const std::filesystem::path& folder) {
  std::error_code error;
  zelto::platform::RemoveTree(folder, error);
  if (error) throw std::filesystem::filesystem_error("cannot remove the test's folder", folder, error);
}

}  // namespace zelto::testing
