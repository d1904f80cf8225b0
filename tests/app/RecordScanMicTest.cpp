// zelto record, scan and mic on the simulated camcorder: a captured file
// recorded back onto the tape becomes a scene of the cassette memory, the
// scan stores a picture for every scene and draws them on a contact sheet,
// and each refusal comes before the deck is touched, with its exit code.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <memory>
#include <set>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"
#include "app/Session.h"
#include "simulator/Camcorder.h"
#include "simulator/SimulatedDriver.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PngPixel.h"

namespace {

using apptest::AppTest;
using apptest::Result;
using apptest::Contains;
using namespace zelto::app;

using apptest::PixelAt;
using apptest::Rgb;

#if ZELTO_SIM_HAVE_FFMPEG
// Colours alike, as a picture and its compressed copy are.
bool Near(const Rgb& a, const Rgb& b) {
  for (int i = 0; i < 3; ++i)
    if (std::abs(a[i] - b[i]) > 30) return false;
  return true;
}
#endif

std::string ReadFileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Two scenes with memory; blank tape after 40 s to record on.
std::string TwoScenes(const std::string& extra = "") {
  return R"({"length": 120, "position": 2)" + extra + R"(, "memory": {"title": "Trip"},
             "scenes": [{"start": 1, "end": 20, "timeCode": "00:00:00:00"},
                        {"start": 25, "end": 40, "timeCode": "00:10:00:00"}]})";
}

class RecordScanMicTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    zelto::platform::SetTimeScaleForTesting(0.05);
  }
  void TearDown() override {
    zelto::platform::SetTimeScaleForTesting(1.0);
    AppTest::TearDown();
  }
  nlohmann::json Mic() {
    const Result mic = Zelto({"mic", "--json"});
    EXPECT_EQ(mic.code, kExitOk) << mic.err;
    return nlohmann::json::parse(mic.out);
  }
};

TEST_F(RecordScanMicTest, ARecordedFileBecomesASceneAndTheScanGivesEverySceneAPicture) {
  const Result capture = Zelto({"--cassette", Cassette(TwoScenes()), "capture", "direct", "--to",
                                (folder / "clips").string(), "--seconds", "2"});
  ASSERT_EQ(capture.code, kExitOk) << capture.err << capture.out;
  const std::string clip = (folder / "clips" / "Clip-01.zlt").string();
  EXPECT_EQ(Mic().at("scenes").size(), 2u);
  EXPECT_EQ(Mic().at("title"), "Trip");

  // Onto blank tape after the second scene.
  ASSERT_EQ(Zelto({"deck", "seek", "15000", "--wait"}).code, kExitOk);
  const Result record = Zelto({"record", clip, "--margins", "0.5,0.5"});
  ASSERT_EQ(record.code, kExitOk) << record.err << record.out;
  for (const char* step : {"recording: the deck records", "recording: data flows to the camcorder",
                           "recording: recording complete", "recorded "})
    EXPECT_TRUE(Contains(record.out, step)) << step << "\n" << record.out;
  nlohmann::json memory = Mic();
  ASSERT_EQ(memory.at("scenes").size(), 3u) << memory.dump();
  // The file's length at the stream rate and both margins, and the little
  // the deck records before the data comes (the clock runs 20 times fast,
  // so a loaded machine's moment is a second or two of tape).
  const double expectedMs = static_cast<double>(std::filesystem::file_size(clip)) / 1590.0 + 1000.0;
  bool found = false;
  for (const auto& scene : memory.at("scenes")) {
    EXPECT_EQ(scene.at("pictures"), 0);
    const double length = scene.at("lengthMs").get<double>();
    if (length > expectedMs - 50 && length < expectedMs + 3000) found = true;
  }
  EXPECT_TRUE(found) << expectedMs << " ms expected\n" << memory.dump();
  const Result noPictureYet = Zelto({"mic", "picture", "1", (folder / "early.png").string()});
  EXPECT_EQ(noPictureYet.code, kExitRefused) << noPictureYet.err;
  EXPECT_FALSE(std::filesystem::exists(folder / "early.png"));

  const std::string sheet = (folder / "sheet.png").string();
  const Result scan = Zelto({"scan", "--contact-sheet", sheet});
  ASSERT_EQ(scan.code, kExitOk) << scan.err << scan.out;
  EXPECT_TRUE(Contains(scan.out, "3 of 3 scenes have a picture")) << scan.out;
  EXPECT_GT(std::filesystem::file_size(sheet), 1000u);
  memory = Mic();
  for (const auto& scene : memory.at("scenes")) EXPECT_GE(scene.at("pictures").get<int>(), 1) << memory.dump();

  const Result picture = Zelto({"mic", "picture", "3", (folder / "three.png").string()});
  ASSERT_EQ(picture.code, kExitOk) << picture.err;
  EXPECT_TRUE(Contains(picture.out, "160x90")) << picture.out;
#if ZELTO_SIM_HAVE_FFMPEG
  // The recorded scene shows the file's picture, captured from the first
  // scene, not the camera's picture of a third one.
  ASSERT_EQ(Zelto({"mic", "picture", "1", (folder / "one.png").string()}).code, kExitOk);
  ASSERT_EQ(Zelto({"mic", "picture", "2", (folder / "two.png").string()}).code, kExitOk);
  const auto background = [&](const char* name) { return PixelAt(folder / name, 80, 3); };
  EXPECT_TRUE(Near(background("three.png"), background("one.png")));
  EXPECT_FALSE(Near(background("two.png"), background("one.png")));
#endif
  // Neither a picture nor a contact sheet replaces a file.
  EXPECT_EQ(Zelto({"mic", "picture", "2", (folder / "three.png").string()}).code, kExitWouldOverwrite);
  EXPECT_EQ(Zelto({"scan", "--contact-sheet", sheet}).code, kExitWouldOverwrite);

  ASSERT_EQ(Zelto({"mic", "text", "Summer \u00e9t\u00e9"}).code, kExitOk);
  EXPECT_EQ(Mic().at("text"), "Summer \u00e9t\u00e9");
}

