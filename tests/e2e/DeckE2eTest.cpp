// The deck end to end: buttons reach the simulated transport, the deck state
// comes back as driver events handled on the message window's thread, and
// each button is judged by the state the device last read. Media and mode
// changes of the camcorder, and scene search to its end.
#include <functional>
#include <set>

#include "tests/e2e/E2eSupport.h"

using namespace Orvex;
using namespace zelto::sim;
using e2e::CamcorderTest;

namespace {

using Button = std::function<void(ZeltoVideoDevice&)>;

const Button kPlay = [](ZeltoVideoDevice& d) { d.DeckPlay(); };
const Button kStop = [](ZeltoVideoDevice& d) { d.DeckStop(); };
const Button kPause = [](ZeltoVideoDevice& d) { d.DeckPause(); };
const Button kForward = [](ZeltoVideoDevice& d) { d.DeckFastForward(); };
const Button kRewind = [](ZeltoVideoDevice& d) { d.DeckFastRewind(); };
const Button kSlow = [](ZeltoVideoDevice& d) { d.DeckPlaySlow(7); };

class DeckE2e : public CamcorderTest {
protected:
  // Presses a button that must send one command, leaving the transport in
  // `mode`, then waits until the device has heard the new deck state from
  // the driver.
  void PressAndSettle(const Button& button, TransportMode mode, DeckStateCode state) {
    const unsigned sent = Panel().CallCount(Method::SendCommand);
    const std::size_t from = heard.Count();
    button(*device);
    EXPECT_EQ(Panel().CallCount(Method::SendCommand), sent + 1);
    ASSERT_EQ(Panel().Mode(), mode) << TransportModeName(Panel().Mode());
    ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [&](long noted) { return noted == static_cast<long>(state); }), 0)
        << "the deck state " << state << " never came back through the driver's event";
  }
  // Presses a button that the current state ignores.
  void PressIgnored(const Button& button) {
    const unsigned sent = Panel().CallCount(Method::SendCommand);
    const TransportMode before = Panel().Mode();
    button(*device);
    EXPECT_EQ(Panel().CallCount(Method::SendCommand), sent);
    EXPECT_EQ(Panel().Mode(), before);
  }
};

// Every button through every state the driver can report back, in one walk
// over a long tape (nothing reaches an end of it meanwhile).
TEST_F(DeckE2e, ButtonsDriveTheTransportAndStatesComeBackOnTheWindowThread) {
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_STOP);
  EXPECT_EQ(device->GetMediaInfo(), OX_MEDIA_RECORDABLE);
  EXPECT_EQ(device->GetCamcorderMode(), OX_CAMCORDER_MODE_DECK);

  struct Step {
    const char* what;
    Button button;
    TransportMode mode;  // Empty: the button is ignored in that state
    DeckStateCode state;
  };
  const Step steps[] = {
      {"play from stop", kPlay, TransportMode::Play, DECK_STATE_PLAY},
      {"pause from play", kPause, TransportMode::Pause, DECK_STATE_PAUSE},
      {"pause from pause plays", kPause, TransportMode::Play, DECK_STATE_PLAY},
      {"slow from play", kSlow, TransportMode::SlowestForward, DECK_STATE_PLAY_SLOWEST_FORWARD},
      {"slow from slow", kSlow, TransportMode::Empty, {}},
      {"forward from slow", kForward, TransportMode::FastestForward, DECK_STATE_PLAY_FASTEST_FORWARD},
      {"forward from fastest forward", kForward, TransportMode::Empty, {}},
      {"rewind from fastest forward", kRewind, TransportMode::FastestReverse, DECK_STATE_PLAY_FASTEST_REVERSE},
      {"rewind from fastest reverse", kRewind, TransportMode::Empty, {}},
      {"pause from fastest reverse", kPause, TransportMode::Pause, DECK_STATE_PAUSE},
      {"forward from pause", kForward, TransportMode::FastestForward, DECK_STATE_PLAY_FASTEST_FORWARD},
      {"stop from fastest forward", kStop, TransportMode::Stop, DECK_STATE_STOP},
      {"pause from stop", kPause, TransportMode::Empty, {}},
      {"slow from stop", kSlow, TransportMode::Empty, {}},
      {"forward from stop winds", kForward, TransportMode::FastForward, DECK_STATE_FAST_FORWARD},
      {"forward from fast forward", kForward, TransportMode::Empty, {}},
      {"pause from fast forward", kPause, TransportMode::Empty, {}},
      {"rewind from fast forward", kRewind, TransportMode::Rewind, DECK_STATE_REWIND},
      {"rewind from rewind", kRewind, TransportMode::Empty, {}},
      {"forward from rewind", kForward, TransportMode::FastForward, DECK_STATE_FAST_FORWARD},
      {"play from fast forward", kPlay, TransportMode::Play, DECK_STATE_PLAY},
      {"stop from play", kStop, TransportMode::Stop, DECK_STATE_STOP},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.mode == TransportMode::Empty) {
      PressIgnored(step.button);
    } else {
      ASSERT_NO_FATAL_FAILURE(PressAndSettle(step.button, step.mode, step.state));
    }
  }

  // Every state the driver reported reached the host from one thread, the
  // message window's, never from the host's own.
  std::set<DWORD> threads;
  for (const auto& e : heard.Entries())
    if (e.value == OX_NOTIFY_DEVICE_STATE && e.thread != hostThread) threads.insert(e.thread);
  EXPECT_EQ(threads.size(), 1u);
}

