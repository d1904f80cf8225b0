#include "simulator/Cassette.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/cassettedb/ICassetteMemory.h"
#include "simulator/CassetteJson.h"

namespace zelto::sim {

namespace {

constexpr std::uint32_t kMaxTracks = 0x0FFFFFFF;  // what a seek command can address

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// The memory's texts are kept to what its header holds (in UTF-8 bytes, at
// most four a character).
bool ReadMemory(const nlohmann::json& memory, Cassette& c, std::string* error) {
  struct Field {
    const char* name;
    std::string* out;
    unsigned chars;
  };
  const Field fields[] = {{"identity", &c.identity, CASSETTE_MEMORY_IDENTITY_CHARS},
                          {"title", &c.title, CASSETTE_MEMORY_TITLE_CHARS},
                          {"text", &c.text, CASSETTE_MEMORY_TEXT_CHARS}};
  for (const Field& f : fields) {
    const auto value = memory.value(f.name, nlohmann::json(""));
    if (!value.is_string() || value.get<std::string>().size() >= 4 * f.chars) {
      SetError(error, std::string("memory: \"") + f.name + "\" must be a text of fewer than " +
                          std::to_string(f.chars) + " characters");
      return false;
    }
    *f.out = value.get<std::string>();
  }
  const auto cleaning = memory.value("cleaning", nlohmann::json(false));
  if (!cleaning.is_boolean()) {
    SetError(error, "memory: \"cleaning\" must be true or false");
    return false;
  }
  c.cleaning = cleaning.get<bool>();
  c.hasMemory = true;
  return true;
}

bool ReadContent(const nlohmann::json& json, Scene& s, std::string* error, const std::string& where) {
  try {
    SceneContent k;
    k.file = json.at("file").get<std::string>();
    k.fileSize = json.at("fileSize").get<std::uint64_t>();
    k.fromPacket = json.at("fromPacket").get<std::uint64_t>();
    k.toPacket = json.at("toPacket").get<std::uint64_t>();
    k.atPacket = json.at("atPacket").get<std::int64_t>();
    if (k.file.empty() || k.fromPacket > k.toPacket || k.toPacket > k.fileSize / kPacketBytes) {
      SetError(error, where + "\"content\" does not fit its file");
      return false;
    }
    s.content = std::move(k);
    return true;
  } catch (const nlohmann::json::exception&) {
    SetError(error, where + "\"content\" needs file, fileSize, fromPacket, toPacket, atPacket");
    return false;
  }
}

}  // namespace

std::uint32_t Scene::FrameAt(std::uint32_t track) const {
  const std::uint32_t clamped = std::clamp(track, startTrack, endTrack);
  const std::uint64_t elapsed = clamped - startTrack;
  return startFrame + static_cast<std::uint32_t>(elapsed * FramesPerSecond() / kTracksPerSecond);
}

__MIDL___MIDL_itf_plgdefs_0000_0001 Scene::TimeCodeAt(std::uint32_t track) const {
  return TimeCodeRecord(FrameAt(track), FramesPerSecond());
}

__MIDL___MIDL_itf_plgdefs_0000_0001 TimeCodeRecord(std::uint32_t frames, unsigned framesPerSecond) {
  __MIDL___MIDL_itf_plgdefs_0000_0001 record{};
  const std::uint32_t totalSeconds = frames / framesPerSecond;
  record.frames = static_cast<BYTE>(frames % framesPerSecond);
  record.seconds = static_cast<BYTE>(totalSeconds % 60);
  record.minutes = static_cast<BYTE>(totalSeconds / 60 % 60);
  record.hours = static_cast<BYTE>(totalSeconds / 3600 % 24);  // the counter wraps after a day
  record.flags = 0;
  return record;
}

std::optional<std::uint32_t> ParseTimeCode(std::string_view text, unsigned framesPerSecond) {
  unsigned h = 0, m = 0, s = 0, f = 0;
  char tail = 0;
  const std::string copy(text);
  if (std::sscanf(copy.c_str(), "%2u:%2u:%2u:%2u%c", &h, &m, &s, &f, &tail) != 4) return std::nullopt;
  if (copy.size() != 11 || h > 23 || m > 59 || s > 59 || f >= framesPerSecond) return std::nullopt;
  return ((h * 60 + m) * 60 + s) * framesPerSecond + f;
}

std::string FormatTimeCode(std::uint32_t frames, unsigned framesPerSecond) {
  const auto r = TimeCodeRecord(frames, framesPerSecond);
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", unsigned{r.hours}, unsigned{r.minutes},
                unsigned{r.seconds}, unsigned{r.frames});
  return text;
}

