// The test fault hook behind CoTaskMemAlloc, shared by the POSIX
// implementation and the Windows wrapper. Internal to the platform layer.
#pragma once

namespace zelto::platform {

// True when this allocation is the one armed by FailNthTaskMemAlloc.
bool TakeTaskMemAllocFault();

}  // namespace zelto::platform