// A button pressed before the driver's event has arrived is judged by the
// state last read: fast forward just after play still winds the tape.
TEST_F(DeckE2e, AButtonBeforeTheStateEventIsJudgedByTheLastStateRead) {
  Panel().DropEvents(DRIVER_EVENT_DECK_STATE, 1);  // the play state is never reported
  const std::size_t from = heard.Count();
  device->DeckPlay();
  ASSERT_EQ(Panel().Mode(), TransportMode::Play);
  device->DeckFastForward();
  EXPECT_EQ(Panel().Mode(), TransportMode::FastForward) << "judged by play it would have searched forward";

  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_FAST_FORWARD; }), 0);
  PressIgnored(kForward);
  ASSERT_NO_FATAL_FAILURE(PressAndSettle(kRewind, TransportMode::Rewind, DECK_STATE_REWIND));
}

// Eject and insert: the media information and the deck state follow the slot
// through driver events; without a cassette the buttons send nothing.
TEST_F(DeckE2e, MediaInformationFollowsEjectAndInsert) {
  std::size_t from = heard.Count();
  ASSERT_TRUE(Panel().Eject());
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_MEDIA_INFO, [](long m) { return m == MEDIA_INFO_NONE; }), 0);
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_NOT_READY; }), 0);
  EXPECT_EQ(device->GetMediaInfo(), OX_MEDIA_NONE);
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
  PressIgnored(kPlay);

  struct Load {
    const char* what;
    bool writeProtected;
    bool memory;
    MediaInfoCode code;
    _OxMediaInfo info;
  };
  const Load loads[] = {
      {"write-protected", true, true, MEDIA_INFO_WRITE_PROTECTED, OX_MEDIA_WRITE_PROTECTED},
      {"without memory", false, false, MEDIA_INFO_NO_MEMORY, OX_MEDIA_NO_MEMORY},
      {"recordable", false, true, MEDIA_INFO_RECORDABLE, OX_MEDIA_RECORDABLE},
  };
  for (const Load& load : loads) {
    SCOPED_TRACE(load.what);
    Cassette cassette = e2e::Tape(600, 0, {e2e::SceneAt(1, 20)});
    cassette.writeProtected = load.writeProtected;
    cassette.hasMemory = load.memory;
    from = heard.Count();
    Panel().InsertCassette(cassette);
    ASSERT_GE(WaitForEvent(from, OX_NOTIFY_MEDIA_INFO, [&](long m) { return m == static_cast<long>(load.code); }), 0);
    ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_STOP; }), 0);
    EXPECT_EQ(device->GetMediaInfo(), load.info);
    ASSERT_NO_FATAL_FAILURE(PressAndSettle(kPlay, TransportMode::Play, DECK_STATE_PLAY));
    ASSERT_NO_FATAL_FAILURE(PressAndSettle(kStop, TransportMode::Stop, DECK_STATE_STOP));

    from = heard.Count();
    ASSERT_TRUE(Panel().Eject());
    ASSERT_GE(WaitForEvent(from, OX_NOTIFY_MEDIA_INFO, [](long m) { return m == MEDIA_INFO_NONE; }), 0);
  }
}