const Scene* Cassette::SceneAt(std::uint32_t track) const {
  auto it = std::upper_bound(scenes.begin(), scenes.end(), track,
                             [](std::uint32_t t, const Scene& s) { return t < s.startTrack; });
  if (it == scenes.begin()) return nullptr;
  --it;
  return track < it->endTrack ? &*it : nullptr;
}

std::optional<std::uint32_t> Cassette::NextBoundaryAfter(std::uint32_t track) const {
  for (const Scene& s : scenes) {
    if (s.startTrack > track) return s.startTrack;
    if (s.endTrack > track) return s.endTrack;
  }
  return std::nullopt;
}

void Cassette::Overwrite(const Scene& scene) {
  if (scene.endTrack <= scene.startTrack) return;
  std::vector<Scene> kept;
  kept.reserve(scenes.size() + 2);
  for (const Scene& s : scenes) {
    if (s.endTrack <= scene.startTrack || s.startTrack >= scene.endTrack) {
      kept.push_back(s);
      continue;
    }
    if (s.startTrack < scene.startTrack) {  // the part before the new scene survives
      Scene head = s;
      head.endTrack = scene.startTrack;
      kept.push_back(head);
    }
    if (s.endTrack > scene.endTrack) {  // so does the part after it
      Scene tail = s;
      tail.startFrame = s.FrameAt(scene.endTrack);
      tail.startTrack = scene.endTrack;
      if (tail.content) {
        const std::uint64_t cut = PacketAtTrack(scene.endTrack - s.startTrack);
        tail.content->atPacket -= static_cast<std::int64_t>(cut);
      }
      // A new start is a new record in the memory; the head keeps the old one.
      if (s.startTrack < scene.startTrack) tail.memoryKey = 0;
      kept.push_back(tail);
    }
  }
  kept.push_back(scene);
  std::sort(kept.begin(), kept.end(),
            [](const Scene& a, const Scene& b) { return a.startTrack < b.startTrack; });
  scenes = std::move(kept);
}

std::string Cassette::Problem() const {
  if (lengthTracks == 0 || lengthTracks > kMaxTracks) return "tape length out of range";
  if (positionTrack > lengthTracks) return "position beyond the end of the tape";
  std::uint32_t previousEnd = 0;
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    const Scene& s = scenes[i];
    if (s.endTrack <= s.startTrack) return "scene " + std::to_string(i + 1) + " is empty";
    if (s.endTrack > lengthTracks) return "scene " + std::to_string(i + 1) + " runs past the end of the tape";
    if (s.startTrack < previousEnd) return "scene " + std::to_string(i + 1) + " overlaps the scene before it";
    previousEnd = s.endTrack;
  }
  return {};
}

std::string Cassette::DerivedIdentity() const {
  // FNV-1a over what the scenes are: stable across runs and platforms.
  std::uint32_t hash = 2166136261u;
  auto mix = [&](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      hash ^= (value >> (8 * i)) & 0xFF;
      hash *= 16777619u;
    }
  };
  mix(lengthTracks);
  for (const Scene& s : scenes) {
    mix(s.startTrack);
    mix(s.endTrack);
    mix(s.startFrame);
    for (char ch : s.recorded) mix(static_cast<unsigned char>(ch));
  }
  char text[16];
  std::snprintf(text, sizeof text, "ZL-%08X", static_cast<unsigned>(hash));
  return text;
}

