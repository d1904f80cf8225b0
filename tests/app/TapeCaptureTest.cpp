// zelto capture tape on the simulated camcorder: the library's whole-tape
// run rewinds, plays and makes one file a scene until the picture stays
// away; a second run never overwrites; Ctrl-C, a removed camcorder and a
// deck that stops each end it with their own status and keep the files.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <functional>

#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/Session.h"
#include "platform/PlatformExtras.h"
#include "simulator/SimulatedDriver.h"
#include "tests/app/AppTestSupport.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace {

using apptest::AppTest;
using apptest::Lines;
using apptest::Result;
using apptest::Contains;
using namespace zelto::app;

// Three scenes of 2 s with gaps of 1 s and 1.5 s, then 10.5 s of blank tape:
// with a stream time-out of 3 s the run ends well before the tape does. The
// tape stands in the second scene, so only a rewind finds the first.
const char* const kThreeScenes = R"({"length": 20, "position": 5, "scenes": [
    {"start": 1, "end": 3, "timeCode": "00:00:00:00"},
    {"start": 4, "end": 6, "timeCode": "00:01:00:00"},
    {"start": 7.5, "end": 9.5, "timeCode": "00:02:00:00"}]})";

// Seconds of tape in a capture file, at the stream rate.
double TapeSecondsOf(const std::filesystem::path& file) {
  return static_cast<double>(std::filesystem::file_size(file)) / 1'590'000.0;
}

void SetThreading(const char* mode) {
#ifdef _WIN32
  _putenv_s("ZELTO_SIM_THREADING", mode ? mode : "");
#else
  if (mode) setenv("ZELTO_SIM_THREADING", mode, 1);
  else unsetenv("ZELTO_SIM_THREADING");
#endif
}

class TapeCaptureTest : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    // The run's 3 s pause after the rewind and its tape take a tenth.
    zelto::platform::SetTimeScaleForTesting(0.1);
  }
  void TearDown() override {
    SetSessionOpenedHookForTesting(nullptr);
    SetThreading(nullptr);
    zelto::platform::SetTimeScaleForTesting(1.0);
    AppTest::TearDown();
  }

  std::filesystem::path Out() const { return folder / "out"; }

  std::vector<std::string> TapeCapture(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"capture", "tape", "--to", Out().string(), "--stream-timeout", "3000",
                                  "--poll", "250"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  std::string DeckState() {
    return nlohmann::json::parse(Zelto({"status", "--json"}).out).at("deckState").at("name");
  }
};

TEST_F(TapeCaptureTest, OneFileASceneFromTheStartOfTheTapeAndNeverOverThoseFiles) {
  const Result run = Zelto({"--cassette", Cassette(kThreeScenes), "capture", "tape", "--to", Out().string(),
                            "--stream-timeout", "3000", "--poll", "250"});
  ASSERT_EQ(run.code, kExitOk) << run.err << run.out;
  EXPECT_TRUE(run.err.empty()) << run.err;
  // A line per step in a pipe, in the run's order, then the summary. (The
  // short rewind may be over before the deck is looked at: it need not show.)
  std::size_t at = 0;
  for (const char* part : {"start: the whole tape into", "deck: play", "file-created: ",
                           "Tape-001-01.zlt", "Tape-002-01.zlt", "Tape-003-01.zlt", "complete: no picture for longer "
                           "than 3 s", "3 files in ", "captured 0:00:06.0 of tape in 3 files; the recordings ended"}) {
    const std::size_t found = run.out.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << part << "\n" << run.out;
    at = found + std::string(part).size();
  }
  for (const char* name : {"Tape-001-01.zlt", "Tape-002-01.zlt", "Tape-003-01.zlt"})
    EXPECT_NEAR(TapeSecondsOf(Out() / name), 2.0, 0.2) << name;
  EXPECT_FALSE(std::filesystem::exists(Out() / "Tape-004-01.zlt"));
  EXPECT_EQ(DeckState(), "stop") << "the run stops the deck";

  // The same base again: refused before the tape moves, the files untouched.
  const auto before = std::filesystem::last_write_time(Out() / "Tape-003-01.zlt");
  const Result again = Zelto(TapeCapture());
  EXPECT_EQ(again.code, kExitWouldOverwrite);
  EXPECT_TRUE(Contains(again.err, "Tape-001-01.zlt") && Contains(again.err, "--next-free")) << again.err;
  EXPECT_EQ(std::filesystem::last_write_time(Out() / "Tape-003-01.zlt"), before);

  // --next-free takes the next base; this time the driver's objects stay on
  // the command's thread, and every step comes as JSON.
  SetThreading("apartment");
  const Result next = Zelto(TapeCapture({"--next-free", "--json"}));
  ASSERT_EQ(next.code, kExitOk) << next.err << next.out;
  std::vector<std::string> created;
  nlohmann::json start, summary;
  for (const std::string& line : Lines(next.out)) {
    const auto json = nlohmann::json::parse(line);
    EXPECT_EQ(json.at("version"), 1) << line;
    if (json.at("event") == "start") start = json;
    if (json.at("event") == "file-created") created.push_back(json.at("file"));
    if (json.at("event") == "summary") summary = json;
  }
  EXPECT_EQ(start.at("base"), "Tape-2");
  EXPECT_EQ(start.at("streamTimeoutMs"), 3000);
  ASSERT_EQ(created.size(), 3u) << next.out;
  EXPECT_TRUE(Contains(created[2], "Tape-2-003-01.zlt")) << created[2];
  EXPECT_EQ(summary.at("result"), "complete");
  EXPECT_EQ(summary.at("files").size(), 3u);
  EXPECT_NEAR(summary.at("capturedSeconds").get<double>(), 6.0, 0.5);
  EXPECT_EQ(std::filesystem::last_write_time(Out() / "Tape-003-01.zlt"), before);
}

