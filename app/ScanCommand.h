// zelto scan: runs the tape through the camcorder so that it finds every
// scene and sends its pictures; when the scan ends the library stores them
// in the cassette memory, and the command lists the scenes and, when asked,
// writes a contact sheet of them.
#pragma once

#include "app/Console.h"
#include "app/Options.h"

namespace zelto::app {

class Session;

int RunScan(Session& session, const ScanOptions& options, Console& console);

}  // namespace zelto::app
