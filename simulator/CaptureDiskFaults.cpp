#include "simulator/CaptureDiskFaults.h"

#include <algorithm>

namespace zelto::sim {

FileFaults CaptureDiskFaults::NextFile() {
  FileFaults faults;
  if (hiddenFiles_ > 0) {
    --hiddenFiles_;
    faults.neverAppears = true;
  } else if (lateFiles_ > 0) {
    --lateFiles_;
    faults.appearAfterMs = lateFileMs_;
  }
  return faults;
}

std::uint64_t CaptureDiskFaults::Take(std::uint64_t wanted) {
  if (!room_) return wanted;
  const std::uint64_t room = std::min(wanted, *room_);
  *room_ -= room;
  return room;
}

void CaptureDiskFaults::Clear() {
  room_.reset();
  lateFiles_ = hiddenFiles_ = 0;
}

}  // namespace zelto::sim
