// The hand-over of the driver's interfaces to a worker: marshals that
// nobody takes are let go, and the bridge's apartment, interfaces and
// controller, whole or missing.
#include <gtest/gtest.h>

#include <thread>

#include "tests/scapture/FakeApartment.h"
#include "tests/scapture/ScaptureTestSupport.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlBridge.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"
#include "zelto/device/ZeltoVideoDeviceInstanceException.h"

using namespace devtest;
using namespace Orvex;
using namespace scaptest;

namespace {

class BridgeTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }

  static ZeltoVideoDeviceSmartControlSingleton& HandOver() { return *ZeltoVideoDeviceSmartControlSingleton::GetInstance(); }

  // Both positions filled, as a scapturing start leaves them.
  bool MarshalBoth() {
    return HandOver().GetSmartControlStream().Marshal(IID_ISmartControl, static_cast<ISmartControl*>(&driver)) &&
           HandOver().GetReceiveStream().Marshal(IID_IStreamReceive, &driver.streamReceive);
  }

  // A bridge initialised on a thread of its own, as a run does, which then
  // runs `use` with it (and the result of InitializeSmartControl).
  template <typename Use>
  void OnWorker(Use use) {
    const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
      {
        ZeltoVideoDeviceSmartControlBridge bridge;
        _OxDirectCapturingParam param;
        param.folderPath = OxString(L"X:\\Captures");
        param.fileBaseName = OxString(L"Tape");
        param.splitKind = 1;
        param.splitSizeMegabytes = 2;
        bridge.SetCapturingParam(param);
        use(bridge, bridge.InitializeSmartControl());
      }
      SetEvent(done);
    });
    // The worker's proxy calls are served here meanwhile.
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(done, 0) == WAIT_OBJECT_0; }, done));
    worker.join();
    CloseHandle(done);
  }

  FakeDriver driver;
};

// Discard (a failed hand-over), a Marshal over a waiting one (a run that
// never took it), and the singleton's deletion at unload.
TEST_F(BridgeTest, AMarshalNobodyTakesIsLetGo) {
  struct Case {
    const char* name;
    void (*letGo)(ZeltoVideoDeviceSmartControlSingleton&, FakeDriver&);
  };
  const Case cases[] = {
      {"discarded", [](ZeltoVideoDeviceSmartControlSingleton& s, FakeDriver&) {
         s.GetSmartControlStream().Discard();
         s.GetReceiveStream().Discard();
       }},
      {"marshalled over", [](ZeltoVideoDeviceSmartControlSingleton& s, FakeDriver& d) {
         ASSERT_TRUE(s.GetSmartControlStream().Marshal(IID_ISmartControl, static_cast<ISmartControl*>(&d)));
         ASSERT_TRUE(s.GetReceiveStream().Marshal(IID_IStreamReceive, &d.streamReceive));
         EXPECT_EQ(d.Refs(), 1) << "one marshal held, not two";
         s.GetSmartControlStream().Discard();
         s.GetReceiveStream().Discard();
       }},
      {"unloaded", [](ZeltoVideoDeviceSmartControlSingleton&, FakeDriver&) {
         ZeltoVideoDeviceSmartControlSingletonStack unload;  // its destruction deletes the singleton
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(MarshalBoth());
    EXPECT_EQ(driver.Refs(), 1);
    EXPECT_EQ(driver.streamReceive.Refs(), 1);
    c.letGo(HandOver(), driver);
    EXPECT_EQ(driver.Refs(), 0);
    EXPECT_EQ(driver.streamReceive.Refs(), 0);
    EXPECT_FALSE(HandOver().GetSmartControlStream().IsPending());
    EXPECT_FALSE(HandOver().GetReceiveStream().IsPending());
  }
}

TEST_F(BridgeTest, AWholeBridgeSetsUpTheCaptureAndLetsEverythingGoInItsApartment) {
  ASSERT_TRUE(MarshalBoth());
  OnWorker([&](ZeltoVideoDeviceSmartControlBridge& bridge, bool initialised) {
    EXPECT_TRUE(initialised);
    EXPECT_EQ(bridge.GetMediaInfo(), OX_MEDIA_RECORDABLE);
    EXPECT_EQ(bridge.GetDeviceState(), OX_DEVICE_STATE_STOP);
    bridge.DeckFastRewind();
    bridge.DeckPlay();
    bridge.DeckStop();
    bridge.StartCapturing();
    bridge.AbortCapturing();
    bridge.TerminateSmartControl();
    bridge.TerminateSmartControl();
    EXPECT_EQ(CoInitialize(nullptr), S_OK) << "the apartment was left, once";
    CoUninitialize();
  });
  EXPECT_EQ(driver.TakeCommands(), (std::vector<DWORD>{DECK_COMMAND_REWIND, DECK_COMMAND_PLAY, DECK_COMMAND_STOP}));
  EXPECT_EQ(driver.streamReceive.log.Take(),
            (std::vector<std::wstring>{L"SetFolder(X:\\Captures)", L"SetMaxFileSize(2097152)", L"SetOptions(31)",
                                       L"SetFileName(Tape-%03d-01.zlt,1)", L"StartDirect", L"Abort"}));
  EXPECT_EQ(driver.Refs(), 0);
  EXPECT_EQ(driver.streamReceive.Refs(), 0);
}

// Either way InitializeSmartControl is false and no controller exists; what
// the bridge could take is let go, and no marshal is left waiting.
TEST_F(BridgeTest, WithoutAnInterfaceOrADeckControlTheDeckCallsThrowAndTheMediaIsNone) {
  struct Case {
    const char* name;
    bool refuseUnmarshal;
    bool deckAvailable;
  };
  for (const Case& c : {Case{"unmarshal refused", true, true}, Case{"no deck control", false, false}}) {
    SCOPED_TRACE(c.name);
    FakeApartment apartment;
    apartment.refuseUnmarshal = c.refuseUnmarshal;
    driver.apartment = &apartment;
    driver.streamReceive.apartment = &apartment;
    driver.deckAvailable = c.deckAvailable;
    ASSERT_TRUE(MarshalBoth());
    OnWorker([&](ZeltoVideoDeviceSmartControlBridge& bridge, bool initialised) {
      EXPECT_FALSE(initialised);
      EXPECT_EQ(bridge.GetMediaInfo(), OX_MEDIA_NONE);
      for (auto call : {+[](ZeltoVideoDeviceSmartControlBridge& b) { b.DeckPlay(); },
                        +[](ZeltoVideoDeviceSmartControlBridge& b) { b.GetDeviceState(); },
                        +[](ZeltoVideoDeviceSmartControlBridge& b) { b.StartCapturing(); },
                        +[](ZeltoVideoDeviceSmartControlBridge& b) { b.AbortCapturing(); }}) {
        try {
          call(bridge);
          ADD_FAILURE() << "no exception";
        } catch (const ZeltoVideoDeviceInstanceException& e) {
          EXPECT_EQ(e.code, 2u);
        }
      }
    });
    EXPECT_FALSE(HandOver().GetSmartControlStream().IsPending());
    EXPECT_FALSE(HandOver().GetReceiveStream().IsPending());
    EXPECT_EQ(driver.Refs(), 0);
    EXPECT_EQ(driver.streamReceive.Refs(), 0);
    EXPECT_EQ(apartment.liveProxies, 0);
    EXPECT_EQ(apartment.wrongThreadCalls, 0);
    driver.apartment = nullptr;
    driver.streamReceive.apartment = nullptr;
  }
}

}  // namespace
