// Feeds bytes as the simulated camcorder's state file: first to the file's
// own check (StateFile, what every zelto does on opening it), then to the
// camcorder's restore (DeckModel::Restore). A state taken runs on for a
// while of its clock, as zelto status would see it, ends in time, and what
// it then saves is taken back.
#include <fstream>

#include "fuzz/FuzzSupport.h"
#include "simulator/DeckModel.h"
#include "simulator/StateFile.h"

using zelto::sim::DeckModel;

namespace {

constexpr zelto::sim::Tick kNow = 5'000'000;
constexpr std::int64_t kWallMs = 1'780'000'000'000;

// Where a recording, a wind, a search or a scan may take the tape.
void LookAround(DeckModel& model, zelto::sim::Tick now) {
  (void)model.DeckState();
  (void)model.MediaInfo();
  (void)model.TimeCode(now);
  (void)model.StreamingScene(now);
  (void)model.CurrentCassette(now);
  (void)model.NextTransition();
  (void)model.TakeScanNotes();
  (void)model.TakeTransmitEnds();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(fuzz::Text(data, size));
  const std::filesystem::path file = fuzz::Folder() / "state.json";
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  try {
    zelto::sim::StateFile state(file, zelto::sim::StateFile::Access::ReadOnly);
    zelto::sim::StateFile::Lock lock(state);
    (void)state.ReadAgain();
  } catch (const zelto::sim::StateFileError& e) {
    FUZZ_CHECK(std::string(e.what()).find(file.string()) == 0, "the refusal names the file: %s", e.what());
  }

  DeckModel model;
  std::string problem;
  if (!model.Restore(text, kNow, kWallMs, 1.0, {}, nullptr, &problem)) {
    FUZZ_CHECK(!problem.empty(), "a refusal says why");
    return 0;
  }
  LookAround(model, kNow);
  // An hour and a day later on the camcorder's clock.
  for (const zelto::sim::Tick later : {kNow + 3'600'000, kNow + 86'400'000}) {
    model.Advance(later);
    LookAround(model, later);
  }
  const std::string saved = model.Save(kNow + 86'400'000, kWallMs + 86'400'000);
  DeckModel again;
  FUZZ_CHECK(again.Restore(saved, kNow, kWallMs + 86'400'000, 1.0, {}, nullptr, &problem),
             "its own state is refused: %s", problem.c_str());
  return 0;
}
