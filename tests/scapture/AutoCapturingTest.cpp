// One auto-capturing run on its own, against the fake driver handed over
// through the smart-control singleton: the rewind, the play, the capture
// loop's polls, and every way the run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "tests/scapture/FakeApartment.h"
#include "tests/scapture/ScaptureTestSupport.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"
#include "zelto/scapture/ZeltoVideoDeviceAutoCapturing.h"

using namespace devtest;
using namespace Orvex;
using namespace scaptest;

namespace {

class AutoCapturingTest : public ::testing::Test {
public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    savedScale = zelto::platform::TimeScale();
    zelto::platform::SetTimeScaleForTesting(kScaptureTimeScale);
    OxUnique::GetInstance().SetPollingTime(kPoll);
    OxUnique::GetInstance().SetScaptureStreamTimeOut(kStreamTimeOut);
    notification.AddEventListener(&heard);
    param.folderPath = OxString(L"X:\\Captures");
    param.fileBaseName = OxString(L"Tape");
  }
  void TearDown() override {
    if (run) {
      run->Stop();
      Finish();
      run.reset();
    }
    notification.RemoveEventListenerAndWait(&heard);
    OxUnique::GetInstance().ResetToDefaults();
    zelto::platform::SetTimeScaleForTesting(savedScale);
    CoUninitialize();
  }

  // A fresh deck on the driver, for the next run.
  ScriptedDeck& NewDeck() {
    deck.reset();
    driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_STOP;
    driver.statusCode[DECK_STATUS_MEDIA_INFO] = MEDIA_INFO_RECORDABLE;
    deck = std::make_unique<ScriptedDeck>(driver);
    return *deck;
  }

  // Hands the driver over as the device does and starts a run.
  void Start() {
    ZeltoVideoDeviceSmartControlSingleton& handOver = *ZeltoVideoDeviceSmartControlSingleton::GetInstance();
    ASSERT_TRUE(handOver.GetSmartControlStream().Marshal(IID_ISmartControl, static_cast<ISmartControl*>(&driver)));
    ASSERT_TRUE(handOver.GetReceiveStream().Marshal(IID_IStreamReceive, &driver.streamReceive));
    run = std::make_unique<ZeltoVideoDeviceAutoCapturing>(&notification);
    run->SetCapturingParam(param);
    ASSERT_TRUE(run->Start());
  }

  // Until the run has reported and ended.
  void Finish() {
    ASSERT_TRUE(PumpUntil([&] { return run->IsFinished(); }, heard.wake));
    EXPECT_TRUE(run->WaitUntilFinished());
  }

  std::size_t Aborts() {
    const std::vector<std::wstring> calls = driver.streamReceive.log.Take();
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), L"Abort"));
  }

  double savedScale = 1.0;
  FakeDriver driver;
  std::unique_ptr<ScriptedDeck> deck;
  ScapturingEventNotification notification;
  ScapturingRecorder heard;
  _OxDirectCapturingParam param;
  std::unique_ptr<FakeApartment> apartment;
  std::unique_ptr<ZeltoVideoDeviceAutoCapturing> run;
};

