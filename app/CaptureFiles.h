// The files one capture makes: the names the library reports, each listed
// whole in the folder's capture list once the camcorder has closed it (it
// closes a file before it opens the next), and at the end every file of
// the capture's names that it made, in numeric order.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CaptureJournal.h"
#include "app/CapturePlan.h"

namespace zelto::app {

class CaptureFiles {
public:
  // Declares the capture's names in the folder's list; empty when kept,
  // otherwise why not.
  std::string Begin(const std::filesystem::path& folder, const CaptureNames& names);

  // A file reported created (a full path in UTF-8): the ones before it are whole.
  void Created(const std::string& path);
  // A file the camcorder reported closed.
  void Closed(const std::string& path);
  // Every file reported so far is closed (a section ended, the capture was stopped).
  void AllClosed();
  std::size_t Reported() const { return reported.size(); }
  // What the files reported so far hold, at the stream rate.
  double ReportedSeconds() const;

  // Every file the capture made, as full paths in numeric order. With
  // closed, the camcorder has been stopped and has closed them all: they
  // are listed whole. Without a file the capture's declaration is taken back.
  std::vector<std::string> Made(bool closed);
  // Whether a file of the capture's names is on disk: the camcorder makes it
  // when the picture comes, before its report reaches us.
  bool AnyOnDisk() const;

  // Why the list could not be kept, once (empty when it was, or when said).
  std::string Problem();

private:
  void Whole(const std::vector<std::string>& names);
  std::vector<std::string> Paths(const std::vector<std::string>& names) const;

  std::filesystem::path folder;
  CaptureNames names;
  CaptureJournal journal{std::filesystem::path()};
  std::vector<std::string> reported;  // names, no folder
  std::string problem;
  bool problemSaid = false;
};

}  // namespace zelto::app
