// The device's initialisation, termination and guards, against a fake
// driver: what is built, what is left behind, and what the driver sees.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "tests/device/DeviceTestSupport.h"
#include "zelto/cassette/MicDatabaseFile.h"

using namespace devtest;
using namespace Orvex;

namespace {

using DeviceLifecycleTest = DeviceTestBase;

TEST_F(DeviceLifecycleTest, InitializeBringsStateUpToDateAndTerminateReleasesInOrder) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  EXPECT_EQ(driver.Refs(), 1);
  Recorder<_OxVideoDeviceNotification> heard;
  device->AddEventListener(&heard);

  ASSERT_TRUE(Initialize(*device));
  EXPECT_NE(driver.window.load(), nullptr);
  EXPECT_EQ(heard.Events(), (std::vector<_OxVideoDeviceNotification>{OX_NOTIFY_DEVICE_STATE, OX_NOTIFY_CAMCORDER_MODE,
                                                                      OX_NOTIFY_MEDIA_INFO}));
  for (DWORD thread : heard.Threads()) EXPECT_EQ(thread, GetCurrentThreadId());
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_STOP);
  EXPECT_EQ(device->GetMediaInfo(), OX_MEDIA_RECORDABLE);
  EXPECT_EQ(device->GetCamcorderMode(), OX_CAMCORDER_MODE_DECK);
  EXPECT_TRUE(std::filesystem::exists(folder / "db" / "micdb.mdb"));
  OxTimeCode timeCode = device->GetTimecode();
  EXPECT_EQ(timeCode.GetSeconds(), 3);
  EXPECT_EQ(timeCode.GetFrames(), 4);

  device->TerminateDevice();
  EXPECT_EQ(driver.unadviseCalls, 1);
  EXPECT_EQ(driver.refsAtUnadvise, 1) << "the deck lets go before the window is unadvised";
  EXPECT_EQ(driver.Refs(), 0);
  device.reset();
}

TEST_F(DeviceLifecycleTest, FailingDeckLeavesNothingAliveAndTheClassFree) {
  FakeDriver driver;
  driver.deckAvailable = false;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  EXPECT_FALSE(Initialize(*device));
  EXPECT_EQ(driver.Refs(), 0);
  EXPECT_EQ(driver.window.load(), nullptr);
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
  // Initialising again finds no driver any more.
  EXPECT_FALSE(Initialize(*device));

  FakeDriver next;
  std::unique_ptr<ZeltoVideoDevice> other = MakeDevice(next);
  EXPECT_TRUE(Initialize(*other));
}

TEST_F(DeviceLifecycleTest, FailingMessageReceiverTakesTheDeckDownAndUnregistersItsClass) {
  FakeDriver driver;
  driver.adviseResult = E_FAIL;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  EXPECT_FALSE(Initialize(*device));
  EXPECT_EQ(driver.Refs(), 0);
  EXPECT_EQ(driver.unadviseCalls, 0) << "a window never advised is not unadvised";
  device->DeckPlay();
  EXPECT_TRUE(driver.TakeCommands().empty());

  FakeDriver next;
  std::unique_ptr<ZeltoVideoDevice> other = MakeDevice(next);
  EXPECT_TRUE(Initialize(*other)) << "the window class was left registered";
}

TEST_F(DeviceLifecycleTest, SecondDeviceCannotBuildItsWindowWhileTheFirstHoldsIt) {
  FakeDriver first, second;
  std::unique_ptr<ZeltoVideoDevice> one = MakeDevice(first);
  std::unique_ptr<ZeltoVideoDevice> two = MakeDevice(second);
  ASSERT_TRUE(Initialize(*one));
  EXPECT_FALSE(Initialize(*two));
  EXPECT_EQ(second.Refs(), 0);
  EXPECT_EQ(second.window.load(), nullptr);
  // The first is untouched.
  EXPECT_EQ(first.Refs(), 2);
  one->DeckPlay();
  EXPECT_EQ(first.TakeCommands(), std::vector<DWORD>{1});
}

