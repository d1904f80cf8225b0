// Writes the fuzz targets' seed corpora, each made by the code that makes
// such input for real: states the camcorder saves, cassettes it writes, a
// database the host's manager fills, the scan's thumbnails, the start of a
// capture file, and the command lines the README shows.
//   make_seeds FOLDER    writes FOLDER/TARGET/seed-NAME for every target
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "app/SceneDamage.h"
#include "host/cassettedb/IMicDatabaseManager.h"
#include "platform/PlatformExtras.h"
#include "simulator/CaptureStreamWriter.h"
#include "simulator/DeckModel.h"
#include "simulator/SyntheticPicture.h"
#include "simulator/Thumbnail.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace fs = std::filesystem;
using zelto::sim::Cassette;
using zelto::sim::DeckModel;

namespace {

fs::path gRoot;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(gRoot / target);
  std::ofstream(gRoot / target / ("seed-" + name), std::ios::binary | std::ios::trunc) << bytes;
}

std::string Bytes(const std::vector<std::uint8_t>& data) { return {data.begin(), data.end()}; }

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A small scene picture as the scan sends it (32 x 18, so the seeds stay small).
std::vector<std::uint8_t> SmallThumbnail(unsigned scene) {
  zelto::sim::SyntheticPicture picture(32, 18);
  picture.Draw({scene, 250 * scene, 25});
  return zelto::sim::PackedBitmap(picture);
}