Cassette Cassette::Default() {
  Cassette c;
  c.identity = "ZL-0000-0001";
  c.title = "Holiday";
  auto scene = [](double start, double end, std::uint32_t frame, const char* date, bool wide) {
    Scene s;
    s.startTrack = static_cast<std::uint32_t>(start * kTracksPerSecond);
    s.endTrack = static_cast<std::uint32_t>(end * kTracksPerSecond);
    s.startFrame = frame;
    s.recorded = date;
    s.videoSystem = 1;
    s.wide = wide;
    return s;
  };
  // Three scenes of a holiday with blank tape between them; the time code
  // goes on across a recording break, as the camcorder continues it.
  c.scenes.push_back(scene(1.0, 94.6, 0, "2025-07-12T10:14:03", true));
  Scene second = scene(97.0, 311.4, 0, "2025-07-12T15:40:51", true);
  second.startFrame = c.scenes[0].FrameAt(c.scenes[0].endTrack);
  c.scenes.push_back(second);
  Scene third = scene(330.0, 505.2, 0, "2025-07-13T09:02:27", false);
  third.startFrame = second.FrameAt(second.endTrack);
  c.scenes.push_back(third);
  c.scenes[0].note = "Harbour";
  c.scenes[1].note = "Market";
  c.scenes[2].note = "Ferry";
  return c;
}

