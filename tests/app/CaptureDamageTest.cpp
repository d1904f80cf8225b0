// Every capture kind reports the tape damage in each file it made: the
// figures and stretches in its summary against what the simulated camcorder
// says it did to the file, the status of a damaged capture, and a clean
// tape that reports none.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>

#include "app/ExitCode.h"
#include "app/Session.h"
#include "platform/PlatformExtras.h"
#include "simulator/CaptureDamage.h"
#include "simulator/CaptureStreamWriter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/PngPixel.h"

namespace {

using apptest::AppTest;
using apptest::Contains;
using apptest::Result;
using namespace zelto::app;

// Two scenes of 2 s; the second worn for half a second from 00:01:00:12
// (60.48 s of its time code). The tape stands between them, where a direct
// capture begins.
const char* const kWornTape = R"({"length": 20, "position": 3.5, "scenes": [
    {"start": 1, "end": 3, "timeCode": "00:00:00:00"},
    {"start": 4, "end": 6, "timeCode": "00:01:00:00"}],
    "damage": [{"timeCode": "00:01:00:12", "frames": 12, "lost": 0.05, "flagged": 0.02}]})";
const char* const kCleanTape = R"({"length": 20, "position": 3.5, "scenes": [
    {"start": 1, "end": 3, "timeCode": "00:00:00:00"},
    {"start": 4, "end": 6, "timeCode": "00:01:00:00"}]})";

class CaptureDamageTest : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    zelto::platform::SetTimeScaleForTesting(0.1);
  }
  void TearDown() override {
    SetSessionOpenedHookForTesting(nullptr);
    zelto::platform::SetTimeScaleForTesting(1.0);
    AppTest::TearDown();
  }

  // Runs a capture (with this tape put in, or the one in the camcorder);
  // `log` is then what the camcorder did to its files.
  Result Capture(const std::string& tape, std::vector<std::string> args) {
    SetSessionOpenedHookForTesting(
        [this](Session& session) { log = session.Simulator()->Panel().DamageRecords(); });
    if (!tape.empty()) args.insert(args.begin(), {"--cassette", Cassette(tape)});
    Result r = Zelto(args);
    SetSessionOpenedHookForTesting(nullptr);
    return r;
  }

  // The summary object of a --json run.
  static nlohmann::json Summary(const Result& r) {
    for (const std::string& line : apptest::Lines(r.out)) {
      const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (j.is_object() && j.value("event", "") == "summary") return j;
    }
    return {};
  }

  std::shared_ptr<const zelto::sim::DamageLog> log;
};

