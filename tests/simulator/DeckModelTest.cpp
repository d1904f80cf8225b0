// The deck model driven by hand-made times: transport speeds and limits,
// seeks, the stream over scenes and gaps, recording over a tape, the camera
// mode, and a saved state carried forward.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "simulator/DeckModel.h"

using namespace zelto::sim;

namespace {

Scene MakeScene(std::uint32_t start, std::uint32_t end, std::uint32_t frame = 0, bool wide = true) {
  Scene s;
  s.startTrack = start;
  s.endTrack = end;
  s.startFrame = frame;
  s.wide = wide;
  return s;
}

// 100 s of tape: scenes at 10-20 s and 30-50 s, blank elsewhere.
Cassette SmallTape() {
  Cassette c;
  c.lengthTracks = 100 * kTracksPerSecond;
  c.scenes = {MakeScene(3000, 6000, 0), MakeScene(9000, 15000, 250, false)};
  return c;
}

TransportTiming Timing() {
  TransportTiming t;
  t.windSpeed = 20;
  t.searchSpeed = 10;
  t.slowSpeed = 0.5;
  t.loadMs = 400;
  t.ejectMs = 300;
  t.seekSettleMs = 200;
  t.modeSwitchMs = 100;
  return t;
}

class DeckModelTest : public ::testing::Test {
 protected:
  DeckModelTest() : model(Timing()) { model.Insert(SmallTape(), 0, true); }
  DeckModel model;
};

}  // namespace

TEST_F(DeckModelTest, PlayRunsAtThreeHundredTracksPerSecondAndStopsAtTheEnd) {
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 0), S_OK);
  model.Advance(1000);
  EXPECT_EQ(model.Track(1000), 300u);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY);
  model.Advance(100000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.Track(100000), 30000u);
  EXPECT_FALSE(model.NextTransition()) << "a stopped deck schedules nothing";
  model.Advance(200000);
  EXPECT_EQ(model.Track(200000), 30000u);
}

TEST_F(DeckModelTest, WindingSpeedsAndTheStartOfTheTape) {
  ASSERT_EQ(model.Command(DECK_COMMAND_FAST_FORWARD, 0), S_OK);
  model.Advance(1000);
  EXPECT_EQ(model.Track(1000), 6000u) << "20 times play speed";
  EXPECT_EQ(model.DeckState(), DECK_STATE_FAST_FORWARD);
  ASSERT_EQ(model.Command(DECK_COMMAND_REWIND, 1000), S_OK);
  // 6000 tracks back at 6 tracks per millisecond: the start at 2000.
  EXPECT_EQ(*model.NextTransition(), 2000);
  model.Advance(1999);
  EXPECT_EQ(model.DeckState(), DECK_STATE_REWIND);
  model.Advance(2000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.Track(2000), 0u);

  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY_FASTEST_FORWARD, 2000), S_OK);
  EXPECT_EQ(model.Track(3000), 3000u);
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY_SLOWEST_REVERSE, 3000), S_OK);
  EXPECT_EQ(model.Track(5000), 2700u);
  EXPECT_EQ(model.Command(12, 5000), E_INVALIDARG);
  EXPECT_EQ(model.Command(0x20000005, 5000), E_INVALIDARG) << "only bit 28 marks a seek";
}

TEST_F(DeckModelTest, SeekWindsSettlesPlaysTheSceneAndStopsAtItsEnd) {
  // Track 4500 is inside the first scene, which ends at 6000.
  ASSERT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 4500, 0), S_OK);
  EXPECT_EQ(model.DeckState(), DECK_STATE_WINDING_TO_TRACK);
  EXPECT_EQ(model.StreamingScene(0), nullptr);
  model.Advance(749);  // 4500 tracks at 6 per millisecond: 750 ms
  EXPECT_EQ(model.DeckState(), DECK_STATE_WINDING_TO_TRACK);
  model.Advance(750);
  EXPECT_EQ(model.Track(750), 4500u);
  EXPECT_EQ(model.DeckState(), DECK_STATE_WINDING_TO_TRACK) << "settling on the track";
  model.Advance(950);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY);
  ASSERT_NE(model.StreamingScene(950), nullptr);
  EXPECT_EQ(model.StreamingScene(950)->startTrack, 3000u);
  model.Advance(950 + 5000 - 1);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY);
  model.Advance(950 + 5000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.Track(6000), 6000u);

  // Onto blank tape before the second scene: the search goes on to that
  // scene's start (3000 tracks on: 500 ms) and plays it from there.
  ASSERT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 7500, 10000), S_OK);
  model.Advance(10000 + 500 + 199);
  EXPECT_EQ(model.DeckState(), DECK_STATE_WINDING_TO_TRACK);
  EXPECT_EQ(model.Track(10699), 9000u);
  model.Advance(10000 + 500 + 200);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY);
  ASSERT_NE(model.StreamingScene(10700), nullptr) << "never blank tape";
  EXPECT_EQ(model.StreamingScene(10700)->startTrack, 9000u);
  model.Advance(10700 + 20000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.Track(40000), 15000u);

  // Past the last scene there is nothing to find: the deck stops on the
  // track and never plays blank tape to the end.
  ASSERT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 21000, 40000), S_OK);
  model.Advance(40000 + 1000 + 200);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.Track(41200), 21000u);
  EXPECT_EQ(model.NextTransition(), std::nullopt);

  EXPECT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 30001, 42000), E_INVALIDARG) << "beyond the tape";
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
}