// The camcorder switched to the camera and back: the mode arrives through
// the driver's event and is kept, so asking for it costs no driver call;
// while the camera has the transport no deck button sends anything.
TEST_F(DeckE2e, CamcorderModeArrivesByEventAndIsKept) {
  std::size_t from = heard.Count();
  Panel().SetCamcorderMode(CAMCORDER_MODE_CAMERA);
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_CAMCORDER_MODE, [](long m) { return m == CAMCORDER_MODE_CAMERA; }), 0);
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_NOT_READY; }), 0);
  const unsigned asked = Panel().CallCount(Method::GetStatus);
  EXPECT_EQ(device->GetCamcorderMode(), OX_CAMCORDER_MODE_CAMERA);
  EXPECT_EQ(Panel().CallCount(Method::GetStatus), asked) << "a known mode is not asked for again";
  PressIgnored(kPlay);
  PressIgnored(kForward);

  from = heard.Count();
  Panel().SetCamcorderMode(CAMCORDER_MODE_DECK);
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_CAMCORDER_MODE, [](long m) { return m == CAMCORDER_MODE_DECK; }), 0);
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_STOP; }), 0);
  EXPECT_EQ(device->GetCamcorderMode(), OX_CAMCORDER_MODE_DECK);
  ASSERT_NO_FATAL_FAILURE(PressAndSettle(kPlay, TransportMode::Play, DECK_STATE_PLAY));
}

class SceneSearchE2e : public DeckE2e {
protected:
  SceneSearchE2e() {
    // Scene B from 2.0 s to 3.0 s, blank tape long after it, the head at the start.
    config.camcorder.cassette = e2e::Tape(60, 0, {e2e::SceneAt(1.0, 1.6), e2e::SceneAt(2.0, 3.0, false)});
    timeScale = 0.5;
  }
};

// A seek into a scene: every refresh that finds the deck playing reports the
// search complete, the stop at the scene's end reports its play complete
// once, and later plays and stops report nothing more.
TEST_F(SceneSearchE2e, SeekPlaysTheSceneAndReportsItsEndOnce) {
  const std::uint32_t sceneStart = 2 * kTracksPerSecond, sceneEnd = 3 * kTracksPerSecond;
  ASSERT_TRUE(device->StartSeekATN(sceneStart + 30));
  const long end = scenes.WaitFor(0, [](const e2e::SceneRecorder::Entry& e) {
    return e.value.GetEventID() == OX_SCENE_PLAYING_COMPLETE;
  });
  ASSERT_GE(end, 0) << "the end of the scene was never reported";
  EXPECT_EQ(Panel().Mode(), TransportMode::Stop);
  EXPECT_EQ(Panel().Track(), sceneEnd);

  const auto heardScenes = scenes.Entries();
  ASSERT_GE(heardScenes.size(), 2u);
  EXPECT_EQ(static_cast<std::size_t>(end), heardScenes.size() - 1) << "nothing follows the end";
  for (std::size_t i = 0; i < heardScenes.size(); ++i) {
    EXPECT_NE(heardScenes[i].thread, hostThread);
    if (i + 1 < heardScenes.size()) {
      EXPECT_EQ(heardScenes[i].value.GetEventID(), OX_SCENE_SEARCH_COMPLETE);
      EXPECT_GE(heardScenes[i].note, static_cast<long>(sceneStart + 30)) << "reported before the seek arrived";
      EXPECT_LE(heardScenes[i].note, static_cast<long>(sceneEnd));
    }
  }

  // The search is over: ordinary play and stop report nothing to its listeners.
  ASSERT_NO_FATAL_FAILURE(PressAndSettle(kPlay, TransportMode::Play, DECK_STATE_PLAY));
  ASSERT_NO_FATAL_FAILURE(PressAndSettle(kStop, TransportMode::Stop, DECK_STATE_STOP));
  EXPECT_EQ(scenes.Count(), heardScenes.size());
}

}  // namespace