void States() {
  constexpr std::int64_t kWall = 1'780'000'000'000;
  std::map<std::string, std::function<void(DeckModel&)>> steps = {
      {"empty", [](DeckModel&) {}},
      {"stopped", [](DeckModel& m) { m.Insert(Cassette::Default(), 0, true); }},
      {"loading", [](DeckModel& m) { m.Insert(Cassette::Default(), 0); }},
      {"playing", [](DeckModel& m) { m.Insert(Cassette::Default(), 0, true); m.Command(DECK_COMMAND_PLAY, 10); }},
      {"winding-to-track", [](DeckModel& m) {
         m.Insert(Cassette::Default(), 0, true); m.Command(DECK_COMMAND_SEEK_ATN | 100'000, 10);
       }},
      {"scanning", [](DeckModel& m) { m.Insert(Cassette::Default(), 0, true); m.StartScan(10); }},
      {"recording-a-file", [](DeckModel& m) {
         m.Insert(Cassette::Default(), 0, true);
         m.Command(DECK_COMMAND_SEEK_ATN | 200'000, 0);
         m.Advance(60'000);
         m.Command(DECK_COMMAND_RECORD_PAUSE, 60'000);
         DeckModel::TransmitSource source;
         source.file = "/tapes/Holiday-001-01.zlt";
         source.fileSize = 16'900 * 188;
         source.leadInPackets = source.leadOutPackets = 4'228;
         m.StartTransmit(source, 60'000);
         m.Command(DECK_COMMAND_RECORD, 61'000);
       }},
      {"camera-mode", [](DeckModel& m) {
         m.Insert(Cassette::Default(), 0, true); m.SwitchCamcorderMode(CAMCORDER_MODE_CAMERA, 10);
       }},
  };
  for (auto& [name, step] : steps) {
    DeckModel model;
    step(model);
    Write("state_file", name, model.Save(2'000, kWall));
    if (name == "recording-a-file") {
      // The tape it leaves: a scene recorded from the file.
      Write("cassette_file", "recorded-from-a-file", model.CurrentCassette(90'000)->ToJson());
    }
  }
}

void Cassettes() {
  Write("cassette_file", "default", Cassette::Default().ToJson());
  Cassette bare = Cassette::Default();
  bare.hasMemory = false;
  bare.writeProtected = true;
  bare.scenes.resize(1);
  bare.scenes[0].videoSystem = 0;
  Write("cassette_file", "no-memory-protected", bare.ToJson());
  Cassette blank;
  blank.lengthTracks = zelto::sim::kLongestTapeTracks;
  blank.scenes.clear();
  blank.title = "Ferienfilm \xC3\xA9t\xC3\xA9 \xE2\x80\x93 \xE5\xA4\x8F";
  Write("cassette_file", "longest-blank", blank.ToJson());
}

void Database(const fs::path& scratch) {
  using namespace Orvex;
  const fs::path file = scratch / "micdb.mdb";
  fs::remove(file);
  const OxString path(zelto::platform::WidePath(file).c_str());
  CreateMicDatabase(path);
  Write("mic_database", "empty", ReadFile(file));
  IMicDatabaseManager* manager = CreateMicDatabaseManager();
  manager->Open(path, OX_MIC_DB_OPEN_READWRITE);
  manager->SelectCassette(L"ZL-0000-0001", true);
  manager->SetTapeTitle(L"Holiday");
  OxString text(L"Harbour, market, ferry");
  manager->SetTapeText(text);
  for (unsigned scene = 1; scene <= 2; ++scene) {
    _OxMicDbRecInfo info;
    info.recordedAt = 1'752'315'243 + scene * 3600;
    info.startTimeCode = scene << 16;
    info.endTimeCode = (scene << 16) + 0x0100;
    info.duration = 4000;
    info.text = OxString(scene == 1 ? L"Harbour" : L"March\u00e9");
    manager->AddRecInfo(info);
    const std::vector<std::uint8_t> bytes = SmallThumbnail(scene);
    OxBitmap picture;
    picture.SetBitmap(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    manager->SetRecInfoPicture(info.id, picture, true);
  }
  manager->SelectCassette(L"ZL-cleaning", true);
  manager->SetCleaningTape(true);
  manager->Close();
  manager->Destroy();
  Write("mic_database", "two-cassettes-with-pictures", ReadFile(file));
}

void Thumbnails() {
  Write("thumbnail", "scene-1", Bytes(SmallThumbnail(1)));
  zelto::sim::SyntheticPicture full(zelto::sim::kThumbnailWidth, zelto::sim::kThumbnailHeight);
  full.Draw({3, 4500, 25});
  Write("thumbnail", "scene-3-full-size", Bytes(zelto::sim::PackedBitmap(full)));
}

// A count, then code and argument of each event, then a bitmap.
void DriverEvents() {
  struct Event {
    std::uint8_t code;
    std::uint32_t argument;
  };
  const std::map<std::string, std::vector<Event>> runs = {
      {"deck-and-media", {{29, 0}, {31, 0}, {30, 0}, {32, 1}, {32, 0}}},
      {"scan", {{19, 1}, {19, 2}, {21, 0}}},
      {"batch", {{27, 0}, {28, 0}, {3, 0}, {4, 0}, {25, 0}, {23, 0}}},
      {"removed", {{5, 0x20000003}, {5, 0}}},
      {"recording", {{7, 0}, {9, 0}, {8, 0}}},
      {"video-system", {{10, 5}, {10, 0}, {11, 1}, {11, 2}, {2, 0}, {18, 0}, {24, 0}}},
  };
  for (const auto& [name, events] : runs) {
    std::string bytes(1, static_cast<char>(events.size()));
    for (const Event& e : events) {
      bytes += static_cast<char>(e.code);
      bytes.append(reinterpret_cast<const char*>(&e.argument), 4);
    }
    if (name == "scan") bytes += Bytes(SmallThumbnail(2));
    if (name == "batch") bytes += "Clip-001-01.zlt";
    Write("driver_events", name, bytes);
  }
}

void CommandLines() {
  const char* lines[] = {
      "status\n--json",
      "deck\nplay\n--wait\n--timeout\n30",
      "deck\nseek\n900000\n--wait",
      "watch\n--seconds\n5",
      "capture\ndirect\n--to\nclips\n--name\nClip\n--split\nsize:100\n--seconds\n30",
      "capture\nbatch\n--to\ntapes\n--name\nHoliday\n--first\n998\n--split\nframes:25\nscene:1\n0:00:05.5-0:00:10",
      "capture\ntape\n--to\ntapes\n--stream-timeout\n30000\n--poll\n500\n--next-free\n--json",
      "record\nclips/Clip-01.zlt\n--margins\n1,1\n--direct",
      "scan\n--contact-sheet\nsheet.png",
      "mic\n--json",
      "mic\ntext\nSommer \xC3\xA0 la mer",
      "mic\npicture\n2\nscene.png\n--second",
      "--driver\nsystem\n--data-folder\n/tmp/z\ndemo",
      "--state-file\ncam.json\n--cassette\ntape.json\n--reset\nstatus",
      "help\ncapture",
      "--version",
  };
  int i = 0;
  for (const char* line : lines) Write("command_line", std::to_string(++i), line);
}

void Sections() {
  Cassette tape = Cassette::Default();
  const std::string json = tape.ToJson();
  const char* sections[] = {"scene:1", "scene:3", "0:00:05.5-0:00:10", "00:00:10:00-00:01:00:00",
                            "0:01:40-0:02:00", "200:00:00-200:30:00", "0:09:00-0:10:00"};
  int i = 0;
  for (const char* section : sections) {
    Write("capture_section", std::to_string(++i), std::string(section) + "\n" + json);
    Write("capture_section", std::to_string(++i), section);
  }
  Write("capture_section", std::to_string(++i), "0:00:05-0:00:10\nnone");
}

void Streams(const fs::path& scratch) {
  const fs::path file = scratch / "capture.zlt";
  fs::remove(file);
  std::string error;
  auto writer = zelto::sim::CaptureStreamWriter::Create(file, 25, true, &error);
  if (!writer || !writer->WriteFrames(1, 0, 2, &error) || !writer->Close(&error)) {
    std::fprintf(stderr, "make_seeds: the capture file: %s\n", error.c_str());
    return;
  }
  const std::string stream = ReadFile(file);
  Write("record_stream", "first-packets", stream.substr(0, 17 * 188));
  Write("record_stream", "cut-off-packet", stream.substr(0, 20 * 188 + 77));
  // For verify: each first byte chooses the size of the reads.
  std::string damaged = stream.substr(0, 20 * 188);
  damaged[3 * 188 + 1] = static_cast<char>(damaged[3 * 188 + 1] | 0x80);  // flagged
  damaged.erase(6 * 188, 188);                                             // a packet lost
  damaged.insert(10 * 188, std::string(50, '\x33'));                       // bytes outside packets
  Write("stream_check", "first-packets", "\x07" + stream.substr(0, 17 * 188));
  Write("stream_check", "damaged", std::string(1, '\xBB') + damaged);
  Write("stream_check", "cut-off-packet", "\x01" + stream.substr(0, 20 * 188 + 77));
  // For the assembly: the first four bytes choose where the passes start and end and how they drop out.
  Write("pass_assembly", "whole-passes", std::string("\x00\x00\x00\x00", 4) + stream.substr(0, 40 * 188));
  Write("pass_assembly", "damaged-passes", "\x10\x20\x03\x01" + stream.substr(0, 40 * 188));
  Write("pass_assembly", "damaged-primary", "\x08\x08\x05\x02" + damaged);
}

void Sheets() {
  Write("contact_sheet", "holiday", "Holiday\n00:00:00:00-00:01:33:15\n0:01:33\n00:01:33:15-00:05:07:25\n0:03:34");
  Write("contact_sheet", "accents-and-picture",
        "Caf\xC3\xA9 \xC3\x86r\xC3\xB8 Stra\xC3\x9F" "e \xE2\x80\x9CSommer\xE2\x80\x9D\n00:00:00:00-00:00:04:00\n0:00:04" +
            std::string(1, '\0') + Bytes(SmallThumbnail(1)));
}

}  // namespace

// The data folder's scene damage list as captures write it: two scenes, one
// captured whole and one damaged.
void SceneDamage(const fs::path& scratch) {
  using zelto::app::FileInspection;
  const auto scene = [](std::int64_t recordedAt, std::uint32_t from, std::uint32_t to) {
    Orvex::_OxMICRecInfo r;
    r.recordedAt = recordedAt;
    r.startTimeCode = from << 8;
    r.endTimeCode = to << 8;
    return r;
  };
  const std::vector<Orvex::_OxMICRecInfo> scenes{scene(1'752'315'243, 0, 20), scene(1'752'335'651, 30, 50)};
  const auto file = [](const char* name, double first, double last) {
    FileInspection f;
    f.file = name;
    f.outcome.report.framesPerSecond = 25.0;
    f.outcome.report.firstPictureClock = static_cast<std::int64_t>(first * 90'000);
    f.outcome.report.lastPictureClock = static_cast<std::int64_t>(last * 90'000);
    return f;
  };
  FileInspection worn = file("/captures/Tape-002-01.zlt", 30.1, 50.1);
  zelto::streamcheck::DamagedStretch lost;
  lost.packetsLost = 4;
  lost.packetsFlagged = 2;
  lost.clock = 40 * 90'000;
  worn.outcome.report.stretches.push_back(lost);
  worn.outcome.report.packetsLost = 4;
  worn.outcome.report.packetsFlagged = 2;
  const fs::path folder = scratch / "scene-damage";
  fs::create_directories(folder);
  if (!zelto::app::SceneDamageLedger(folder).Record(scenes, {file("/captures/Tape-001-01.zlt", 0.1, 20.1), worn}).empty())
    return;
  Write("scene_damage", "two-scenes", ReadFile(folder / zelto::app::SceneDamageLedger::kFileName));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  gRoot = argv[1];
  const fs::path scratch = fs::temp_directory_path() / "zelto-make-seeds";
  fs::create_directories(scratch);
  States();
  Cassettes();
  Database(scratch);
  Thumbnails();
  DriverEvents();
  CommandLines();
  Sections();
  Streams(scratch);
  Sheets();
  SceneDamage(scratch);
  fs::remove_all(scratch);
  return 0;
}
