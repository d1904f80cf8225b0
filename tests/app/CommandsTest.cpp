// The commands end to end: each run registers the simulated camcorder,
// opens the device, does its work and takes everything down, as the
// program does. Deck tests use a short cassette so that the real-time
// transport gets anywhere in a moment.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <streambuf>
#include <thread>

#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/StatusCommand.h"
#include "app/NotificationFeed.h"
#include "platform/PlatformExtras.h"
#include "platform/win32.h"
#include "simulator/CaptureStreamWriter.h"
#include "tests/app/AppTestSupport.h"

using namespace apptest;
using namespace zelto::app;

namespace {

// Scenes at 1-20 s and 30-60 s of a two-minute tape (36000 tracks), 25
// frames per second.
std::string ShortTape(double position, const std::string& extra = "") {
  return R"({"length": 120, "position": )" + std::to_string(position) + extra +
         R"(, "scenes": [{"start": 1, "end": 20, "timeCode": "00:00:00:00"},
                         {"start": 30, "end": 60, "timeCode": "00:10:00:00"}]})";
}

class CommandsTest : public AppTest {};

TEST_F(CommandsTest, StatusJsonCarriesEveryReading) {
  const Result inScene = Zelto({"--cassette", Cassette(ShortTape(10)), "status", "--json"});
  ASSERT_EQ(inScene.code, kExitOk) << inScene.err;
  const auto json = nlohmann::json::parse(inScene.out);
  EXPECT_EQ(json.at("version"), 1);
  EXPECT_EQ(json.at("camcorder"), "HXQ-ZL5");
  EXPECT_EQ(json.at("driver"), "simulated");
  EXPECT_EQ(json.at("deckState"), (nlohmann::json{{"value", 3}, {"name", "stop"}}));
  EXPECT_EQ(json.at("media"), (nlohmann::json{{"value", 1}, {"name", "recordable"}}));
  EXPECT_EQ(json.at("camcorderMode"), (nlohmann::json{{"value", 1}, {"name", "deck"}}));
  EXPECT_EQ(json.at("timeCode"), "00:00:09:00");
  EXPECT_EQ(json.at("tape"), (nlohmann::json{{"atn", 3000}, {"counter", "0:00:10"}, {"lengthAtn", 36000}}));
  // What the device told the driver's preview as it started: zelto starts it
  // muted, with no window and the monitor hidden.
  const auto& preview = json.at("preview");
  EXPECT_EQ(preview.at("volume"), 0) << preview.dump();
  EXPECT_TRUE(preview.at("mode").is_null()) << preview.dump();
  EXPECT_TRUE(preview.at("window").is_null()) << preview.dump();
  EXPECT_EQ(preview.at("quality"), 7) << preview.dump();
  EXPECT_TRUE(json.at("job").is_null()) << "no job holds the camcorder";
  EXPECT_EQ(json.size(), 10u);

  // Blank tape has no time code; the cassette's flags reach the media name.
  const Result blank =
      Zelto({"--cassette", Cassette(ShortTape(25, R"(, "writeProtected": true)")), "status", "--json"});
  ASSERT_EQ(blank.code, kExitOk) << blank.err;
  EXPECT_TRUE(nlohmann::json::parse(blank.out).at("timeCode").is_null());
  EXPECT_EQ(nlohmann::json::parse(blank.out).at("media").at("name"), "write-protected");

  const Result plain = Zelto({"--cassette", Cassette(ShortTape(25, R"(, "memory": false)")), "status"});
  ASSERT_EQ(plain.code, kExitOk) << plain.err;
  EXPECT_EQ(Lines(plain.out),
            (std::vector<std::string>{"camcorder    HXQ-ZL5 (simulated driver)", "deck state   stop",
                                      "media        no cassette memory", "mode         deck",
                                      "time code    none (blank tape)", "tape         ATN 7500 of 36000, counter 0:00:25",
                                      "preview      mode not set, volume 0, quality 7, deinterlace on"}));
}

