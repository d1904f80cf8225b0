// Scapturing with a driver that lives in the host thread's apartment, as a
// driver that is not free-threaded does on Windows: the run reaches it only
// through proxies served from the host's message queue. However a run ends,
// the host's thread is never asked to call through the run's proxies, its
// waits for the run dispatch the calls the run makes meanwhile, and every
// proxy is released.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/capture/CaptureTestSupport.h"
#include "tests/scapture/FakeApartment.h"
#include "tests/scapture/ScaptureTestSupport.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"
#include "zelto/scapture/ZeltoVideoDeviceAutoCapturing.h"

using namespace capturetest;
using namespace devtest;
using namespace Orvex;
using namespace scaptest;

namespace {

class ApartmentTest : public CaptureTest {
public:
  // For the cases' own steps.
  using CaptureTest::device;
  using CaptureTest::driver;

protected:
  void SetUp() override {
    CaptureTest::SetUp();
    // The host's thread is a single-threaded apartment here.
    CoUninitialize();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    zelto::platform::SetTimeScaleForTesting(kScaptureTimeScale);
    OxUnique::GetInstance().SetPollingTime(kPoll);
    OxUnique::GetInstance().SetScaptureStreamTimeOut(kStreamTimeOut);
    deck = std::make_unique<ScriptedDeck>(driver);
  }
  void TearDown() override {
    CaptureTest::TearDown();
    Attach(nullptr);
    deck.reset();
  }

  void Attach(FakeApartment* apartment) {
    driver.apartment = apartment;
    driver.streamReceive.apartment = apartment;
  }

public:
  bool PumpUntilPoll(int poll) {
    return PumpUntil([&] { return deck->CapturePolls() >= poll; }, nullptr);
  }
  bool PumpUntilHeard(std::size_t count) {
    return PumpUntil([&] { return heard.Count() >= count; }, heard.wake);
  }

protected:

  static void ExpectRulesKept(const FakeApartment& apartment) {
    EXPECT_EQ(apartment.wrongThreadCalls, 0) << "a proxy called from a thread it does not belong to";
    EXPECT_EQ(apartment.unservedCalls, 0) << "the host's thread left a call of the run unserved";
    EXPECT_EQ(apartment.liveProxies, 0) << "a proxy never released";
    EXPECT_GE(apartment.proxiesMade, 3) << "smart control, stream receive and deck control";
  }

  std::unique_ptr<ScriptedDeck> deck;
  ScapturingRecorder heard;
};

TEST_F(ApartmentTest, EveryEndOfARunKeepsTheApartmentsRules) {
  using End = std::function<void(ApartmentTest&)>;
  struct Case {
    const char* name;
    End end;
    Orvex::_OxScapturingEventID heard;
  };
  const Case cases[] = {
      {"the host stops", [](ApartmentTest& t) { t.device->StopScapturing(); }, OX_SCAPTURING_COMPLETE},
      // The message receiver's thread stops and joins the run, which needs
      // the host's thread for its abort and deck stop.
      {"the driver reports an error",
       [](ApartmentTest& t) {
         ASSERT_TRUE(t.driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE));
         ASSERT_TRUE(t.PumpUntilHeard(1));
         t.device->StopScapturing();
       },
       OX_SCAPTURING_COMPLETE},
      {"the device is terminated and deleted",
       [](ApartmentTest& t) {
         t.device->TerminateDevice();
         t.device.reset();
       },
       OX_SCAPTURING_COMPLETE},
      {"the camcorder is removed, then the device deleted",
       [](ApartmentTest& t) {
         ASSERT_TRUE(t.driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED));
         ASSERT_TRUE(t.PumpUntilHeard(1));
         t.device.reset();
       },
       OX_SCAPTURING_ERROR_STOP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeApartment apartment;
    Attach(&apartment);
    if (!device) Start();
    device->AddEventListener(&heard);
    const long driverRefs = driver.Refs();
    const long receiveRefs = driver.streamReceive.Refs();
    device->SetupScapturing(ScapturingParam(CaptureFolder()));
    heard.Clear();
    driver.TakeCommands();
    driver.streamReceive.log.Take();

    deck->Restart();
    device->StartScapturing();
    ASSERT_TRUE(PumpUntilPoll(2));
    c.end(*this);

    EXPECT_EQ(heard.Ids(), std::vector<_OxScapturingEventID>{c.heard});
    const std::vector<DWORD> commands = driver.TakeCommands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), static_cast<DWORD>(DECK_COMMAND_STOP));
    const std::vector<std::wstring> calls = driver.streamReceive.log.Take();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), L"Abort"), 1);
    ExpectRulesKept(apartment);
    if (device) {
      EXPECT_EQ(driver.Refs(), driverRefs);
      EXPECT_EQ(driver.streamReceive.Refs(), receiveRefs);
      device->RemoveEventListener(&heard);
    } else {
      EXPECT_EQ(driver.Refs(), 0);
      EXPECT_EQ(driver.streamReceive.Refs(), 0);
    }
    Attach(nullptr);
  }
}

// What the rules above guard against, shown on the fake: a host thread
// that waits for the run without dispatching its messages leaves the run's
// abort, deck stop and releases unserved (on Windows it would wait for
// ever; the fake gives each call up after a while).
TEST_F(ApartmentTest, APlainWaitOnTheHostsThreadLeavesTheRunsCallsUnserved) {
  FakeApartment apartment(std::chrono::milliseconds(200));
  Attach(&apartment);
  ScapturingEventNotification notification;
  ZeltoVideoDeviceSmartControlSingleton& handOver = *ZeltoVideoDeviceSmartControlSingleton::GetInstance();
  ASSERT_TRUE(handOver.GetSmartControlStream().Marshal(IID_ISmartControl, static_cast<ISmartControl*>(&driver)));
  ASSERT_TRUE(handOver.GetReceiveStream().Marshal(IID_IStreamReceive, &driver.streamReceive));
  ZeltoVideoDeviceAutoCapturing run(&notification);
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(PumpUntilPoll(1));
  run.Stop();
  run.join();
  EXPECT_GE(apartment.unservedCalls, 2);
  EXPECT_TRUE(driver.TakeCommands().back() != static_cast<DWORD>(DECK_COMMAND_STOP)) << "the deck stop never ran";
}

}  // namespace
