// How tape damage found in a transport stream file is told, the same for
// zelto verify and for the files a capture made: a few lines of text, or the
// fields of a JSON object. Also the inspection of a capture's files as the
// camcorder closes them (CaptureInspection), whose results these print.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "app/Console.h"
#include "streamcheck/StreamInspector.h"

namespace zelto::app {

// "NAME: whole; N packets, L lost, F flagged; ..." and a line for each
// damaged stretch and picture under it.
void PrintDamage(Console& console, const std::string& name, const zelto::streamcheck::StreamReport& report);

// {"result", "bytes", "packets", "packetsLost", ..., "stretches",
// "pictures", "framesPerSecond"}: what verify --json says of a file after
// its "file" member.
nlohmann::ordered_json DamageJson(const zelto::streamcheck::StreamReport& report);

}  // namespace zelto::app
