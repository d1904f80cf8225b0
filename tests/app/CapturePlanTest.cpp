// What a capture decides before the camcorder moves: the sections a command
// line names, the base names it takes, and the files it would overwrite.
#include <gtest/gtest.h>

#include <fstream>

#include "app/CaptureJournal.h"
#include "app/CaptureReport.h"
#include "app/CapturePlan.h"
#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"
#include "tests/app/AppTestSupport.h"

using namespace zelto::app;
using zelto::sim::Cassette;
using zelto::sim::kTracksPerSecond;

namespace {

// Scenes at 1-20 s (time code from 00:00:00:00) and 30-60 s (from
// 00:10:00:00) of a two-minute tape, 25 frames a second.
Cassette Tape() {
  std::string error;
  auto cassette = Cassette::FromJson(
      R"({"length": 120, "scenes": [{"start": 1, "end": 20, "timeCode": "00:00:00:00"},
                                    {"start": 30, "end": 60, "timeCode": "00:10:00:00"}]})",
      &error);
  EXPECT_TRUE(cassette) << error;
  return *cassette;
}

TEST(CapturePlanTest, SectionsBecomeTapePositions) {
  struct Case {
    const char* section;
    std::uint32_t in, out;
    std::optional<std::uint32_t> cameraOut;
  };
  const Case cases[] = {
      {"scene:1", 100, 2000, std::nullopt},
      {"scene:2", 3000, 6000, std::nullopt},
      {"0:00:01-0:00:20", 100, 2000, std::nullopt},
      // The camcorder captures to the end of the recording: said when it differs.
      {"0:00:05.5-0:00:10", 550, 1000, 2000},
      {"0:00:32.25-0:01:00", 3225, 6000, std::nullopt},
      // Time codes as recorded: the second scene's 00:10:02:00 is 32 s into the tape.
      {"00:10:02:00-00:10:30:00", 3200, 6000, std::nullopt},
      // On blank tape the search goes on to the next scene.
      {"0:00:25-0:00:40", 2500, 4000, 6000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section);
    const PlannedSection s = ResolveSection(c.section, Tape());
    EXPECT_EQ(s.inPoint, c.in);
    EXPECT_EQ(s.outPoint, c.out);
    EXPECT_EQ(s.cameraOut, c.cameraOut);
  }

  // Each refusal with the status a script gets: the command line's
  // mistakes, a start beyond the tape (as a seek there), and one after the
  // last recording.
  const std::pair<const char*, int> wrong[] = {
      {"scene:0", kExitUsage}, {"scene:3", kExitUsage}, {"scene:x", kExitUsage}, {"0:00:05", kExitUsage},
      {"0:00:10-0:00:05", kExitUsage}, {"1:2:3-0:00:04", kExitUsage}, {"0:00:61-0:01:00", kExitUsage},
      {"0:00:01.123-0:00:02", kExitUsage}, {"00:30:00:00-00:31:00:00", kExitUsage},
      {"0:01:05-0:01:10", kExitNoRecording}, {"0:02:00-0:02:30", kExitRefused}, {"0:05:00-0:06:00", kExitRefused}};
  for (const auto& [section, code] : wrong) {
    try {
      ResolveSection(section, Tape());
      ADD_FAILURE() << section << " was taken";
    } catch (const SectionError& e) {
      EXPECT_EQ(e.code, code) << section << ": " << e.what();
      if (code == kExitRefused) {
        EXPECT_NE(std::string(e.what()).find("(0:00:00 to 0:02:00)"), std::string::npos) << e.what();
      }
    }
  }
  // Without the simulated camcorder's tape, only tape positions can be read.
  EXPECT_EQ(ResolveSection("0:00:05-0:00:10", std::nullopt).inPoint, 500u);
  try {
    ResolveSection("scene:1", std::nullopt);
    ADD_FAILURE() << "scene without a tape";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("scene:1"), std::string::npos) << e.what();
  }
}

