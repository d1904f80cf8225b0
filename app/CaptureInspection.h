// The tape damage in a capture's files: each file inspected (streamcheck)
// on a thread of its own as the camcorder closes it, so that the capture
// goes on meanwhile and its summary waits only for the last file. One
// place for a file's inspection, to be called again for a file read anew.
//
// Completed and Results are called from one thread; the worker is joined
// by Results and by the destructor.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "streamcheck/StreamInspector.h"

namespace zelto::app {

struct FileInspection {
  std::string file;  // UTF-8 path
  zelto::streamcheck::InspectOutcome outcome;
  double seconds = 0;  // what the inspection took, in wall-clock time

  bool Inspected() const { return outcome.failure == zelto::streamcheck::InspectOutcome::Failure::None; }
  bool Damaged() const { return Inspected() && !outcome.report.Whole(); }
};

// One file's inspection, pictures decoded where the build can.
FileInspection InspectCaptureFile(const std::string& utf8Path);

class CaptureInspection {
public:
  CaptureInspection() = default;
  ~CaptureInspection();
  CaptureInspection(const CaptureInspection&) = delete;
  CaptureInspection& operator=(const CaptureInspection&) = delete;

  // The camcorder has closed this file: it is inspected from now on.
  void Completed(const std::string& utf8Path);
  // The inspection of each of the files, in their order: those not handed
  // to Completed (or handed before they were finished) are inspected now.
  std::vector<FileInspection> Results(const std::vector<std::string>& files);

private:
  void Work();
  void Join();

  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::string> queue;
  std::map<std::string, FileInspection> done;
  bool stopping = false;
  std::thread worker;
};

}  // namespace zelto::app
