// capture --retry: a damaged file read again from its section's start and
// assembled from the passes, against captures of the same scene on tape
// without the wear.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "app/CaptureJournal.h"
#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"
#include "simulator/CaptureStreamWriter.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/ChildZelto.h"

namespace {

using apptest::AppTest;
using apptest::Contains;
using apptest::Result;
using namespace zelto::app;

// The second scene worn for half a second; the same tape without the wear.
std::string Tape(const char* damage) {
  return std::string(R"({"length": 20, "position": 3.5, "scenes": [
    {"start": 1, "end": 3, "timeCode": "00:00:00:00"},
    {"start": 4, "end": 6, "timeCode": "00:01:00:00"}])") +
         (damage[0] ? std::string(R"(, "damage": [)") + damage + "]" : std::string()) + "}";
}
const char* const kWorn = R"({"timeCode": "00:01:00:12", "frames": 12, "lost": 0.01, "flagged": 0.01})";
// Every packet of a frame's worth of tape lost on every read.
const char* const kWornThrough = R"({"timeCode": "00:01:00:12", "frames": 1, "lost": 1.0, "flagged": 0})";

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A stream's packets without its padding: a lost null packet leaves no trace
// that any read could find, so no assembly can be asked to put it back.
std::string WithoutPadding(const std::string& stream) {
  std::string kept;
  for (std::size_t at = 0; at + 188 <= stream.size(); at += 188) {
    const unsigned pid = (static_cast<unsigned char>(stream[at + 1]) & 0x1Fu) << 8 | static_cast<unsigned char>(stream[at + 2]);
    if (pid != 0x1FFF) kept.append(stream, at, 188);
  }
  return kept;
}

class CaptureRetryTest : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    // Passes align by the clock references only pictures carry.
    if (!zelto::sim::CaptureStreamWriter::HasVideo()) GTEST_SKIP() << "this build writes captures without video";
    zelto::platform::SetTimeScaleForTesting(0.1);
  }
  void TearDown() override {
    zelto::platform::SetTimeScaleForTesting(1.0);
    AppTest::TearDown();
  }

  Result Batch(const std::string& tape, const char* into, std::vector<std::string> more) {
    std::vector<std::string> args{"--cassette", Cassette(tape, std::string(into) + ".json"), "capture", "batch",
                                  "--to", Utf8(folder / into), "--name", "B"};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back("scene:2");
    return Zelto(args);
  }

  Result TapeCapture(const std::string& tape, const char* into, std::vector<std::string> more) {
    std::vector<std::string> args{"--cassette", Cassette(tape, std::string(into) + ".json"), "capture", "tape",
                                  "--to", Utf8(folder / into), "--name", "T", "--stream-timeout", "5000"};
    args.insert(args.end(), more.begin(), more.end());
    return Zelto(args);
  }

  static nlohmann::json Event(const Result& r, const char* event) {
    for (const std::string& line : apptest::Lines(r.out)) {
      const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (j.is_object() && j.value("event", "") == event) return j;
    }
    return {};
  }
};

TEST_F(CaptureRetryTest, PassesThatLoseOtherPacketsAssembleTheUndamagedCapture) {
  const Result clean = Batch(Tape(""), "clean", {});
  ASSERT_EQ(clean.code, kExitOk) << clean.out << clean.err;
  const Result r = Batch(Tape(kWorn), "worn", {"--retry", "3", "--json"});
  EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
  const nlohmann::json retry = Event(r, "retry");
  ASSERT_TRUE(retry.is_object()) << r.out;
  EXPECT_EQ(retry["result"], "whole");
  EXPECT_TRUE(retry["replaced"].get<bool>());
  EXPECT_GE(retry["passes"].get<int>(), 1);
  ASSERT_FALSE(retry["repairs"].empty());
  EXPECT_EQ(retry["repairs"][0]["pass"], 2);
  EXPECT_EQ(Event(r, "summary")["result"], "complete");
  const std::string mended = WithoutPadding(ReadAll(folder / "worn" / "B-001-01.zlt"));
  const std::string whole = WithoutPadding(ReadAll(folder / "clean" / "B-001-01.zlt"));
  const auto at = std::mismatch(mended.begin(), mended.end(), whole.begin(), whole.end());
  EXPECT_TRUE(mended == whole) << "the assembled file's packets (" << mended.size() << " bytes) differs from the capture of the "
                               << "tape without wear (" << whole.size() << ") from byte " << (at.first - mended.begin());
  // The passes are gone, and none was ever listed as a capture.
  for (const auto& entry : std::filesystem::directory_iterator(folder / "worn"))
    EXPECT_TRUE(entry.path().filename() == "B-001-01.zlt" || entry.path().filename() == ".zelto-captures")
        << entry.path();
  EXPECT_FALSE(Contains(ReadAll(folder / "worn" / ".zelto-captures"), "pass")) << "passes are no captures";
}

