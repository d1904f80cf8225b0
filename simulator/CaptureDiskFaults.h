// The capture's disk faults from the panel: a disk that fills after so many
// bytes, and files reported created before they exist, or never appearing.
// Not thread-safe: the camcorder's lock guards it.
#pragma once

#include <cstdint>
#include <optional>

#include "simulator/CaptureSession.h"

namespace zelto::sim {

class CaptureDiskFaults {
 public:
  // What the capture's next file suffers; counts it against the faults.
  FileFaults NextFile();
  // Of `wanted` bytes, how many the disk still takes; takes them.
  std::uint64_t Take(std::uint64_t wanted);

  void FillAfter(std::uint64_t bytes) { room_ = bytes; }
  // The room FillAfter left; none while the disk is the real one.
  std::optional<std::uint64_t> RoomLeft() const { return room_; }
  void DelayFiles(DWORD ms, unsigned count) {
    lateFileMs_ = ms;
    lateFiles_ = count;
  }
  void HideFiles(unsigned count) { hiddenFiles_ = count; }
  void Clear();

 private:
  std::optional<std::uint64_t> room_;
  DWORD lateFileMs_ = 0;
  unsigned lateFiles_ = 0;
  unsigned hiddenFiles_ = 0;
};

}  // namespace zelto::sim