TEST_F(DeckModelTest, RecordingWritesASceneOverTheTapeAndContinuesTheTimeCode) {
  // Record from 5 s into the first scene (track 4500) for 3 s: the first
  // scene is cut at 4500 and the new one continues its time code.
  ASSERT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 4500, 0), S_OK);
  model.Advance(760);
  ASSERT_EQ(model.Mode(), TransportMode::SeekSettling);
  ASSERT_EQ(model.Command(DECK_COMMAND_RECORD_PAUSE, 760), S_OK);
  EXPECT_EQ(model.DeckState(), DECK_STATE_RECORD_PAUSE);
  ASSERT_EQ(model.Command(DECK_COMMAND_RECORD, 800), S_OK);
  EXPECT_EQ(model.DeckState(), DECK_STATE_RECORD);
  EXPECT_EQ(model.Command(DECK_COMMAND_PLAY, 900), kErrorBusy) << "recording refuses other commands";
  ASSERT_EQ(model.Command(DECK_COMMAND_STOP, 3800), S_OK);
  const auto tape = model.CurrentCassette(3800);
  ASSERT_TRUE(tape);
  ASSERT_EQ(tape->scenes.size(), 4u);
  EXPECT_EQ(tape->scenes[0].endTrack, 4500u);
  EXPECT_EQ(tape->scenes[1].startTrack, 4500u);
  EXPECT_EQ(tape->scenes[1].endTrack, 5400u);
  EXPECT_EQ(tape->scenes[1].startFrame, 125u) << "5 s at 25 frames per second";
  EXPECT_FALSE(tape->scenes[1].recorded.empty());
  EXPECT_EQ(tape->scenes[2].startTrack, 5400u) << "the rest of the old scene survives";
  EXPECT_EQ(tape->scenes[2].startFrame, 200u);
  EXPECT_EQ(tape->scenes[3].startTrack, 9000u);

  Cassette locked = SmallTape();
  locked.writeProtected = true;
  model.Insert(locked, 4000, true);
  EXPECT_EQ(model.MediaInfo(), MEDIA_INFO_WRITE_PROTECTED);
  EXPECT_EQ(model.Command(DECK_COMMAND_RECORD, 4000), kErrorWriteProtected);
  EXPECT_EQ(model.Command(DECK_COMMAND_RECORD_PAUSE, 4000), kErrorWriteProtected);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
}

TEST_F(DeckModelTest, AStalledTransportStandsAndRefusesCommands) {
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 0), S_OK);
  model.SetStalled(true, 1000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STALLED);
  EXPECT_EQ(model.Command(DECK_COMMAND_STOP, 2000), kErrorBusy);
  EXPECT_EQ(model.Track(9000), 300u);
  model.SetStalled(false, 9000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
}

