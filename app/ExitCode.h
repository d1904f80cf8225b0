// What the zelto program tells its caller through its exit status.
#pragma once

namespace zelto::app {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,        // the command line (or a file it names) is wrong
  kExitNoCamcorder = 3,  // no camcorder was found
  kExitDeviceFailed = 4  // the device would not start, refused a command or never got there
};

}  // namespace zelto::app
