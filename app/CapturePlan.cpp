#include "app/CapturePlan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

#include "app/CaptureReport.h"
#include "app/ExitCode.h"
#include "app/Names.h"
#include "platform/PlatformExtras.h"

namespace zelto::app {

namespace {

using zelto::sim::Cassette;
using zelto::sim::kTracksPerSecond;
using zelto::sim::Scene;

// The first hundredth of a second at or after a track (three tracks each):
// a point given to the camcorder lies inside the scene it names.
std::uint32_t HundredthsAt(std::uint32_t track) {
  return static_cast<std::uint32_t>((std::uint64_t{track} * 100 + kTracksPerSecond - 1) / kTracksPerSecond);
}

// The track a point in hundredths of a second stands for, as the camcorder takes it.
std::uint64_t TrackAt(std::uint64_t hundredths) { return hundredths * kTracksPerSecond / 100; }

// The last hundredth of a second any tape holds.
constexpr std::uint64_t kLongestTapeHundredths = std::uint64_t{zelto::sim::kLongestTapeTracks} * 100 / kTracksPerSecond;

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  if (!AllDigits(text) || text.size() > 9) return std::nullopt;
  std::uint32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char at) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(at, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

[[noreturn]] void Bad(const std::string& section, const std::string& why, int code = kExitUsage) {
  throw SectionError(code, "section '" + section + "': " + why);
}

// A point: "H:MM:SS[.cc]" on the tape counter, or "HH:MM:SS:FF" as recorded.
std::uint32_t Point(const std::string& section, std::string_view text, const std::optional<Cassette>& cassette) {
  const std::vector<std::string_view> fields = Split(text, ':');
  if (fields.size() == 3) {
    std::string_view seconds = fields[2];
    std::uint32_t hundredths = 0;
    if (const std::size_t dot = seconds.find('.'); dot != std::string_view::npos) {
      const std::string_view fraction = seconds.substr(dot + 1);
      const auto value = ParseNumber(fraction);
      if (!value || fraction.size() > 2) Bad(section, "'" + std::string(text) + "' is not a tape position H:MM:SS.cc");
      hundredths = fraction.size() == 1 ? *value * 10 : *value;
      seconds = seconds.substr(0, dot);
    }
    const auto h = ParseNumber(fields[0]), m = ParseNumber(fields[1]), s = ParseNumber(seconds);
    if (!h || !m || !s || *m > 59 || *s > 59 || seconds.size() != 2 || fields[1].size() != 2)
      Bad(section, "'" + std::string(text) + "' is not a tape position H:MM:SS[.cc]");
    const std::uint64_t point = ((std::uint64_t{*h} * 60 + *m) * 60 + *s) * 100 + hundredths;
    if (point > kLongestTapeHundredths)
      Bad(section, "'" + std::string(text) + "' lies beyond the longest tape a camcorder takes (" + TapeCounterText(0) +
                       " to " + TapeCounterText(zelto::sim::kLongestTapeTracks) + ")");
    return static_cast<std::uint32_t>(point);
  }
  if (fields.size() == 4) {
    if (!cassette) Bad(section, "a recorded time code needs the simulated camcorder's tape; give a tape position H:MM:SS");
    const std::string code(text);
    for (const Scene& scene : cassette->scenes) {
      const std::optional<std::uint32_t> frame = zelto::sim::ParseTimeCode(code, scene.FramesPerSecond());
      if (!frame || *frame < scene.startFrame || *frame > scene.FrameAt(scene.endTrack)) continue;
      const std::uint64_t track =
          scene.startTrack + std::uint64_t{*frame - scene.startFrame} * kTracksPerSecond / scene.FramesPerSecond();
      return HundredthsAt(static_cast<std::uint32_t>(std::min<std::uint64_t>(track, scene.endTrack)));
    }
    Bad(section, "no scene on the tape holds the time code " + code);
  }
  Bad(section, "'" + std::string(text) + "' is neither a tape position H:MM:SS nor a time code HH:MM:SS:FF");
}

}  // namespace

std::string BaseNameProblem(const std::string& base) {
  if (base.empty()) return "the base name is empty";
  if (base.size() > 100) return "the base name is longer than 100 characters";
  for (char c : base) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || std::string_view("<>:\"/\\|?*%").find(c) != std::string_view::npos)
      return std::string("the base name may not hold '") + (u < 32 ? std::string("control characters") : std::string(1, c)) +
             "' (nor any of < > : \" / \\ | ? * %)";
  }
  if (base.back() == '.' || base.back() == ' ') return "the base name may not end in a dot or a space";
  return {};
}

