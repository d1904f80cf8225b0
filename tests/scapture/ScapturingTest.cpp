// Scapturing through the device, against the fake driver: the set-up, whole
// runs, the driver's stream, file and error events, and the device's
// lifecycle around a run that is still going.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "host/runtime/KelMonitor.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/scapture/ScaptureTestSupport.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"

using namespace capturetest;
using namespace devtest;
using namespace Orvex;
using namespace scaptest;

namespace {

// Lets the test wait until the run has reached a poll of its capture loop.
class PollGate {
public:
  void Reach(int poll) {
    std::lock_guard<std::mutex> guard(lock);
    reached = poll;
    changed.notify_all();
  }
  bool WaitFor(int poll) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, kLongWait, [&] { return reached >= poll; });
  }

private:
  std::mutex lock;
  std::condition_variable changed;
  int reached = 0;
};

class ScapturingTest : public CaptureTest {
protected:
  void SetUp() override {
    CaptureTest::SetUp();
    zelto::platform::SetTimeScaleForTesting(kScaptureTimeScale);
    OxUnique::GetInstance().SetPollingTime(kPoll);
    OxUnique::GetInstance().SetScaptureStreamTimeOut(kStreamTimeOut);
    Start();
    device->AddEventListener(&heard);
    deck = std::make_unique<ScriptedDeck>(driver);
    deck->capturing = [this](int poll) { gate.Reach(poll); };
    driverRefs = driver.Refs();
    receiveRefs = driver.streamReceive.Refs();
  }
  void TearDown() override {
    CaptureTest::TearDown();
    deck.reset();
  }

  void SetUpScapturing() { device->SetupScapturing(ScapturingParam(CaptureFolder())); }

  // Everything the runs took is let go, and nothing waits in the singleton.
  void ExpectNothingHeld() {
    EXPECT_EQ(driver.Refs(), driverRefs);
    EXPECT_EQ(driver.streamReceive.Refs(), receiveRefs);
    ZeltoVideoDeviceSmartControlSingleton& handOver = *ZeltoVideoDeviceSmartControlSingleton::GetInstance();
    EXPECT_FALSE(handOver.GetSmartControlStream().IsPending());
    EXPECT_FALSE(handOver.GetReceiveStream().IsPending());
  }

  std::size_t Count(const std::vector<DWORD>& commands, DWORD command) {
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), command));
  }

  std::unique_ptr<ScriptedDeck> deck;
  PollGate gate;
  ScapturingRecorder heard;
  long driverRefs = 0;
  long receiveRefs = 0;
};

TEST_F(ScapturingTest, TheSetUpReportsAtOnceAndTheProgressBeforeAStartShowsFile000) {
  SetUpScapturing();
  EXPECT_EQ(heard.Ids(), std::vector<_OxScapturingEventID>{OX_SCAPTURING_COMPLETE_SETUP}) << "before it returned";
  EXPECT_TRUE(driver.streamReceive.log.Take().empty());
  EXPECT_TRUE(driver.TakeCommands().empty());

  _OxScapturingProgress progress;
  progress.capturedTime.SetTimeCode(L"01020304");
  progress.hostValue1 = progress.hostValue2 = 7;
  progress.reserved1 = progress.reserved2 = progress.reserved3 = progress.reserved4 = 5;
  device->GetScapturingProgress(progress);
  EXPECT_EQ(progress.currentFile.GetStdString(), L"-000-01.zlt");
  EXPECT_EQ(Fields(progress.capturedTime), (std::vector<int>{1, 2, 3, 4})) << "no run: not written";
  EXPECT_GT(progress.freeDiskSpace, 0u);
  EXPECT_EQ(progress.hostValue1 + progress.hostValue2, 14u) << "the host's own";
  EXPECT_EQ(progress.reserved1 + progress.reserved2 + progress.reserved3 + progress.reserved4, 0u);
}

