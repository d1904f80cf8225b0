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