TEST_F(RecordScanMicTest, RefusalsComeBeforeTheDeckMovesEachWithItsCode) {
  const std::string notAStream = Cassette("not a stream", "notes.txt");
  struct Case {
    const char* what;
    std::string cassette;
    std::vector<std::string> args;
    int code;
    const char* says;
  };
  const Case cases[] = {
      {"a missing file", TwoScenes(), {"record", (folder / "absent.m2t").string()}, kExitUsage, "no such file"},
      {"a file that is no stream", TwoScenes(), {"record", notAStream}, kExitUsage, "not an MPEG transport stream"},
      {"bad margins", TwoScenes(), {"record", notAStream, "--margins", "1"}, kExitUsage, "FIRST,SECOND"},
      {"a protected cassette: the file first", TwoScenes(R"(, "writeProtected": true)"), {"record", notAStream}, kExitUsage,
       "not an MPEG"},
      {"an empty file", TwoScenes(), {"record", "--direct", Cassette("", "empty.m2t")}, kExitUsage,
       "shorter than one packet"},
      {"a scene the memory lacks", TwoScenes(), {"mic", "picture", "9", (folder / "x.png").string()}, kExitUsage,
       "no scene 9"},
      {"an unknown mic action", TwoScenes(), {"mic", "erase"}, kExitUsage, "unknown mic action"},
      // The memory of a protected cassette keeps its text; the database
      // reads it back from there: a new text would not last.
      {"a text for a protected cassette", TwoScenes(R"(, "writeProtected": true)"), {"mic", "text", "New"},
       kExitRefused, "the cassette is write-protected: its memory cannot take the text"},
      // A contact sheet that cannot be written is known before the scan.
      {"a contact sheet in a missing folder", TwoScenes(),
       {"scan", "--contact-sheet", (folder / "missing" / "sheet.png").string()}, kExitUsage, "cannot be created"},
      {"a contact sheet that exists", TwoScenes(), {"scan", "--contact-sheet", notAStream}, kExitWouldOverwrite,
       "exists already"},
      {"a folder as the contact sheet", TwoScenes(), {"scan", "--contact-sheet", folder.string()}, kExitUsage,
       "is a folder"},
      {"a picture into a missing folder", TwoScenes(),
       {"mic", "picture", "1", (folder / "missing" / "one.png").string()}, kExitUsage, "cannot be created"},
  };
  for (const Case& c : cases) {
    const Result r = Zelto([&] {
      std::vector<std::string> args{"--cassette", Cassette(c.cassette)};
      args.insert(args.end(), c.args.begin(), c.args.end());
      return args;
    }());
    EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.err;
    EXPECT_TRUE(Contains(r.err, c.says)) << c.what << "\n" << r.err;
    // The deck never left its stop at 2 s.
    const auto status = nlohmann::json::parse(Zelto({"status", "--json"}).out);
    EXPECT_EQ(status.at("deckState").at("name"), "stop") << c.what;
    EXPECT_EQ(status.at("tape").at("atn"), 600) << c.what;
  }
  EXPECT_EQ(ReadFileText(notAStream), "not a stream") << "an existing file is left as it is";
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));

  // A stream the camcorder cannot take: judged by the camcorder, after the file.
  const Result capture = Zelto({"--cassette", Cassette(TwoScenes()), "capture", "direct", "--to",
                                (folder / "clips").string(), "--seconds", "1"});
  ASSERT_EQ(capture.code, kExitOk) << capture.err;
  const std::string clip = (folder / "clips" / "Clip-01.zlt").string();
  const Result protectedTape = Zelto({"--cassette", Cassette(TwoScenes(R"(, "writeProtected": true)")), "record", clip});
  EXPECT_EQ(protectedTape.code, kExitRefused);
  EXPECT_TRUE(Contains(protectedTape.err, "write-protected")) << protectedTape.err;
  const Result direct = Zelto({"--cassette", Cassette(TwoScenes()), "record", "--direct", clip});
  EXPECT_EQ(direct.code, kExitRefused);
  EXPECT_TRUE(Contains(direct.err, "not recording")) << direct.err;
}