// The tape's arithmetic holds up to the longest tape the camcorder takes
// (a seek's 28 bits of tracks, some 248 hours): a scene near its end is
// captured where it lies, and a section never ends before it begins. A
// scene between two hundredths of a second cannot be pointed at.
TEST(CapturePlanTest, TheLongestTapeAndTheShortestScene) {
  using zelto::sim::kLongestTapeTracks;
  Cassette tape;
  tape.lengthTracks = kLongestTapeTracks;
  tape.scenes.clear();
  for (const auto& [start, end] : {std::pair{301u, 302u}, {303u, 304u}, {216'000'000u, 216'540'000u},
                                   {kLongestTapeTracks - 900u, kLongestTapeTracks}}) {
    zelto::sim::Scene scene;
    scene.startTrack = start;
    scene.endTrack = end;
    tape.scenes.push_back(scene);
  }
  struct Case {
    const char* section;
    std::uint32_t in, out;
  };
  const Case taken[] = {
      {"scene:2", 101, 102},                    // one track, on a hundredth
      {"scene:3", 72'000'000, 72'180'000},      // 200 hours in
      {"scene:4", 89'478'185, 89'478'485},      // the tape's last three seconds
      {"200:00:00-200:30:00", 72'000'000, 72'180'000},
  };
  for (const Case& c : taken) {
    SCOPED_TRACE(c.section);
    const PlannedSection s = ResolveSection(c.section, tape);
    EXPECT_EQ(s.inPoint, c.in);
    EXPECT_EQ(s.outPoint, c.out);
  }
  const std::pair<const char*, int> refused[] = {
      {"scene:1", kExitRefused},               // one track between two hundredths
      {"248:33:06-248:34:00", kExitUsage},     // beyond any tape
      {"999999:00:00-999999:00:01", kExitUsage},
  };
  for (const auto& [section, code] : refused) {
    try {
      ResolveSection(section, tape);
      ADD_FAILURE() << section << " was taken";
    } catch (const SectionError& e) {
      EXPECT_EQ(e.code, code) << section << ": " << e.what();
    }
  }
  // Without the tape, the longest one bounds a position all the same.
  EXPECT_EQ(ResolveSection("248:33:00-248:33:04.85", std::nullopt).outPoint, 89'478'485u);
  EXPECT_THROW(ResolveSection("248:33:00-248:33:05", std::nullopt), SectionError);
}

TEST(CapturePlanTest, BaseNamesThatCouldNotNameAFileAreRefused) {
  for (const char* good : {"Tape", "Holiday 2025", "-", "tape.v2"}) EXPECT_EQ(BaseNameProblem(good), "") << good;
  for (const char* bad : {"", "a/b", "a\\b", "C:", "100%", "a?", "tape.", "tab\there"})
    EXPECT_NE(BaseNameProblem(bad), "") << bad;
  EXPECT_EQ(WrapFileNumber(999), 999);
  EXPECT_EQ(WrapFileNumber(1000), 1);
  EXPECT_EQ(WrapFileNumber(1234), 235);
}

class CaptureNamesTest : public apptest::AppTest {
 protected:
  void Touch(const std::string& name) { std::ofstream(folder / name) << "x"; }
};