TEST(StatusReportTest, ThePreviewAsTheCamcorderWasLastToldIt) {
  StatusReport report;
  report.model = "HXQ-ZL5";
  report.driver = "simulated";
  report.preview = zelto::sim::PreviewSettings{0x1A2B, RECT{10, 20, 330, 200}, 2, 40, 3, true};
  const auto json = nlohmann::json::parse(report.Json());
  EXPECT_EQ(json.at("preview"), (nlohmann::json{{"window", "0x1A2B"},
                                                {"rect", {10, 20, 330, 200}},
                                                {"mode", 2},
                                                {"volume", 40},
                                                {"quality", 3},
                                                {"deinterlace", true}}));
  EXPECT_EQ(Lines(report.Lines()).back(),
            "preview      shown, volume 40, quality 3, deinterlace on, window 0x1A2B at 10,20-330,200");
  report.preview = zelto::sim::PreviewSettings{};
  report.preview->volume = 0;
  EXPECT_EQ(Lines(report.Lines()).back(), "preview      mode not set, volume 0, deinterlace off");
  EXPECT_TRUE(nlohmann::json::parse(report.Json()).at("preview").at("window").is_null());
}

TEST_F(CommandsTest, PlayWaitsForPlayAndTheNextRunFindsTheTapeMoving) {
  const Result play = Zelto({"--cassette", Cassette(ShortTape(5)), "deck", "play", "--wait"});
  ASSERT_EQ(play.code, kExitOk) << play.err;
  EXPECT_EQ(play.out.rfind("deck: play at 00:00:0", 0), 0u) << play.out;
  EXPECT_TRUE(play.err.empty());

  // The state file carries the moving tape into the next run.
  const Result status = Zelto({"status", "--json"});
  ASSERT_EQ(status.code, kExitOk) << status.err;
  EXPECT_EQ(nlohmann::json::parse(status.out).at("deckState").at("name"), "play");

  const Result stop = Zelto({"deck", "stop", "--wait"});
  ASSERT_EQ(stop.code, kExitOk) << stop.err;
  EXPECT_EQ(stop.out.rfind("deck: stop at ", 0), 0u) << stop.out;
}