PlannedSection ResolveSection(const std::string& text, const std::optional<Cassette>& cassette) {
  PlannedSection section;
  section.written = text;
  if (text.rfind("scene:", 0) == 0) {
    const auto k = ParseNumber(std::string_view(text).substr(6));
    if (!k || *k == 0) Bad(text, "the scene number counts from 1");
    if (!cassette) Bad(text, "scenes are known only on the simulated camcorder's tape; give IN-OUT positions");
    if (*k > cassette->scenes.size())
      Bad(text, "the tape has " + std::to_string(cassette->scenes.size()) + " scenes");
    const Scene& scene = cassette->scenes[*k - 1];
    section.inPoint = HundredthsAt(scene.startTrack);
    section.outPoint = HundredthsAt(scene.endTrack);
    section.sceneKey = scene.memoryKey;
    // The camcorder is given whole hundredths: a scene between two of them
    // cannot be pointed at.
    if (TrackAt(section.inPoint) >= scene.endTrack)
      Bad(text,
          "the scene lasts " + std::to_string(scene.endTrack - scene.startTrack) +
              " tracks, less than the hundredth of a second by which the camcorder finds a scene",
          kExitRefused);
    return section;
  }
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) Bad(text, "a section is scene:K or IN-OUT");
  section.inPoint = Point(text, std::string_view(text).substr(0, dash), cassette);
  section.outPoint = Point(text, std::string_view(text).substr(dash + 1), cassette);
  if (section.outPoint <= section.inPoint) Bad(text, "it ends before it begins");
  if (cassette) {
    const std::uint64_t inTrack = TrackAt(section.inPoint);
    if (inTrack >= cassette->lengthTracks)
      Bad(text,
          "it begins beyond the end of the tape (" + TapeCounterText(0) + " to " +
              TapeCounterText(cassette->lengthTracks) + ")",
          kExitRefused);
    const Scene* scene = cassette->SceneAt(static_cast<std::uint32_t>(inTrack));
    if (!scene) {
      for (const Scene& next : cassette->scenes)
        if (next.startTrack > inTrack) {
          scene = &next;
          break;
        }
    }
    if (!scene)
      Bad(text,
          "no recording found at or after its start (the last scene ends at " +
              TapeCounterText(cassette->scenes.empty() ? 0 : cassette->scenes.back().endTrack) + ")",
          kExitNoRecording);
    if (HundredthsAt(scene->endTrack) != section.outPoint) section.cameraOut = HundredthsAt(scene->endTrack);
  }
  return section;
}

int WrapFileNumber(int number) { return number / 1000 + number % 1000; }

namespace {

// Whether a file name is base + "-" + digits (+ "-" + digits) + ".zlt": a
// part of a direct capture (one number) or of a batch section (two).
bool IsCaptureName(const std::string& name, const std::string& base, std::optional<int> file) {
  const std::string prefix = base + "-";
  constexpr std::string_view kExtension = ".zlt";
  if (name.size() <= prefix.size() + kExtension.size() || name.rfind(prefix, 0) != 0 ||
      name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) != 0)
    return false;
  const std::string_view middle(name.data() + prefix.size(), name.size() - prefix.size() - kExtension.size());
  const std::vector<std::string_view> numbers = Split(middle, '-');
  if (!file) return numbers.size() == 1 && AllDigits(numbers[0]) && numbers[0].size() >= 2;
  return numbers.size() == 2 && AllDigits(numbers[0]) && AllDigits(numbers[1]) && numbers[1].size() >= 2 &&
         numbers[0].size() >= 3 && ParseNumber(numbers[0]) == static_cast<std::uint32_t>(*file);
}

// BASE-NNN-PP.zlt for any file number NNN (three digits or more): a scene
// of a whole-tape capture, or a batch section's part.
bool IsSceneFileName(const std::string& name, const std::string& base) {
  const std::string prefix = base + "-";
  const std::size_t dash = name.find('-', prefix.size());
  if (name.rfind(prefix, 0) != 0 || dash == std::string::npos) return false;
  const auto number = ParseNumber(std::string_view(name).substr(prefix.size(), dash - prefix.size()));
  return number && IsCaptureName(name, base, static_cast<int>(*number));
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    names.push_back(zelto::platform::Utf8FromPath(entry.path().filename()));
  return names;
}

}  // namespace

std::vector<std::string> ExistingCaptureFiles(const std::filesystem::path& folder, const std::string& base,
                                              std::optional<int> first, std::size_t sections) {
  CaptureNames names;
  names.kind = first ? CaptureNames::Kind::Batch : CaptureNames::Kind::Direct;
  names.base = base;
  names.first = first.value_or(1);
  names.sections = sections;
  return CoveredFiles(folder, names);
}

