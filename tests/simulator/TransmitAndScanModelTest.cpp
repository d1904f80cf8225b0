// The deck model's transmit and tape scan, driven by hand-made times: where
// a file's stream lands on the tape, how a transmit ends, what the scan
// notes and what ends it, and all of it carried through a saved state.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "simulator/DeckModel.h"
#include "simulator/StateFile.h"

using namespace zelto::sim;

namespace {

Scene MakeScene(std::uint32_t start, std::uint32_t end, std::uint32_t frame = 0) {
  Scene s;
  s.startTrack = start;
  s.endTrack = end;
  s.startFrame = frame;
  return s;
}

// 100 s of tape: scenes at 10-20 s, 30-50 s and 60-60.5 s.
Cassette SmallTape(std::uint32_t position = 0) {
  Cassette c;
  c.lengthTracks = 100 * kTracksPerSecond;
  c.positionTrack = position;
  c.scenes = {MakeScene(3000, 6000), MakeScene(9000, 15000, 250), MakeScene(18000, 18150, 900)};
  return c;
}

TransportTiming Timing() {
  TransportTiming t;
  t.windSpeed = 20;   // 6 tracks a millisecond
  t.searchSpeed = 10;  // 3 tracks a millisecond
  t.loadMs = 400;
  t.ejectMs = 300;
  t.seekSettleMs = 200;
  t.modeSwitchMs = 100;
  return t;
}

// 0.5 s of null packets either side of a 2 s file.
constexpr std::uint64_t kFilePackets = 16900;
constexpr std::uint64_t kMarginPackets = 4228;
constexpr std::uint64_t kStreamPackets = kFilePackets + 2 * kMarginPackets;

DeckModel::TransmitSource Source() {
  DeckModel::TransmitSource source;
  source.file = "/tape/source.m2t";
  source.fileSize = kFilePackets * kPacketBytes;
  source.leadInPackets = kMarginPackets;
  source.leadOutPackets = kMarginPackets;
  return source;
}

class TransmitModelTest : public ::testing::Test {
 protected:
  // The head at the end of the first scene, the deck in record pause with
  // the file handed over, recording from t = 1000.
  void StartRecording(Cassette tape = SmallTape(6000), DeckModel::TransmitSource source = Source()) {
    model.Insert(std::move(tape), 0, true);
    ASSERT_EQ(model.Command(DECK_COMMAND_RECORD_PAUSE, 0), S_OK);
    model.StartTransmit(std::move(source), 0);
    ASSERT_EQ(model.Transmit(), DeckModel::TransmitState::Started);
    ASSERT_EQ(model.Command(DECK_COMMAND_RECORD, 1000), S_OK);
  }
  // The scene that starts at a track, as the tape is now.
  std::optional<Scene> SceneFrom(std::uint32_t track, Tick now) {
    cassette = model.CurrentCassette(now);
    for (const Scene& s : cassette->scenes)
      if (s.startTrack == track) return s;
    return std::nullopt;
  }

  DeckModel model{Timing()};
  std::optional<Cassette> cassette;
};

}  // namespace

TEST_F(TransmitModelTest, TheFileLandsInTheSceneAtTheStreamRateBetweenItsMargins) {
  StartRecording();
  // 25,356 packets at 5,300 bytes a track: 900 tracks, 3 s from 1000.
  const std::optional<Tick> end = model.NextTransition();
  ASSERT_TRUE(end);
  EXPECT_EQ(*end, 4000);
  model.Advance(3999);
  EXPECT_EQ(model.DeckState(), DECK_STATE_RECORD);
  EXPECT_TRUE(model.TakeTransmitEnds().empty());
  model.Advance(4000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_RECORD_PAUSE) << "the scene ends with the stream";
  EXPECT_EQ(model.Transmit(), DeckModel::TransmitState::Completed);
  EXPECT_EQ(model.TakeTransmitEnds(), std::vector<bool>{true});

  const std::optional<Scene> scene = SceneFrom(6000, 4000);
  ASSERT_TRUE(scene);
  EXPECT_EQ(scene->endTrack, 6900u);
  EXPECT_EQ(scene->startFrame, 250u) << "continues the time code of the scene it follows";
  EXPECT_FALSE(scene->recorded.empty());
  ASSERT_TRUE(scene->content);
  EXPECT_EQ(scene->content->file, "/tape/source.m2t");
  EXPECT_EQ(scene->content->fromPacket, 0u);
  EXPECT_EQ(scene->content->toPacket, kFilePackets);
  EXPECT_EQ(scene->content->atPacket, static_cast<std::int64_t>(kMarginPackets));
  EXPECT_GE(PacketAtTrack(scene->endTrack - scene->startTrack), kStreamPackets);
  EXPECT_EQ(cassette->scenes.size(), 4u) << "the other scenes stay";
}