TEST_F(DeckModelTest, SavedStateCarriesAPlayingTapeForward) {
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 1000), S_OK);
  // Saved 3 s of wall time before the next run starts, with its ticks at zero.
  const std::string saved = model.Save(1000, 5'001'000);
  DeckModel next(Timing());
  ASSERT_TRUE(next.Restore(saved, 0, 5'004'000, 1.0));
  next.Advance(0);
  EXPECT_EQ(next.DeckState(), DECK_STATE_PLAY);
  EXPECT_EQ(next.Track(0), 900u) << "3 s of play happened between the runs";
  EXPECT_EQ(next.CurrentCassette(0)->scenes.size(), 2u);

  // A tape that reached its end meanwhile is found stopped there.
  DeckModel later(Timing());
  ASSERT_TRUE(later.Restore(saved, 0, 5'200'000, 1.0));
  later.Advance(0);
  EXPECT_EQ(later.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(later.Track(0), 30000u);

  for (const char* bad : {"", "{}", "[1,2]", "{\"format\":\"zelto-sim-state\",\"version\":1}",
                          R"({"format":"zelto-sim-state","version":1,"camcorderMode":3,"switchTarget":3,
                              "switchDue":null,"cassette":null,"mode":"play","position":0,"modeEntered":0,
                              "phaseDue":null,"seekTarget":0,"seekStop":0,"recordStart":0,"recordFrame":0,
                              "recordInput":false})"}) {
    DeckModel untouched(Timing());
    untouched.Insert(SmallTape(), 0, true);
    EXPECT_FALSE(untouched.Restore(bad, 0, 0, 1.0)) << bad;
    EXPECT_EQ(untouched.DeckState(), DECK_STATE_STOP);
  }
}

TEST_F(DeckModelTest, ARecordPauseLeftAloneStopsByItselfAndStopEndsItAtOnce) {
  const Tick limit = TransportTiming{}.recordPauseLimitMs;
  struct Case {
    const char* how;
    std::vector<std::pair<DWORD, Tick>> buttons;
    Tick pausedAt;
  };
  const Case cases[] = {
      {"the record-pause button", {{DECK_COMMAND_RECORD_PAUSE, 0}}, 0},
      {"a pause while recording", {{DECK_COMMAND_RECORD, 0}, {DECK_COMMAND_PAUSE, 1000}}, 1000},
      {"the record button again", {{DECK_COMMAND_RECORD_PAUSE, 0}, {DECK_COMMAND_RECORD, 500}, {DECK_COMMAND_PAUSE, 900}}, 900},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    DeckModel deck(Timing());
    deck.Insert(SmallTape(), 0, true);
    for (const auto& [button, at] : c.buttons) ASSERT_EQ(deck.Command(button, at), S_OK);
    const std::uint32_t track = deck.Track(c.pausedAt);
    deck.Advance(c.pausedAt + limit - 1);
    EXPECT_EQ(deck.DeckState(), DECK_STATE_RECORD_PAUSE);
    EXPECT_EQ(deck.NextTransition(), c.pausedAt + limit);
    deck.Advance(c.pausedAt + limit);
    EXPECT_EQ(deck.DeckState(), DECK_STATE_STOP);
    EXPECT_EQ(deck.Track(c.pausedAt + limit), track) << "where it paused";
    EXPECT_FALSE(deck.NextTransition());

    // The stop button never waits for that.
    DeckModel stopped(Timing());
    stopped.Insert(SmallTape(), 0, true);
    for (const auto& [button, at] : c.buttons) ASSERT_EQ(stopped.Command(button, at), S_OK);
    EXPECT_EQ(stopped.Command(DECK_COMMAND_STOP, c.pausedAt + 10), S_OK);
    EXPECT_EQ(stopped.DeckState(), DECK_STATE_STOP);
  }
}