// Where the tape stands decides what record and play can do there: at the
// very end nothing, and that is said at once, with the tape's range; a
// recording that runs into the end says that the tape ended.
TEST_F(RecordScanMicTest, RecordAndPlayWhereTheTapeStands) {
  const Result capture = Zelto({"--cassette", Cassette(TwoScenes()), "capture", "direct", "--to",
                                (folder / "clips").string(), "--seconds", "1"});
  ASSERT_EQ(capture.code, kExitOk) << capture.err;
  const std::string clip = (folder / "clips" / "Clip-01.zlt").string();
  struct Case {
    const char* where;
    double position;  // seconds; the tape is two minutes long
    std::vector<std::string> args;
    int code;
    const char* says;  // on stdout when it succeeds, on stderr when not
  };
  const std::string end = "the tape is at its end, ATN 36000 (it runs from ATN 0 to 36000)";
  const Case cases[] = {
      {"the end of the tape", 120, {"record", clip}, kExitRefused, "no tape is left to record on"},
      {"blank tape", 42, {"record", clip}, kExitOk, "recorded "},
      {"inside a scene", 10, {"record", clip}, kExitOk, "recorded "},
      {"a second before the end", 119.5, {"record", clip}, kExitRecordFailed,
       "the recording stopped: the tape ended (at ATN 36000) before the file did"},
      {"the end of the tape", 120, {"deck", "play", "--wait"}, kExitRefused, "nothing is left to play"},
      {"blank tape", 42, {"deck", "play", "--wait"}, kExitOk, "deck: play at --:--:--:--"},
      {"inside a scene", 10, {"deck", "play", "--wait"}, kExitOk, "deck: play at 00:00:0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1] + " at " + c.where);
    std::string tape = TwoScenes();
    tape.replace(tape.find(R"("position": 2)"), 13, R"("position": )" + std::to_string(c.position));
    std::vector<std::string> args{"--cassette", Cassette(tape)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Zelto(args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_TRUE(Contains(c.code == kExitOk ? r.out : r.err, c.says)) << r.out << r.err;
    if (c.code == kExitRefused) {
      EXPECT_TRUE(Contains(r.err, end)) << r.err;
      const auto status = nlohmann::json::parse(Zelto({"status", "--json"}).out);
      EXPECT_EQ(status.at("deckState").at("name"), "stop");
      EXPECT_EQ(status.at("tape").at("atn"), 36000);
    }
  }
}

// A recording the camcorder itself fails (here: a file it cannot read to
// its end) is an error of the recording, never blamed on another command,
// although the library stops the deck after it.
TEST_F(RecordScanMicTest, ARecordingTheCamcorderFailsIsItsOwnError) {
  const Result capture = Zelto({"--cassette", Cassette(TwoScenes()), "capture", "direct", "--to",
                                (folder / "clips").string(), "--seconds", "1"});
  ASSERT_EQ(capture.code, kExitOk) << capture.err;
  ASSERT_EQ(Zelto({"deck", "seek", "15000", "--wait"}).code, kExitOk);
  SetSessionOpenedHookForTesting([](Session& session) { session.Simulator()->Panel().BreakTransmitFile(2000); });
  const Result record = Zelto({"record", (folder / "clips" / "Clip-01.zlt").string()});
  SetSessionOpenedHookForTesting(nullptr);
  EXPECT_EQ(record.code, kExitRecordFailed) << record.out << record.err;
  EXPECT_TRUE(Contains(record.err, "the recording stopped on an error")) << record.err;
}

#ifndef _WIN32
// zelto as a process of its own, with a clock twenty times as fast in it
// and here: both must count the tape alike.
class ProcessTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    zelto::platform::SetTimeScaleForTesting(kScale);
  }
  void TearDown() override {
    zelto::platform::SetTimeScaleForTesting(1.0);
    AppTest::TearDown();
  }
  std::unique_ptr<apptest::ChildZelto> Start(const std::vector<std::string>& command) {
    return std::make_unique<apptest::ChildZelto>(folder, command, std::vector<std::string>{"ZELTO_TIME_SCALE=0.05"});
  }
  // The number of pictures each scene of the memory has.
  std::vector<int> Pictures() {
    const Result mic = Zelto({"mic", "--json"});
    EXPECT_EQ(mic.code, kExitOk) << mic.err;
    const nlohmann::json memory = nlohmann::json::parse(mic.out);
    std::vector<int> pictures;
    for (const auto& scene : memory.at("scenes")) pictures.push_back(scene.at("pictures"));
    return pictures;
  }
  static constexpr double kScale = 0.05;
};

// Five scenes of a minute, a hundred seconds apart, on a ten-minute tape
// that stands near its end: a scan rewinds for a while, then takes minutes.
std::string FiveScenes() {
  return R"({"length": 600, "position": 550, "memory": {"title": "Long"},
             "scenes": [{"start": 1, "end": 60}, {"start": 100, "end": 160}, {"start": 200, "end": 260},
                        {"start": 300, "end": 360}, {"start": 400, "end": 460}]})";
}