TEST_F(TransmitModelTest, APauseSplitsTheStreamIntoTwoScenesThatContinueEachOther) {
  StartRecording();
  ASSERT_EQ(model.Command(DECK_COMMAND_PAUSE, 2000), S_OK);  // 300 tracks in
  EXPECT_EQ(model.DeckState(), DECK_STATE_RECORD_PAUSE);
  model.Advance(10000);
  EXPECT_TRUE(model.TakeTransmitEnds().empty()) << "the stream waits while the deck pauses";
  ASSERT_EQ(model.Command(DECK_COMMAND_RECORD, 10000), S_OK);
  model.Advance(20000);
  EXPECT_EQ(model.TakeTransmitEnds(), std::vector<bool>{true});

  const std::optional<Scene> first = SceneFrom(6000, 20000);
  ASSERT_TRUE(first && first->content);
  const SceneContent a = *first->content;
  const std::optional<Scene> second = SceneFrom(6300, 20000);
  ASSERT_TRUE(second && second->content);
  const SceneContent b = *second->content;
  EXPECT_EQ(first->endTrack, 6300u);
  EXPECT_EQ(a.fromPacket, 0u);
  EXPECT_EQ(b.fromPacket, a.toPacket) << "no packet lost or sent twice across the pause";
  EXPECT_EQ(b.toPacket, kFilePackets);
  EXPECT_EQ(a.atPacket, static_cast<std::int64_t>(kMarginPackets));
  EXPECT_EQ(b.atPacket, 0);
  EXPECT_EQ(second->endTrack, 6900u);
}