// Two runs in a row: each marshals afresh, reports its file, ends on the
// stop, and lets go of everything it took.
TEST_F(ScapturingTest, AWholeRunThroughTheDeviceTwice) {
  SetUpScapturing();
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    heard.Clear();
    gate.Reach(0);
    deck->Restart();
    driver.TakeCommands();
    driver.streamReceive.log.Take();
    driver.journal.Take();
    device->StartScapturing();
    // The run's deck commands may be in the journal too, by now.
    std::vector<std::wstring> preview;
    for (const std::wstring& call : driver.journal.Take())
      if (call.rfind(L"preview.", 0) == 0) preview.push_back(call);
    EXPECT_EQ(preview, std::vector<std::wstring>{L"preview.SetMode(3)"}) << "the preview gives way";
    ASSERT_TRUE(gate.WaitFor(1));
    ASSERT_TRUE(driver.Post(DRIVER_EVENT_STREAMING, 1));
    WriteFile(L"Tape-001-01.zlt", kSecond);
    ASSERT_TRUE(driver.Post(DRIVER_EVENT_FILE_CREATED));
    ASSERT_TRUE(heard.WaitForCount(1));
    EXPECT_EQ(heard.Events()[0].GetFileName().GetStdString(), InCaptureFolder(L"Tape-001-01.zlt"));
    _OxScapturingProgress progress;
    device->GetScapturingProgress(progress);
    EXPECT_EQ(progress.currentFile.GetStdString(), L"Tape-001-01.zlt");

    device->StopScapturing();
    EXPECT_EQ(heard.Ids(), (std::vector<_OxScapturingEventID>{OX_SCAPTURING_CREATE_FILE, OX_SCAPTURING_COMPLETE}))
        << "the end is reported before the stop returns";
    EXPECT_EQ(driver.TakeCommands(), (std::vector<DWORD>{DECK_COMMAND_REWIND, DECK_COMMAND_PLAY, DECK_COMMAND_STOP}));
    EXPECT_EQ(driver.streamReceive.log.Take(),
              (std::vector<std::wstring>{L"Stop", L"SetFolder(" + CaptureFolder().GetStdString() + L")",
                                         L"SetMaxFileSize(104857600)", L"SetOptions(31)",
                                         L"SetFileName(Tape-%03d-01.zlt,1)", L"StartDirect", L"Abort"}))
        << "receiving stopped for the preview, then aborted once, by the run itself";
    ExpectNothingHeld();
    device->StopScapturing();
    EXPECT_EQ(heard.Count(), 2u) << "a second stop does nothing";
    // The driver's reports of a run the host has stopped belong to no run.
    WriteFile(L"Tape-002-01.zlt", kSecond);
    const std::size_t files = capturing.Count();
    DRIVER_FILE_RECORD lastFile{L"X:\\driver\\Tape-001-01.zlt", 0};
    PostAndSettle(DRIVER_EVENT_FILE_CREATED);
    PostAndSettle(DRIVER_EVENT_FILE_COMPLETE, reinterpret_cast<LPARAM>(&lastFile));
    EXPECT_EQ(heard.Count(), 2u) << "a file reported after the stop";
    EXPECT_EQ(capturing.Count(), files) << "a file reported after the stop";
  }
}

// The removal is reported once; the run that is no longer tracked ends
// without a report of its own, and a new start waits for it.
TEST_F(ScapturingTest, ARemovedCamcorderIsReportedOnceAndItsRunEndsQuietly) {
  SetUpScapturing();
  heard.Clear();
  device->StartScapturing();
  ASSERT_TRUE(gate.WaitFor(2));
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED));
  ASSERT_TRUE(heard.WaitForCount(1));
  device->StopScapturing();  // finds no run

  gate.Reach(0);
  deck->Restart();
  device->StartScapturing();
  ASSERT_TRUE(gate.WaitFor(1));
  device->StopScapturing();
  EXPECT_EQ(driver.TakeCommands(), (std::vector<DWORD>{DECK_COMMAND_REWIND, DECK_COMMAND_PLAY, DECK_COMMAND_STOP,
                                                       DECK_COMMAND_REWIND, DECK_COMMAND_PLAY, DECK_COMMAND_STOP}))
      << "the abandoned run aborted and stopped before the next started";
  EXPECT_EQ(heard.Ids(), (std::vector<_OxScapturingEventID>{OX_SCAPTURING_ERROR_STOP, OX_SCAPTURING_COMPLETE}));
  EXPECT_EQ(heard.Errors(), std::vector<_OxCapturingErrorID>{OX_CAPTURING_ERROR_DEVICE_REMOVED});
  ExpectNothingHeld();
}