// Each way a run ends before the tape is done, triggered once the second
// scene's file is reported: its status, its words, and both files kept.
TEST_F(TapeCaptureTest, CtrlCARemovedCamcorderAndATakenDeckEndTheRunAndKeepTheFiles) {
  struct Case {
    const char* name;
    std::function<void(zelto::sim::SimulatedDriver&)> act;
    int code;
    const char* says;
  };
  // The stalled deck goes last: the stall stays in the camcorder's state.
  const Case cases[] = {
      {"Ctrl-C", [](zelto::sim::SimulatedDriver&) { Interrupt::Request(); }, kExitInterrupted,
       "stopped by Ctrl-C; 2 files kept"},
      {"removed", [](zelto::sim::SimulatedDriver& d) { d.Panel().RemoveDevice(); }, kExitCaptureFailed,
       "the tape capture stopped: the camcorder was removed; 2 files kept"},
      // The library calls such a run complete; the picture had not been
      // gone for the time-out, so it is not, and the disk says why.
      {"a full disk", [](zelto::sim::SimulatedDriver& d) { d.Panel().FillDiskAfter(100'000); }, kExitCaptureFailed,
       "the tape capture stopped: the disk is full; 2 files kept"},
      // Another command's stop and an ejection are no errors of the run's.
      {"stopped", [](zelto::sim::SimulatedDriver& d) { d.Panel().SendCommand(DECK_COMMAND_STOP); }, kExitTakenOver,
       "the tape capture stopped: another command stopped the deck at ATN"},
      {"ejected", [](zelto::sim::SimulatedDriver& d) { d.Panel().Eject(); }, kExitTakenOver,
       "the tape capture stopped: the cassette was ejected"},
      {"stalled", [](zelto::sim::SimulatedDriver& d) { d.Panel().StallTransport(true); }, kExitCaptureFailed,
       "the tape capture stopped: the deck stopped under the capture"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string base = std::string("End-") + c.name;
    const Result r = ZeltoActingOn({"--cassette", Cassette(kThreeScenes), "capture", "tape", "--to", Out().string(),
                                    "--name", base, "--poll", "250"},
                                   base + "-002-01.zlt", c.act);
    Interrupt::Clear();
    EXPECT_EQ(r.code, c.code) << r.err << r.out;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(Contains(r.out, "2 files in ")) << r.out;
    EXPECT_NEAR(TapeSecondsOf(Out() / (base + "-001-01.zlt")), 2.0, 0.2);
    EXPECT_TRUE(std::filesystem::exists(Out() / (base + "-002-01.zlt")));
    EXPECT_FALSE(std::filesystem::exists(Out() / (base + "-003-01.zlt")));
  }
}

// A scene recorded to the tape's very end: the deck stops there before the
// stream time-out (30 s unless told) runs out, which the library reports as
// a deck stopped under the capture; every scene is in, so the run is done.
TEST_F(TapeCaptureTest, TheTapesEndCompletesTheRun) {
  const Result r = Zelto({"--cassette", Cassette(R"({"length": 6, "position": 3, "scenes": [{"start": 1, "end": 6}]})"),
                          "capture", "tape", "--to", Out().string(), "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;
  nlohmann::json summary;
  for (const std::string& line : Lines(r.out)) {
    const auto json = nlohmann::json::parse(line);
    if (json.at("event") == "start") {
      EXPECT_EQ(json.at("streamTimeoutMs"), 30000);
    }
    if (json.at("event") == "summary") summary = json;
  }
  EXPECT_EQ(summary.at("result"), "complete");
  EXPECT_EQ(summary.at("ended"), "the tape ended");
  EXPECT_NEAR(TapeSecondsOf(Out() / "Tape-001-01.zlt"), 5.0, 0.3);
}

TEST_F(TapeCaptureTest, RefusedBeforeTheTapeMoves) {
  const std::string protectedTape = Cassette(R"({"length": 20, "position": 5, "writeProtected": true,
                                                 "scenes": [{"start": 1, "end": 3}]})", "protected.json");
  struct Case {
    const char* name;
    const char* threading;
    std::vector<std::string> args;
    int code;
    const char* says;
  };
  const Case cases[] = {
      {"a write-protected cassette", nullptr, {"--cassette", protectedTape}, kExitRefused, "write-protected"},
      {"a base name no file can have", nullptr, {"--name", "a/b"}, kExitUsage, "the base name may not hold '/'"},
      {"an unknown threading mode", "both", {}, kExitUsage,
       "ZELTO_SIM_THREADING is 'both'; it takes apartment or free"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetThreading(c.threading);
    const Result r = Zelto(TapeCapture(c.args));
    SetThreading(nullptr);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    const auto status = nlohmann::json::parse(Zelto({"status", "--json"}).out);
    EXPECT_EQ(status.at("deckState").at("name"), "stop");
    EXPECT_EQ(status.at("tape").at("atn"), 1500) << "the tape never moved from 5 s";
  }
}

}  // namespace