TEST_F(CaptureDamageTest, EachCaptureKindReportsTheDamageTheTapeDid) {
  struct Case {
    const char* kind;
    std::vector<std::string> args;
    std::size_t files;
  };
  const Case cases[] = {
      {"batch", {"capture", "batch", "--json", "--name", "B", "scene:1", "scene:2"}, 2},
      {"direct", {"capture", "direct", "--json", "--name", "D"}, 1},
      {"tape", {"capture", "tape", "--json", "--name", "T", "--stream-timeout", "3000", "--poll", "250"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--to", Utf8(folder / c.kind)});
    const Result r = Capture(kWornTape, args);
    EXPECT_EQ(r.code, kExitDamaged) << r.out << r.err;
    const nlohmann::json summary = Summary(r);
    ASSERT_TRUE(summary.is_object()) << r.out;
    EXPECT_EQ(summary["result"], "damaged");
    EXPECT_EQ(summary["damagedFiles"], 1);
    ASSERT_EQ(summary["files"].size(), c.files) << summary.dump();
    ASSERT_TRUE(log);
    const std::vector<zelto::sim::FileDamage> truth = log->Files();
    ASSERT_EQ(truth.size(), 1u) << "one file crossed the worn stretch";
    for (const nlohmann::json& file : summary["files"]) {
      const nlohmann::json& found = file["inspection"];
      const bool worn = zelto::platform::PathFromUtf8(file["file"].get<std::string>()) == truth[0].file;
      if (!worn) {
        EXPECT_EQ(found["result"], "whole") << file.dump();
        continue;
      }
      const zelto::sim::FileDamage& did = truth[0];
      EXPECT_EQ(found["result"], "damaged");
      EXPECT_EQ(found["packetsFlagged"], did.flagged);
      // A flagged packet right after a loss of its stream counts as lost too.
      EXPECT_GE(found["packetsLost"].get<std::uint64_t>(), did.lostCounted);
      EXPECT_LE(found["packetsLost"].get<std::uint64_t>(), did.lostCounted + did.flaggedCounted);
      // Without video (the Windows build) few packets carry a count, and
      // nothing in the stream tells the time.
      const bool video = zelto::sim::CaptureStreamWriter::HasVideo();
      if (video) {
        EXPECT_GT(did.lostCounted, 0u);
      }
      const auto covered = [&](std::uint64_t byte) {
        for (const nlohmann::json& s : found["stretches"])
          if (s["firstByte"].get<std::uint64_t>() <= byte && byte <= s["endByte"].get<std::uint64_t>()) return true;
        return false;
      };
      for (const auto& p : did.flaggedPackets) EXPECT_TRUE(covered(p.fileByte)) << "flagged at " << p.fileByte;
      for (const auto& p : did.lostPackets)
        if (p.payload && p.pid != 0x1FFF) {
        EXPECT_TRUE(covered(p.fileByte)) << "lost at " << p.fileByte;
      }
      // Dated by the tape's time code: the worn half second, give or take
      // how far a stream's previous packet lies back.
      for (const nlohmann::json& s : found["stretches"]) {
        if (!video) {
          EXPECT_TRUE(s["seconds"].is_null()) << s.dump();
          continue;
        }
        EXPECT_GE(s["seconds"].get<double>(), 60.48 - 0.3) << s.dump();
        EXPECT_LE(s["seconds"].get<double>(), 60.96 + 0.3) << s.dump();
        EXPECT_EQ(s["time"].get<std::string>().substr(0, 6), "00:01:") << s.dump();
      }
    }
  }
}

// What a capture found stays with the cassette memory's scenes: mic shows
// it (the latest capture of a scene standing), the contact sheet marks it.
TEST_F(CaptureDamageTest, TheDamageOfACapturedSceneStaysForMicAndTheContactSheet) {
  // Matched to scenes by the time codes the pictures carry.
  if (!zelto::sim::CaptureStreamWriter::HasVideo()) GTEST_SKIP() << "this build writes captures without video";
  std::string tape = kWornTape;
  tape.replace(tape.find("\"length\""), 0, R"("memory": {"title": "Worn"}, )");
  const auto scenes = [&] {
    const Result mic = Zelto({"mic", "--json"});
    EXPECT_EQ(mic.code, kExitOk) << mic.err;
    return nlohmann::json::parse(mic.out, nullptr, false)["scenes"];
  };
  const Result worn = Capture(tape, {"capture", "batch", "--to", Utf8(folder / "w"), "--name", "W", "scene:2"});
  ASSERT_EQ(worn.code, kExitDamaged) << worn.out << worn.err;
  nlohmann::json listed = scenes();
  ASSERT_EQ(listed.size(), 2u) << listed.dump();
  EXPECT_TRUE(listed[0]["damage"].is_null()) << "scene 1 was not captured: " << listed.dump();
  const nlohmann::json& damage = listed[1]["damage"];
  ASSERT_TRUE(damage.is_object()) << listed.dump();
  EXPECT_EQ(damage["result"], "damaged");
  EXPECT_EQ(damage["file"], Utf8(folder / "w" / "W-001-01.zlt"));
  EXPECT_GT(damage["packetsLost"].get<std::uint64_t>() + damage["packetsFlagged"].get<std::uint64_t>(), 0u);
  ASSERT_FALSE(damage["stretches"].empty());
  EXPECT_EQ(damage["stretches"][0].get<std::string>().substr(0, 6), "00:01:");
  const Result text = Zelto({"mic"});
  EXPECT_TRUE(Contains(text.out, "captured")) << text.out;
  EXPECT_TRUE(Contains(text.out, "damaged")) << text.out;

  const std::string sheet = Utf8(folder / "sheet.png");
  ASSERT_EQ(Zelto({"scan", "--contact-sheet", sheet}).code, kExitOk);
  // Each cell's top-left picture pixel: the second scene's framed in red.
  const auto pixel = [&](int x, int y) { return apptest::PixelAt(zelto::platform::PathFromUtf8(sheet), x, y); };
  EXPECT_EQ(pixel(12 + 172 + 1, 44 + 1), (apptest::Rgb{230, 40, 40})) << "the damaged scene is framed";
  EXPECT_NE(pixel(12 + 1, 44 + 1), (apptest::Rgb{230, 40, 40})) << "the other scene is not";

  // Read again until whole: the later capture stands.
  const Result mended =
      Capture("", {"capture", "batch", "--to", Utf8(folder / "m"), "--name", "M", "--retry", "3", "scene:2"});
  ASSERT_EQ(mended.code, kExitOk) << mended.out << mended.err;
  listed = scenes();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[1]["damage"]["result"], "whole") << listed.dump();
  EXPECT_EQ(listed[1]["damage"]["file"], Utf8(folder / "m" / "M-001-01.zlt"));
}

TEST_F(CaptureDamageTest, ACleanTapeReportsEveryFileWholeAndExitsZero) {
  const Result text = Capture(kCleanTape, {"capture", "batch", "--to", Utf8(folder / "text"), "--name", "C",
                                           "scene:1", "scene:2"});
  EXPECT_EQ(text.code, kExitOk) << text.out << text.err;
  EXPECT_TRUE(Contains(text.out, "C-001-01.zlt: whole; ")) << text.out;
  EXPECT_TRUE(Contains(text.out, "C-002-01.zlt: whole; ")) << text.out;
  EXPECT_FALSE(Contains(text.out, "tape damage")) << text.out;
  ASSERT_TRUE(log);
  EXPECT_TRUE(log->Files().empty());

  const Result json = Capture(kCleanTape, {"capture", "batch", "--json", "--to", Utf8(folder / "json"), "--name",
                                           "C", "scene:2"});
  EXPECT_EQ(json.code, kExitOk) << json.out << json.err;
  const nlohmann::json summary = Summary(json);
  EXPECT_EQ(summary["result"], "complete");
  EXPECT_EQ(summary["damagedFiles"], 0);
  ASSERT_EQ(summary["files"].size(), 1u);
  EXPECT_EQ(summary["files"][0]["inspection"]["packetsLost"], 0);
  EXPECT_GT(summary["files"][0]["inspection"]["packets"].get<std::uint64_t>(), 0u);
}

TEST_F(CaptureDamageTest, TheTextSummarySaysWhereTheTapeWasDamaged) {
  const Result r = Capture(kWornTape, {"capture", "batch", "--to", Utf8(folder / "out"), "--name", "B", "scene:2"});
  EXPECT_EQ(r.code, kExitDamaged) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "B-001-01.zlt: damaged; ")) << r.out;
  EXPECT_TRUE(Contains(r.out, "  bytes ")) << r.out;
  const std::string dated = zelto::sim::CaptureStreamWriter::HasVideo() ? " (00:01:00:" : " (no time)";
  EXPECT_TRUE(Contains(r.out, dated)) << "a stretch dated by the tape's time code, where the stream tells it\n"
                                      << r.out;
  EXPECT_TRUE(Contains(r.out, "every section captured; tape damage in 1 of them")) << r.out;
}

TEST_F(CaptureDamageTest, TheNextCaptureReadsTheWornStretchAsTheNextPass) {
  std::vector<zelto::sim::FileDamage> reads;
  for (const std::string& tape : {std::string(kWornTape), std::string()}) {
    const Result r = Capture(tape, {"capture", "batch", "--to", Utf8(folder / "out"), "--next-free", "--name", "B",
                                    "scene:2"});
    EXPECT_EQ(r.code, kExitDamaged) << r.out << r.err;
    ASSERT_TRUE(log);
    ASSERT_EQ(log->Files().size(), 1u);
    reads.push_back(log->Files()[0]);
  }
  // The camcorder's state file kept the count between the two programs.
  EXPECT_EQ(reads[0].passes.at(0).pass, 0u);
  EXPECT_EQ(reads[1].passes.at(0).pass, 1u);
  EXPECT_NE(reads[0].file, reads[1].file);
  std::vector<std::uint64_t> first, second;
  for (const auto& p : reads[0].lostPackets) first.push_back(p.fileByte);
  for (const auto& p : reads[1].lostPackets) second.push_back(p.fileByte);
  EXPECT_NE(first, second);
}

}  // namespace
