// zelto record: a file onto the tape where it stands, through the library's
// batch recording (it brings the deck into recording) or, with --direct,
// its direct recording (the deck already records; only the data is sent).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/Console.h"
#include "app/Options.h"

namespace zelto::app {

class Session;

// What the file holds, judged before the deck is touched by the camcorder's
// own check (simulator/TransportStream.h). False with *why when it cannot
// be read or is not a stream; *bytes is what the camcorder sends of it.
bool CheckTransportStream(const std::filesystem::path& file, std::uint64_t* bytes, std::string* why);

// The tape a file fills at the stream rate, in hundredths of a second
// (rounded up: the recording must not end before the data does).
std::uint32_t RecordingHundredths(std::uint64_t bytes);

int RunRecord(Session& session, const RecordOptions& options, Console& console);

}  // namespace zelto::app