// What each deck command answers, from a stopped tape at a position: the
// exit status and a part of the one line it prints (on stdout when it
// succeeds, on stderr when not).
TEST_F(CommandsTest, DeckWaitsAndRefusals) {
  struct Case {
    double position;  // seconds of tape, stopped
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {5, {"pause", "--wait"}, kExitRefused, "the deck does not take 'pause' while in state stop"},
      {5, {"play", "--wait"}, kExitOk, "deck: play at 00:00:0"},
      // Already where the wind would go: at once, nothing pressed.
      {0, {"rew", "--wait"}, kExitOk, "already at the start of the tape at ATN 0"},
      {120, {"ff", "--wait"}, kExitOk, "already at the end of the tape at ATN 36000"},
      // A wind waits for its end, not for its start.
      {10, {"rew", "--wait"}, kExitOk, "rewind ended; stop at ATN 0"},
      {110, {"ff", "--wait"}, kExitOk, "fast forward ended; stop at ATN 36000"},
      // Seeks: beyond the tape refused at once; inside a scene, on blank
      // tape before one, and past the last.
      {15, {"seek", "40000", "--wait"}, kExitRefused, "beyond the end of the tape (ATN 0 to 36000)"},
      {15, {"seek", "5400", "--wait"}, kExitOk, "scene found at ATN 5400, playing from 00:00:1"},
      {25, {"seek", "7500", "--wait"}, kExitOk, "scene found at ATN 9000, playing from 00:10:0"},
      {15, {"seek", "25000", "--wait"}, kExitOk, "no scene found at or after ATN 25000; the deck stopped at ATN 25000"},
      // Decimal only: 0450 is inside the first scene; read as octal it would
      // be blank tape before it.
      {0, {"seek", "0450", "--wait"}, kExitOk, "scene found at ATN 450,"},
      // The wind to 17000 takes seconds: the wait gives up first.
      {0, {"seek", "17000", "--wait", "--timeout", "0.05"}, kExitTimedOut, "did not finish within 0.05 s"},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& a : c.args) name += a + " ";
    SCOPED_TRACE(name + "from " + std::to_string(c.position) + " s");
    std::vector<std::string> args{"--cassette", Cassette(ShortTape(c.position)), "deck"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Zelto(args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    const std::string& said = c.code == kExitOk ? r.out : r.err;
    EXPECT_TRUE(Contains(said, c.says)) << said;
    EXPECT_EQ(Lines(said).size(), 1u) << said;
    EXPECT_TRUE((c.code == kExitOk ? r.err : r.out).empty()) << r.out << r.err;
  }
}

TEST_F(CommandsTest, StopEndsASeekUnderWayAndCtrlCEndsAWait) {
  ASSERT_EQ(Zelto({"--cassette", Cassette(ShortTape(0)), "deck", "seek", "17000"}).code, kExitOk);
  const Result stop = Zelto({"deck", "stop", "--wait"});
  ASSERT_EQ(stop.code, kExitOk) << stop.err;
  EXPECT_TRUE(Contains(stop.out, "a seek was under way: ended first")) << stop.out;
  const auto json = nlohmann::json::parse(Zelto({"status", "--json"}).out);
  EXPECT_EQ(json.at("deckState").at("name"), "stop");
  EXPECT_LT(json.at("tape").at("atn").get<int>(), 17000) << "stopped on the way";

  // The signal that ended the wait is the one named, and its status.
  const struct {
    Interrupt::Signal signal;
    int code;
    const char* message;
  } signals[] = {{Interrupt::Signal::CtrlC, kExitInterrupted, "zelto: stopped by Ctrl-C"},
#ifdef _WIN32
                 {Interrupt::Signal::Terminate, kExitTerminated, "zelto: stopped by the console closing"}};
#else
                 {Interrupt::Signal::Terminate, kExitTerminated, "zelto: stopped by SIGTERM"}};
#endif
  for (const auto& c : signals) {
    Interrupt::Request(c.signal);
    const Result interrupted = Zelto({"deck", "seek", "17000", "--wait"});
    Interrupt::Clear();
    EXPECT_EQ(interrupted.code, c.code);
    EXPECT_EQ(Lines(interrupted.err), (std::vector<std::string>{c.message}));
  }
}

// A state file that is not a state of ours, or cannot be used, stops every
// command before it starts, says which file and why, and is left as it was.
TEST_F(CommandsTest, StateFilesThatCannotBeUsed) {
  struct Case {
    const char* name;
    std::string content;  // empty: see below
    std::string says;
  };
  const std::vector<Case> cases = {
      {"letter.txt", "Dear camcorder,\n", "not a state file of the simulated camcorder"},
      {"tape.json", ShortTape(3), "not a state file of the simulated camcorder"},
      {"newer.json", R"({"format": "zelto-sim-state", "version": 99})", "newer program"},
      {"damaged.json", R"({"format": "zelto-sim-state", "version": 1, "mode": 7})", "--reset replaces it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path file = folder / c.name;
    std::ofstream(file, std::ios::binary) << c.content;
    const Result r = Zelto({"--state-file", file.string(), "deck", "play"}, false);
    EXPECT_EQ(r.code, kExitStateFile);
    EXPECT_TRUE(Contains(r.err, c.name) && Contains(r.err, c.says)) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u);
    EXPECT_EQ(ReadFile(file), c.content) << "left as it was";
  }
  // A damaged state is replaced on purpose only.
  const Result reset = Zelto({"--state-file", (folder / "damaged.json").string(), "--reset", "status"}, false);
  EXPECT_EQ(reset.code, kExitOk) << reset.err;

  // A folder where the file should be; a folder that is not there.
  std::filesystem::create_directories(folder / "a-folder");
  for (const std::filesystem::path& file : {folder / "a-folder", folder / "nowhere" / "state.json"}) {
    const Result r = Zelto({"--state-file", file.string(), "status"}, false);
    EXPECT_EQ(r.code, kExitStateFile) << file;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "nowhere"));
}

