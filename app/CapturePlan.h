// What a capture will do before it starts: the batch sections the command
// line names, turned into tape positions, and the names of every file the
// capture can produce, checked against what the folder holds, so that a
// capture never overwrites a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "simulator/Cassette.h"

namespace zelto::app {

// One batch section, in hundredths of a second of tape from its start.
struct PlannedSection {
  std::string written;  // as on the command line
  std::uint32_t inPoint = 0;
  std::uint32_t outPoint = 0;
  // Where the camcorder actually stops, when it differs from what was
  // asked for: a section runs to the end of the recording it starts in.
  std::optional<std::uint32_t> cameraOut;
};

// Whether a base name can name files on every system the capture may
// write to; empty when it can, otherwise why not.
std::string BaseNameProblem(const std::string& base);

// Resolves one SECTION: "scene:K" (the K-th scene of the cassette), or
// "IN-OUT" with tape counter positions "H:MM:SS[.cc]" or recorded time codes
// "HH:MM:SS:FF" (which need the cassette to be found on the tape). The
// cassette is the simulated camcorder's, when known. Throws
// std::invalid_argument with a message naming the section.
PlannedSection ResolveSection(const std::string& text, const std::optional<zelto::sim::Cassette>& cassette);

// The number the library gives a batch file: past 999 the thousands are
// added to the rest (1000 is 001, 1234 is 235).
int WrapFileNumber(int number);

// The file names (no folder) a capture can produce that exist in the folder
// already, at most a few: the parts of a direct capture of this base, or
// of each batch section counted from `first`.
std::vector<std::string> ExistingCaptureFiles(const std::filesystem::path& folder, const std::string& base,
                                              std::optional<int> first, std::size_t sections);

// With --next-free: the lowest first number from `first` up whose files are
// all free (batch), or the first of base, base-2, base-3, ... (direct).
// None when there is none below a million.
std::optional<int> FreeFirstNumber(const std::filesystem::path& folder, const std::string& base, int first,
                                   std::size_t sections);
std::optional<std::string> FreeBaseName(const std::filesystem::path& folder, const std::string& base);

// A whole-tape capture: the camcorder numbers one file a scene, BASE-001-01.zlt
// on, as far as the tape goes, so any BASE-NNN-PP.zlt in the folder may be
// written over. Those that exist (no folder in the names), and with
// --next-free the first of base, base-2, ... that has none.
std::vector<std::string> ExistingSceneFiles(const std::filesystem::path& folder, const std::string& base);
std::optional<std::string> FreeSceneBaseName(const std::filesystem::path& folder, const std::string& base);

}  // namespace zelto::app