std::optional<int> FreeFirstNumber(const std::filesystem::path& folder, const std::string& base, int first,
                                   std::size_t sections) {
  // One look at the folder: the section numbers already taken.
  std::set<std::uint32_t> taken;
  for (const std::string& name : Names(folder)) {
    if (name.rfind(base + "-", 0) != 0) continue;
    const std::size_t dash = name.find('-', base.size() + 1);
    if (dash == std::string::npos) continue;
    const auto number = ParseNumber(std::string_view(name).substr(base.size() + 1, dash - base.size() - 1));
    if (number && IsCaptureName(name, base, static_cast<int>(*number))) taken.insert(*number);
  }
  for (int n = first; n < 1'000'000; ++n) {
    bool free = true;
    for (std::size_t i = 0; i < sections && free; ++i)
      free = !taken.count(static_cast<std::uint32_t>(WrapFileNumber(n + static_cast<int>(i))));
    if (free) return n;
  }
  return std::nullopt;
}

namespace {

// The first of base, base-2, base-3, ... under which the folder holds no
// file that `taken` claims for that base.
std::optional<std::string> FirstFreeBase(const std::filesystem::path& folder, const std::string& base,
                                         bool (*taken)(const std::string& name, const std::string& base)) {
  const std::vector<std::string> names = Names(folder);
  const auto free = [&](const std::string& candidate) {
    return std::none_of(names.begin(), names.end(), [&](const std::string& name) { return taken(name, candidate); });
  };
  if (free(base)) return base;
  for (int n = 2; n < 1'000'000; ++n)
    if (free(base + "-" + std::to_string(n))) return base + "-" + std::to_string(n);
  return std::nullopt;
}

bool IsDirectPartName(const std::string& name, const std::string& base) {
  return IsCaptureName(name, base, std::nullopt);
}

}  // namespace

std::optional<std::string> FreeBaseName(const std::filesystem::path& folder, const std::string& base) {
  return FirstFreeBase(folder, base, &IsDirectPartName);
}

std::vector<std::string> ExistingSceneFiles(const std::filesystem::path& folder, const std::string& base) {
  CaptureNames names;
  names.kind = CaptureNames::Kind::Tape;
  names.base = base;
  return CoveredFiles(folder, names);
}

std::optional<std::string> FreeSceneBaseName(const std::filesystem::path& folder, const std::string& base) {
  return FirstFreeBase(folder, base, &IsSceneFileName);
}

std::optional<std::pair<int, int>> CaptureNames::Numbers(const std::string& name) const {
  const std::string prefix = base + "-";
  if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 4) return std::nullopt;
  const std::vector<std::string_view> numbers =
      Split(std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - 4), '-');
  if (kind == Kind::Direct) {
    if (!IsCaptureName(name, base, std::nullopt)) return std::nullopt;
    return std::pair<int, int>{0, static_cast<int>(*ParseNumber(numbers[0]))};
  }
  if (!IsSceneFileName(name, base)) return std::nullopt;
  const auto file = static_cast<int>(*ParseNumber(numbers[0]));
  if (kind == Kind::Batch) {
    bool listed = false;
    for (std::size_t i = 0; i < sections && !listed; ++i) listed = WrapFileNumber(first + static_cast<int>(i)) == file;
    if (!listed) return std::nullopt;
  }
  return std::pair<int, int>{file, static_cast<int>(*ParseNumber(numbers[1]))};
}

bool CaptureNames::Covers(const std::string& name) const { return Numbers(name).has_value(); }

std::vector<std::string> CoveredFiles(const std::filesystem::path& folder, const CaptureNames& names) {
  std::vector<std::string> found;
  for (const std::string& name : Names(folder))
    if (names.Covers(name)) found.push_back(name);
  std::sort(found.begin(), found.end(), NaturalLess);
  return found;
}

std::vector<std::string> CaptureMadeFiles(const std::filesystem::path& folder, const CaptureNames& names,
                                          const std::vector<std::string>& reported) {
  // In numeric order each name follows the one it continues.
  std::vector<std::pair<std::pair<int, int>, std::string>> present;
  for (const std::string& name : CoveredFiles(folder, names)) present.emplace_back(*names.Numbers(name), name);
  std::sort(present.begin(), present.end());
  std::set<std::pair<int, int>> made;
  for (const std::string& name : reported)
    if (const auto numbers = names.Numbers(name)) made.insert(*numbers);
  std::vector<std::string> files;
  for (const auto& [numbers, name] : present) {
    const auto [file, part] = numbers;
    bool ours = made.count(numbers) || (part > 1 && made.count({file, part - 1}));
    if (!ours && part == 1) {
      // Direct parts and batch sections begin at part 01 of a name of
      // their own; a whole-tape run's scenes follow one another.
      ours = names.kind != CaptureNames::Kind::Tape || file == 1 || made.count({file - 1, 1});
    }
    if (ours) {
      made.insert(numbers);
      files.push_back(name);
    }
  }
  std::sort(files.begin(), files.end(), NaturalLess);
  return files;
}