TEST_F(CaptureNamesTest, EveryNameACaptureCanWriteIsCheckedAndAFreeOneFound) {
  for (const char* name : {"Tape-001-01.zlt", "Tape-003-12.zlt", "Tape-notes.txt", "Tapes-002-01.zlt",
                           "Tape-002-01.zlt.bak", "Clip-01.zlt", "Clip-2-01.zlt"})
    Touch(name);
  // Batch sections 1-3 meet two files; 4 and 5 none.
  EXPECT_EQ(ExistingCaptureFiles(folder, "Tape", 1, 3), (std::vector<std::string>{"Tape-001-01.zlt", "Tape-003-12.zlt"}));
  EXPECT_TRUE(ExistingCaptureFiles(folder, "Tape", 4, 2).empty());
  // 1001 wraps to 002, which is free; 1002 to 003, which is not.
  EXPECT_TRUE(ExistingCaptureFiles(folder, "Tape", 1001, 1).empty());
  EXPECT_EQ(ExistingCaptureFiles(folder, "Tape", 1002, 1), (std::vector<std::string>{"Tape-003-12.zlt"}));
  EXPECT_EQ(FreeFirstNumber(folder, "Tape", 1, 1), 2);
  EXPECT_EQ(FreeFirstNumber(folder, "Tape", 1, 2), 4) << "2 and 3 together are not free";
  // Direct parts: Clip-01 exists, and so does Clip-2's.
  EXPECT_EQ(ExistingCaptureFiles(folder, "Clip", std::nullopt, 0), (std::vector<std::string>{"Clip-01.zlt"}));
  EXPECT_EQ(FreeBaseName(folder, "Clip"), "Clip-3");
  EXPECT_EQ(FreeBaseName(folder, "Fresh"), "Fresh");
  // A whole-tape capture numbers as far as the tape goes: any scene file of
  // its base counts, past 999 too, but not another base's nor a direct part.
  Touch("Whole-1000-01.zlt");
  Touch("Whole-2-001-01.zlt");
  Touch("Whole-01.zlt");
  EXPECT_EQ(ExistingSceneFiles(folder, "Tape"), (std::vector<std::string>{"Tape-001-01.zlt", "Tape-003-12.zlt"}));
  EXPECT_EQ(ExistingSceneFiles(folder, "Whole"), (std::vector<std::string>{"Whole-1000-01.zlt"}));
  EXPECT_EQ(FreeSceneBaseName(folder, "Whole"), "Whole-3");
  EXPECT_EQ(FreeSceneBaseName(folder, "Clip"), "Clip") << "direct parts are no scene files";
}

// What a split by frames is given to the camcorder as, and what its parts
// then hold: the library's own rule where it gives the nearest size, the
// nearest size where it does not (a 30 frames/s tape, a part below a MiB,
// a size past the library's 32 bits).
TEST(CapturePlanTest, FramesBecomeTheNearestWholeMegabytes) {
  using Kind = SplitRule::Kind;
  struct Case {
    std::uint32_t frames;
    unsigned rate;
    Kind passed;
    std::uint64_t megabytes;
    unsigned framesPerPart;
  };
  const Case cases[] = {
      {25, 25, Kind::ByDuration, 2, 32}, {50, 25, Kind::ByDuration, 3, 49}, {100, 25, Kind::ByDuration, 6, 98},
      {25, 30, Kind::BySize, 1, 19},     {10, 25, Kind::BySize, 1, 16},     {1, 30, Kind::BySize, 1, 19},
      {90, 30, Kind::ByDuration, 5, 98}, {100000, 25, Kind::BySize, 6065, 99993},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.frames) + " frames at " + std::to_string(c.rate));
    SplitRule asked;
    asked.kind = Kind::ByDuration;
    asked.frames = c.frames;
    const SplitChoice choice = ChooseSplit(asked, c.rate);
    EXPECT_EQ(choice.rule.kind, c.passed);
    EXPECT_EQ(choice.megabytes, c.megabytes);
    EXPECT_EQ(choice.framesPerPart, c.framesPerPart);
    if (c.passed == Kind::ByDuration) EXPECT_EQ(LibraryMegabytesForFrames(c.frames, c.rate), c.megabytes);
    else EXPECT_EQ(choice.rule.megabytes, c.megabytes);
  }
  SplitRule bySize;
  bySize.kind = Kind::BySize;
  bySize.megabytes = 7;
  EXPECT_EQ(ChooseSplit(bySize, 25).rule.megabytes, 7u) << "a split by size passes as it is";
}

TEST(CapturePlanTest, NamesSortAsNumbers) {
  const std::vector<std::pair<const char*, const char*>> ordered = {
      {"Clip-99.zlt", "Clip-100.zlt"}, {"Clip-09.zlt", "Clip-10.zlt"}, {"Tape-001-09.zlt", "Tape-001-10.zlt"},
      {"Tape-999-01.zlt", "Tape-1000-01.zlt"}, {"Clip-2-01.zlt", "Clip-10-01.zlt"}, {"A-01.zlt", "B-01.zlt"}};
  for (const auto& [before, after] : ordered) {
    EXPECT_TRUE(NaturalLess(before, after)) << before << " < " << after;
    EXPECT_FALSE(NaturalLess(after, before)) << after << " < " << before;
  }
}