// A stream that takes nothing, like a pipe whose reader has gone.
class Unwritable : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST_F(CommandsTest, OutputThatCannotBeWrittenIsAnError) {
  Unwritable sink;
  std::ostream out(&sink);
  std::ostringstream err;
  Console console(out, err);
  const int code = RunCommandLine({"zelto", "--data-folder", (folder / "data").string(), "--state-file",
                                   (folder / "state.json").string(), "status"},
                                  console);
  EXPECT_EQ(code, kExitOutputFailed);
  EXPECT_TRUE(Contains(err.str(), "output could not be written")) << err.str();
}

TEST_F(CommandsTest, FailuresBeforeAnyCommandHaveTheirOwnExitCodes) {
  // No driver registered in this process: nothing to find.
  const Result none = Zelto({"--driver", "system", "status"}, false);
  EXPECT_EQ(none.code, kExitNoCamcorder);
  EXPECT_TRUE(Contains(none.err, "no camcorder found")) << none.err;

  const Result bad = Zelto({"--cassette", Cassette(R"({"length": -5})"), "status"});
  EXPECT_EQ(bad.code, kExitUsage);
  EXPECT_TRUE(Contains(bad.err, "cassette.json")) << bad.err;
  EXPECT_EQ(Lines(bad.err).size(), 1u);
}

TEST_F(CommandsTest, WatchPrintsWhatEachNotificationAnnounced) {
  // Playing from the gap: the second scene starts streaming two seconds on.
  ASSERT_EQ(Zelto({"--cassette", Cassette(ShortTape(28)), "deck", "play", "--wait"}).code, kExitOk);
  const Result watch = Zelto({"watch", "--seconds", "5"});
  ASSERT_EQ(watch.code, kExitOk) << watch.err;
  const std::regex streamOn(R"(\d\d:\d\d:\d\d\.\d\d\d  stream on)");
  bool seen = false;
  for (const std::string& line : Lines(watch.out)) seen = seen || std::regex_match(line, streamOn);
  EXPECT_TRUE(seen) << watch.out;

  // Without --seconds only Ctrl-C ends it, and that is how a watch ends.
  Interrupt::Request();
  const Result interrupted = Zelto({"watch"});
  Interrupt::Clear();
  EXPECT_EQ(interrupted.code, kExitOk) << interrupted.err;
}

#ifndef _WIN32
// Two programs on one state file: a watch in one "terminal" sees what deck
// commands in another do, with the state each step announced; Ctrl-C (a
// real SIGINT) ends the watch with status 0.
TEST_F(CommandsTest, AWatchInAnotherProcessSeesTheDeckCommands) {
  ASSERT_EQ(Zelto({"--cassette", Cassette(ShortTape(5)), "status"}).code, kExitOk);
  ChildZelto watch(folder, {"watch", "--seconds", "120"});
  ASSERT_TRUE(watch.Started());
  // Each step is let show there before the next, which could otherwise
  // come within one look of the watching camcorder at the state file.
  EXPECT_TRUE(watch.WaitFor("watching")) << watch.Output();  // the camcorder is open there
  ASSERT_EQ(Zelto({"deck", "play", "--wait"}).code, kExitOk);
  EXPECT_TRUE(watch.WaitFor("deck state: play at 00:00:0")) << watch.Output();
  ASSERT_EQ(Zelto({"deck", "stop", "--wait"}).code, kExitOk);
  EXPECT_TRUE(watch.WaitFor("deck state: stop at 00:00:0")) << watch.Output();
  // A wind of seconds to the end of the tape: long enough to be seen.
  ASSERT_EQ(Zelto({"deck", "ff", "--wait"}).code, kExitOk);
  EXPECT_TRUE(watch.WaitFor("deck state: fast forward")) << watch.Output();
  EXPECT_TRUE(watch.WaitFor("deck state: stop at --:--:--:--")) << watch.Output();

  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Finish(), kExitOk) << watch.Output();
}
#endif