TEST_F(CaptureRetryTest, APacketLostInEveryPassIsAllThatStaysDamaged) {
  const Result r = Batch(Tape(kWornThrough), "out", {"--retry", "2", "--json"});
  EXPECT_EQ(r.code, kExitDamaged) << r.out << r.err;
  const nlohmann::json retry = Event(r, "retry");
  ASSERT_TRUE(retry.is_object()) << r.out;
  EXPECT_EQ(retry["result"], "damaged");
  EXPECT_EQ(retry["passes"], 2);
  const nlohmann::json files = Event(r, "summary")["files"];
  ASSERT_EQ(files.size(), 1u);
  const nlohmann::json& left = files[0]["inspection"];
  EXPECT_EQ(left["result"], "damaged");
  EXPECT_GT(left["packetsLost"].get<std::uint64_t>(), 0u);
  EXPECT_EQ(left["packetsFlagged"], 0);
  EXPECT_EQ(retry["remaining"]["packetsLost"], left["packetsLost"]);
  ASSERT_EQ(left["stretches"].size(), 1u) << "only the stretch no pass could read";
}

// What the options leave in the folder, and the status.
TEST_F(CaptureRetryTest, OptionsDecideWhatIsReadAgainAndWhatIsKept) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int code;
    std::vector<const char*> files;  // besides the capture and its list
    const char* says;
  };
  const Case cases[] = {
      {"none", {}, kExitDamaged, {}, "tape damage in 1 of them"},
      {"zero", {"--retry", "0"}, kExitDamaged, {}, "tape damage in 1 of them"},
      {"kept", {"--retry", "1", "--keep-passes"}, kExitOk, {"B-001-01.zlt.pass2"}, "passes kept as B-001-01.zlt.pass2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = Batch(Tape(kWorn), c.name, c.args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, c.says)) << r.out;
    const bool retried = !c.args.empty() && c.args[1] != "0";
    EXPECT_EQ(Contains(r.out, "pass 2"), retried) << r.out;
    // The repair's stretch dated as the tape's time code, as the damage report dates it.
    EXPECT_EQ(Contains(r.out, "(00:01:00:"), true) << r.out;
    if (retried) {
      EXPECT_TRUE(Contains(r.out, "repaired from pass 2")) << r.out;
      EXPECT_FALSE(Contains(r.out, "(00:01:00.")) << r.out;
    }
    std::vector<std::string> extra;
    for (const auto& entry : std::filesystem::directory_iterator(folder / c.name)) {
      const std::string name = Utf8(entry.path().filename());
      if (name != "B-001-01.zlt" && name != ".zelto-captures") extra.push_back(name);
    }
    EXPECT_EQ(extra, std::vector<std::string>(c.files.begin(), c.files.end()));
  }
}