// The files a capture made: what it reported, the parts that continue
// them, a first part it began; not a file of its form at another number.
TEST_F(CaptureNamesTest, ACaptureOwnsTheRunOfPartsItMadeInNumericOrder) {
  struct Case {
    const char* name;
    CaptureNames names;
    std::vector<std::string> present;
    std::vector<std::string> reported;
    std::vector<std::string> made;
  };
  const CaptureNames direct{CaptureNames::Kind::Direct, "Clip", 1, 0};
  const CaptureNames batch{CaptureNames::Kind::Batch, "Tape", 1, 3};
  const CaptureNames tape{CaptureNames::Kind::Tape, "Tape", 1, 0};
  const Case cases[] = {
      {"past 99 parts", direct, {"Clip-100.zlt", "Clip-98.zlt", "Clip-99.zlt"}, {"Clip-98.zlt", "Clip-99.zlt"},
       {"Clip-98.zlt", "Clip-99.zlt", "Clip-100.zlt"}},
      {"a foreign part", direct, {"Clip-01.zlt", "Clip-02.zlt", "Clip-07.zlt"}, {"Clip-01.zlt"},
       {"Clip-01.zlt", "Clip-02.zlt"}},
      {"nothing reported", direct, {"Clip-01.zlt"}, {}, {"Clip-01.zlt"}},
      {"sections, one empty", batch, {"Tape-001-01.zlt", "Tape-003-01.zlt", "Tape-003-02.zlt", "Tape-004-01.zlt"},
       {"Tape-001-01.zlt"}, {"Tape-001-01.zlt", "Tape-003-01.zlt", "Tape-003-02.zlt"}},
      {"scenes one after another", tape, {"Tape-001-01.zlt", "Tape-002-01.zlt", "Tape-009-01.zlt"},
       {"Tape-001-01.zlt"}, {"Tape-001-01.zlt", "Tape-002-01.zlt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
    for (const std::string& name : c.present) Touch(name);
    std::vector<std::string> made;
    for (const std::string& path : CaptureMadeFiles(folder, c.names, c.reported))
      made.push_back(std::filesystem::path(path).filename().string());
    EXPECT_EQ(made, c.made);
  }
}

// The files a folder's capture list does not vouch for: never listed
// whole, listed with another size, listed before their names were declared
// again; a line cut short counts for nothing, and a file of no declared
// name is nobody's.
TEST_F(CaptureNamesTest, TheCaptureListTellsUnfinishedFilesFromWholeOnes) {
  struct Case {
    const char* name;
    std::string list;
    std::vector<std::pair<std::string, std::string>> files;  // name, content
    std::vector<std::string> unfinished;
  };
  const std::string head = "zelto capture list 1\n";
  const Case cases[] = {
      {"one left open", head + "begin direct Clip\ncomplete 3 Clip-01.zlt\n",
       {{"Clip-01.zlt", "abc"}, {"Clip-02.zlt", "ab"}}, {"Clip-02.zlt"}},
      {"its line cut short", head + "begin direct Clip\ncomplete 3 Clip-01.zlt\ncomplete 2 Clip-0",
       {{"Clip-01.zlt", "abc"}, {"Clip-02.zlt", "ab"}}, {"Clip-02.zlt"}},
      {"changed since", head + "begin direct Clip\ncomplete 3 Clip-01.zlt\n", {{"Clip-01.zlt", "abcdef"}},
       {"Clip-01.zlt"}},
      {"declared again", head + "begin direct Clip\ncomplete 3 Clip-01.zlt\nbegin direct Clip\n",
       {{"Clip-01.zlt", "abc"}}, {"Clip-01.zlt"}},
      {"other names", head + "begin batch 1 2 Tape\ncomplete 1 Tape-001-01.zlt\n",
       {{"Tape-001-01.zlt", "a"}, {"Tape-002-01.zlt", "ab"}, {"Tape-003-01.zlt", "x"}, {"Clip-01.zlt", "x"}},
       {"Tape-002-01.zlt"}},
      {"no list of ours", "some notes\nbegin direct Clip\n", {{"Clip-01.zlt", "x"}}, {}},
      // A mended file renamed over a capture: either size is whole until
      // the next listing, which alone stands after it.
      {"mending, before the rename", head + "begin batch 1 1 B\ncomplete 3 B-001-01.zlt\nreplacing 4 B-001-01.zlt\n",
       {{"B-001-01.zlt", "abc"}}, {}},
      {"mending, after the rename", head + "begin batch 1 1 B\ncomplete 3 B-001-01.zlt\nreplacing 4 B-001-01.zlt\n",
       {{"B-001-01.zlt", "abcd"}}, {}},
      {"mending, some other size", head + "begin batch 1 1 B\ncomplete 3 B-001-01.zlt\nreplacing 4 B-001-01.zlt\n",
       {{"B-001-01.zlt", "ab"}}, {"B-001-01.zlt"}},
      {"mended and listed", head + "begin batch 1 1 B\ncomplete 3 B-001-01.zlt\nreplacing 4 B-001-01.zlt\ncomplete 4 B-001-01.zlt\n",
       {{"B-001-01.zlt", "abc"}}, {"B-001-01.zlt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / CaptureJournal::kFileName, std::ios::binary) << c.list;
    for (const auto& [name, content] : c.files) std::ofstream(folder / name, std::ios::binary) << content;
    EXPECT_EQ(CaptureJournal::Unfinished(folder), c.unfinished);
  }

  // Written as a capture goes: declared, one file whole; then a capture
  // that made nothing takes its fresh list back.
  zelto::testing::RemoveFolder(folder);
  std::filesystem::create_directories(folder);
  CaptureJournal journal(folder);
  ASSERT_EQ(journal.Begin(CaptureNames{CaptureNames::Kind::Direct, "Clip", 1, 0}), "");
  Touch("Clip-01.zlt");
  Touch("Clip-02.zlt");
  ASSERT_EQ(journal.Complete("Clip-01.zlt"), "");
  EXPECT_EQ(CaptureJournal::Unfinished(folder), (std::vector<std::string>{"Clip-02.zlt"}));
  CaptureJournal nothing(folder / "empty");
  std::filesystem::create_directories(folder / "empty");
  ASSERT_EQ(nothing.Begin(CaptureNames{CaptureNames::Kind::Tape, "Tape", 1, 0}), "");
  nothing.Withdraw();
  EXPECT_TRUE(std::filesystem::is_empty(folder / "empty"));
}

}  // namespace

// The summary's columns line up whatever script a file's name is in: a
// terminal shows a character as one column, an East Asian one or an emoji
// as two, however many bytes each takes.
TEST(CaptureReportTest, FileLinesLineUpWhateverTheScript) {
  const std::filesystem::path folder =
      zelto::testing::TestFolder("zelto-app-CaptureReportTest") / zelto::platform::PathFromUtf8("clips");
  zelto::testing::RemoveFolder(folder);
  std::filesystem::create_directories(folder);
  const struct {
    const char* name;
    std::size_t columns;
  } names[] = {{"Clip-01.zlt", 11}, {"café-01.zlt", 11}, {"録画テープ-01.zlt", 17},
               {"\xF0\x9F\x8E\x9E\xEF\xB8\x8F" "clip-01.zlt", 13}, {"cafe\xCC\x81-02.zlt", 11}};
  std::vector<std::string> files;
  for (const auto& n : names) {
    EXPECT_EQ(DisplayWidth(n.name), n.columns) << n.name;
    const std::filesystem::path file = folder / zelto::platform::PathFromUtf8(n.name);
    std::ofstream(file, std::ios::binary) << std::string(1000, 'x');
    files.push_back(zelto::platform::Utf8FromPath(file));
  }
  std::ostringstream out, err;
  Console console(out, err);
  CaptureReport(console, false).FileLines(folder, files);
  const std::vector<std::string> lines = apptest::Lines(out.str());
  ASSERT_EQ(lines.size(), std::size(names) + 1) << out.str();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t size = line.find("0.0 MB");
    ASSERT_NE(size, std::string::npos) << line;
    EXPECT_EQ(DisplayWidth(line.substr(0, size)), DisplayWidth(lines[1].substr(0, lines[1].find("0.0 MB")))) << line;
  }
  zelto::testing::RemoveFolder(folder.parent_path());
}