TEST_F(AutoCapturingTest, HowARunEnds) {
  using Script = std::function<void(AutoCapturingTest&, ScriptedDeck&)>;
  struct Case {
    const char* name;
    Script script;
    int capturePolls;  // the loop's polls that read the media information
    std::vector<_OxScapturingEventID> heard;
    std::vector<_OxCapturingErrorID> errors;
    std::vector<DWORD> commands;
    std::size_t aborts;
  };
  const std::vector<DWORD> played{DECK_COMMAND_REWIND, DECK_COMMAND_PLAY, DECK_COMMAND_STOP};
  const std::vector<_OxScapturingEventID> complete{OX_SCAPTURING_COMPLETE};
  const std::vector<_OxScapturingEventID> error{OX_SCAPTURING_ERROR_STOP};
  const Case cases[] = {
      // On from poll 2 to poll 3; polls 4 to 11 see no stream: at the eighth,
      // poll x 7 idle polls first exceeds the time-out (x 6 only equals it).
      {"the stream stays off past the time-out",
       [](AutoCapturingTest& t, ScriptedDeck& d) {
         d.capturing = [&t](int poll) {
           if (poll == 1) t.run->StreamingOn();
           if (poll == 3) t.run->StreamingOff();
         };
       },
       11, complete, {}, played, 1},
      // Without a stream there is no time-out: only the stop (seen at the
      // wait after poll 20, which reads nothing) ends it.
      {"the stream never comes on",
       [](AutoCapturingTest& t, ScriptedDeck& d) {
         d.capturing = [&t](int poll) {
           if (poll == 20) t.run->Stop();
         };
       },
       20, complete, {}, played, 1},
      {"the media information becomes 2",
       [](AutoCapturingTest& t, ScriptedDeck& d) {
         d.capturing = [&t](int poll) {
           if (poll == 4) t.driver.statusCode[DECK_STATUS_MEDIA_INFO] = MEDIA_INFO_WRITE_PROTECTED;
         };
       },
       4, complete, {}, played, 1},
      // The first six polls do not look at the deck; the seventh does.
      {"the deck leaves play",
       [](AutoCapturingTest& t, ScriptedDeck& d) {
         d.capturing = [&t](int poll) {
           if (poll == 1) t.driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PAUSE;
         };
       },
       7, error, {OX_CAPTURING_ERROR_DECK_STOPPED}, played, 1},
      {"stopped while the deck rewinds",
       [](AutoCapturingTest& t, ScriptedDeck& d) {
         d.rewindPolls = 1 << 30;
         d.beforePlay = [&t](int poll) {
           if (poll == 3) t.run->Stop();
         };
       },
       0, complete, {}, {DECK_COMMAND_REWIND, DECK_COMMAND_STOP}, 1},
      // The bridge has no controller: its first deck call ends the run,
      // with nothing to abort or stop.
      {"no deck control", [](AutoCapturingTest& t, ScriptedDeck&) { t.driver.deckAvailable = false; }, 0, error,
       {OX_CAPTURING_ERROR_DECK_STOPPED}, {}, 0},
      {"the interfaces cannot be unmarshalled",
       [](AutoCapturingTest& t, ScriptedDeck&) {
         t.apartment = std::make_unique<FakeApartment>();
         t.apartment->refuseUnmarshal = true;
         t.driver.apartment = t.apartment.get();
         t.driver.streamReceive.apartment = t.apartment.get();
       },
       0, error, {OX_CAPTURING_ERROR_DECK_STOPPED}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedDeck& scripted = NewDeck();
    driver.deckAvailable = true;
    c.script(*this, scripted);
    heard.Clear();
    driver.TakeCommands();
    driver.streamReceive.log.Take();
    Start();
    Finish();
    EXPECT_EQ(scripted.CapturePolls(), c.capturePolls);
    EXPECT_EQ(heard.Ids(), c.heard);
    EXPECT_EQ(heard.Errors(), c.errors);
    EXPECT_EQ(driver.TakeCommands(), c.commands);
    EXPECT_EQ(Aborts(), c.aborts);
    EXPECT_EQ(driver.Refs(), 0) << "the run let go of what it unmarshalled";
    EXPECT_EQ(driver.streamReceive.Refs(), 0);
    if (c.capturePolls >= 7) {
      EXPECT_EQ(scripted.StateReadsWhileCapturing(), c.capturePolls - 6);
    }
    run.reset();
    driver.apartment = nullptr;
    driver.streamReceive.apartment = nullptr;
    apartment.reset();
  }
}

// The stream came on before the loop began: the loop measures from its
// first poll, and the captured time then grows with each poll.
TEST_F(AutoCapturingTest, AStreamThatCameOnDuringTheRewindIsMeasuredFromTheFirstPoll) {
  ScriptedDeck& scripted = NewDeck();
  scripted.rewindPolls = 2;
  std::atomic<std::uint64_t> atSecond{99}, atFourth{0};
  scripted.beforePlay = [&](int poll) {
    if (poll == 1) run->StreamingOn();
  };
  scripted.capturing = [&](int poll) {
    // Each read happens before the poll's own measure: these are polls 1 and 3.
    if (poll == 2) atSecond = run->GetCapturedMilliseconds();
    if (poll == 4) {
      atFourth = run->GetCapturedMilliseconds();
      run->Stop();
    }
  };
  Start();
  Finish();
  EXPECT_LT(atSecond.load(), kPoll / 2) << "the first poll starts the measure";
  EXPECT_GE(atFourth.load(), 2u * kPoll - 20u);
  EXPECT_EQ(heard.Ids(), std::vector<_OxScapturingEventID>{OX_SCAPTURING_COMPLETE});
}

}  // namespace