// Captures run with the camcorder's clock four times as fast, so that the
// short tape's scenes take seconds.
class CaptureCommandTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    zelto::platform::SetTimeScaleForTesting(0.25);
  }
  void TearDown() override {
    zelto::platform::SetTimeScaleForTesting(1.0);
    AppTest::TearDown();
  }
  std::string To() const { return (folder / "out").string(); }
};

TEST_F(CaptureCommandTest, ABatchMakesOneFileASectionAndNeverOverwrites) {
  const Result batch = Zelto({"--cassette", Cassette(ShortTape(0)), "capture", "batch", "--to", To(), "--name",
                              "Tape", "scene:2", "0:00:05-0:00:20"});
  ASSERT_EQ(batch.code, kExitOk) << batch.err << batch.out;
  EXPECT_TRUE(batch.err.empty()) << batch.err;
  // A line per event in a pipe, in the road's order, then the summary.
  for (const char* part : {"searching: section 1 of 2 (scene:2)", "file-created: ", "Tape-001-01.zlt",
                           "section-complete: section 1 of 2", "searching: section 2 of 2", "Tape-002-01.zlt",
                           "batch-complete: 2 sections", "2 files in "}) {
    EXPECT_TRUE(Contains(batch.out, part)) << part << "\n" << batch.out;
  }
  // 30 s and 15 s of tape at the stream rate.
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(folder / "out" / "Tape-001-01.zlt")), 30 * 1.59e6, 1e6);
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(folder / "out" / "Tape-002-01.zlt")), 15 * 1.59e6, 1e6);

  // The same names again: refused before anything moves, files untouched.
  const auto before = std::filesystem::last_write_time(folder / "out" / "Tape-001-01.zlt");
  const Result again = Zelto({"capture", "batch", "--to", To(), "--name", "Tape", "scene:1"});
  EXPECT_EQ(again.code, kExitWouldOverwrite);
  EXPECT_TRUE(Contains(again.err, "Tape-001-01.zlt") && Contains(again.err, "--next-free")) << again.err;
  EXPECT_EQ(std::filesystem::last_write_time(folder / "out" / "Tape-001-01.zlt"), before);
  // With --next-free the first free number is taken.
  const Result next = Zelto({"capture", "batch", "--to", To(), "--name", "Tape", "--next-free", "scene:1"});
  ASSERT_EQ(next.code, kExitOk) << next.err;
  EXPECT_TRUE(std::filesystem::exists(folder / "out" / "Tape-003-01.zlt"));
}

// The cassette memory marks the scene a scene:K section captured, and only it.
TEST_F(CaptureCommandTest, ACapturedSceneIsFlaggedInTheCassetteMemory) {
  const Result batch = Zelto({"--cassette", Cassette(ShortTape(0, R"(, "memory": {"title": "Kept"})")), "capture",
                              "batch", "--to", To(), "--name", "Tape", "scene:1"});
  ASSERT_EQ(batch.code, kExitOk) << batch.err << batch.out;
  const Result mic = Zelto({"mic", "--json"});
  ASSERT_EQ(mic.code, kExitOk) << mic.err;
  const nlohmann::json scenes = nlohmann::json::parse(mic.out, nullptr, false)["scenes"];
  ASSERT_EQ(scenes.size(), 2u) << mic.out;
  EXPECT_EQ(scenes[0]["flag"], true) << mic.out;
  EXPECT_EQ(scenes[1]["flag"], false) << mic.out;
}