// A write error the driver reported before the run began (the failed run
// before it), which the window hands on only once the host has started this
// one, belongs to no run of the host's and leaves this one going.
TEST_F(ScapturingTest, AnEarlierErrorHandedOnAfterTheStartLeavesTheRunAlone) {
  SetUpScapturing();
  heard.Clear();
  HeldWindow window(*device, driver);
  EXPECT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE));
  device->StartScapturing();
  window.Release();
  PostAndSettle(DRIVER_EVENT_STREAMING, 0);
  EXPECT_EQ(heard.Count(), 0u) << "the run was ended by an error from before its start";
  // One reported after the start is the run's.
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE));
  ASSERT_TRUE(heard.WaitForCount(1));
  device->StopScapturing();
  EXPECT_EQ(heard.Ids(), std::vector<_OxScapturingEventID>{OX_SCAPTURING_COMPLETE});
  ExpectNothingHeld();
}

TEST_F(ScapturingTest, OtherDeviceErrorsStopTheRunWithoutAnError) {
  SetUpScapturing();
  heard.Clear();
  device->StartScapturing();
  ASSERT_TRUE(gate.WaitFor(1));
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE));
  ASSERT_TRUE(heard.WaitForCount(1));
  EXPECT_EQ(heard.Ids(), std::vector<_OxScapturingEventID>{OX_SCAPTURING_COMPLETE});
  device->StopScapturing();
  EXPECT_EQ(heard.Count(), 1u);
  ExpectNothingHeld();
}

TEST_F(ScapturingTest, ASecondStartLeavesTheRunningOneAlone) {
  SetUpScapturing();
  heard.Clear();
  device->StartScapturing();
  ASSERT_TRUE(gate.WaitFor(1));
  device->StartScapturing();
  ZeltoVideoDeviceSmartControlSingleton& handOver = *ZeltoVideoDeviceSmartControlSingleton::GetInstance();
  EXPECT_FALSE(handOver.GetSmartControlStream().IsPending()) << "nothing marshalled for a run that does not start";
  ASSERT_TRUE(gate.WaitFor(3));
  device->StopScapturing();
  const std::vector<DWORD> commands = driver.TakeCommands();
  EXPECT_EQ(Count(commands, DECK_COMMAND_REWIND), 1u);
  EXPECT_EQ(heard.Ids(), std::vector<_OxScapturingEventID>{OX_SCAPTURING_COMPLETE});
  ExpectNothingHeld();
}

// The run never outlives the receive component, its notification source or
// the device, whether a removal stopped tracking it or not; the removal's
// listener, on the message receiver's thread, may delete the device itself.
TEST_F(ScapturingTest, TerminatingOrDeletingTheDeviceEndsTheRunFirst) {
  struct Case {
    const char* name;
    bool removedFirst;
    bool terminateFirst;
    bool deletedByListener;
  };
  for (const Case& c : {Case{"terminated", false, true, false}, Case{"deleted", false, false, false},
                        Case{"removed, then terminated", true, true, false},
                        Case{"removed, then deleted", true, false, false},
                        Case{"removed, and deleted by the listener", true, false, true}}) {
    SCOPED_TRACE(c.name);
    if (!device) {
      Start();
      device->AddEventListener(&heard);
    }
    SetUpScapturing();
    heard.Clear();
    gate.Reach(0);
    deck->Restart();
    driver.TakeCommands();
    device->StartScapturing();
    ASSERT_TRUE(gate.WaitFor(2));
    ZeltoVideoDevice* owned = c.deletedByListener ? device.release() : nullptr;
    const HANDLE deleted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    heard.onEvent = [owned, deleted](const OxScapturingEvent&) {
      delete owned;
      SetEvent(deleted);
    };
    if (c.removedFirst) {
      ASSERT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED));
      ASSERT_TRUE(heard.WaitForCount(1));
    }
    if (c.deletedByListener) {
      EXPECT_EQ(WaitForSingleObject(deleted, RealTime(20000)), WAIT_OBJECT_0);
      // The listener's own lock is held while it is notified: once it is
      // ours, the reporting thread has left it, and it may be changed and
      // destroyed.
      KelMonitor leftTheListener(heard);
    }
    if (c.terminateFirst) device->TerminateDevice();
    device.reset();
    heard.onEvent = nullptr;
    CloseHandle(deleted);
    const std::vector<DWORD> commands = driver.TakeCommands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), static_cast<DWORD>(DECK_COMMAND_STOP)) << "the run had ended";
    EXPECT_EQ(heard.Ids(), c.removedFirst ? std::vector<_OxScapturingEventID>{OX_SCAPTURING_ERROR_STOP}
                                          : std::vector<_OxScapturingEventID>{OX_SCAPTURING_COMPLETE});
    EXPECT_EQ(driver.Refs(), 0);
    EXPECT_EQ(driver.streamReceive.Refs(), 0);
  }
}

