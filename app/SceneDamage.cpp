#include "app/SceneDamage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <iterator>

#include "app/MicCommand.h"
#include "platform/PlatformExtras.h"
#include "streamcheck/StreamReport.h"
#include "streamcheck/TransportPacket.h"

namespace zelto::app {

namespace {

using Orvex::_OxMICRecInfo;
using zelto::streamcheck::StreamReport;

// How far a stream's clock may stand from the tape's time code and still
// name the same moment: the muxer starts the pictures' clock a tenth of a
// second after the stream's, and a scene's end is its last frame's start.
constexpr double kSlackSeconds = 0.25;
// A list larger than this is no list of ours.
constexpr std::uintmax_t kLargestList = 64ull << 20;

double FramesPerSecond(const StreamReport& r) {
  return r.framesPerSecond && *r.framesPerSecond > 0 ? std::round(*r.framesPerSecond) : 30.0;
}

// A packed time code (hours, minutes, seconds, frames from the top byte
// down) in seconds.
double SecondsAt(std::uint32_t packed, double fps) {
  return ((packed >> 24) * 3600.0 + (packed >> 16 & 0xFF) * 60.0 + (packed >> 8 & 0xFF)) + (packed & 0xFF) / fps;
}

double SecondsAt(std::int64_t clock) { return static_cast<double>(clock) / zelto::streamcheck::kClockHz; }

template <typename T>
T Field(const nlohmann::json& j, const char* name, T otherwise) {
  const auto it = j.find(name);
  if (it == j.end()) return otherwise;
  if constexpr (std::is_same_v<T, std::string>) {
    return it->is_string() ? it->template get<std::string>() : otherwise;
  } else {
    return it->is_number_integer() ? it->template get<T>() : otherwise;
  }
}

}  // namespace

SceneDamageLedger::SceneDamageLedger(std::filesystem::path dataFolder) : path(dataFolder / kFileName) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kLargestList) return;
  std::ifstream in(path, std::ios::binary);
  const nlohmann::json j = nlohmann::json::parse(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(),
                                                 nullptr, false);
  if (!j.is_object() || !j.contains("scenes") || !j["scenes"].is_array()) return;
  for (const nlohmann::json& e : j["scenes"]) {
    if (!e.is_object()) continue;
    Entry entry;
    entry.recordedAt = Field<std::int64_t>(e, "recorded", 0);
    entry.start = Field<std::uint32_t>(e, "start", 0);
    entry.end = Field<std::uint32_t>(e, "end", 0);
    SceneDamage& d = entry.damage;
    d.file = Field<std::string>(e, "file", "");
    d.checked = Field<std::string>(e, "checked", "");
    d.from = Field<std::string>(e, "from", "");
    d.to = Field<std::string>(e, "to", "");
    d.packetsLost = Field<std::uint64_t>(e, "packetsLost", 0);
    d.packetsFlagged = Field<std::uint64_t>(e, "packetsFlagged", 0);
    d.picturesDamaged = Field<std::uint64_t>(e, "picturesDamaged", 0);
    if (const auto s = e.find("stretches"); s != e.end() && s->is_array())
      for (const nlohmann::json& t : *s)
        if (t.is_string()) d.stretches.push_back(t.get<std::string>());
    entries.push_back(std::move(entry));
  }
}

std::optional<SceneDamage> SceneDamageLedger::Find(const _OxMICRecInfo& scene) const {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (it->recordedAt == scene.recordedAt && it->start == scene.startTimeCode && it->end == scene.endTimeCode)
      return it->damage;
  return std::nullopt;
}