TEST_F(CaptureCommandTest, ADirectCaptureStopsAtItsSecondsAndJsonTellsEveryStep) {
  const Result direct = Zelto({"--cassette", Cassette(ShortTape(30)), "capture", "direct", "--to", To(), "--seconds",
                               "3", "--split", "size:2", "--json"});
  ASSERT_EQ(direct.code, kExitOk) << direct.err << direct.out;
  std::vector<std::string> events;
  nlohmann::json summary;
  for (const std::string& line : Lines(direct.out)) {
    const auto json = nlohmann::json::parse(line);
    EXPECT_EQ(json.at("version"), 1) << line;
    events.push_back(json.at("event"));
    if (events.back() == "summary") summary = json;
  }
  EXPECT_EQ(events.front(), "start");
  EXPECT_EQ(events.back(), "summary");
  EXPECT_NE(std::find(events.begin(), events.end(), "progress"), events.end());
  EXPECT_EQ(summary.at("result"), "complete");
  // 3 s of tape in parts of at most 2 MiB (1.3 s): every part full but the
  // last. The stop comes after the third second, by as much as the machine
  // is late in noticing it (the tape runs four times as fast here).
  double seconds = 0;
  const auto& files = summary.at("files");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto bytes = files[i].at("bytes").get<std::uint64_t>();
    EXPECT_LE(bytes, 2u * 1'048'576u);
    if (i + 1 < files.size()) {
      EXPECT_GT(bytes, 2u * 1'048'576u - 150'000u) << "part " << i + 1 << " is not full";
    }
    seconds += files[i].at("seconds").get<double>();
  }
  EXPECT_GE(files.size(), 3u);
  EXPECT_GE(seconds, 2.9);
  EXPECT_LT(seconds, 4.5);
  // The deck is stopped where the capture ended.
  EXPECT_EQ(nlohmann::json::parse(Zelto({"status", "--json"}).out).at("deckState").at("name"), "stop");
}

TEST_F(CaptureCommandTest, CtrlCStopsACaptureAndWrongInputNeverStartsOne) {
  Interrupt::Request();
  const Result stopped = Zelto({"--cassette", Cassette(ShortTape(0)), "capture", "batch", "--to", To(), "--name",
                                "Tape", "scene:2"});
  Interrupt::Clear();
  EXPECT_EQ(stopped.code, kExitInterrupted);
  EXPECT_TRUE(Contains(stopped.err, "stopped by Ctrl-C")) << stopped.err;
  // Refused before the capture began are a missing base name and bad sections.
  const Result noName = Zelto({"capture", "batch", "--to", To(), "scene:1"});
  EXPECT_EQ(noName.code, kExitUsage);
  const Result badSection = Zelto({"capture", "batch", "--to", To(), "--name", "T", "scene:9"});
  EXPECT_EQ(badSection.code, kExitUsage);
  EXPECT_TRUE(Contains(badSection.err, "the tape has 2 scenes")) << badSection.err;
  const Result badName = Zelto({"capture", "direct", "--to", To(), "--name", "50%"});
  EXPECT_EQ(badName.code, kExitUsage);
}

TEST(NotificationFeedTest, CtrlCOnAnotherThreadEndsAWaitAtOnce) {
  // Mostly the request comes while the wait sleeps: it must wake it, not
  // leave it to the deadline.
  NotificationFeed feed;
  const auto began = NotificationFeed::Clock::now();
  std::thread ctrlC([] { Interrupt::Request(); });
  FeedEvent event;
  EXPECT_EQ(feed.Next(began + std::chrono::seconds(60), event), NotificationFeed::Wait::Interrupted);
  ctrlC.join();
  Interrupt::Clear();
  EXPECT_LT(NotificationFeed::Clock::now() - began, std::chrono::seconds(30));
}

// A driver whose objects live on the host's thread is called through
// messages to that thread: a message that arrives while the command waits
// for an event must be dispatched by the wait, or the event never comes.
TEST(NotificationFeedTest, AWaitForAnEventDispatchesTheWindowMessagesThatLeadToIt) {
  static NotificationFeed* feed = nullptr;
  const auto procedure = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message != WM_USER + 7) return DefWindowProcW(window, message, wParam, lParam);
    feed->DeviceListener()->OnEvent(Orvex::OX_NOTIFY_STREAMING_ON);
    return 0;
  };
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ZeltoAppFeedPumpTest";
  ASSERT_NE(RegisterClassExW(&windowClass), 0);
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);

  NotificationFeed theFeed;
  feed = &theFeed;
  const auto began = NotificationFeed::Clock::now();
  std::thread caller([window] { PostMessageW(window, WM_USER + 7, 0, 0); });
  FeedEvent event;
  EXPECT_EQ(theFeed.Next(began + std::chrono::seconds(60), event), NotificationFeed::Wait::Event);
  caller.join();
  EXPECT_TRUE(event.Is(Orvex::OX_NOTIFY_STREAMING_ON));
  EXPECT_LT(NotificationFeed::Clock::now() - began, std::chrono::seconds(30));
  // With nothing more to come, the deadline still ends the wait.
  EXPECT_EQ(theFeed.Next(NotificationFeed::Clock::now() + std::chrono::milliseconds(20), event),
            NotificationFeed::Wait::TimedOut);

  feed = nullptr;
  DestroyWindow(window);
  UnregisterClassW(windowClass.lpszClassName, GetModuleHandleW(nullptr));
}