// The host stops scapturing just as the run ends by itself and deletes its
// bridge: the stop never reaches the bridge, and the end is reported once.
TEST_F(ScapturingTest, AStopRacingTheRunsOwnEnd) {
  SetUpScapturing();
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    heard.Clear();
    gate.Reach(0);
    deck->Restart();
    driver.statusCode[DECK_STATUS_MEDIA_INFO] = MEDIA_INFO_RECORDABLE;
    deck->capturing = [this](int poll) {
      if (poll == 1) driver.statusCode[DECK_STATUS_MEDIA_INFO] = MEDIA_INFO_WRITE_PROTECTED;
      gate.Reach(poll);
    };
    device->StartScapturing();
    ASSERT_TRUE(gate.WaitFor(1));
    device->StopScapturing();
    EXPECT_EQ(heard.Ids(), std::vector<_OxScapturingEventID>{OX_SCAPTURING_COMPLETE});
  }
  ExpectNothingHeld();
}

TEST_F(ScapturingTest, AFailedHandOverStartsNothingAndHoldsNothing) {
  // The stream receive cannot be marshalled: the smart control, already
  // marshalled, is taken back.
  struct Refusing final : Apartment {
    bool OnOwnerThread() const override { return false; }
    HRESULT HandOutProxy(REFIID, IUnknown*, void** out) override {
      *out = nullptr;
      return E_NOINTERFACE;
    }
  } refusing;
  SetUpScapturing();
  heard.Clear();
  driver.streamReceive.apartment = &refusing;
  device->StartScapturing();
  driver.streamReceive.apartment = nullptr;
  EXPECT_TRUE(driver.TakeCommands().empty()) << "no run";
  EXPECT_TRUE(heard.Events().empty()) << "nothing reported";
  ExpectNothingHeld();
}

// A listener of the final report runs on the run's own thread, which the
// stop cannot wait for; it returns, and the host's next stop lets the run go.
TEST_F(ScapturingTest, AListenerOfTheFinalReportMayStopScapturing) {
  SetUpScapturing();
  heard.Clear();
  std::atomic<int> stops{0};
  heard.onEvent = [this, &stops](const OxScapturingEvent& event) {
    if (event.GetEventID() == OX_SCAPTURING_COMPLETE && stops++ == 0) device->StopScapturing();
  };
  deck->capturing = [this](int poll) {
    if (poll == 2) driver.statusCode[DECK_STATUS_MEDIA_INFO] = MEDIA_INFO_WRITE_PROTECTED;
    gate.Reach(poll);
  };
  device->StartScapturing();
  ASSERT_TRUE(heard.WaitForCount(1));
  device->StopScapturing();
  driver.statusCode[DECK_STATUS_MEDIA_INFO] = MEDIA_INFO_RECORDABLE;
  gate.Reach(0);
  deck->Restart();
  device->StartScapturing();  // waits for the run the listener could not
  ASSERT_TRUE(gate.WaitFor(1));
  device->StopScapturing();
  EXPECT_EQ(heard.Count(), 2u);
  ExpectNothingHeld();
  heard.onEvent = nullptr;
}

}  // namespace
