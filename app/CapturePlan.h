// What a capture will do before it starts: the batch sections the command
// line names, turned into tape positions, and the names of every file the
// capture can produce, checked against what the folder holds, so that a
// capture never overwrites a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
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
  // A scene:K section's record in the cassette memory (0 when none is
  // known): the library marks it once the section is captured.
  std::uint32_t sceneKey = 0;
};

// Why a SECTION cannot be captured, with the exit status that says so: a
// section the command line gets wrong (kExitUsage), one beyond the tape's
// end (kExitRefused), one after the last recording (kExitNoRecording).
class SectionError : public std::invalid_argument {
public:
  SectionError(int code, const std::string& what) : std::invalid_argument(what), code(code) {}
  int code;
};

// Whether a base name can name files on every system the capture may
// write to; empty when it can, otherwise why not.
std::string BaseNameProblem(const std::string& base);

// Resolves one SECTION: "scene:K" (the K-th scene of the cassette), or
// "IN-OUT" with tape counter positions "H:MM:SS[.cc]" or recorded time codes
// "HH:MM:SS:FF" (which need the cassette to be found on the tape). The
// cassette is the simulated camcorder's, when known. Throws
// SectionError with a message naming the section.
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

// The names one capture may write: the parts of a direct capture, the parts
// of each batch section, or every scene file of a whole-tape capture.
struct CaptureNames {
  enum class Kind { Direct, Batch, Tape };
  Kind kind = Kind::Direct;
  std::string base;
  int first = 1;              // batch
  std::size_t sections = 0;   // batch

  bool Covers(const std::string& name) const;
  // The file and part numbers a covered name carries (a direct part is
  // file 0); none for a name not covered.
  std::optional<std::pair<int, int>> Numbers(const std::string& name) const;
};

// The covered names in the folder (no folder in them), in numeric order.
std::vector<std::string> CoveredFiles(const std::filesystem::path& folder, const CaptureNames& names);

// Of the covered names in the folder, those a capture that has reported
// `reported` (names, no folder) made too: the unbroken run of parts on
// from each reported file, a first part where the capture begins one. A file
// of the same form dropped into the folder at some other number is not
// the capture's.
std::vector<std::string> CaptureMadeFiles(const std::filesystem::path& folder, const CaptureNames& names,
                                          const std::vector<std::string>& reported);

// The frame rate of the first scene a capture from `track` meets: the
// scene under it, or the next one; none on blank tape to the end.
std::optional<unsigned> FrameRateFrom(const zelto::sim::Cassette& cassette, std::uint32_t track);

// Where the scene begins (hundredths of a second of tape) whose first
// picture a file's first picture is, by the time code the tape stamped into
// it (90 kHz); none where the file begins no scene of the cassette.
std::optional<std::uint32_t> SceneBegunBy(const zelto::sim::Cassette& cassette, std::int64_t firstPictureClock);

// Orders names as a person counts: Clip-99.zlt before Clip-100.zlt.
bool NaturalLess(const std::string& a, const std::string& b);

// What a split by frames is given to the camcorder as. The camcorder
// splits at whole MiB (1,048,576 bytes) of a stream of 1,590,000 bytes a
// second, before the frame that would pass the size; the library turns
// frames into MiB by a rule of its own, at the frame rate of the
// application's video system. Where that rule gives the size nearest the
// frames asked for, the split is passed on as asked; otherwise as that
// size. Other splits pass unchanged.
struct SplitChoice {
  SplitRule rule;               // what the library is given
  std::uint64_t megabytes = 0;  // the size of a part (by frames)
  unsigned framesPerPart = 0;   // what each whole part holds (by frames)
  double secondsPerPart = 0;
};
SplitChoice ChooseSplit(const SplitRule& asked, unsigned framesPerSecond);
// The MiB the library makes of `frames` at a frame rate.
std::uint64_t LibraryMegabytesForFrames(std::uint32_t frames, unsigned framesPerSecond);
// Whole frames in a part of this many MiB (at least one: the camcorder
// puts one frame in a part too small for it).
unsigned FramesInMegabytes(std::uint64_t megabytes, unsigned framesPerSecond);

}  // namespace zelto::app