TEST_F(DeviceLifecycleTest, TerminatingTwiceAndDestroyingAfterwardsIsHarmless) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  ASSERT_TRUE(Initialize(*device));
  device->TerminateDevice();
  device->TerminateDevice();
  EXPECT_EQ(driver.unadviseCalls, 1);
  EXPECT_EQ(driver.Refs(), 0);
  device.reset();
  EXPECT_TRUE(std::filesystem::exists(folder / "db" / "micdb.mdb"));
}

// Every guarded operation, on a device that has no components.
void ExpectInert(ZeltoVideoDevice& device, FakeDriver& driver) {
  const int statusCalls = driver.statusCalls[1] + driver.statusCalls[2] + driver.statusCalls[3];
  EXPECT_EQ(device.GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
  EXPECT_EQ(device.GetMediaInfo(), OX_MEDIA_NONE);
  EXPECT_EQ(device.GetCamcorderMode(), OX_CAMCORDER_MODE_UNKNOWN);
  EXPECT_FALSE(device.StartSeekATN(5));
  EXPECT_FALSE(device.CheckBatchCapturingParam());
  EXPECT_FALSE(device.CheckDirectCapturingParam());
  EXPECT_FALSE(device.setDecodeQuality());
  OxTimeCode timeCode = device.GetTimecode();
  EXPECT_EQ(timeCode.GetHours() + timeCode.GetMinutes() + timeCode.GetSeconds() + timeCode.GetFrames(), 0);
  EXPECT_EQ(timeCode.GetFrameRate(), 0) << "only reset, without a frame rate";

  Recorder<_OxVideoDeviceNotification> heard;
  device.AddEventListener(&heard);
  device.UpdateDeviceState();
  device.UpdateMediaInfo();
  device.UpdateCamcorderMode();
  device.DeckPlay();
  device.DeckStop();
  device.DeckPause();
  device.DeckFastForward();
  device.DeckFastRewind();
  device.DeckPlaySlow(3);
  device.StartBatchCapturing();
  device.StartScanning();
  device.StartScapturing();
  device.AbortScapturing();
  device.NotifyDeviceRemoved();
  Recorder<OxSceneSearchEvent> search;
  device.AddEventListener(&search);
  device.RemoveEventListener(&search);
  std::vector<_OxBatchCapturingItem> items(2);
  device.GetBatchCapturingList(items);
  EXPECT_EQ(items.size(), 2u);
  EXPECT_TRUE(heard.Events().empty()) << "no deck, no state notifications";
  EXPECT_TRUE(driver.TakeCommands().empty());
  EXPECT_EQ(driver.statusCalls[1] + driver.statusCalls[2] + driver.statusCalls[3], statusCalls);

  // Notifications that need no component still reach listeners.
  device.ChangeStreaming(true);
  device.ChangeStreaming(true);
  device.ChangeStreaming(false);
  EXPECT_EQ(heard.Events(), (std::vector<_OxVideoDeviceNotification>{OX_NOTIFY_STREAMING_ON, OX_NOTIFY_STREAMING_ON,
                                                                      OX_NOTIFY_STREAMING_OFF}));
  device.RemoveEventListener(&heard);
}

TEST_F(DeviceLifecycleTest, GuardsBeforeInitialisationAndAfterTermination) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  {
    SCOPED_TRACE("before InitializeDevice");
    ExpectInert(*device, driver);
  }
  ASSERT_TRUE(Initialize(*device));
  EXPECT_TRUE(device->StartSeekATN(5));
  EXPECT_EQ(driver.TakeCommands(), std::vector<DWORD>{0x10000005});
  device->TerminateDevice();
  {
    SCOPED_TRACE("after TerminateDevice");
    ExpectInert(*device, driver);
  }
}