TEST_F(TransmitModelTest, HowATransmitEndsWhenItCannotFinish) {
  struct Case {
    const char* what;
    std::uint32_t position;
    std::optional<std::uint64_t> readable;
    std::function<void(DeckModel&, Tick)> act;  // at t = 2000, 300 tracks into the recording
    bool tapeLeft;
  };
  const Case cases[] = {
      {"the end of the tape", 29700, std::nullopt, [](DeckModel&, Tick) {}, true},
      {"a file that cannot be read to its end", 6000, 1000, [](DeckModel&, Tick) {}, true},
      {"ejected", 6000, std::nullopt, [](DeckModel& m, Tick t) { m.Eject(t); }, false},
      {"stalled", 6000, std::nullopt, [](DeckModel& m, Tick t) { m.SetStalled(true, t); }, true},
      {"write-protected", 6000, std::nullopt, [](DeckModel& m, Tick t) { m.SetWriteProtected(true, t); }, true},
      {"camera mode", 6000, std::nullopt,
       [](DeckModel& m, Tick t) { m.SwitchCamcorderMode(CAMCORDER_MODE_CAMERA, t); }, true},
      {"unplugged", 6000, std::nullopt, [](DeckModel& m, Tick t) { m.LoseTransmit(t); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model = DeckModel(Timing());
    DeckModel::TransmitSource source = Source();
    source.readablePackets = c.readable;
    StartRecording(SmallTape(c.position), source);
    model.Advance(2000);
    c.act(model, 2000);
    model.Advance(60000);
    EXPECT_EQ(model.Transmit(), DeckModel::TransmitState::Failed);
    EXPECT_EQ(model.TakeTransmitEnds(), std::vector<bool>{false});
    EXPECT_NE(model.DeckState(), DECK_STATE_RECORD) << "nothing goes on recording";
    if (!c.tapeLeft) continue;
    // What reached the tape before the end stays there.
    const std::optional<Scene> scene = SceneFrom(c.position, 60000);
    ASSERT_TRUE(scene && scene->content);
    EXPECT_EQ(scene->content->fromPacket, 0u);
    EXPECT_GT(scene->content->toPacket, 0u);
    EXPECT_LT(scene->content->toPacket, kFilePackets);
    if (c.readable) {
      EXPECT_EQ(scene->content->toPacket, *c.readable);
    }
  }
}

TEST_F(TransmitModelTest, StopEndsTheDataWithoutAWordAndANewFileStartsANewScene) {
  StartRecording();
  model.StopTransmit(2000);
  EXPECT_EQ(model.Transmit(), DeckModel::TransmitState::Idle);
  model.Advance(3000);
  EXPECT_EQ(model.DeckState(), DECK_STATE_RECORD) << "the deck records on, without the data";
  DeckModel::TransmitSource next = Source();
  next.file = "/tape/next.m2t";
  next.leadInPackets = 0;
  model.StartTransmit(next, 3000);
  model.Advance(60000);
  EXPECT_EQ(model.TakeTransmitEnds(), std::vector<bool>{true}) << "only the second file ended by itself";

  const std::optional<Scene> first = SceneFrom(6000, 60000);
  ASSERT_TRUE(first && first->content);
  EXPECT_EQ(first->endTrack, 6600u) << "the scene runs on after the data stopped";
  EXPECT_LT(first->content->toPacket, kFilePackets);
  EXPECT_GT(first->content->toPacket, 0u);
  const std::optional<Scene> second = SceneFrom(6600, 60000);
  ASSERT_TRUE(second && second->content);
  EXPECT_EQ(second->content->file, "/tape/next.m2t");
  EXPECT_EQ(second->content->fromPacket, 0u);
  EXPECT_EQ(second->content->toPacket, kFilePackets);
}

TEST_F(TransmitModelTest, NothingToRecordOnFailsAtOnce) {
  model.Insert(SmallTape(), 0, true);
  model.SetWriteProtected(true, 0);
  model.StartTransmit(Source(), 0);
  EXPECT_EQ(model.Transmit(), DeckModel::TransmitState::Failed);
  EXPECT_EQ(model.TakeTransmitEnds(), std::vector<bool>{false});
  DeckModel empty(Timing());
  empty.StartTransmit(Source(), 0);
  EXPECT_EQ(empty.TakeTransmitEnds(), std::vector<bool>{false});
}

TEST_F(TransmitModelTest, ASavedStateCarriesARecordingOnToItsEnd) {
  StartRecording();
  model.SetPreview(PreviewSettings{0x1234, RECT{1, 2, 321, 182}, 2, 40, 3, true});
  const std::string saved = model.Save(2500, 0);
  DeckModel restored(Timing());
  ASSERT_TRUE(restored.Restore(saved, 2500, 0, 1.0));
  restored.Advance(60000);
  EXPECT_EQ(restored.TakeTransmitEnds(), std::vector<bool>{true});
  const std::optional<Cassette> tape = restored.CurrentCassette(60000);
  ASSERT_TRUE(tape);
  const Scene* scene = tape->SceneAt(6000);
  ASSERT_TRUE(scene && scene->content);
  EXPECT_EQ(scene->content->toPacket, kFilePackets);
  EXPECT_EQ(scene->endTrack, 6900u);
  const PreviewSettings preview = restored.Preview();
  EXPECT_EQ(preview.ownerWindow, 0x1234u);
  ASSERT_TRUE(preview.rect);
  EXPECT_EQ(preview.rect->right, 321);
  EXPECT_EQ(preview.mode, 2u);
  EXPECT_EQ(preview.volume, 40u);
  EXPECT_EQ(preview.quality, 3u);
  EXPECT_TRUE(preview.deinterlace);
}

TEST(DeckModelStateTest, AVersionOneStateStillLoads) {
  // As the first format wrote it: no memory header, keys, content,
  // transmit, scan or preview.
  const std::string v1 = R"({"format": "zelto-sim-state", "version": 1, "camcorderMode": 3, "switchTarget": 3,
    "switchDue": null, "mode": "stop", "position": 3000.0, "modeEntered": 0, "phaseDue": null,
    "seekTarget": 0, "seekStop": 0, "recordStart": 0, "recordFrame": 0, "recordInput": false,
    "cassette": {"length": 100, "position": 10, "writeProtected": false, "memory": true,
                 "scenes": [{"start": 10, "end": 20, "timeCode": "00:00:00:00", "recorded": "2025-07-12T10:14:03",
                             "videoSystem": 1, "wide": true}]}})";
  DeckModel model(Timing());
  const std::uint32_t before = model.MemorySequence();
  ASSERT_TRUE(model.Restore(v1, 0, 0, 1.0));
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  const Cassette* cassette = model.MemoryCassette();
  ASSERT_NE(cassette, nullptr);
  EXPECT_FALSE(cassette->identity.empty()) << "a memory without an identity is given one";
  EXPECT_EQ(cassette->scenes.at(0).memoryKey, 0u);
  EXPECT_NE(model.MemorySequence(), before) << "its memory reads as changed";
  EXPECT_EQ(model.Transmit(), DeckModel::TransmitState::Idle);
  EXPECT_FALSE(model.Scanning());
  EXPECT_FALSE(model.Preview().mode);
  // What it saves now is the current format.
  const std::string saved = model.Save(0, 0);
  EXPECT_NE(saved.find("\"version\": " + std::to_string(kStateVersion)), std::string::npos);

  std::string newer = v1;
  newer.replace(newer.find("\"version\": 1"), 12, "\"version\": " + std::to_string(kStateVersion + 1));
  EXPECT_FALSE(model.Restore(newer, 0, 0, 1.0)) << "a newer format is refused";
}

