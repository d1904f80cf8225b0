// zelto record, scan and mic on the simulated camcorder: a captured file
// recorded back onto the tape becomes a scene of the cassette memory, the
// scan stores a picture for every scene and draws them on a contact sheet,
// and each refusal comes before the deck is touched, with its exit code.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"
#include "tests/app/AppTestSupport.h"

namespace {

using apptest::AppTest;
using apptest::Result;
using apptest::Contains;
using namespace zelto::app;


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
  // the deck records before the data comes (the clock runs 20 times fast).
  const double expectedMs = static_cast<double>(std::filesystem::file_size(clip)) / 1590.0 + 1000.0;
  bool found = false;
  for (const auto& scene : memory.at("scenes")) {
    EXPECT_EQ(scene.at("pictures"), 0);
    const double length = scene.at("lengthMs").get<double>();
    if (length > expectedMs - 50 && length < expectedMs + 600) found = true;
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

}  // namespace
