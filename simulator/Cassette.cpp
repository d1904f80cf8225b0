#include "simulator/Cassette.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "host/cassettedb/ICassetteMemory.h"
#include "simulator/CassetteJson.h"
#include "simulator/JsonFields.h"

namespace zelto::sim {

namespace {

using detail::FieldError;

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Seconds of tape to tracks, within the longest tape.
std::uint32_t Tracks(const nlohmann::json& value, const std::string& name) {
  constexpr double kLongestSeconds = static_cast<double>(kLongestTapeTracks) / kTracksPerSecond;
  const double seconds = detail::ToNumber(value, name + " (seconds)", 0, kLongestSeconds);
  return static_cast<std::uint32_t>(
      std::min<long long>(std::llround(seconds * kTracksPerSecond), kLongestTapeTracks));
}

// A member that may be left out: the default then.
const nlohmann::json& Member(const nlohmann::json& object, const char* name, const nlohmann::json& otherwise) {
  const auto it = object.find(name);
  return it == object.end() ? otherwise : *it;
}

// The memory's texts are kept to what its header holds (in UTF-8 bytes, at
// most four a character).
void ReadMemory(const nlohmann::json& memory, Cassette& c) {
  struct Field {
    const char* name;
    std::string* out;
    unsigned chars;
  };
  const Field fields[] = {{"identity", &c.identity, CASSETTE_MEMORY_IDENTITY_CHARS},
                          {"title", &c.title, CASSETTE_MEMORY_TITLE_CHARS},
                          {"text", &c.text, CASSETTE_MEMORY_TEXT_CHARS}};
  static const nlohmann::json kNone = "";
  for (const Field& f : fields) {
    const nlohmann::json& value = Member(memory, f.name, kNone);
    if (!value.is_string() || value.get<std::string>().size() >= 4 * f.chars)
      throw FieldError(std::string("memory: \"") + f.name + "\" must be a text of fewer than " +
                       std::to_string(f.chars) + " characters");
    *f.out = value.get<std::string>();
  }
  static const nlohmann::json kNotCleaning = false;
  try {
    c.cleaning = detail::ToBool(Member(memory, "cleaning", kNotCleaning), "cleaning");
  } catch (const FieldError& e) {
    throw FieldError(std::string("memory: ") + e.what());
  }
  c.hasMemory = true;
}

SceneContent ReadContent(const nlohmann::json& json) {
  // Where the file's packets lie in the scene's stream: at most a whole file
  // before its start (cut off), at most the longest tape after it.
  constexpr auto kFarthest =
      static_cast<std::int64_t>(kLargestStreamFileBytes / kPacketBytes + PacketAtTrack(kLongestTapeTracks));
  constexpr std::uint64_t kMostPackets = kLargestStreamFileBytes / kPacketBytes;
  SceneContent k;
  try {
    k.file = detail::ToText(detail::Field(json, "file"), "file");
    k.fileSize = detail::CountField<std::uint64_t>(json, "fileSize", kLargestStreamFileBytes);
    k.fromPacket = detail::CountField<std::uint64_t>(json, "fromPacket", kMostPackets);
    k.toPacket = detail::CountField<std::uint64_t>(json, "toPacket", kMostPackets);
    k.atPacket = detail::ToInteger(detail::Field(json, "atPacket"), "atPacket", -kFarthest, kFarthest);
  } catch (const FieldError& e) {
    throw FieldError(std::string("\"content\": ") + e.what());
  }
  if (k.file.empty() || k.fromPacket > k.toPacket || k.toPacket > k.fileSize / kPacketBytes)
    throw FieldError("\"content\" does not fit its file");
  return k;
}

Scene ReadScene(const nlohmann::json& item) {
  if (!item.is_object()) throw FieldError("a scene is a JSON object");
  Scene s;
  s.startTrack = Tracks(detail::Field(item, "start"), "\"start\"");
  s.endTrack = Tracks(detail::Field(item, "end"), "\"end\"");
  static const nlohmann::json kPal = 1, kWide = true, kNoText = "", kZero = 0, kMidnight = "00:00:00:00";
  const std::int64_t system = detail::ToInteger(Member(item, "videoSystem", kPal), "videoSystem",
                                                std::numeric_limits<std::int64_t>::min(),
                                                std::numeric_limits<std::int64_t>::max());
  s.videoSystem = system != 0 ? 1 : 0;
  s.wide = detail::ToBool(Member(item, "wide", kWide), "wide");
  s.recorded = detail::ToText(Member(item, "recorded", kNoText), "recorded");
  const auto frame = ParseTimeCode(detail::ToText(Member(item, "timeCode", kMidnight), "timeCode"), s.FramesPerSecond());
  if (!frame) throw FieldError("\"timeCode\" must be HH:MM:SS:FF");
  s.startFrame = *frame;
  s.memoryKey = detail::ToCount<std::uint32_t>(Member(item, "key", kZero), "key");
  s.note = detail::ToText(Member(item, "note", kNoText), "note");
  if (s.note.size() >= 4 * CASSETTE_MEMORY_RECORD_TEXT_CHARS)
    throw FieldError("\"note\" must be a text of fewer than " + std::to_string(CASSETTE_MEMORY_RECORD_TEXT_CHARS) +
                     " characters");
  if (item.contains("content")) s.content = ReadContent(item["content"]);
  return s;
}

// Fractions written as 0.7 and 0.3 may add up to a hair over 1.
constexpr double kFractionSlack = 1e-9;

// The track where a scene shows this time code: the first scene in tape
// order that does.
std::uint32_t TrackOfTimeCode(const std::string& text, const std::vector<Scene>& scenes) {
  bool wellFormed = false;
  for (const Scene& s : scenes) {
    const std::optional<std::uint32_t> frame = ParseTimeCode(text, s.FramesPerSecond());
    if (!frame) continue;
    wellFormed = true;
    if (*frame >= s.startFrame && *frame < s.FrameAt(s.endTrack))
      return s.startTrack + (*frame - s.startFrame) * kTracksPerSecond / s.FramesPerSecond();
  }
  if (!wellFormed && !ParseTimeCode(text, 30)) throw FieldError("\"timeCode\" must be HH:MM:SS:FF");
  throw FieldError("no scene shows the time code " + text);
}

// A damaged stretch: where ("start" in seconds of tape, or the "timeCode" a
// scene shows there), how long ("end", "seconds", or "frames" at the frame
// rate of the scene it starts in) and how bad.
Dropout ReadDropout(const nlohmann::json& item, const Cassette& c) {
  if (!item.is_object()) throw FieldError("a damaged stretch is a JSON object");
  Dropout d;
  if (item.contains("start") == item.contains("timeCode"))
    throw FieldError("give either \"start\" (seconds of tape) or \"timeCode\"");
  d.startTrack = item.contains("start") ? Tracks(item["start"], "\"start\"")
                                        : TrackOfTimeCode(detail::ToText(item["timeCode"], "timeCode"), c.scenes);
  if (item.contains("end") + item.contains("seconds") + item.contains("frames") != 1)
    throw FieldError("give one of \"end\", \"seconds\" or \"frames\"");
  std::uint64_t end = d.startTrack;
  if (item.contains("end")) {
    end = Tracks(item["end"], "\"end\"");
  } else if (item.contains("seconds")) {
    end += Tracks(item["seconds"], "\"seconds\"");
  } else {
    const Scene* scene = c.SceneAt(d.startTrack);
    const unsigned fps = scene ? scene->FramesPerSecond() : 25;
    end += std::uint64_t{detail::ToCount<std::uint32_t>(item["frames"], "frames", kLongestTapeTracks)} *
           kTracksPerSecond / fps;
  }
  d.endTrack = static_cast<std::uint32_t>(std::min<std::uint64_t>(end, kLongestTapeTracks));
  static const nlohmann::json kNone = 0;
  d.lost = detail::ToNumber(Member(item, "lost", kNone), "lost", 0, 1);
  d.flagged = detail::ToNumber(Member(item, "flagged", kNone), "flagged", 0, 1);
  if (d.lost + d.flagged > 1 + kFractionSlack)
    throw FieldError("\"lost\" and \"flagged\" together must be at most 1");
  d.passes = detail::ToCount<std::uint32_t>(Member(item, "passes", kNone), "passes");
  return d;
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
  if (lengthTracks == 0 || lengthTracks > kLongestTapeTracks) return "tape length out of range";
  if (positionTrack > lengthTracks) return "position beyond the end of the tape";
  std::uint32_t previousEnd = 0;
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    const Scene& s = scenes[i];
    if (s.endTrack <= s.startTrack) return "scene " + std::to_string(i + 1) + " is empty";
    if (s.endTrack > lengthTracks) return "scene " + std::to_string(i + 1) + " runs past the end of the tape";
    if (s.startTrack < previousEnd) return "scene " + std::to_string(i + 1) + " overlaps the scene before it";
    previousEnd = s.endTrack;
  }
  previousEnd = 0;
  for (std::size_t i = 0; i < dropouts.size(); ++i) {
    const Dropout& d = dropouts[i];
    const std::string name = "damaged stretch " + std::to_string(i + 1);
    if (d.endTrack <= d.startTrack) return name + " is empty";
    if (d.endTrack > lengthTracks) return name + " runs past the end of the tape";
    if (d.startTrack < previousEnd) return name + " overlaps the stretch before it";
    if (!(d.lost >= 0 && d.flagged >= 0 && d.lost + d.flagged <= 1 + kFractionSlack))
      return name + " loses or flags more than all";
    previousEnd = d.endTrack;
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
  // Half a second of worn tape on the ferry: a few packets lost, a few flagged.
  Dropout worn;
  worn.startTrack = 400 * kTracksPerSecond;
  worn.endTrack = worn.startTrack + kTracksPerSecond / 2;
  worn.lost = 0.002;
  worn.flagged = 0.002;
  c.dropouts.push_back(worn);
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
  nlohmann::json json = {{"length", seconds(c.lengthTracks)},
                         {"position", seconds(c.positionTrack)},
                         {"writeProtected", c.writeProtected},
                         {"memory", memory},
                         {"scenes", scenes}};
  if (!c.dropouts.empty()) {
    nlohmann::json damage = nlohmann::json::array();
    for (const Dropout& d : c.dropouts)
      damage.push_back({{"start", seconds(d.startTrack)},
                        {"end", seconds(d.endTrack)},
                        {"lost", d.lost},
                        {"flagged", d.flagged},
                        {"passes", d.passes}});
    json["damage"] = damage;
  }
  return json;
}

std::optional<Cassette> CassetteFromJson(const nlohmann::json& json, std::string* error) {
  if (!json.is_object()) {
    SetError(error, "a cassette is a JSON object");
    return std::nullopt;
  }
  Cassette c;
  c.scenes.clear();
  std::string where;  // the scene being read, for the message
  try {
    if (json.contains("length")) c.lengthTracks = Tracks(json["length"], "\"length\"");
    if (json.contains("position")) c.positionTrack = Tracks(json["position"], "\"position\"");
    if (json.contains("writeProtected")) c.writeProtected = detail::ToBool(json["writeProtected"], "writeProtected");
    // "memory": true or false, or the memory's header itself.
    if (const auto memory = json.find("memory"); memory == json.end() || memory->is_boolean()) {
      c.hasMemory = memory == json.end() || memory->get<bool>();
    } else if (memory->is_object()) {
      ReadMemory(*memory, c);
    } else {
      throw FieldError("\"memory\" must be true, false or an object");
    }
    if (json.contains("scenes")) {
      const auto& list = json["scenes"];
      if (!list.is_array()) throw FieldError("\"scenes\" must be a list");
      for (std::size_t i = 0; i < list.size(); ++i) {
        where = "scene " + std::to_string(i + 1) + ": ";
        c.scenes.push_back(ReadScene(list[i]));
      }
    }
    if (json.contains("damage")) {
      const auto& list = json["damage"];
      if (!list.is_array()) throw FieldError("\"damage\" must be a list");
      for (std::size_t i = 0; i < list.size(); ++i) {
        where = "damaged stretch " + std::to_string(i + 1) + ": ";
        c.dropouts.push_back(ReadDropout(list[i], c));
      }
    }
  } catch (const FieldError& e) {
    SetError(error, where + e.what());
    return std::nullopt;
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