// A scan ended by a signal keeps the picture of every scene it reached and
// lists no scene it did not; one still rewinding found none and says so.
TEST_F(ProcessTest, AScanEndedByASignalKeepsWhatItFound) {
  struct Case {
    int signal;
    const char* moment;  // what the scan has printed when the signal comes
    std::set<int> codes;
    const char* says;
  };
  const Case cases[] = {
      {SIGINT, "scan: scan started", {kExitInterrupted}, "before it reached a scene"},
      {SIGINT, "scene 2 ", {kExitInterrupted}, "the pictures of the scenes it reached are kept"},
      {SIGTERM, "scan: scan started", {kExitTerminated}, "before it reached a scene"},
      {SIGTERM, "scene 2 ", {kExitTerminated}, "the pictures of the scenes it reached are kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.signal == SIGINT ? "SIGINT" : "SIGTERM") + " after '" + c.moment + "'");
    ASSERT_EQ(Zelto({"--cassette", Cassette(FiveScenes()), "status"}).code, kExitOk);
    const std::vector<int> before = Pictures();
    const auto scan = Start({"scan"});
    ASSERT_TRUE(scan->Started());
    ASSERT_TRUE(scan->WaitFor(c.moment)) << scan->Output();
    scan->Signal(c.signal);
    EXPECT_EQ(c.codes.count(scan->Finish()), 1u) << scan->Output();
    EXPECT_TRUE(Contains(scan->Output(), c.says)) << scan->Output();
    const std::vector<int> after = Pictures();
    ASSERT_EQ(after.size(), 5u);
    std::size_t listed = 0;
    for (std::size_t i = 0; i < after.size(); ++i) {
      if (!Contains(scan->Output(), "scene " + std::to_string(i + 1) + " ")) continue;
      ++listed;
      EXPECT_GE(after[i], 1) << "scene " << i + 1 << " was reached\n" << scan->Output();
    }
    EXPECT_LT(listed, 5u) << "the scan never reached the last scene\n" << scan->Output();
    if (Contains(c.says, "before it reached")) {
      EXPECT_EQ(listed, 0u) << scan->Output();
      EXPECT_EQ(after, before);
    } else {
      EXPECT_GE(listed, 2u) << scan->Output();
    }
  }
}

// Another program takes the deck from a running scan or recording (as a
// camcorder's own button or another terminal would): the job ends at once,
// says so, and exits 14, keeping what it did.
TEST_F(ProcessTest, AJobWhoseDeckIsTakenEndsAndSaysSo) {
  std::string start = FiveScenes();
  start.replace(start.find("550"), 3, "10");
  const Result capture = Zelto({"--cassette", Cassette(start), "capture", "direct", "--to",
                                (folder / "clips").string(), "--seconds", "3"});
  ASSERT_EQ(capture.code, kExitOk) << capture.err;
  const std::string clip = (folder / "clips" / "Clip-01.zlt").string();
  struct Case {
    std::vector<std::string> command;
    double position;      // where the tape stands at the start, seconds
    const char* moment;   // what the job has printed when the deck is taken
    bool eject;           // the cassette taken out, or the stop button
    const char* says;
  };
  const Case cases[] = {
      {{"scan"}, 550, "scene 1 ", false, "another command stopped the deck"},
      {{"scan"}, 550, "scene 1 ", true, "the cassette was ejected"},
      // A minute of blank picture after the file keeps the recording going.
      {{"record", clip, "--margins", "0,60"}, 480, "data flows", false,
       "the recording stopped: another command took the deck"},
      {{"record", clip, "--margins", "0,60"}, 480, "data flows", true,
       "the recording stopped: the cassette was ejected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command.front() + (c.eject ? ", ejected" : ", stopped"));
    std::string tape = FiveScenes();
    tape.replace(tape.find("550"), 3, std::to_string(static_cast<int>(c.position)));
    ASSERT_EQ(Zelto({"--cassette", Cassette(tape), "status"}).code, kExitOk);
    const auto job = Start(c.command);
    ASSERT_TRUE(job->Started());
    ASSERT_TRUE(job->WaitFor(c.moment)) << job->Output();
    {
      // The same camcorder, through its state file, as another program sees it.
      zelto::sim::CamcorderConfig other;
      other.stateFile = folder / "state.json";
      zelto::sim::Camcorder camcorder(other);
      if (c.eject) EXPECT_TRUE(camcorder.Eject());
      else EXPECT_EQ(camcorder.SendCommand(DECK_COMMAND_STOP), S_OK);
    }
    EXPECT_EQ(job->Finish(), kExitTakenOver) << job->Output();
    EXPECT_TRUE(Contains(job->Output(), c.says)) << job->Output();
  }
}
#endif

}  // namespace
