// Whether a device is still there, shared with the operations under way on
// it: one whose component call may reach a listener that terminates or
// deletes the device looks here before it touches the device again. A type
// of its own, so that nothing of it is exported with the device.
#pragma once

#include <atomic>

struct ZeltoDeviceLiveness {
  std::atomic<bool> live{true};
};
