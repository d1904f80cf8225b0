// The camcorder seen through the driver's interfaces, with events arriving in
// a window on another thread: transport timing on the process clock, stream
// on and off at scene boundaries, seeks, the end of the tape, the camera
// mode, the slot, removal, event faults and the state file.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/simulator/SimTestSupport.h"
#include "tests/TestFolder.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

class CamcorderEvents : public ComTest {
 protected:
  void Start(const DriverConfig& config = QuickConfig()) {
    ASSERT_EQ(driver.Register(config), S_OK);
    ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
    ASSERT_EQ(control->AdviseWindow(events.Handle(), &cookie), S_OK);
    ASSERT_NE(cookie, 0u);
  }
  void TearDown() override {
    if (cookie) {
      EXPECT_EQ(control->UnadviseWindow(cookie), S_OK);
    }
    deck.Reset();
    control.Reset();
    driver.Unregister();
    EXPECT_EQ(driver.Audit().LiveReferences(), 0) << driver.Audit().Report();
    ComTest::TearDown();
  }
  DWORD Status(DWORD kind) {
    DWORD value = 0xFFFF;
    EXPECT_EQ(deck->GetStatus(kind, &value), S_OK);
    return value;
  }
  // Sends a command and waits for the deck state it leads to.
  void Settle(DWORD command, DWORD state) {
    const std::size_t from = events.Count();
    ASSERT_EQ(deck->SendCommand(command), S_OK);
    ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE, state, from)) << "state " << state;
  }

  EventWindow events;
  SimulatedDriver driver;
  Ref<ISmartControl> control;
  Ref<IDeckControl> deck;
  DWORD cookie = 0;
};

}  // namespace

TEST_F(CamcorderEvents, PlayingStreamsOverScenesOnlyAndStopsAtTheEndOfTheTape) {
  Start();
  ASSERT_NO_FATAL_FAILURE(Settle(DECK_COMMAND_PLAY, DECK_STATE_STOP));
  // Deck state to play; the picture format, then stream on for each scene;
  // stream off in each gap; stopped at the end of the tape.
  EXPECT_EQ(events.Codes(),
            (std::vector<DWORD>{DRIVER_EVENT_DECK_STATE, DRIVER_EVENT_VIDEO_SYSTEM, DRIVER_EVENT_DISPLAY_SIZE,
                                DRIVER_EVENT_STREAMING, DRIVER_EVENT_STREAMING, DRIVER_EVENT_DISPLAY_SIZE,
                                DRIVER_EVENT_STREAMING, DRIVER_EVENT_STREAMING, DRIVER_EVENT_DECK_STATE}));
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_STREAMING), (std::vector<LPARAM>{1, 0, 1, 0}));
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_DISPLAY_SIZE), (std::vector<LPARAM>{1, 0})) << "wide, then 4:3";
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_VIDEO_SYSTEM), (std::vector<LPARAM>{1}));
  EXPECT_EQ(driver.Panel().Track(), 900u);
  TimeCode tc{};
  ASSERT_EQ(deck->GetTimeCode(&tc), S_OK);
  EXPECT_EQ(tc.flags & kTimeCodeRecordNoTimeCode, kTimeCodeRecordNoTimeCode) << "blank tape at the end";
}

TEST_F(CamcorderEvents, WindingTakesTheConfiguredTimeOnTheProcessClock) {
  // A realistic wind: 60 s of tape back at 24 times the play speed is 2.5 s
  // of process time, which a scaled clock makes short.
  struct Scale {
    Scale() { zelto::platform::SetTimeScaleForTesting(0.1); }
    ~Scale() { zelto::platform::SetTimeScaleForTesting(1.0); }
  } scale;
  DriverConfig config;
  config.camcorder.cassette->positionTrack = 60 * kTracksPerSecond;
  Start(config);
  const ULONGLONG started = GetTickCount64();
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_REWIND), S_OK);
  EXPECT_EQ(Status(DECK_STATUS_DECK_STATE), DECK_STATE_REWIND);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_STOP));
  const ULONGLONG took = GetTickCount64() - started;
  EXPECT_GE(took, 2500u);
  EXPECT_LT(took, 2500u + 5000u) << "the stop is posted when the tape arrives, not much later";
  EXPECT_EQ(driver.Panel().Track(), 0u);
  EXPECT_TRUE(events.Arguments(DRIVER_EVENT_STREAMING).empty()) << "winding never streams";
}

