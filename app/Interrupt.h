// Ctrl-C: the handler only raises a flag; whoever waits looks at it often
// enough to end promptly and tear the device down on its own thread.
#pragma once

namespace zelto::app {

class Interrupt {
public:
  // Routes SIGINT and SIGTERM to the flag (the program does this, tests don't).
  static void InstallHandlers();
  static bool Requested();
  static void Request();
  static void Clear();
};

}  // namespace zelto::app
