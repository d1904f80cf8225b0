// zelto mic: the cassette memory as the host's database holds it (title,
// text, cleaning mark, a record per scene with its pictures); the tape text
// set; a scene's stored picture written as a PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Console.h"
#include "app/Options.h"
#include "host/foundation/OxDeviceTypes.h"

class ZeltoVideoDevice;

namespace zelto::app {

class Session;

// Seconds since 1970 as "YYYY-MM-DD HH:MM:SS" in UTC (a recording date as
// the camcorder wrote it, by its clock); empty for 0 or before.
std::string UtcDateText(std::int64_t secondsSince1970);
// "HH:MM:SS:FF" of a time code packed 0xHHMMSSFF, one binary field a byte.
std::string PackedTimeCodeText(std::uint32_t packed);
// "H:MM:SS.s" of milliseconds.
std::string MillisecondsText(std::uint32_t milliseconds);
// The scenes' records, in the database's order (tape order).
std::vector<Orvex::_OxMICRecInfo> SceneRecords(ZeltoVideoDevice& device);

int RunMic(Session& session, const MicOptions& options, Console& console);

}  // namespace zelto::app
