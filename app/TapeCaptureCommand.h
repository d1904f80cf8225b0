// zelto capture tape: the whole cassette, scene by scene, through the
// library's own whole-tape run (it rewinds, plays, captures one file a
// scene and ends once the picture has stayed away for the stream
// time-out), with a live progress line on a terminal, a line per event in
// a pipe, or JSON; never overwriting a file; Ctrl-C stops the run the way
// the library stops it and keeps every file.
#pragma once

#include "app/Console.h"
#include "app/Options.h"

namespace zelto::app {

class Session;

int RunTapeCapture(Session& session, const CaptureOptions& options, Console& console);

}  // namespace zelto::app