// --- The scan ---------------------------------------------------------------

namespace {

class ScanModelTest : public ::testing::Test {
 protected:
  ScanModelTest() : model(Timing()) { model.Insert(SmallTape(6000), 0, true); }
  DeckModel model;
};

std::string Describe(const std::vector<DeckModel::ScanNote>& notes) {
  std::string text;
  for (const DeckModel::ScanNote& n : notes) {
    switch (n.kind) {
      case DeckModel::ScanNote::Kind::Thumbnail:
        text += "T" + std::to_string(n.sceneIndex) + "@" + std::to_string(n.track) + " ";
        break;
      case DeckModel::ScanNote::Kind::Complete:
        text += "complete ";
        break;
      case DeckModel::ScanNote::Kind::Error:
        text += "error ";
        break;
    }
  }
  return text;
}

}  // namespace

TEST_F(ScanModelTest, RewindsThenFindsEveryScenesPicturesAndCompletesWhereTheRecordingEnds) {
  ASSERT_EQ(model.StartScan(0), S_OK);
  EXPECT_TRUE(model.Scanning());
  EXPECT_EQ(model.DeckState(), DECK_STATE_REWIND);
  model.Advance(1000);  // 6000 tracks back
  EXPECT_EQ(model.DeckState(), DECK_STATE_PLAY_FASTEST_FORWARD);
  EXPECT_EQ(model.StartScan(1000), kErrorBusy) << "one scan at a time";
  model.Advance(2500);  // 4500 tracks on
  EXPECT_EQ(Describe(model.TakeScanNotes()), "T0@3000 T0@4500 ");
  model.Advance(100000);
  // A scene of less than a second gives one picture; the blank tape after
  // the last scene is not searched.
  EXPECT_EQ(Describe(model.TakeScanNotes()), "T1@9000 T1@12000 T2@18000 complete ");
  EXPECT_FALSE(model.Scanning());
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(model.Track(100000), 18150u);
}