TEST_F(DeviceLifecycleTest, ChangesOfSystemAndDisplayOnlyReachListeners) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  ASSERT_TRUE(device->InitializeDevice(OX_VIDEO_SYSTEM_1, false, nullptr, nullptr, true, false));
  Recorder<_OxVideoDeviceNotification> heard;
  device->AddEventListener(&heard);
  device->AddEventListener(&heard);  // once only
  device->AddEventListener(static_cast<KelSafeEventListener<_OxVideoDeviceNotification>*>(nullptr));

  device->ChangeVideoSystem(OX_VIDEO_SYSTEM_0);
  device->ChangeVideoSystem(static_cast<_OxVideoSystem>(7));
  device->ChangeDisplaySize(OX_ASPECT_WIDE);
  device->UpdateDeviceState();
  EXPECT_EQ(heard.Events(), (std::vector<_OxVideoDeviceNotification>{OX_NOTIFY_VIDEO_SYSTEM_0,
                                                                      OX_NOTIFY_VIDEO_SYSTEM_OTHER,
                                                                      OX_NOTIFY_DISPLAY_SIZE, OX_NOTIFY_DEVICE_STATE}));
  EXPECT_EQ(device->GetVideoSystem(), OX_VIDEO_SYSTEM_1);
  EXPECT_EQ(device->GetAspectRatio(), OX_ASPECT_WIDE);
  device->RemoveEventListener(&heard);
  device->ChangeDisplaySize(OX_ASPECT_NORMAL);
  EXPECT_EQ(heard.Count(), 4u);
}

TEST_F(DeviceLifecycleTest, ItemDurationCountsWholeSecondsBetweenMarks) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  auto duration = [&](std::uint32_t start, std::uint32_t end) {
    _OxMarkPosition a, b;
    a.positionTime = start;
    b.positionTime = end;
    return device->GetItemDuration(a, b);
  };
  OxTimeCode hour = duration(0, 360000);
  EXPECT_EQ(hour.GetHours(), 1);
  EXPECT_EQ(hour.GetMinutes() + hour.GetSeconds() + hour.GetFrames(), 0);
  OxTimeCode minute = duration(0, 6150);
  EXPECT_EQ(minute.GetHours(), 0);
  EXPECT_EQ(minute.GetMinutes(), 1);
  EXPECT_EQ(minute.GetSeconds(), 1);
  EXPECT_EQ(minute.GetFrames(), 0);
  OxTimeCode under = duration(0, 99);
  EXPECT_EQ(under.GetSeconds(), 0);
  OxTimeCode between = duration(1000, 7100);
  EXPECT_EQ(between.GetMinutes(), 1);
  EXPECT_EQ(between.GetSeconds(), 1);
  // An end before the start wraps into more hours than a time code holds:
  // the time code stays at its default.
  OxTimeCode backwards = duration(100, 0);
  EXPECT_EQ(backwards.GetHours(), 0);
}

TEST_F(DeviceLifecycleTest, DatabasePathKeepsTheFolderAsGiven) {
  OxUnique::GetInstance().SetMicDataBaseFolder(OxString(L"C:\\data\\mic"));
  OxString path(L"stale");
  zelto::cassette::MicDataBaseFileFullPath(path);
  EXPECT_EQ(path.GetStdString(), L"C:\\data\\mic\\micdb.mdb");
  OxUnique::GetInstance().SetMicDataBaseFolder(OxString(L"C:\\data\\mic\\"));
  zelto::cassette::MicDataBaseFileFullPath(path);
  EXPECT_EQ(path.GetStdString(), L"C:\\data\\mic\\\\micdb.mdb");
}

