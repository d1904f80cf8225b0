// Feeds bytes as a cassette file's text to the simulated camcorder's reader
// (Cassette::FromJson, what --cassette and the state file's cassette use);
// a cassette it takes must be one it writes and reads back unchanged, and
// must stay whole when a recording is written over it.
#include "fuzz/FuzzSupport.h"
#include "simulator/Cassette.h"

using zelto::sim::Cassette;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const std::optional<Cassette> cassette = Cassette::FromJson(fuzz::Text(data, size), &error);
  if (!cassette) {
    FUZZ_CHECK(!error.empty(), "a refusal says why");
    return 0;
  }
  FUZZ_CHECK(cassette->Problem().empty(), "%s", cassette->Problem().c_str());
  const std::string written = cassette->ToJson();
  const std::optional<Cassette> again = Cassette::FromJson(written, &error);
  FUZZ_CHECK(again, "its own text is refused: %s", error.c_str());
  FUZZ_CHECK(again->ToJson() == written, "read back, it differs");

  // A recording over the middle of the tape, as the camcorder writes one.
  Cassette recorded = *cassette;
  zelto::sim::Scene scene;
  scene.startTrack = cassette->lengthTracks / 3;
  scene.endTrack = scene.startTrack + cassette->lengthTracks / 3;
  recorded.Overwrite(scene);
  FUZZ_CHECK(recorded.Problem().empty(), "after a recording: %s", recorded.Problem().c_str());
  for (const zelto::sim::Scene& s : recorded.scenes) {
    FUZZ_CHECK(recorded.SceneAt(s.startTrack) == &s, "a scene is found at its start");
    (void)s.TimeCodeAt(s.endTrack);
  }
  (void)recorded.NextBoundaryAfter(cassette->positionTrack);
  return 0;
}