TEST_F(CamcorderEvents, SeekPlaysTheSceneAtTheTrackAndStopsAtItsEnd) {
  Start();
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_SEEK_ATN | 500), S_OK);
  EXPECT_EQ(Status(DECK_STATUS_DECK_STATE), DECK_STATE_WINDING_TO_TRACK);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_STOP));
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_DECK_STATE),
            (std::vector<LPARAM>{DECK_STATE_WINDING_TO_TRACK, DECK_STATE_PLAY, DECK_STATE_STOP}));
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_STREAMING), (std::vector<LPARAM>{1, 0}));
  EXPECT_EQ(driver.Panel().Track(), 750u) << "the end of the second scene";

  // Paused inside the scene, the time code counts on from the scene's own
  // (00:00:01:00 at its start; 12 tracks make a frame).
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_SEEK_ATN | 600), S_OK);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_STREAMING, 1, events.Count()));
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PAUSE), S_OK);
  const std::uint32_t track = driver.Panel().Track();
  EXPECT_GE(track, 600u);
  TimeCode tc{};
  ASSERT_EQ(deck->GetTimeCode(&tc), S_OK);
  EXPECT_EQ(tc.flags, 0u);
  EXPECT_EQ(tc.seconds * 25u + tc.frames, 25u + (track - 450) / 12);
}

TEST_F(CamcorderEvents, CameraModeRefusesDeckCommandsAndReportsTheSwitch) {
  Start();
  driver.Panel().SetCamcorderMode(CAMCORDER_MODE_CAMERA);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_CAMCORDER_MODE, CAMCORDER_MODE_CAMERA));
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_CAMCORDER_MODE),
            (std::vector<LPARAM>{CAMCORDER_MODE_SWITCHING, CAMCORDER_MODE_CAMERA}));
  EXPECT_EQ(Status(DECK_STATUS_CAMCORDER_MODE), CAMCORDER_MODE_CAMERA);
  EXPECT_EQ(Status(DECK_STATUS_DECK_STATE), DECK_STATE_NOT_READY);
  TimeCode tc{};
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), kErrorWrongMode);
  EXPECT_EQ(deck->SetRecordMode(TRUE), kErrorWrongMode);
  EXPECT_EQ(deck->GetTimeCode(&tc), kErrorWrongMode);
  driver.Panel().SetCamcorderMode(CAMCORDER_MODE_DECK);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_CAMCORDER_MODE, CAMCORDER_MODE_DECK));
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_STOP), S_OK);
  EXPECT_EQ(deck->SetRecordMode(TRUE), S_OK);
  EXPECT_TRUE(driver.Panel().RecordInput());
}

TEST_F(CamcorderEvents, EjectInsertAndWriteProtectionAreReported) {
  Start();
  EXPECT_EQ(Status(DECK_STATUS_MEDIA_INFO), MEDIA_INFO_RECORDABLE);
  ASSERT_TRUE(driver.Panel().Eject());
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_MEDIA_INFO, MEDIA_INFO_NONE));
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_MEDIA_INFO), (std::vector<LPARAM>{MEDIA_INFO_EJECTING, MEDIA_INFO_NONE}));
  EXPECT_FALSE(driver.Panel().Eject()) << "nothing left to eject";
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), kErrorNotReady);
  TimeCode tc{};
  EXPECT_EQ(deck->GetTimeCode(&tc), kErrorNotReady);

  Cassette tape = QuickTape();
  tape.writeProtected = true;
  driver.Panel().InsertCassette(tape);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_MEDIA_INFO, MEDIA_INFO_WRITE_PROTECTED));
  EXPECT_EQ(Status(DECK_STATUS_DECK_STATE), DECK_STATE_STOP);
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_RECORD_PAUSE), kErrorWriteProtected);
  driver.Panel().SetWriteProtected(false);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_MEDIA_INFO, MEDIA_INFO_RECORDABLE));
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_RECORD_PAUSE), S_OK);
  EXPECT_EQ(Status(DECK_STATUS_DECK_STATE), DECK_STATE_RECORD_PAUSE);
}

TEST_F(CamcorderEvents, RemovalIsPostedAndEveryLaterCallFails) {
  Start();
  driver.Panel().RemoveDevice();
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED));
  DWORD value = 0, second = 0;
  EXPECT_EQ(deck->GetStatus(DECK_STATUS_DECK_STATE, &value), kErrorDeviceRemoved);
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), kErrorDeviceRemoved);
  EXPECT_EQ(control->AdviseWindow(events.Handle(), &second), kErrorDeviceRemoved);
  EXPECT_EQ(second, 0u);
  EXPECT_TRUE(ListUnits().empty()) << "an unplugged camcorder has no unit";
  driver.Panel().ReconnectDevice();
  EXPECT_EQ(ListUnits().size(), 1u);
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), S_OK);
}

