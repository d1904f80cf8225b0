// The list of whole capture files that zelto keeps beside them, in the
// capture folder, so that a file cut short (the program killed while the
// camcorder wrote it, the machine gone down) is told from a whole one. The
// camcorder's driver names the files and the library finds them by those
// names while it captures, so a file keeps its name from the start; the
// list says which of them were finished.
//
// One line is added at a time, and a line is only counted once it is
// whole: a capture declares the names it may write as it begins, and lists
// each file, with its size, once the camcorder has closed it. A file of a
// declared name that is not listed with the size it has is unfinished.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/CapturePlan.h"

namespace zelto::app {

class CaptureJournal {
public:
  // The list's file name in the capture folder.
  static constexpr const char* kFileName = ".zelto-captures";

  explicit CaptureJournal(std::filesystem::path folder) : folder(std::move(folder)) {}

  // Declares the names this capture may write (none of which exists yet).
  // Empty when kept, otherwise why not.
  std::string Begin(const CaptureNames& names);
  // Lists a file of this capture (a name in the folder) as whole, with the
  // size it has now. Listing it again is harmless; with another size, the
  // later listing counts.
  std::string Complete(const std::string& name);
  // A whole file of this size is about to take the listed file's place
  // (a mended file renamed over it): until the next listing either size
  // is whole, so that a crash between the rename and that listing leaves
  // no whole file told unfinished.
  std::string Replacing(const std::string& name, std::uintmax_t size);
  // A capture that made no file takes its declaration back: a list this
  // capture started is removed again.
  void Withdraw();

  // The files of declared names in a folder that were never listed whole
  // with the size they have (names, no folder), in numeric order.
  static std::vector<std::string> Unfinished(const std::filesystem::path& folder);

private:
  std::string Append(const std::string& line);

  std::filesystem::path folder;
  bool started = false;  // this capture made the list
  std::map<std::string, std::uintmax_t> listed;  // name -> size
};

}  // namespace zelto::app
