// zelto capture direct|batch (and tape, in TapeCaptureCommand): tape to files through the library's direct or
// batch capturing, with a live progress line on a terminal, a plain line per
// event in a pipe, or JSON; never overwriting a file; Ctrl-C stops the
// capture the way the library stops it and keeps every file.
#pragma once

#include "app/Console.h"
#include "app/Options.h"

namespace zelto::app {

class Session;

int RunCapture(Session& session, const CaptureOptions& options, Console& console);

}  // namespace zelto::app