std::vector<std::pair<std::size_t, SceneDamage>> SceneDamageLedger::Match(const std::vector<_OxMICRecInfo>& scenes,
                                                                          const FileInspection& file) {
  std::vector<std::pair<std::size_t, SceneDamage>> found;
  if (!file.Inspected()) return found;
  const StreamReport& r = file.outcome.report;
  if (!r.firstPictureClock || !r.lastPictureClock) return found;
  const double fps = FramesPerSecond(r);
  const double first = SecondsAt(*r.firstPictureClock);
  const double last = SecondsAt(*r.lastPictureClock);
  const std::string checked = UtcDateText(std::time(nullptr));
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    const double start = SecondsAt(scenes[i].startTimeCode, fps);
    const double end = SecondsAt(scenes[i].endTimeCode, fps);
    // The file holds the scene where their times overlap by more than the slack.
    if (std::min(last, end) - std::max(first, start) <= kSlackSeconds) continue;
    const auto inScene = [&](const std::optional<std::int64_t>& clock) {
      const double at = clock ? SecondsAt(*clock) : first;  // undated damage lies before the first clock
      return at >= start - kSlackSeconds && at < end + kSlackSeconds;
    };
    SceneDamage d;
    d.file = file.file;
    d.checked = checked;
    const auto code = [&](double seconds) {
      return zelto::streamcheck::TimeCodeText(static_cast<std::int64_t>(std::llround(seconds * zelto::streamcheck::kClockHz)), fps);
    };
    d.from = code(std::max(first, start));
    d.to = code(std::min(last, end));
    for (const auto& s : r.stretches)
      if (inScene(s.clock)) {
        d.packetsLost += s.packetsLost;
        d.packetsFlagged += s.packetsFlagged;
        d.stretches.push_back(s.clock ? zelto::streamcheck::TimeCodeText(*s.clock, r.framesPerSecond) : "no time");
      }
    for (const auto& p : r.damagedPictures)
      if (inScene(p.clock)) ++d.picturesDamaged;
    found.emplace_back(i, std::move(d));
  }
  // Damage past the lists' caps is dated nowhere: it marks the file's first
  // scene rather than none.
  if (!found.empty() && r.stretchesNotListed + r.damagedPicturesNotListed > 0 && !found.front().second.Damaged())
    found.front().second.stretches.push_back("more than the inspection listed");
  return found;
}

std::string SceneDamageLedger::Record(const std::vector<_OxMICRecInfo>& scenes, const std::vector<FileInspection>& files) {
  bool changed = false;
  for (const FileInspection& file : files) {
    for (auto& [index, damage] : Match(scenes, file)) {
      const _OxMICRecInfo& scene = scenes[index];
      std::erase_if(entries, [&](const Entry& e) {
        return e.recordedAt == scene.recordedAt && e.start == scene.startTimeCode && e.end == scene.endTimeCode;
      });
      entries.push_back(Entry{scene.recordedAt, scene.startTimeCode, scene.endTimeCode, std::move(damage)});
      changed = true;
    }
  }
  if (!changed) return {};
  if (entries.size() > kMostScenes)
    entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(entries.size() - kMostScenes));
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Entry& e : entries) {
    const SceneDamage& d = e.damage;
    list.push_back({{"recorded", e.recordedAt},
                    {"start", e.start},
                    {"end", e.end},
                    {"file", d.file},
                    {"checked", d.checked},
                    {"from", d.from},
                    {"to", d.to},
                    {"packetsLost", d.packetsLost},
                    {"packetsFlagged", d.packetsFlagged},
                    {"picturesDamaged", d.picturesDamaged},
                    {"stretches", d.stretches}});
  }
  const nlohmann::ordered_json all{{"version", 1}, {"scenes", list}};
  const std::string problem = zelto::platform::ReplaceFileWhole(
      path, all.dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
  return problem.empty() ? problem : zelto::platform::Utf8FromPath(path) + ": " + problem;
}

void KeepSceneDamage(Session& session, CaptureReport& report, const std::vector<FileInspection>& files) {
  if (files.empty()) return;
  const std::vector<_OxMICRecInfo> scenes = SceneRecords(session.Device());
  if (scenes.empty()) return;
  const std::string problem = SceneDamageLedger(session.DataFolder()).Record(scenes, files);
  if (!problem.empty()) report.Note("the damage found was not kept for zelto mic: " + problem);
}

}  // namespace zelto::app
