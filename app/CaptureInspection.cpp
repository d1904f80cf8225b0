#include "app/CaptureInspection.h"

#include <chrono>

#include "app/CaptureReport.h"
#include "platform/PlatformExtras.h"
#include "platform/ThreadGuard.h"

namespace zelto::app {

FileInspection InspectCaptureFile(const std::string& utf8Path) {
  const auto started = std::chrono::steady_clock::now();
  FileInspection inspection;
  inspection.file = utf8Path;
  inspection.outcome = zelto::streamcheck::InspectFile(zelto::platform::PathFromUtf8(utf8Path), {true});
  inspection.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return inspection;
}

CaptureInspection::~CaptureInspection() { Join(); }

void CaptureInspection::Completed(const std::string& utf8Path) {
  std::lock_guard guard(lock);
  if (stopping) return;
  queue.push_back(utf8Path);
  if (!worker.joinable()) worker = std::thread([this] { zelto::platform::GuardThread("inspection", [this] { Work(); }); });
  changed.notify_all();
}

std::vector<FileInspection> CaptureInspection::Results(const std::vector<std::string>& files) {
  Join();
  std::vector<FileInspection> results;
  for (const std::string& file : files) {
    const auto found = done.find(file);
    // A file inspected before it was whole (a part reported closed, then
    // written on by a camcorder that reused its name) is read again.
    const bool current = found != done.end() && found->second.Inspected() &&
                         found->second.outcome.report.bytes == FileSize(file);
    results.push_back(current ? found->second : InspectCaptureFile(file));
  }
  return results;
}

void CaptureInspection::Work() {
  std::unique_lock guard(lock);
  for (;;) {
    changed.wait(guard, [this] { return stopping || !queue.empty(); });
    if (queue.empty()) return;  // stopping, and nothing left
    const std::string file = queue.front();
    queue.pop_front();
    guard.unlock();
    FileInspection inspection = InspectCaptureFile(file);
    guard.lock();
    done[file] = std::move(inspection);
  }
}

void CaptureInspection::Join() {
  {
    std::lock_guard guard(lock);
    stopping = true;
    changed.notify_all();
  }
  if (worker.joinable()) worker.join();
}

}  // namespace zelto::app
