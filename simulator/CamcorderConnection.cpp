// The camcorder on the bus: bound by a host, unplugged and plugged in again.
#include "simulator/Camcorder.h"

#include <utility>

namespace zelto::sim {

void Camcorder::NoteBind(const std::wstring& unitLabel) {
  std::lock_guard guard(lock_);
  bound_.push_back(unitLabel);
}

std::vector<std::wstring> Camcorder::BoundUnits() const {
  std::lock_guard guard(lock_);
  return bound_;
}

void Camcorder::RemoveDevice() {
  std::lock_guard guard(lock_);
  if (removed_) return;
  const Tick now = Now();
  AdvanceLocked(now);
  QueueLocked(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED, now);
  // A scan under way stops with an error, and so does a recording from the
  // computer: its stream is gone.
  ChangeLocked([&](Tick at) {
    model_.FailScan();
    model_.LoseTransmit(at);
    return S_OK;
  });
  removed_ = true;
  if (session_) session_->Abandon();
  Wake();
}

void Camcorder::ReconnectDevice() {
  std::lock_guard guard(lock_);
  if (!removed_) return;
  removed_ = false;
  const Tick now = Now();
  AdvanceLocked(now);
  ReportLocked(now);
  Wake();
}

bool Camcorder::Removed() const {
  std::lock_guard guard(lock_);
  return removed_;
}

}  // namespace zelto::sim
