// A whole cassette to files through the library, against the simulated
// camcorder with its objects free-threaded and kept in the host thread's
// apartment, as a driver that is not free-threaded is kept on Windows:
// there the run's deck and capture calls are served only while the host's
// thread dispatches messages, and any slip (a plain wait, a proxy used from
// the wrong thread) shows as a call left unserved or refused.
#include <algorithm>

#include "host/devevents/OxScapturingEvent.h"
#include "simulator/Apartment.h"
#include "tests/e2e/E2eSupport.h"

namespace {

using namespace Orvex;

using ScapturingRecorder = e2e::Recorder<OxScapturingEvent>;

// Waits on the host's thread, dispatching its messages, until `done` holds
// or the patience is over; `wake` is signalled whenever `done` may have
// changed.
bool PumpUntil(const std::function<bool()>& done, HANDLE wake) {
  const auto deadline = std::chrono::steady_clock::now() + e2e::kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(1, &wake, FALSE, 1000, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

std::size_t CountOf(ScapturingRecorder& recorder, _OxScapturingEventID id) {
  std::size_t n = 0;
  for (const auto& e : recorder.Entries()) n += e.value.GetEventID() == id;
  return n;
}

// Three scenes of 2 s with gaps of 1.5 s, shorter than the stream time-out,
// then 6 s of blank tape, longer; the tape stands in its middle.
zelto::sim::DriverConfig ThreeScenes(bool apartmentThreaded) {
  zelto::sim::DriverConfig config;
  config.camcorder.cassette =
      e2e::Tape(16, 8, {e2e::SceneAt(1, 3), e2e::SceneAt(4.5, 6.5), e2e::SceneAt(8, 10)});
  config.camcorder.timing = e2e::QuickTiming();
  config.apartmentThreaded = apartmentThreaded;
  return config;
}

class ScapturingE2e : public e2e::CamcorderTest, public ::testing::WithParamInterface<bool> {
protected:
  ScapturingE2e() {
    config = ThreeScenes(GetParam());
    timeScale = 0.25;  // natively the tape and the run's own pauses go four times as fast
  }
  void SetUp() override {
    arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    heard.WakeOnEvent(arrived);
    scapturing.WakeOnEvent(arrived);
    e2e::CamcorderTest::SetUp();
    captures = folder / "captures";
    std::filesystem::create_directories(captures);
    // Where the library looks for the files the driver reports created.
    OxUnique::GetInstance().SetCaptureFolder(OxString(zelto::platform::WidePath(captures).c_str()));
    OxUnique::GetInstance().SetPollingTime(250);
    OxUnique::GetInstance().SetScaptureStreamTimeOut(3000);
    wrongThreadBefore = zelto::sim::Apartment::Totals().wrongThreadCalls.load();
    unservedBefore = zelto::sim::Apartment::Totals().unservedCalls.load();
    proxiesBefore = zelto::sim::Apartment::Totals().proxiesMade.load();
    liveProxiesBefore = zelto::sim::Apartment::Totals().liveProxies.load();
    if (device) device->AddEventListener(&scapturing);
  }
  void TearDown() override {
    if (device) device->RemoveEventListener(&scapturing);
    e2e::CamcorderTest::TearDown();
    heard.WakeOnEvent(nullptr);
    scapturing.WakeOnEvent(nullptr);
    CloseHandle(arrived);
    EXPECT_EQ(zelto::sim::Apartment::Totals().wrongThreadCalls.load(), wrongThreadBefore)
        << "a proxy was called from a thread it does not belong to";
    EXPECT_EQ(zelto::sim::Apartment::Totals().unservedCalls.load(), unservedBefore)
        << "the host's thread left a call of the run unserved";
    EXPECT_EQ(zelto::sim::Apartment::Totals().liveProxies.load(), liveProxiesBefore) << "a proxy never released";
    if (GetParam()) {
      EXPECT_GT(zelto::sim::Apartment::Totals().proxiesMade.load(), proxiesBefore)
          << "the run reached the driver directly";
    }
  }

  void Start() {
    _OxBatchCapturingParam param;
    param.folderPath = OxString(zelto::platform::WidePath(captures).c_str());
    param.fileBaseName = OxString(L"Tape");
    param.firstFileNumber = 1;
    const std::size_t setUps = CountOf(scapturing, OX_SCAPTURING_COMPLETE_SETUP);
    device->SetupScapturing(param);
    ASSERT_EQ(CountOf(scapturing, OX_SCAPTURING_COMPLETE_SETUP), setUps + 1) << "reported before it returns";
    device->StartScapturing();
  }
  // The first scapturing event of this kind from index `from` on, waited
  // for pumping; its index or -1.
  long PumpFor(_OxScapturingEventID id, std::size_t from = 0) {
    long found = -1;
    PumpUntil(
        [&] {
          const auto entries = scapturing.Entries();
          for (std::size_t i = from; i < entries.size() && found < 0; ++i)
            if (entries[i].value.GetEventID() == id) found = static_cast<long>(i);
          return found >= 0;
        },
        arrived);
    return found;
  }
  // Until the deck is heard rewinding after device notification `from`,
  // waited for pumping.
  bool PumpForRewind(std::size_t from) {
    return PumpUntil(
        [&] {
          const auto entries = heard.Entries();
          for (std::size_t i = from; i < entries.size(); ++i)
            if (entries[i].value == OX_NOTIFY_DEVICE_STATE && entries[i].note == DECK_STATE_REWIND) return true;
          return false;
        },
        arrived);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(captures))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // A stop from the host's thread, timed; it must not wait for the host's
  // own thread to serve the run.
  std::chrono::milliseconds TimedStop() {
    const auto started = std::chrono::steady_clock::now();
    device->StopScapturing();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  }

  ScapturingRecorder scapturing;
  HANDLE arrived = nullptr;
  std::filesystem::path captures;
  int wrongThreadBefore = 0;
  int unservedBefore = 0;
  int proxiesBefore = 0;
  int liveProxiesBefore = 0;
};

TEST_P(ScapturingE2e, ACassetteOfThreeScenesBecomesThreeFilesAndTheRunEndsByItself) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_GE(PumpFor(OX_SCAPTURING_COMPLETE), 0) << "the run did not end when the stream stayed off";
  EXPECT_EQ(Files(), (std::vector<std::string>{"Tape-001-01.zlt", "Tape-002-01.zlt", "Tape-003-01.zlt"}));
  std::vector<std::string> reported;
  for (const auto& e : scapturing.Entries())
    if (e.value.GetEventID() == OX_SCAPTURING_CREATE_FILE)
      reported.push_back(zelto::platform::NativePath(e.value.GetFileName().GetStdString()).filename().string());
  EXPECT_EQ(reported, Files());
  EXPECT_EQ(CountOf(scapturing, OX_SCAPTURING_ERROR_STOP), 0u);
  _OxScapturingProgress progress;
  device->GetScapturingProgress(progress);
  EXPECT_EQ(progress.currentFile.GetStdString(), L"Tape-003-01.zlt");
  EXPECT_LT(TimedStop(), std::chrono::milliseconds(500)) << "the ended run is only let go";
  EXPECT_EQ(Panel().DeckState(), DECK_STATE_STOP);
}

TEST_P(ScapturingE2e, AStopDuringTheRewindOrTheCaptureReturnsPromptlyAndKeepsTheFiles) {
  struct Case {
    const char* when;
    bool duringCapture;
  };
  for (const Case& c : {Case{"during the rewind", false}, Case{"during the capture", true}}) {
    SCOPED_TRACE(c.when);
    const std::size_t heardBefore = heard.Count();
    const std::size_t scapturedBefore = scapturing.Count();
    ASSERT_NO_FATAL_FAILURE(Start());
    if (c.duringCapture) {
      ASSERT_GE(PumpFor(OX_SCAPTURING_CREATE_FILE, scapturedBefore), 0);
    } else {
      ASSERT_TRUE(PumpForRewind(heardBefore));
    }
    // The run stops at its next wait: the pause after the rewind is a plain
    // sleep (3 s of the process clock), a poll is 250 ms; then the abort and
    // the deck's stop go to the host's thread.
    EXPECT_LT(TimedStop(), std::chrono::seconds(c.duringCapture ? 2 : 4));
    EXPECT_EQ(CountOf(scapturing, OX_SCAPTURING_ERROR_STOP), 0u);
    if (c.duringCapture) {
      EXPECT_EQ(Files(), (std::vector<std::string>{"Tape-001-01.zlt"}));
    }
    for (const auto& name : Files()) std::filesystem::remove(captures / name);
  }
}

TEST_P(ScapturingE2e, ARemovalMidRunIsReportedOnceAndNothingHangs) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_GE(PumpFor(OX_SCAPTURING_CREATE_FILE), 0);
  Panel().RemoveDevice();
  const long error = PumpFor(OX_SCAPTURING_ERROR_STOP);
  ASSERT_GE(error, 0);
  EXPECT_EQ(scapturing.Entries()[static_cast<std::size_t>(error)].value.GetErrorID(), 4);
  // The untracked run ends on its own; the device's end waits for it.
  const auto started = std::chrono::steady_clock::now();
  device->TerminateDevice();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(CountOf(scapturing, OX_SCAPTURING_ERROR_STOP), 1u);
  EXPECT_EQ(CountOf(scapturing, OX_SCAPTURING_COMPLETE), 0u) << "a removed run reports nothing more";
}

// The ends a whole-cassette run meets on other cassettes, each loaded in
// turn: what the host is told, and the files that are left.
TEST_P(ScapturingE2e, WhatEndsARunOnOtherCassettes) {
  enum class Midway { nothing, ejectWhileCapturing, ejectDuringTheRewind };
  struct Case {
    const char* name;
    zelto::sim::Cassette tape;
    Midway midway;
    _OxScapturingEventID end;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      // Blank tape plays to its end; the stopped deck ends the run.
      {"all blank", e2e::Tape(6, 3, {}), Midway::nothing, OX_SCAPTURING_ERROR_STOP, {}},
      {"a scene to the tape's end", e2e::Tape(6, 3, {e2e::SceneAt(1, 6)}), Midway::nothing, OX_SCAPTURING_ERROR_STOP,
       {"Tape-001-01.zlt"}},
      {"ejected while capturing", e2e::Tape(12, 3, {e2e::SceneAt(1, 10)}), Midway::ejectWhileCapturing,
       OX_SCAPTURING_ERROR_STOP, {"Tape-001-01.zlt"}},
      // The rewind waits for a stopped deck, which an ejected tape never
      // gives: only the host's stop ends it.
      {"ejected during the rewind", e2e::Tape(60, 50, {e2e::SceneAt(1, 3)}), Midway::ejectDuringTheRewind,
       OX_SCAPTURING_COMPLETE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (Panel().Eject()) {
      ASSERT_TRUE(PumpUntil([&] { return !Panel().CurrentCassette(); }, arrived));
    }
    Panel().InsertCassette(c.tape);
    ASSERT_TRUE(PumpUntil([&] { return Panel().DeckState() == DECK_STATE_STOP; }, arrived));
    const std::size_t heardBefore = heard.Count();
    const std::size_t scapturedBefore = scapturing.Count();
    ASSERT_NO_FATAL_FAILURE(Start());
    if (c.midway == Midway::ejectWhileCapturing) {
      ASSERT_GE(PumpFor(OX_SCAPTURING_CREATE_FILE, scapturedBefore), 0);
      EXPECT_TRUE(Panel().Eject());
    } else if (c.midway == Midway::ejectDuringTheRewind) {
      ASSERT_TRUE(PumpForRewind(heardBefore));
      EXPECT_TRUE(Panel().Eject());
      ASSERT_TRUE(PumpUntil([&] { return !Panel().CurrentCassette(); }, arrived));
      EXPECT_LT(TimedStop(), std::chrono::seconds(4));
    }
    const long end = PumpFor(c.end, scapturedBefore);
    ASSERT_GE(end, 0);
    if (c.end == OX_SCAPTURING_ERROR_STOP) {
      EXPECT_EQ(scapturing.Entries()[static_cast<std::size_t>(end)].value.GetErrorID(),
                OX_CAPTURING_ERROR_DECK_STOPPED);
    }
    EXPECT_EQ(scapturing.Count(), scapturedBefore + 1 + c.files.size() + 1) << "the set-up, the files, one end";
    EXPECT_EQ(Files(), c.files);
    device->StopScapturing();
    for (const auto& name : Files()) std::filesystem::remove(captures / name);
  }
}

INSTANTIATE_TEST_SUITE_P(Threading, ScapturingE2e, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("ApartmentThreaded") : std::string("FreeThreaded");
                         });

}  // namespace