TEST_F(DeviceLifecycleTest, DestroyingAnUninitialisedDeviceCompactsTheDatabase) {
  OxString path;
  zelto::cassette::MicDataBaseFileFullPath(path);
  ASSERT_TRUE(CreateMicDatabase(path));
  const auto created = std::filesystem::last_write_time(folder / "db" / "micdb.mdb");
  FakeDriver driver;
  {
    std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  }
  EXPECT_EQ(driver.Refs(), 0);
  ASSERT_TRUE(std::filesystem::exists(folder / "db" / "micdb.mdb"));
  EXPECT_GE(std::filesystem::last_write_time(folder / "db" / "micdb.mdb"), created);
  EXPECT_TRUE(CreateMicDatabase(path)) << "the replaced file is still a sound database";
  EXPECT_TRUE(std::filesystem::is_empty(folder / "tmp")) << "the temporary copy is removed";
}

// Terminating while the driver floods the window with events: once
// TerminateDevice has returned, no handler may reach the device's
// components. Run under the thread sanitizer, this also shows that no
// handler touches the deck while it is deleted.
TEST_F(DeviceLifecycleTest, TerminateWhileTheDriverFloodsTheWindow) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    FakeDriver driver;
    std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
    Recorder<_OxVideoDeviceNotification> heard;
    device->AddEventListener(&heard);
    ASSERT_TRUE(Initialize(*device));
    const HWND window = driver.window.load();
    const std::size_t initial = heard.Count();

    std::atomic<bool> stop{false};
    std::thread flooder([&] {
      const DWORD codes[] = {29, 30, 31, 10, 11, 32, 5, 3, 25, 2, 0};
      DRIVER_EVENT_RECORD records[std::size(codes)];
      for (std::size_t i = 0; i < std::size(codes); ++i) records[i] = {0, codes[i]};
      const UINT message = RegisterWindowMessageW(DRIVER_EVENT_MESSAGE_NAME);
      while (!stop.load()) {
        for (const DRIVER_EVENT_RECORD& record : records)
          PostMessageW(window, message, reinterpret_cast<WPARAM>(&record), 1);
      }
    });

    // Terminate while handlers are running.
    ASSERT_TRUE(heard.WaitForCount(initial + 50));
    device->TerminateDevice();
    const int statusAfter = driver.statusCalls[1] + driver.statusCalls[2] + driver.statusCalls[3];
    const std::size_t heardAfter = heard.Count();
    stop = true;
    flooder.join();

    EXPECT_EQ(driver.statusCalls[1] + driver.statusCalls[2] + driver.statusCalls[3], statusAfter);
    EXPECT_EQ(heard.Count(), heardAfter);
    EXPECT_EQ(driver.Refs(), 0);
    EXPECT_EQ(driver.unadviseCalls, 1);
    device->RemoveEventListener(&heard);
  }
}

// A handler that is inside the deck when TerminateDevice starts: the deck
// must not be released until the handler has left it.
TEST_F(DeviceLifecycleTest, TerminateWaitsForTheHandlerThatIsRunning) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  ASSERT_TRUE(Initialize(*device));

  HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const DWORD testThread = GetCurrentThreadId();
  std::atomic<bool> armed{true};
  driver.onStatus = [&](DWORD) {
    if (GetCurrentThreadId() != testThread && armed.exchange(false)) {
      SetEvent(inside);
      WaitForSingleObject(release, 20000);
    }
  };
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_DECK_STATE));
  ASSERT_EQ(WaitForSingleObject(inside, 20000), WAIT_OBJECT_0);

  driver.onRelease = released;
  std::thread terminator([&] { device->TerminateDevice(); });
  // Released at once when the deck goes while the handler is in it; a
  // correct teardown leaves the deck alone until the handler is out.
  EXPECT_EQ(WaitForSingleObject(released, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(driver.Refs(), 2) << "smart control and deck control still held";
  SetEvent(release);
  terminator.join();
  driver.onRelease = nullptr;
  EXPECT_EQ(driver.Refs(), 0);
  CloseHandle(inside);
  CloseHandle(release);
  CloseHandle(released);
}

}  // namespace
