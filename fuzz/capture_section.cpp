// Feeds bytes as a capture's SECTION arguments and the simulated
// camcorder's cassette to the command's section resolution
// (ResolveSection): first line the section, the rest a cassette file (a
// long tape when it is none). A section taken points inside the tape, at
// the scene it names, and ends after it begins; the split by frames chosen
// for it holds whole MiB.
#include "app/CapturePlan.h"
#include "app/ExitCode.h"
#include "fuzz/FuzzSupport.h"

using zelto::sim::Cassette;
using zelto::sim::kTracksPerSecond;

namespace {

// The longest tape there is, with a scene near its end, one at its start
// and a very short one.
Cassette LongTape() {
  Cassette tape;
  tape.lengthTracks = zelto::sim::kLongestTapeTracks;
  tape.scenes.clear();
  const std::uint32_t bounds[][2] = {{301, 302}, {1000, 90000}, {tape.lengthTracks - 3'000'000, tape.lengthTracks - 5}};
  for (const auto& [start, end] : bounds) {
    zelto::sim::Scene scene;
    scene.startTrack = start;
    scene.endTrack = end;
    tape.scenes.push_back(scene);
  }
  return tape;
}

std::uint64_t TrackAt(std::uint32_t hundredths) { return std::uint64_t{hundredths} * kTracksPerSecond / 100; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Cassette kLongTape = LongTape();
  const std::string_view text = fuzz::Text(data, size);
  const std::size_t line = text.find('\n');
  const std::string section(text.substr(0, line));
  std::optional<Cassette> cassette = kLongTape;
  if (line != std::string_view::npos) {
    const std::string_view rest = text.substr(line + 1);
    cassette = rest == "none" ? std::nullopt : Cassette::FromJson(rest);
    if (!cassette && rest != "none") cassette = kLongTape;
  }
  zelto::app::PlannedSection planned;
  try {
    planned = zelto::app::ResolveSection(section, cassette);
  } catch (const zelto::app::SectionError& e) {
    FUZZ_CHECK(e.code == zelto::app::kExitUsage || e.code == zelto::app::kExitRefused ||
                   e.code == zelto::app::kExitNoRecording,
               "status %d", e.code);
    return 0;
  }
  FUZZ_CHECK(planned.outPoint > planned.inPoint, "%s: %u to %u", section.c_str(), planned.inPoint, planned.outPoint);
  FUZZ_CHECK(TrackAt(planned.inPoint) <= zelto::sim::kLongestTapeTracks, "%s: beyond any tape", section.c_str());
  if (cassette) {
    const std::uint64_t in = TrackAt(planned.inPoint);
    FUZZ_CHECK(in < cassette->lengthTracks, "%s: begins beyond the tape", section.c_str());
    if (section.rfind("scene:", 0) == 0) {
      const std::size_t k = std::stoul(section.substr(6));
      const zelto::sim::Scene& scene = cassette->scenes.at(k - 1);
      FUZZ_CHECK(in >= scene.startTrack && in < scene.endTrack, "%s: points at track %llu, the scene is %u to %u",
                 section.c_str(), static_cast<unsigned long long>(in), scene.startTrack, scene.endTrack);
    }
    if (const auto rate = zelto::app::FrameRateFrom(*cassette, static_cast<std::uint32_t>(in))) {
      zelto::app::SplitRule rule;
      rule.kind = zelto::app::SplitRule::Kind::ByDuration;
      rule.frames = planned.outPoint - planned.inPoint;
      const zelto::app::SplitChoice split = zelto::app::ChooseSplit(rule, *rate);
      FUZZ_CHECK(split.megabytes >= 1 && split.framesPerPart >= 1, "%u frames", rule.frames);
    }
  }
  return 0;
}