TEST_F(CamcorderEvents, EventFaultsDropDelayAndMalformedEventsArrive) {
  Start();
  DRIVER_EVENT_RECORD odd{7, 0xDEADBEEF};
  driver.Panel().DropEvents(DRIVER_EVENT_DECK_STATE, 1);
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PAUSE), S_OK);  // its event is dropped
  driver.Panel().DelayEvents(300, DRIVER_EVENT_DECK_STATE);
  const ULONGLONG sent = GetTickCount64();
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_STOP), S_OK);
  driver.Panel().PostEventRecord(nullptr, 42);
  driver.Panel().PostEventRecord(&odd, -1);
  driver.Panel().PostEvent(0x12345678, 5);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_STOP));
  EXPECT_GE(GetTickCount64() - sent, 300u);
  const auto seen = events.Events();
  ASSERT_EQ(seen.size(), 4u) << "the pause was dropped";
  EXPECT_TRUE(seen[0].nullRecord);
  EXPECT_EQ(seen[0].argument, 42);
  EXPECT_EQ(seen[1].code, 0xDEADBEEFu);
  EXPECT_EQ(seen[1].argument, -1);
  EXPECT_EQ(seen[2].code, 0x12345678u);
  EXPECT_EQ(seen[3].code, DRIVER_EVENT_DECK_STATE) << "the delayed stop comes last";
  EXPECT_EQ(EventRecord(0x12345678), EventRecord(0x12345678)) << "one record per code, kept";

  driver.Panel().ClearEventFaults();
  driver.Panel().DropEvents();
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), S_OK);
  driver.Panel().PostEvent(DRIVER_EVENT_SCAN_COMPLETE, 0);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_SCAN_COMPLETE, 0));
  EXPECT_EQ(events.Count(), 5u) << "everything the camcorder posts itself is dropped";
}

TEST_F(CamcorderEvents, UnadvisedAndReleasedWindowsHearNothingMore) {
  Start();
  EventWindow other;
  DWORD second = 0;
  ASSERT_EQ(control->AdviseWindow(other.Handle(), &second), S_OK);
  EXPECT_NE(second, cookie);
  EXPECT_EQ(control->UnadviseWindow(second), S_OK);
  EXPECT_EQ(control->UnadviseWindow(second), E_INVALIDARG);
  // A control object released with a window still advised takes it along.
  Ref<ISmartControl> extra;
  ASSERT_EQ(BindFirstUnit(extra.Out()), S_OK);
  ASSERT_EQ(extra->AdviseWindow(other.Handle(), &second), S_OK);
  extra.Reset();
  ASSERT_NO_FATAL_FAILURE(Settle(DECK_COMMAND_PAUSE, DECK_STATE_PAUSE));
  EXPECT_EQ(other.Count(), 0u);
  EXPECT_EQ(driver.Panel().AdvisedWindows(), 1u);
}

TEST_F(CamcorderEvents, NoEventReachesAWindowOnceItsUnadviseHasReturned) {
  Start();
  ASSERT_EQ(control->UnadviseWindow(cookie), S_OK);
  cookie = 0;
  // A thread posts bursts of events; each round a fresh window is advised,
  // hears the burst begin, is unadvised while the camcorder is still posting,
  // and gets a marker behind everything it was sent. Nothing may follow it.
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    while (WaitForSingleObject(go, INFINITE) == WAIT_OBJECT_0 && !stop.load()) {
      for (int i = 0; i < 100; ++i) driver.Panel().PostEvent(DRIVER_EVENT_SCAN_PROGRESS, 7);
      SetEvent(done);
    }
  });
  std::vector<std::unique_ptr<EventWindow>> windows;
  for (int round = 0; round < 300 && !HasFailure(); ++round) {
    auto& w = *windows.emplace_back(std::make_unique<EventWindow>());
    DWORD c = 0;
    EXPECT_EQ(control->AdviseWindow(w.Handle(), &c), S_OK);  // no early return: the thread must be joined
    SetEvent(go);
    EXPECT_TRUE(w.WaitFor(DRIVER_EVENT_SCAN_PROGRESS, 7));
    EXPECT_EQ(control->UnadviseWindow(c), S_OK);
    EXPECT_TRUE(w.Mark());
    EXPECT_EQ(WaitForSingleObject(done, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
  }
  stop = true;
  SetEvent(go);
  flood.join();
  CloseHandle(go);
  CloseHandle(done);
  // The camcorder posts in order: once a last event reaches a window still
  // advised, every earlier batch has been posted.
  EventWindow last;
  ASSERT_EQ(control->AdviseWindow(last.Handle(), &cookie), S_OK);
  driver.Panel().PostEvent(DRIVER_EVENT_SCAN_COMPLETE, 0);
  ASSERT_TRUE(last.WaitFor(DRIVER_EVENT_SCAN_COMPLETE, 0));
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const std::vector<DWORD> codes = windows[i]->Codes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), EventWindow::kMarker) << "round " << i;
  }
}