// A whole-tape capture reads a damaged scene file again from the scene's
// start, found by the time code of its first picture.
TEST_F(CaptureRetryTest, ATapeCaptureReadsADamagedSceneAgainFromItsStart) {
  const Result clean = TapeCapture(Tape(""), "tape-clean", {});
  ASSERT_EQ(clean.code, kExitOk) << clean.out << clean.err;
  const Result r = TapeCapture(Tape(kWorn), "tape-worn", {"--retry", "3", "--json"});
  EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
  const nlohmann::json retry = Event(r, "retry");
  ASSERT_TRUE(retry.is_object()) << r.out;
  EXPECT_EQ(retry["result"], "whole");
  EXPECT_EQ(retry["file"], Utf8(folder / "tape-worn" / "T-002-01.zlt"));
  EXPECT_EQ(Event(r, "pass")["fromSeconds"], 4.0) << "read again from the second scene's start";
  EXPECT_TRUE(WithoutPadding(ReadAll(folder / "tape-worn" / "T-002-01.zlt")) ==
              WithoutPadding(ReadAll(folder / "tape-clean" / "T-002-01.zlt")))
      << "the mended scene file differs from the capture of the tape without wear";
}

#ifndef _WIN32
// Ctrl-C while a pass is read: the file stays as captured and listed whole;
// no pass and no half-assembled file is left. At real speed, so that the
// pass is still under way when the signal comes.
TEST_F(CaptureRetryTest, CtrlCDuringARetryKeepsTheFileAsCaptured) {
  const std::filesystem::path out = folder / "cut";
  apptest::ChildZelto child(folder, {"--cassette", Cassette(Tape(kWorn), "cut.json"), "capture", "batch", "--to",
                                     Utf8(out), "--name", "B", "--retry", "3", "scene:2"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("pass 2")) << child.Output();
  const std::string captured = ReadAll(out / "B-001-01.zlt");
  child.Signal(SIGINT);
  EXPECT_EQ(child.Finish(), kExitInterrupted) << child.Output();
  EXPECT_TRUE(Contains(child.Output(), "is kept as captured")) << child.Output();
  EXPECT_FALSE(captured.empty());
  EXPECT_TRUE(ReadAll(out / "B-001-01.zlt") == captured) << "the file changed";
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(out)) left.push_back(Utf8(entry.path().filename()));
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".zelto-captures", "B-001-01.zlt"}));
  EXPECT_TRUE(CaptureJournal::Unfinished(out).empty());
}
#endif

// A later part of a split file begins at no point a seek can find: its
// damage is reported, not read again.
TEST_F(CaptureRetryTest, ALaterPartOfASplitFileIsOnlyReported) {
  // The wear a second into the scene: in the second MiB, the scene's second part.
  const char* const kLater = R"({"timeCode": "00:01:01:12", "frames": 6, "lost": 0.01, "flagged": 0.01})";
  const Result batch = Batch(Tape(kLater), "batch-split", {"--split", "size:1", "--retry", "2"});
  EXPECT_EQ(batch.code, kExitDamaged) << batch.out << batch.err;
  EXPECT_TRUE(Contains(batch.out, "is not read again: only the first part of a section")) << batch.out;
  const Result split = TapeCapture(Tape(kLater), "tape-split", {"--split", "size:1", "--retry", "2"});
  EXPECT_EQ(split.code, kExitDamaged) << split.out << split.err;
  EXPECT_TRUE(Contains(split.out, "is not read again: it begins no scene")) << split.out;
  for (const Result* r : {&batch, &split}) EXPECT_FALSE(Contains(r->out, "pass 2")) << r->out;
}

TEST_F(CaptureRetryTest, ADirectCaptureRefusesTheOptions) {
  for (const auto& args : {std::vector<std::string>{"--retry", "2"}, std::vector<std::string>{"--keep-passes"}}) {
    std::vector<std::string> full{"capture", "direct", "--to", Utf8(folder / "d")};
    full.insert(full.end(), args.begin(), args.end());
    const Result r = Zelto(full);
    EXPECT_EQ(r.code, kExitUsage) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "--retry and --keep-passes are for batch and tape captures")) << r.err;
  }
  const Result r = Zelto({"capture", "batch", "--to", Utf8(folder / "b"), "--name", "B", "--keep-passes", "scene:1"});
  EXPECT_EQ(r.code, kExitUsage) << r.err;
}

}  // namespace