TEST_F(CommandsTest, DemoTourRunsInOrderOnItsOwnCassette) {
  const Result demo = Zelto({"demo"}, false);
  ASSERT_EQ(demo.code, kExitOk) << demo.err << demo.out;
  EXPECT_TRUE(demo.err.empty()) << demo.err;
  // Each step, in order, with the notifications that show it happened.
  const std::vector<std::string> expected = {
      "found HXQ-ZL5",      "3. rewind",    "deck state: rewind",    "deck state: stop",
      "4. play",            "stream on",    "5. seek to the scene at ATN 3600",
      "scene found, playing at 00:00:06", "6. stop",
      "7. capture",         "Demo-001-01.zlt", "Demo-002-01.zlt", "2 files in", "done in"};
  std::size_t at = 0;
  for (const std::string& part : expected) {
    const std::size_t found = demo.out.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << part << "\n" << demo.out;
    at = found + part.size();
  }
  // The worn stretch of the second scene is found and read again; where the
  // captures carry pictures (their clock references line the passes up) it is mended.
  EXPECT_TRUE(Contains(demo.out, "pass: Demo-002-01.zlt: pass 2")) << demo.out;
  if (zelto::sim::CaptureStreamWriter::HasVideo()) {
    EXPECT_TRUE(Contains(demo.out, "Demo-002-01.zlt: repaired, whole after 1 more pass")) << demo.out;
  }
  // The stop shows as the deck's stop, and the end of the scene's play.
  const std::string stop = demo.out.substr(demo.out.find("6. stop"), demo.out.find("7. capture") - demo.out.find("6. stop"));
  EXPECT_TRUE(Contains(stop, "deck state: stop at 00:00:06")) << stop;
  EXPECT_TRUE(Contains(stop, "scene playing ended")) << stop;
  // The deck reports a found scene on every look while it plays; the tour shows it once.
  std::size_t count = 0;
  for (const std::string& line : Lines(demo.out)) count += Contains(line, "scene found") ? 1 : 0;
  EXPECT_EQ(count, 1u) << demo.out;
  // The tour's tape was its own: the data folder holds no camcorder state,
  // and its files are in a folder of their own under the data folder.
  EXPECT_FALSE(std::filesystem::exists(folder / "data" / "simulator-state.json"));
  ASSERT_TRUE(std::filesystem::is_directory(folder / "data" / "demo-captures"));
  const auto made = *std::filesystem::directory_iterator(folder / "data" / "demo-captures");
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(made.path() / "Demo-002-01.zlt")), 6 * 1.59e6, 2e5);
}

TEST_F(CommandsTest, DemoOnANamedStateFileUsesThatTapeAndKeepsIt) {
  const std::string tape = R"({"length": 40, "position": 10, "scenes": [{"start": 1, "end": 3}, {"start": 5, "end": 7}]})";
  ASSERT_EQ(Zelto({"--cassette", Cassette(tape), "status"}).code, kExitOk);
  const Result demo = Zelto({"demo"});
  ASSERT_EQ(demo.code, kExitOk) << demo.err << demo.out;
  // That tape's second scene starts at 5 s.
  EXPECT_TRUE(Contains(demo.out, "5. seek to the scene at ATN 1500")) << demo.out;
  const auto json = nlohmann::json::parse(Zelto({"status", "--json"}).out);
  EXPECT_EQ(json.at("tape").at("lengthAtn"), 12000) << "the tape is still that one";
}

}  // namespace