std::optional<unsigned> FrameRateFrom(const Cassette& cassette, std::uint32_t track) {
  for (const Scene& scene : cassette.scenes)
    if (scene.endTrack > track) return scene.FramesPerSecond();
  return std::nullopt;
}

std::optional<std::uint32_t> SceneBegunBy(const Cassette& cassette, std::int64_t firstPictureClock) {
  // The muxer starts the pictures' clock a little after the stream's (a
  // tenth of a second); a later part of a split scene begins a whole MiB,
  // over half a second of tape, after it.
  constexpr double kSlackSeconds = 0.3;
  const double seconds = static_cast<double>(firstPictureClock) / 90000.0;
  for (const Scene& scene : cassette.scenes) {
    if (scene.content) continue;  // a recorded stream keeps the clock it was sent with
    const double start = static_cast<double>(scene.startFrame) / scene.FramesPerSecond();
    if (seconds >= start && seconds < start + kSlackSeconds && TrackAt(HundredthsAt(scene.startTrack)) < scene.endTrack)
      return HundredthsAt(scene.startTrack);
  }
  return std::nullopt;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      // Leading zeros aside, the longer run of digits is the larger number.
      std::size_t zi = i, zj = j;
      while (zi + 1 < ei && a[zi] == '0') ++zi;
      while (zj + 1 < ej && b[zj] == '0') ++zj;
      if (ei - zi != ej - zj) return ei - zi < ej - zj;
      if (const int order = a.compare(zi, ei - zi, b, zj, ej - zj); order != 0) return order < 0;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;
}

namespace {

// The MiB of a second of stream (1,590,000 bytes), as the library writes it.
constexpr double kMegabytesPerSecond = 1.5163421630859375;
constexpr std::uint64_t kMegabyte = 1'048'576;
// The library makes the split size in 32 bits: from 4 GiB on it wraps.
constexpr std::uint64_t kLibraryLargestMegabytes = 4095;

}  // namespace

std::uint64_t LibraryMegabytesForFrames(std::uint32_t frames, unsigned framesPerSecond) {
  const std::uint64_t seconds = frames / framesPerSecond + 1;
  const auto megabytes = static_cast<std::int64_t>(std::floor(static_cast<double>(seconds) * kMegabytesPerSecond)) - 1;
  return static_cast<std::uint64_t>(std::max<std::int64_t>(megabytes, 0));
}

unsigned FramesInMegabytes(std::uint64_t megabytes, unsigned framesPerSecond) {
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(kStreamBytesPerSecond) / framesPerSecond;
  return static_cast<unsigned>(std::max<std::uint64_t>(1, megabytes * kMegabyte / frameBytes));
}

SplitChoice ChooseSplit(const SplitRule& asked, unsigned framesPerSecond) {
  SplitChoice choice;
  choice.rule = asked;
  if (asked.kind != SplitRule::Kind::ByDuration) return choice;
  // The whole MiB on either side of the frames' bytes; the one whose parts
  // hold the nearer number of frames (the shorter on a tie).
  const double ideal = static_cast<double>(asked.frames) / framesPerSecond * kMegabytesPerSecond;
  std::uint64_t best = 0;
  for (const auto candidate : {static_cast<std::uint64_t>(std::floor(ideal)), static_cast<std::uint64_t>(std::ceil(ideal))}) {
    if (candidate == 0) continue;
    const auto miss = [&](std::uint64_t m) {
      return std::llabs(static_cast<long long>(FramesInMegabytes(m, framesPerSecond)) - static_cast<long long>(asked.frames));
    };
    if (best == 0 || miss(candidate) < miss(best)) best = candidate;
  }
  if (best == 0) best = 1;
  choice.megabytes = best;
  choice.framesPerPart = FramesInMegabytes(best, framesPerSecond);
  choice.secondsPerPart = static_cast<double>(choice.framesPerPart) / framesPerSecond;
  const std::uint64_t library = LibraryMegabytesForFrames(asked.frames, framesPerSecond);
  if (library != best || library > kLibraryLargestMegabytes) {
    choice.rule.kind = SplitRule::Kind::BySize;
    choice.rule.megabytes = best;
    choice.rule.frames = 0;
  }
  return choice;
}

}  // namespace zelto::app
