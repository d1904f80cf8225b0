#include "zelto/capture/CaptureReportGate.h"

#include <algorithm>
#include <utility>

namespace zelto::capture {

CaptureReportGate::Telling::Telling(Telling&& other) noexcept : gate_(std::move(other.gate_)) {}

CaptureReportGate::Telling::~Telling() {
  if (gate_) gate_->Close();
}

void CaptureReportGate::SetHerald(Herald herald) {
  std::lock_guard guard(lock_);
  herald_ = std::move(herald);
  // What is queued now is taken as the current capture's.
  announced_ = static_cast<bool>(herald_);
  witnessed_ = current_;
}

void CaptureReportGate::Witness(Capture capture) {
  std::lock_guard guard(lock_);
  witnessed_ = capture;
}

std::int32_t CaptureReportGate::Mode() const {
  std::lock_guard guard(lock_);
  return current_.mode;
}

CaptureReportGate::Capture CaptureReportGate::Current() const {
  std::lock_guard guard(lock_);
  return current_;
}

CaptureReportGate::Capture CaptureReportGate::OfArrival() const {
  std::lock_guard guard(lock_);
  return announced_ ? witnessed_ : current_;
}

bool CaptureReportGate::IsCurrent(Capture capture) const {
  std::lock_guard guard(lock_);
  return current_.mode == capture.mode && current_.number == capture.number;
}

void CaptureReportGate::Change(std::int32_t mode) {
  std::unique_lock guard(lock_);
  Begin(guard, mode);
}

void CaptureReportGate::Renew(std::int32_t mode) {
  std::unique_lock guard(lock_);
  if (current_.mode == mode) Begin(guard, mode);
}

void CaptureReportGate::Begin(std::unique_lock<std::mutex>& guard, std::int32_t mode) {
  const std::uint64_t self = KelCurrentThreadId();
  current_.mode = mode;
  ++current_.number;
  announced_ = herald_ && herald_(current_);
  closed_.wait_for(guard, kTellingWait, [&] {
    return std::all_of(tellers_.begin(), tellers_.end(), [&](std::uint64_t id) { return id == self; });
  });
}

CaptureReportGate::Telling CaptureReportGate::Open(const std::shared_ptr<CaptureReportGate>& gate, Capture capture) {
  std::lock_guard guard(gate->lock_);
  if (gate->current_.mode != capture.mode || gate->current_.number != capture.number) return Telling();
  gate->tellers_.push_back(KelCurrentThreadId());
  return Telling(gate);
}

void CaptureReportGate::Close() {
  const std::uint64_t self = KelCurrentThreadId();
  std::lock_guard guard(lock_);
  if (const auto mine = std::find(tellers_.begin(), tellers_.end(), self); mine != tellers_.end()) tellers_.erase(mine);
  closed_.notify_all();
}

}  // namespace zelto::capture
