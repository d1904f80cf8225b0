// The commands end to end: each run registers the simulated camcorder,
// opens the device, does its work and takes everything down, as the
// program does. Deck tests use a short cassette so that the real-time
// transport gets anywhere in a moment.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/NotificationFeed.h"
#include "tests/app/AppTestSupport.h"

using namespace apptest;
using namespace zelto::app;

namespace {

// Scenes at 1-20 s and 30-60 s of a two-minute tape, 25 frames per second.
std::string ShortTape(double position, const std::string& extra = "") {
  return R"({"length": 120, "position": )" + std::to_string(position) + extra +
         R"(, "scenes": [{"start": 1, "end": 20, "timeCode": "00:00:00:00"},
                         {"start": 30, "end": 60, "timeCode": "00:10:00:00"}]})";
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CommandsTest : public AppTest {};

TEST_F(CommandsTest, StatusJsonCarriesEveryReading) {
  const Result inScene = Zelto({"--cassette", Cassette(ShortTape(10)), "status", "--json"});
  ASSERT_EQ(inScene.code, kExitOk) << inScene.err;
  const auto json = nlohmann::json::parse(inScene.out);
  EXPECT_EQ(json.at("camcorder"), "HXQ-ZL5");
  EXPECT_EQ(json.at("driver"), "simulated");
  EXPECT_EQ(json.at("deckState"), (nlohmann::json{{"value", 3}, {"name", "stop"}}));
  EXPECT_EQ(json.at("media"), (nlohmann::json{{"value", 1}, {"name", "recordable"}}));
  EXPECT_EQ(json.at("camcorderMode"), (nlohmann::json{{"value", 1}, {"name", "deck"}}));
  EXPECT_EQ(json.at("timeCode"), "00:00:09:00");
  EXPECT_EQ(json.size(), 6u);

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
                                      "time code    --:--:--:--"}));
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

TEST_F(CommandsTest, AButtonTheDeckIgnoresIsRefusedAndNothingMoves) {
  const Result pause = Zelto({"--cassette", Cassette(ShortTape(5)), "deck", "pause", "--wait"});
  EXPECT_EQ(pause.code, kExitDeviceFailed);
  EXPECT_TRUE(pause.out.empty());
  EXPECT_EQ(Lines(pause.err), (std::vector<std::string>{"zelto: the deck does not take 'pause' while in state stop"}));

  const Result status = Zelto({"status", "--json"});
  ASSERT_EQ(status.code, kExitOk) << status.err;
  EXPECT_EQ(nlohmann::json::parse(status.out).at("deckState").at("name"), "stop");
}

TEST_F(CommandsTest, SeekWaitEndsWhenTheSceneIsFound) {
  // From 15 s to 18 s: a short wind, the settling, then the scene plays.
  const Result seek = Zelto({"--cassette", Cassette(ShortTape(15)), "deck", "seek", "5400", "--wait"});
  ASSERT_EQ(seek.code, kExitOk) << seek.err;
  EXPECT_TRUE(Contains(seek.out, "scene found at ATN 5400, playing from 00:00:1")) << seek.out;

  const Result status = Zelto({"status", "--json"});
  EXPECT_EQ(nlohmann::json::parse(status.out).at("deckState").at("name"), "play");
}

TEST_F(CommandsTest, WaitGivesUpAfterItsTimeOut) {
  // Beyond the tape's end: the camcorder refuses the seek, so no scene is ever found.
  const Result seek =
      Zelto({"--cassette", Cassette(ShortTape(15)), "deck", "seek", "40000", "--wait", "--timeout", "0.5"});
  EXPECT_EQ(seek.code, kExitDeviceFailed);
  ASSERT_EQ(Lines(seek.err).size(), 1u) << seek.err;
  EXPECT_TRUE(Contains(seek.err, "did not finish within 0.5 s")) << seek.err;
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

TEST_F(CommandsTest, WatchPrintsTimeStampedNotificationsUntilTimeOrCtrlC) {
  // Playing from the gap: the second scene starts streaming two seconds on.
  ASSERT_EQ(Zelto({"--cassette", Cassette(ShortTape(28)), "deck", "play", "--wait"}).code, kExitOk);
  const Result watch = Zelto({"watch", "--seconds", "5"});
  ASSERT_EQ(watch.code, kExitOk) << watch.err;
  const std::regex streamOn(R"(\d\d:\d\d:\d\d\.\d\d\d  stream on)");
  bool seen = false;
  for (const std::string& line : Lines(watch.out)) seen = seen || std::regex_match(line, streamOn);
  EXPECT_TRUE(seen) << watch.out;

  // Without --seconds only Ctrl-C ends it.
  Interrupt::Request();
  const Result interrupted = Zelto({"watch"});
  Interrupt::Clear();
  EXPECT_EQ(interrupted.code, kExitOk) << interrupted.err;
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

TEST_F(CommandsTest, DemoTourRunsInOrderOnTheDefaultCassette) {
  const Result demo = Zelto({"demo"});
  ASSERT_EQ(demo.code, kExitOk) << demo.err << demo.out;
  EXPECT_TRUE(demo.err.empty()) << demo.err;
  // Each step, in order, with the notifications that show it happened.
  const std::vector<std::string> expected = {
      "found HXQ-ZL5",      "3. rewind",    "deck state: rewind",    "deck state: stop",
      "4. play",            "stream on",    "5. seek to the scene at ATN 29100",
      "scene found, playing at 00:01:33", "6. stop", "scene playing ended", "done in"};
  std::size_t at = 0;
  for (const std::string& part : expected) {
    const std::size_t found = demo.out.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << part << "\n" << demo.out;
    at = found + part.size();
  }
  // The deck reports a found scene on every look while it plays; the tour shows it once.
  std::size_t count = 0;
  for (const std::string& line : Lines(demo.out)) count += Contains(line, "scene found") ? 1 : 0;
  EXPECT_EQ(count, 1u) << demo.out;
}

}  // namespace
