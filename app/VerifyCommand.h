// zelto verify FILE...: each transport stream file inspected for tape
// damage (lost and flagged packets, lost sync, damaged pictures), reported
// as text or one JSON object per file.
#pragma once

#include "app/Console.h"
#include "app/Options.h"

namespace zelto::app {

// 0 when every file is whole; kExitDamaged when damage was found;
// kExitUsage when a file is missing, unreadable or no transport stream
// (the others are still inspected).
int RunVerify(const VerifyOptions& options, Console& console);

}  // namespace zelto::app