// The camcorder's clock goes on between programs by the wall time passed,
// at the reading program's scale, whatever scale the writer ran at: the
// tape never jumps when programs at different scales take turns.
TEST_F(DeckModelTest, TheCamcordersClockCarriesOverBetweenProgramsAtAnyScale) {
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 1000), S_OK);
  // The writer's ticks are its own (a program at a hundredth of real time
  // counts a hundred of them a wall-clock millisecond): only the state says
  // where the head was, and when on the wall clock it was saved.
  const std::int64_t wall = 1'700'000'000'000;
  const std::string saved = model.Save(2000, wall);  // 300 tracks played
  struct Case {
    double scale;
    std::int64_t wallPassed;
    std::uint32_t track;
  };
  const Case cases[] = {
      {1.0, 0, 300},       // read at once: where it was saved
      {1.0, 1000, 600},    // a second later at real speed
      {0.01, 10, 600},     // 10 ms later at a hundred times real speed
      {4.0, 4000, 600},    // 4 s later at a quarter of real speed
      {1.0, -60000, 300},  // the wall clock set back: the tape never goes back
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    SCOPED_TRACE(c.wallPassed);
    DeckModel reader(Timing());
    ASSERT_TRUE(reader.Restore(saved, 777'000, wall + c.wallPassed, c.scale));
    EXPECT_EQ(reader.Track(777'000), c.track);
    // Its own save, read at once by a program at yet another scale, shows
    // the same tape.
    DeckModel next(Timing());
    ASSERT_TRUE(next.Restore(reader.Save(778'000, wall + c.wallPassed), 5, wall + c.wallPassed, 0.5));
    EXPECT_EQ(next.Track(5), c.track + 300u);
  }
}

// A state written before the camcorder's clock was kept carries wall-clock
// times: it is read as it was written.
TEST_F(DeckModelTest, StatesOfEarlierVersionsKeepTheirWallClockTimes) {
  for (int version : {1, 2}) {
    SCOPED_TRACE(version);
    const std::string earlier = R"({"format": "zelto-sim-state", "version": )" + std::to_string(version) +
                                R"(, "camcorderMode": 3, "switchTarget": 3, "switchDue": null, "mode": "play",
      "position": 300.0, "modeEntered": 5000000, "phaseDue": null, "seekTarget": 0, "seekStop": 0,
      "recordStart": 0, "recordFrame": 0, "recordInput": false,
      "cassette": {"length": 100, "scenes": [{"start": 10, "end": 20, "timeCode": "00:00:00:00"}]}})";
    DeckModel reader(Timing());
    // Two wall-clock seconds later, at half real speed: four of play.
    ASSERT_TRUE(reader.Restore(earlier, 40, 5'002'000, 0.5));
    EXPECT_EQ(reader.DeckState(), DECK_STATE_PLAY);
    EXPECT_EQ(reader.Track(40), 1500u);
  }
}

// Every number of a state is read as what its field holds: a whole number
// where a count is meant, within its range; a state that holds anything
// else is refused, naming the field, and never converted blindly (a huge
// file size once made a restored transmit count its end for ages).
TEST_F(DeckModelTest, AStateWhoseNumbersDoNotFitTheirFieldsIsRefusedByName) {
  ASSERT_EQ(model.Command(DECK_COMMAND_RECORD_PAUSE, 0), S_OK);
  DeckModel::TransmitSource source;
  source.file = "/tape/source.m2t";
  source.fileSize = 1000 * kPacketBytes;
  model.StartTransmit(source, 0);
  ASSERT_EQ(model.Command(DECK_COMMAND_RECORD, 100), S_OK);
  const nlohmann::json saved = nlohmann::json::parse(model.Save(200, 1'000'000));
  struct Case {
    const char* pointer;  // the field, as a JSON pointer
    nlohmann::json value;
    const char* named;
  };
  const Case cases[] = {
      {"/transmit/fileSize", 18446744073709551615ull, "\"fileSize\""},
      {"/transmit/fileSize", 1e30, "\"fileSize\""},
      {"/transmit/leadIn", -1, "\"leadIn\""},
      {"/transmit/sentBefore", 1e19, "\"sentBefore\""},
      {"/seekTarget", 4294967296ll, "\"seekTarget\""},
      {"/seekTarget", 12.5, "\"seekTarget\""},
      {"/recordFrame", -1, "\"recordFrame\""},
      {"/memorySequence", "7", "\"memorySequence\""},
      {"/version", 1e300, "\"version\""},
      {"/clock/now", 1e300, "clock: now"},
      {"/modeEntered", 9.3e18, "\"modeEntered\""},
      {"/position", -5, "\"position\""},
      {"/camcorderMode", 4294967299ll, "\"camcorderMode\""},
      {"/preview/volume", 101, "\"volume\""},
      {"/preview/rect", nlohmann::json::array({0, 0, 1e10, 5}), "\"rect\""},
      {"/cassette/length", 1e300, "\"length\""},
      {"/cassette/scenes/0/key", 4294967296ll, "\"key\""},
      {"/scan/from", -5, "\"from\""},
      {"/scan/owner", nlohmann::json::object({{"process", 1.5}, {"started", 1}, {"camcorder", 1}}), "\"process\""},
  };
  for (const Case& c : cases) {
    nlohmann::json state = saved;
    state[nlohmann::json::json_pointer(c.pointer)] = c.value;
    DeckModel untouched(Timing());
    std::string problem;
    EXPECT_FALSE(untouched.Restore(state.dump(), 300, 1'000'100, 1.0, {}, nullptr, &problem)) << c.pointer;
    EXPECT_NE(problem.find(c.named), std::string::npos) << c.pointer << ": " << problem;
  }
  // What was saved is taken, and a fraction where one is meant (the head
  // between two tracks) is kept.
  nlohmann::json state = saved;
  state["position"] = 12.25;
  DeckModel next(Timing());
  std::string problem;
  EXPECT_TRUE(next.Restore(state.dump(), 300, 1'000'100, 1.0, {}, nullptr, &problem)) << problem;
}
