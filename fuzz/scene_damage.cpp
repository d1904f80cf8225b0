// Feeds bytes as the scene damage list in the data folder, which mic, scan
// and every capture read: the list is read and looked up, a capture's
// findings are recorded over it, and it is read again. Whatever lay there,
// what was recorded is then found.
#include <fstream>

#include "app/SceneDamage.h"
#include "fuzz/FuzzSupport.h"

using zelto::app::FileInspection;
using zelto::app::SceneDamageLedger;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& folder = fuzz::Folder();
  std::ofstream(folder / SceneDamageLedger::kFileName, std::ios::binary | std::ios::trunc) << fuzz::Text(data, size);
  SceneDamageLedger ledger(folder);

  // The first of a cassette's scenes, 0:00:00:00 to 0:00:10:00, and a
  // capture of it with a stretch lost in its middle.
  Orvex::_OxMICRecInfo scene;
  scene.recordedAt = 1;
  scene.startTimeCode = 0;
  scene.endTimeCode = 10u << 8;
  (void)ledger.Find(scene);
  FileInspection file;
  file.file = "Tape-001-01.zlt";
  file.outcome.report.framesPerSecond = 25.0;
  file.outcome.report.firstPictureClock = 9'000;
  file.outcome.report.lastPictureClock = 9 * 90'000;
  zelto::streamcheck::DamagedStretch lost;
  lost.packetsLost = 3;
  lost.clock = 5 * 90'000;
  file.outcome.report.stretches.push_back(lost);
  file.outcome.report.packetsLost = 3;

  const std::string problem = ledger.Record({scene}, {file});
  FUZZ_CHECK(problem.empty(), "%s", problem.c_str());
  const std::optional<zelto::app::SceneDamage> found = SceneDamageLedger(folder).Find(scene);
  FUZZ_CHECK(found && found->file == file.file && found->packetsLost == 3, "the scene just recorded is not found");
  return 0;
}
