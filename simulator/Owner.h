// Who started a transmit or a scan: one camcorder object in one process.
// The events of what it started go to that camcorder alone, whichever
// process sees them happen; once it is gone (its process ended, killed or
// not, or the object destroyed) the data it was sending has stopped.
#pragma once

#include <cstdint>

namespace zelto::sim {

struct Owner {
  std::uint64_t process = 0;
  // When the process started, where the system tells (0 where not): a
  // process id handed again to a later program is then not taken for it.
  std::uint64_t started = 0;
  std::uint64_t camcorder = 0;  // the camcorder object within the process
  bool operator==(const Owner&) const = default;
};

// A new identity for a camcorder object of this process; it is alive until
// RetireOwner. Thread-safe.
Owner NewOwner();
void RetireOwner(const Owner& owner);
// Whether the owner's process runs and, for this process, whether the
// camcorder object is still there. Thread-safe.
bool OwnerAlive(const Owner& owner);

}  // namespace zelto::sim