namespace detail {

nlohmann::json CassetteToJson(const Cassette& c) {
  auto seconds = [](std::uint32_t tracks) { return static_cast<double>(tracks) / kTracksPerSecond; };
  nlohmann::json scenes = nlohmann::json::array();
  for (const Scene& s : c.scenes) {
    nlohmann::json scene = {{"start", seconds(s.startTrack)},
                            {"end", seconds(s.endTrack)},
                            {"timeCode", FormatTimeCode(s.startFrame, s.FramesPerSecond())},
                            {"recorded", s.recorded},
                            {"videoSystem", s.videoSystem},
                            {"wide", s.wide},
                            {"key", s.memoryKey},
                            {"note", s.note}};
    if (s.content) {
      const SceneContent& k = *s.content;
      scene["content"] = {{"file", k.file},         {"fileSize", k.fileSize}, {"fromPacket", k.fromPacket},
                          {"toPacket", k.toPacket}, {"atPacket", k.atPacket}};
    }
    scenes.push_back(std::move(scene));
  }
  nlohmann::json memory = false;
  if (c.hasMemory)
    memory = {{"identity", c.identity}, {"title", c.title}, {"text", c.text}, {"cleaning", c.cleaning}};
  return {{"length", seconds(c.lengthTracks)},
          {"position", seconds(c.positionTrack)},
          {"writeProtected", c.writeProtected},
          {"memory", memory},
          {"scenes", scenes}};
}

std::optional<Cassette> CassetteFromJson(const nlohmann::json& json, std::string* error) {
  // Seconds of tape to tracks, refusing what no tape can hold.
  auto tracks = [](const nlohmann::json& value, std::uint32_t& out) {
    if (!value.is_number()) return false;
    const double s = value.get<double>();
    if (!std::isfinite(s) || s < 0 || s * kTracksPerSecond > kMaxTracks) return false;
    out = static_cast<std::uint32_t>(std::llround(s * kTracksPerSecond));
    return true;
  };
  if (!json.is_object()) {
    SetError(error, "a cassette is a JSON object");
    return std::nullopt;
  }
  Cassette c;
  c.scenes.clear();
  if (json.contains("length") && !tracks(json["length"], c.lengthTracks)) {
    SetError(error, "\"length\" must be a number of seconds");
    return std::nullopt;
  }
  if (json.contains("position") && !tracks(json["position"], c.positionTrack)) {
    SetError(error, "\"position\" must be a number of seconds");
    return std::nullopt;
  }
  if (json.contains("writeProtected") && !json["writeProtected"].is_boolean()) {
    SetError(error, "\"writeProtected\" must be true or false");
    return std::nullopt;
  }
  c.writeProtected = json.value("writeProtected", false);
  // "memory": true or false, or the memory's header itself.
  const nlohmann::json memory = json.value("memory", nlohmann::json(true));
  if (memory.is_object()) {
    if (!ReadMemory(memory, c, error)) return std::nullopt;
  } else if (memory.is_boolean()) {
    c.hasMemory = memory.get<bool>();
  } else {
    SetError(error, "\"memory\" must be true, false or an object");
    return std::nullopt;
  }
  if (json.contains("scenes")) {
    const auto& list = json["scenes"];
    if (!list.is_array()) {
      SetError(error, "\"scenes\" must be a list");
      return std::nullopt;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
      const auto& item = list[i];
      const std::string where = "scene " + std::to_string(i + 1) + ": ";
      Scene s;
      if (!item.is_object() || !tracks(item.value("start", nlohmann::json()), s.startTrack) ||
          !tracks(item.value("end", nlohmann::json()), s.endTrack)) {
        SetError(error, where + "\"start\" and \"end\" must be numbers of seconds");
        return std::nullopt;
      }
      const auto system = item.value("videoSystem", nlohmann::json(1));
      const auto wide = item.value("wide", nlohmann::json(true));
      const auto recorded = item.value("recorded", nlohmann::json(""));
      const auto timeCode = item.value("timeCode", nlohmann::json("00:00:00:00"));
      if (!system.is_number_integer() || !wide.is_boolean() || !recorded.is_string() || !timeCode.is_string()) {
        SetError(error, where + "wrong type of \"videoSystem\", \"wide\", \"recorded\" or \"timeCode\"");
        return std::nullopt;
      }
      s.videoSystem = system.get<int>() != 0 ? 1 : 0;
      s.wide = wide.get<bool>();
      s.recorded = recorded.get<std::string>();
      const auto frame = ParseTimeCode(timeCode.get<std::string>(), s.FramesPerSecond());
      if (!frame) {
        SetError(error, where + "\"timeCode\" must be HH:MM:SS:FF");
        return std::nullopt;
      }
      s.startFrame = *frame;
      const auto key = item.value("key", nlohmann::json(0));
      const auto note = item.value("note", nlohmann::json(""));
      if (!key.is_number_integer() || key.get<std::int64_t>() < 0 || key.get<std::int64_t>() > 0xFFFFFFFF ||
          !note.is_string() ||
          note.get<std::string>().size() >= 4 * CASSETTE_MEMORY_RECORD_TEXT_CHARS) {
        SetError(error, where + "\"key\" must be a 32-bit number and \"note\" a short text");
        return std::nullopt;
      }
      s.memoryKey = key.get<std::uint32_t>();
      s.note = note.get<std::string>();
      if (item.contains("content") && !ReadContent(item["content"], s, error, where)) return std::nullopt;
      c.scenes.push_back(std::move(s));
    }
  }
  if (std::string problem = c.Problem(); !problem.empty()) {
    SetError(error, problem);
    return std::nullopt;
  }
  if (c.hasMemory && c.identity.empty()) c.identity = c.DerivedIdentity();
  return c;
}

}  // namespace detail

std::string Cassette::ToJson() const { return detail::CassetteToJson(*this).dump(2); }

std::optional<Cassette> Cassette::FromJson(std::string_view text, std::string* error) {
  nlohmann::json json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (json.is_discarded()) {
    SetError(error, "not valid JSON");
    return std::nullopt;
  }
  return detail::CassetteFromJson(json, error);
}

std::optional<Cassette> Cassette::Load(const std::filesystem::path& file, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    SetError(error, "cannot open the cassette file");
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return FromJson(text.str(), error);
}

}  // namespace zelto::sim
