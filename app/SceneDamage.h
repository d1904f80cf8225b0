// What captures found of the tape's damage, scene by scene of the cassette
// memory, kept in the data folder from one command to the next: `mic`
// shows it and the scan's contact sheet marks the damaged scenes. A capture
// file is matched to the scenes whose time codes its pictures carry (the
// tape stamps them into the stream); the latest capture of a scene stands.
//
// Written by capture jobs only, which the job lock keeps to one at a time;
// read by anyone. The file is replaced whole, so a reader sees the old list
// or the new one, and a file damaged or not ours counts as an empty list.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/CaptureInspection.h"
#include "app/CaptureReport.h"
#include "app/Session.h"
#include "host/foundation/OxDeviceTypes.h"

namespace zelto::app {

struct SceneDamage {
  std::string file;     // the capture file that held the scene (UTF-8)
  std::string checked;  // when it was inspected, "YYYY-MM-DD HH:MM:SS" UTC
  std::string from;     // the scene's time codes the file held
  std::string to;
  std::uint64_t packetsLost = 0;
  std::uint64_t packetsFlagged = 0;
  std::uint64_t picturesDamaged = 0;
  std::vector<std::string> stretches;  // the damaged stretches' time codes

  bool Damaged() const { return packetsLost + packetsFlagged + picturesDamaged > 0 || !stretches.empty(); }
};

class SceneDamageLedger {
public:
  static constexpr const char* kFileName = "scene-damage.json";
  // Scenes kept at most; the oldest entries go first.
  static constexpr std::size_t kMostScenes = 5000;

  // Reads the list in the data folder, if any.
  explicit SceneDamageLedger(std::filesystem::path dataFolder);

  // What was found of a scene of the cassette memory; none when no
  // inspected capture held it.
  std::optional<SceneDamage> Find(const Orvex::_OxMICRecInfo& scene) const;

  // Keeps what the inspected files show of the scenes they hold, and
  // writes the list. Empty when kept (or nothing to keep), else why not.
  std::string Record(const std::vector<Orvex::_OxMICRecInfo>& scenes, const std::vector<FileInspection>& files);

  // The scenes a file's pictures hold and what it shows of each (exposed
  // for the tests): each entry pairs a scene's index with its damage.
  static std::vector<std::pair<std::size_t, SceneDamage>> Match(const std::vector<Orvex::_OxMICRecInfo>& scenes,
                                                                 const FileInspection& file);

private:
  struct Entry {
    std::int64_t recordedAt = 0;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    SceneDamage damage;
  };

  std::filesystem::path path;
  std::vector<Entry> entries;  // oldest first
};

// After a capture: keeps what its files show of the scenes in the cassette
// memory; a note in the report when the list could not be written.
void KeepSceneDamage(Session& session, CaptureReport& report, const std::vector<FileInspection>& files);

}  // namespace zelto::app
