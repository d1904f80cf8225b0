// The deck model driven by hand-made times: transport speeds and limits,
// seeks, the stream over scenes and gaps, recording over a tape, the camera
// mode, and a saved state carried forward.
#include <gtest/gtest.h>

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
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY_SLOWEST_FORWARD, 3000), S_OK);
  EXPECT_EQ(model.Track(5000), 3300u);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY_SLOWEST_FORWARD);
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY_FASTEST_REVERSE, 5000), S_OK);
  EXPECT_EQ(model.Track(6000), 300u);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY_FASTEST_REVERSE);
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY_SLOWEST_REVERSE, 6000), S_OK);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY_SLOWEST_REVERSE);
  ASSERT_EQ(model.Command(DECK_COMMAND_PAUSE, 6000), S_OK);
  EXPECT_EQ(model.Track(9000), model.Track(6000));
  EXPECT_EQ(model.DeckState(), DECK_STATE_PAUSE);
  EXPECT_EQ(model.Command(12, 6000), E_INVALIDARG);
  EXPECT_EQ(model.Command(0x20000005, 6000), E_INVALIDARG) << "only bit 28 marks a seek";
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

  // Backwards, onto blank tape before the second scene: that scene is played.
  ASSERT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 7500, 10000), S_OK);
  model.Advance(10000 + 250 + 200);
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY);
  EXPECT_EQ(model.StreamingScene(10450), nullptr) << "blank tape before the scene";
  model.Advance(10450 + 5000);
  EXPECT_EQ(model.StreamingScene(10450 + 5000)->startTrack, 9000u);
  model.Advance(10450 + 25000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.Track(40000), 15000u);

  EXPECT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 30001, 40000), E_INVALIDARG) << "beyond the tape";
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
}

TEST_F(DeckModelTest, StreamFollowsScenesAndGapsWithTransitionsAtEachBoundary) {
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 0), S_OK);
  // Boundaries at 3000, 6000, 9000, 15000 tracks: 10, 20, 30, 50 s.
  std::vector<Tick> transitions;
  for (auto t = model.NextTransition(); t && *t < 60000; t = model.NextTransition()) {
    transitions.push_back(*t);
    model.Advance(*t);
  }
  EXPECT_EQ(transitions, (std::vector<Tick>{10000, 20000, 30000, 50000}));
  EXPECT_EQ(model.StreamingScene(9999), nullptr);
  model = DeckModel(Timing());
  model.Insert(SmallTape(), 0, true);
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 0), S_OK);
  model.Advance(10000);
  EXPECT_NE(model.StreamingScene(10000), nullptr);
  model.Advance(19999);
  EXPECT_NE(model.StreamingScene(19999), nullptr);
  model.Advance(20000);
  EXPECT_EQ(model.StreamingScene(20000), nullptr);
  // Winding is not streaming, even over a scene.
  ASSERT_EQ(model.Command(DECK_COMMAND_FAST_FORWARD, 20000), S_OK);
  model.Advance(20200);
  EXPECT_EQ(model.StreamingScene(20200), nullptr);
}

TEST_F(DeckModelTest, TimeCodeComesFromTheSceneUnderTheHead) {
  ASSERT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | (9000 + 450), 0), S_OK);  // 1.5 s into scene two
  model.Advance(5000);
  // Scene two starts at frame 250 (00:00:10:00 at 25 fps): 1.5 s later is 10 s + 37 frames.
  ASSERT_EQ(model.Command(DECK_COMMAND_STOP, 5000), S_OK);
  const std::uint32_t track = model.Track(5000);
  auto tc = model.TimeCode(5000);
  ASSERT_TRUE(tc);
  const std::uint32_t frames = 250 + (track - 9000) * 25 / 300;
  EXPECT_EQ(tc->flags, 0u);
  EXPECT_EQ(tc->seconds, frames / 25);
  EXPECT_EQ(tc->frames, frames % 25);
  ASSERT_EQ(model.Command(DECK_COMMAND_SEEK_ATN | 100, 6000), S_OK);
  model.Advance(6000 + 2000 + 1);  // winding and settling: now playing blank tape
  ASSERT_EQ(model.Command(DECK_COMMAND_PAUSE, 8001), S_OK);
  tc = model.TimeCode(8001);
  ASSERT_TRUE(tc);
  EXPECT_EQ(tc->flags & kTimeCodeRecordNoTimeCode, kTimeCodeRecordNoTimeCode);
}