TEST_F(CamcorderEvents, StateFileCarriesAPlayingTapeIntoTheNextRun) {
  // Named after the test: parallel test processes never share it.
  const auto file = zelto::testing::TestFolder(std::string("zelto-sim-") + ::testing::UnitTest::GetInstance()->current_test_info()->name()) += ".json";
  std::filesystem::remove(file);
  std::filesystem::remove(file.string() + ".lock");
  DriverConfig config = QuickConfig();
  config.camcorder.cassette = Cassette::Default();
  config.camcorder.stateFile = file;
  Start(config);
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), S_OK);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_STREAMING, 1));  // the first scene, 1 s in
  control->UnadviseWindow(cookie);
  cookie = 0;
  deck.Reset();
  control.Reset();
  ASSERT_EQ(driver.Unregister(), S_OK);
  const std::uint32_t left = driver.Panel().Track();

  // The next run reads the file instead of its configured cassette and finds
  // the tape still playing, no further back and not far on.
  DriverConfig fresh;
  fresh.camcorder.cassette = QuickTape();
  fresh.camcorder.stateFile = file;
  SimulatedDriver next;
  ASSERT_EQ(next.Register(fresh), S_OK);
  EXPECT_EQ(next.Panel().DeckState(), DECK_STATE_PLAY);
  EXPECT_EQ(next.Panel().CurrentCassette()->lengthTracks, Cassette::Default().lengthTracks);
  const std::uint32_t now = next.Panel().Track();
  EXPECT_GE(now, left);
  EXPECT_LT(now, left + 60 * kTracksPerSecond);
  ASSERT_EQ(next.Unregister(), S_OK);
  std::filesystem::remove(file);
  std::filesystem::remove(file.string() + ".lock");
}

TEST_F(CamcorderEvents, AnIdleCamcorderThreadDoesNotWakeUp) {
  Start();
  ASSERT_NO_FATAL_FAILURE(Settle(DECK_COMMAND_SEEK_ATN | 100, DECK_STATE_STOP));
  // Stopped, nothing delayed: the thread waits without a time-out. Watch it
  // for a while (an observation window, not a synchronisation).
  const std::uint64_t before = driver.Panel().ThreadWakeups();
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(never, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(never);
  // Reading the status does not wake it either; a command does.
  EXPECT_EQ(Status(DECK_STATUS_DECK_STATE), DECK_STATE_STOP);
  EXPECT_EQ(driver.Panel().ThreadWakeups(), before);
  ASSERT_NO_FATAL_FAILURE(Settle(DECK_COMMAND_PAUSE, DECK_STATE_PAUSE));
  EXPECT_GT(driver.Panel().ThreadWakeups(), before);
}

// A window advised while a picture streams hears so at once, the picture's
// format first, as the windows before it did; one advised while nothing
// streams hears nothing of a stream: a client that is never told "on" knows
// there is no picture.
TEST_F(CamcorderEvents, AWindowAdvisedLaterHearsWhetherThePictureStreams) {
  // One long scene, so that the stream is still on when the window comes.
  DriverConfig config = QuickConfig();
  config.camcorder.cassette->lengthTracks = 60 * kTracksPerSecond;
  config.camcorder.cassette->scenes.resize(1);
  config.camcorder.cassette->scenes[0].endTrack = 50 * kTracksPerSecond;
  Start(config);
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), S_OK);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_STREAMING, 1));
  EventWindow later;
  DWORD laterCookie = 0;
  ASSERT_EQ(control->AdviseWindow(later.Handle(), &laterCookie), S_OK);
  ASSERT_TRUE(later.WaitFor(DRIVER_EVENT_STREAMING, 1));
  const std::vector<DWORD> codes = later.Codes();
  EXPECT_EQ(std::vector<DWORD>(codes.begin(), codes.begin() + 3),
            (std::vector<DWORD>{DRIVER_EVENT_VIDEO_SYSTEM, DRIVER_EVENT_DISPLAY_SIZE, DRIVER_EVENT_STREAMING}));
  EXPECT_EQ(later.Arguments(DRIVER_EVENT_DISPLAY_SIZE), std::vector<LPARAM>{1}) << "the scene is wide";
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_STREAMING), std::vector<LPARAM>{1}) << "the others heard it once";

  ASSERT_NO_FATAL_FAILURE(Settle(DECK_COMMAND_STOP, DECK_STATE_STOP));
  EventWindow quiet;
  DWORD quietCookie = 0;
  ASSERT_EQ(control->AdviseWindow(quiet.Handle(), &quietCookie), S_OK);
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PAUSE), S_OK);
  ASSERT_TRUE(quiet.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_PAUSE));
  EXPECT_EQ(quiet.Codes(), (std::vector<DWORD>{DRIVER_EVENT_DECK_STATE}));
  EXPECT_EQ(control->UnadviseWindow(laterCookie), S_OK);
  EXPECT_EQ(control->UnadviseWindow(quietCookie), S_OK);
}
