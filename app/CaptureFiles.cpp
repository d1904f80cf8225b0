#include "app/CaptureFiles.h"

#include "app/CaptureReport.h"
#include "platform/PlatformExtras.h"

namespace zelto::app {

namespace {

std::string FileName(const std::string& utf8Path) {
  return zelto::platform::Utf8FromPath(zelto::platform::PathFromUtf8(utf8Path).filename());
}

}  // namespace

std::string CaptureFiles::Begin(const std::filesystem::path& folder, const CaptureNames& names) {
  this->folder = folder;
  this->names = names;
  journal = CaptureJournal(folder);
  return journal.Begin(names);
}

void CaptureFiles::Created(const std::string& path) {
  Whole(reported);
  reported.push_back(FileName(path));
}

void CaptureFiles::Closed(const std::string& path) { Whole({FileName(path)}); }

void CaptureFiles::AllClosed() { Whole(reported); }

double CaptureFiles::ReportedSeconds() const { return TapeSeconds(Paths(reported)); }

std::vector<std::string> CaptureFiles::Made(bool closed) {
  if (folder.empty()) return {};
  const std::vector<std::string> made = CaptureMadeFiles(folder, names, reported);
  if (closed) Whole(made);
  if (made.empty()) journal.Withdraw();
  return Paths(made);
}

bool CaptureFiles::AnyOnDisk() const {
  return !folder.empty() && !CaptureMadeFiles(folder, names, reported).empty();
}

std::string CaptureFiles::Problem() {
  if (problemSaid || problem.empty()) return {};
  problemSaid = true;
  return problem;
}

void CaptureFiles::Whole(const std::vector<std::string>& whole) {
  for (const std::string& name : whole)
    if (std::string why = journal.Complete(name); !why.empty() && problem.empty()) problem = why;
}

std::vector<std::string> CaptureFiles::Paths(const std::vector<std::string>& made) const {
  std::vector<std::string> paths;
  for (const std::string& name : made) {
    paths.push_back(zelto::platform::Utf8FromPath(folder / zelto::platform::PathFromUtf8(name)));
  }
  return paths;
}

}  // namespace zelto::app
