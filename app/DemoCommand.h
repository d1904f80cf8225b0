// zelto demo: a short tour, printing every notification as it arrives: find
// the camcorder, show its status, rewind, play, seek to a scene and watch the
// search finish, stop, then capture two scenes in a batch and list the files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "app/Console.h"
#include "simulator/Cassette.h"

namespace zelto::app {

class Session;

// The tour's cassette unless --cassette or --state-file names one: three
// short scenes, the tape standing past the second, so the rewind has a way
// to go and the capture takes seconds.
zelto::sim::Cassette DemoCassette();

// Where the tour seeks: the start of the cassette's second scene (or its
// only one); without a known cassette, where the default's second scene is.
std::uint32_t DemoSeekTrack(const std::optional<zelto::sim::Cassette>& cassette);

// A new folder in parent for a tour's files, named by the date and time, made
// here and found nowhere: two tours started in the same second each get
// their own ("...-2"). None, with *why, when none can be made.
std::optional<std::filesystem::path> MakeTourFolder(const std::filesystem::path& parent, std::string* why);

int RunDemo(Session& session, Console& console);

}  // namespace zelto::app