TEST_F(DeckModelTest, CameraModeRefusesDeckCommandsAndStopsTheTape) {
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 0), S_OK);
  model.SwitchCamcorderMode(CAMCORDER_MODE_CAMERA, 1000);
  EXPECT_EQ(model.CamcorderMode(), CAMCORDER_MODE_SWITCHING);
  EXPECT_EQ(model.DeckState(), DECK_STATE_BUSY);
  EXPECT_EQ(model.Command(DECK_COMMAND_PLAY, 1050), kErrorWrongMode);
  model.Advance(1100);
  EXPECT_EQ(model.CamcorderMode(), CAMCORDER_MODE_CAMERA);
  EXPECT_EQ(model.Track(5000), 300u) << "the transport stopped on switching";
  for (DWORD command : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 0x10000010u})
    EXPECT_EQ(model.Command(command, 5000), kErrorWrongMode) << command;
  EXPECT_FALSE(model.TimeCode(5000));
  model.SwitchCamcorderMode(CAMCORDER_MODE_DECK, 6000);
  model.Advance(6100);
  EXPECT_EQ(model.Command(DECK_COMMAND_PLAY, 6100), S_OK);
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

TEST_F(DeckModelTest, CassetteSlotLoadsEjectsAndStalls) {
  EXPECT_TRUE(model.Eject(0));
  EXPECT_EQ(model.MediaInfo(), MEDIA_INFO_EJECTING);
  EXPECT_EQ(model.Command(DECK_COMMAND_PLAY, 100), kErrorNotReady);
  model.Advance(300);
  EXPECT_EQ(model.MediaInfo(), MEDIA_INFO_NONE);
  EXPECT_EQ(model.DeckState(), DECK_STATE_NOT_READY);
  EXPECT_FALSE(model.Eject(400));
  EXPECT_FALSE(model.NextTransition());

  Cassette bare = SmallTape();
  bare.hasMemory = false;
  model.Insert(bare, 1000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_LOADING);
  EXPECT_EQ(model.Command(DECK_COMMAND_PLAY, 1000), kErrorNotReady);
  model.Advance(1400);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.MediaInfo(), MEDIA_INFO_NO_MEMORY);

  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 1400), S_OK);
  model.SetStalled(true, 2400);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STALLED);
  EXPECT_EQ(model.Command(DECK_COMMAND_STOP, 3000), kErrorBusy);
  EXPECT_EQ(model.Track(9000), 300u) << "a stalled tape does not move";
  model.SetStalled(false, 9000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
}

TEST_F(DeckModelTest, SavedStateCarriesAPlayingTapeForward) {
  ASSERT_EQ(model.Command(DECK_COMMAND_PLAY, 1000), S_OK);
  // Ticks of the first run are its wall clock plus 5,000,000; the second run
  // starts 4 s of wall time later with its ticks at zero.
  const std::string saved = model.Save([](Tick t) { return t + 5'000'000; });
  DeckModel next(Timing());
  ASSERT_TRUE(next.Restore(saved, [](std::int64_t wall) { return wall - 5'004'000; }));
  next.Advance(0);
  EXPECT_EQ(next.DeckState(), DECK_STATE_PLAY);
  EXPECT_EQ(next.Track(0), 900u) << "3 s of play happened between the runs";
  EXPECT_EQ(next.CurrentCassette(0)->scenes.size(), 2u);

  // A tape that reached its end meanwhile is found stopped there.
  DeckModel later(Timing());
  ASSERT_TRUE(later.Restore(saved, [](std::int64_t wall) { return wall - 5'000'000 - 200'000; }));
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
    EXPECT_FALSE(untouched.Restore(bad, [](std::int64_t w) { return w; })) << bad;
    EXPECT_EQ(untouched.DeckState(), DECK_STATE_STOP);
  }
}