TEST_F(ScanModelTest, AnythingElseThatMovesTheTapeEndsTheScanWithAnError) {
  struct Case {
    const char* what;
    std::function<void(DeckModel&, Tick)> act;
  };
  const Case cases[] = {
      {"a deck command", [](DeckModel& m, Tick t) { m.Command(DECK_COMMAND_PLAY, t); }},
      {"a stall", [](DeckModel& m, Tick t) { m.SetStalled(true, t); }},
      {"an ejection", [](DeckModel& m, Tick t) { m.Eject(t); }},
      {"the camera mode", [](DeckModel& m, Tick t) { m.SwitchCamcorderMode(CAMCORDER_MODE_CAMERA, t); }},
      {"another cassette", [](DeckModel& m, Tick t) { m.Insert(SmallTape(), t); }},
      {"the camcorder unplugged", [](DeckModel& m, Tick) { m.FailScan(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model = DeckModel(Timing());
    model.Insert(SmallTape(6000), 0, true);
    ASSERT_EQ(model.StartScan(0), S_OK);
    model.Advance(2500);
    c.act(model, 2500);
    model.Advance(100000);
    EXPECT_EQ(Describe(model.TakeScanNotes()), "T0@3000 T0@4500 error ");
    EXPECT_FALSE(model.Scanning());
  }

  // Stopped by its owner: no word.
  model = DeckModel(Timing());
  model.Insert(SmallTape(6000), 0, true);
  ASSERT_EQ(model.StartScan(0), S_OK);
  model.StopScan(2500);
  model.Advance(100000);
  EXPECT_EQ(Describe(model.TakeScanNotes()), "T0@3000 T0@4500 ");
  EXPECT_EQ(model.DeckState(), DECK_STATE_STOP);

  // The panel's fault: the transport stalls after a number of pictures.
  model = DeckModel(Timing());
  model.Insert(SmallTape(), 0, true);
  model.StallScanAfter(3);
  ASSERT_EQ(model.StartScan(0), S_OK);
  model.Advance(100000);
  EXPECT_EQ(Describe(model.TakeScanNotes()), "T0@3000 T0@4500 T1@9000 error ");
  EXPECT_EQ(model.DeckState(), DECK_STATE_STALLED);
}

TEST_F(ScanModelTest, ScansThatCannotStart) {
  DeckModel empty(Timing());
  EXPECT_EQ(empty.StartScan(0), kErrorNotReady);
  model.SwitchCamcorderMode(CAMCORDER_MODE_CAMERA, 0);
  model.Advance(1000);
  EXPECT_EQ(model.StartScan(1000), kErrorWrongMode);
  model.SwitchCamcorderMode(CAMCORDER_MODE_DECK, 1000);
  model.Advance(2000);
  ASSERT_EQ(model.Command(DECK_COMMAND_RECORD, 2000), S_OK);
  EXPECT_EQ(model.StartScan(2000), kErrorBusy);
  EXPECT_TRUE(model.TakeScanNotes().empty());
}

// --- Two programs on one camcorder ------------------------------------------

namespace {

// Two camcorders (as in two programs) taking turns with one state, as they do
// through the state file: one wall clock, both at real speed.
class TwoProgramsTest : public ::testing::Test {
 protected:
  TwoProgramsTest() {
    mine.SetSelf(Owner{100, 7, 1});
    other.SetSelf(Owner{200, 9, 1});
  }
  // `to` takes in what `from` saved at `saved`, at `now`.
  static void Hand(const DeckModel& from, Tick saved, DeckModel& to, Tick now) {
    ASSERT_TRUE(to.Restore(from.Save(saved, saved), now, now, 1.0));
  }
  DeckModel mine{Timing()};
  DeckModel other{Timing()};
};

}  // namespace

// A scan hears of its end (and of the pictures passed) wherever it is seen,
// once; the other program hears nothing of a scan that is not its own.
TEST_F(TwoProgramsTest, AScanEndedOrFinishedInAnotherProgramIsHeardByItsOwnerOnce) {
  struct Case {
    const char* what;
    std::function<void(DeckModel&, Tick)> there;  // what the other program does, then saves
    Tick savedAt;
    std::string heard;  // by the owner, all told
  };
  const std::string all = "T0@3000 T0@4500 T1@9000 T1@12000 T2@18000 complete ";
  const std::string stopped = "T0@3000 T0@4500 error ";
  const Case cases[] = {
      {"a deck command", [](DeckModel& m, Tick t) { m.Command(DECK_COMMAND_STOP, t); }, 2500, stopped},
      {"an ejection", [](DeckModel& m, Tick t) { m.Eject(t); }, 2500, stopped},
      {"the camera mode", [](DeckModel& m, Tick t) { m.SwitchCamcorderMode(CAMCORDER_MODE_CAMERA, t); }, 2500,
       stopped},
      {"the rest of the scan, seen there first", [](DeckModel& m, Tick t) { m.Advance(t); }, 100000, all},
      {"a state saved before the owner's look", [](DeckModel& m, Tick t) { m.Advance(t); }, 1200, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mine = DeckModel(Timing());
    other = DeckModel(Timing());
    mine.SetSelf(Owner{100, 7, 1});
    other.SetSelf(Owner{200, 9, 1});
    mine.Insert(SmallTape(6000), 0, true);
    ASSERT_EQ(mine.StartScan(0), S_OK);
    Hand(mine, 0, other, 0);
    mine.Advance(2500);
    std::string heard = Describe(mine.TakeScanNotes());
    EXPECT_EQ(heard, "T0@3000 T0@4500 ");
    c.there(other, c.savedAt);
    Hand(other, c.savedAt, mine, std::max<Tick>(c.savedAt, 2600));
    mine.Advance(200000);
    heard += Describe(mine.TakeScanNotes());
    EXPECT_EQ(heard, c.heard);
    other.Advance(200000);
    EXPECT_EQ(Describe(other.TakeScanNotes()), "") << "not its scan";
  }
}

TEST_F(TwoProgramsTest, ATransmitEndsForItsOwnerWhereverItIsSeenAndStopsWhenItsProgramIsGone) {
  mine.Insert(SmallTape(6000), 0, true);
  ASSERT_EQ(mine.Command(DECK_COMMAND_RECORD_PAUSE, 0), S_OK);
  mine.StartTransmit(Source(), 0);
  ASSERT_EQ(mine.Command(DECK_COMMAND_RECORD, 1000), S_OK);
  Hand(mine, 1000, other, 1000);

  // Another program's stop of the data is no stop of this one's.
  other.StopTransmit(1500);
  EXPECT_EQ(other.Transmit(), DeckModel::TransmitState::Started);
  // Its end, seen there first, is heard here once.
  other.Advance(60000);
  EXPECT_TRUE(other.TakeTransmitEnds().empty()) << "not its transmit";
  EXPECT_EQ(other.DeckState(), DECK_STATE_RECORD_PAUSE);
  Hand(other, 60000, mine, 60000);
  mine.Advance(61000);
  EXPECT_EQ(mine.TakeTransmitEnds(), std::vector<bool>{true});
  Hand(other, 60000, mine, 61000);
  EXPECT_TRUE(mine.TakeTransmitEnds().empty()) << "heard once";

  // A transmit whose program is gone stopped where that program saved the
  // state last, for every program that reads it, whenever: the deck pauses
  // there, and gives up later.
  DeckModel gone(Timing());
  gone.SetSelf(Owner{300, 1, 1});
  gone.Insert(SmallTape(6000), 0, true);
  ASSERT_EQ(gone.Command(DECK_COMMAND_RECORD_PAUSE, 0), S_OK);
  gone.StartTransmit(Source(), 0);
  ASSERT_EQ(gone.Command(DECK_COMMAND_RECORD, 1000), S_OK);
  const std::string last = gone.Save(2000, 2000);
  for (const Tick found : {Tick{2000}, Tick{9000}}) {
    SCOPED_TRACE(found);
    DeckModel finder(Timing());
    finder.SetSelf(Owner{400, 1, 1});
    bool orphaned = false;
    ASSERT_TRUE(finder.Restore(last, found, found, 1.0, [](const Owner& o) { return o == Owner{300, 1, 1}; },
                               &orphaned));
    EXPECT_TRUE(orphaned);
    EXPECT_EQ(finder.Transmit(), DeckModel::TransmitState::Failed);
    EXPECT_EQ(finder.DeckState(), DECK_STATE_RECORD_PAUSE);
    EXPECT_EQ(finder.Track(found), 6300u) << "a second of recording";
    EXPECT_TRUE(finder.TakeTransmitEnds().empty()) << "nobody here to tell";
    const std::optional<Cassette> tape = finder.CurrentCassette(found);
    const Scene* scene = tape->SceneAt(6000);
    ASSERT_TRUE(scene && scene->content);
    EXPECT_EQ(scene->endTrack, 6300u);
    EXPECT_GT(scene->content->toPacket, 0u);
    EXPECT_LT(scene->content->toPacket, kFilePackets) << "the rest of the file never came";
    finder.Advance(2000 + TransportTiming{}.recordPauseLimitMs - 1);
    EXPECT_EQ(finder.DeckState(), DECK_STATE_RECORD_PAUSE);
    finder.Advance(2000 + TransportTiming{}.recordPauseLimitMs);
    EXPECT_EQ(finder.DeckState(), DECK_STATE_STOP);
  }
  // While its program runs, it runs on.
  DeckModel reader(Timing());
  bool orphaned = true;
  ASSERT_TRUE(reader.Restore(last, 3000, 3000, 1.0, [](const Owner&) { return false; }, &orphaned));
  EXPECT_FALSE(orphaned);
  EXPECT_EQ(reader.DeckState(), DECK_STATE_RECORD);
  EXPECT_EQ(reader.Transmit(), DeckModel::TransmitState::Started);
}
