// The device's initialisation, termination and guards, against a fake
// driver: what is built, what is left behind, and what the driver sees.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
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
  device->AddEventListener(&heard);  // heard once only
  device->AddEventListener(static_cast<KelSafeEventListener<_OxVideoDeviceNotification>*>(nullptr));

  ASSERT_TRUE(Initialize(*device));
  EXPECT_NE(driver.window.load(), nullptr);
  EXPECT_EQ(heard.Events(), (std::vector<_OxVideoDeviceNotification>{OX_NOTIFY_DEVICE_STATE, OX_NOTIFY_CAMCORDER_MODE,
                                                                      OX_NOTIFY_MEDIA_INFO}));
  for (DWORD thread : heard.Threads()) EXPECT_EQ(thread, GetCurrentThreadId());
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_STOP);
  EXPECT_EQ(device->GetMediaInfo(), OX_MEDIA_RECORDABLE);
  EXPECT_EQ(device->GetCamcorderMode(), OX_CAMCORDER_MODE_DECK);
  EXPECT_TRUE(std::filesystem::exists(folder / "db" / "micdb.mdb"));
  EXPECT_EQ(device->GetTimecode().GetFrames(), 4);

  device->TerminateDevice();
  EXPECT_EQ(driver.refsAtUnadvise, 1) << "the deck lets go before the window is unadvised";
  EXPECT_EQ(driver.Refs(), 0);
  device->TerminateDevice();
  device->RemoveEventListener(&heard);
  device.reset();
  EXPECT_EQ(driver.unadviseCalls, 1) << "terminating again, or deleting, unadvises nothing more";
}

// Throws when it hears its value, if it has one: a host listener failing
// during the first refresh.
class Thrower : public KelSafeEventListener<_OxVideoDeviceNotification> {
public:
  explicit Thrower(std::optional<_OxVideoDeviceNotification> value) : value(value) {}
  void OnEvent(const _OxVideoDeviceNotification& event) override {
    if (event == value) throw std::logic_error("host listener failed");
  }
  std::optional<_OxVideoDeviceNotification> value;
};

// Initialisation that fails half-way, for want of deck control, a transmit
// or a preview, because the window cannot be advised, or because a host
// listener throws during the first refresh (after the advice): nothing is
// held, nothing is sent, the window is not left advised and the class is
// free for the next device.
TEST_F(DeviceLifecycleTest, FailedInitialisationLeavesNothingAliveAndTheClassFree) {
  struct Case {
    const char* what;
    bool deckAvailable;
    HRESULT adviseResult;
    std::optional<_OxVideoDeviceNotification> throwOn;
    bool transmitAvailable = true;
    bool previewAvailable = true;
  };
  const Case cases[] = {{"no deck control", false, S_OK, {}},
                        {"no transmit", true, S_OK, {}, false},
                        {"no preview", true, S_OK, {}, true, false},
                        {"advise fails", true, E_FAIL, {}},
                        {"listener throws on the deck state", true, S_OK, OX_NOTIFY_DEVICE_STATE},
                        {"listener throws on the camcorder mode", true, S_OK, OX_NOTIFY_CAMCORDER_MODE},
                        {"listener throws on the media information", true, S_OK, OX_NOTIFY_MEDIA_INFO}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDriver driver;
    driver.deckAvailable = c.deckAvailable;
    driver.adviseResult = c.adviseResult;
    driver.transmitAvailable = c.transmitAvailable;
    driver.previewAvailable = c.previewAvailable;
    std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
    Thrower thrower(c.throwOn);
    device->AddEventListener(&thrower);
    EXPECT_FALSE(Initialize(*device));
    EXPECT_EQ(driver.Refs(), 0);
    EXPECT_EQ(driver.transmit.Refs(), 0);
    EXPECT_EQ(driver.preview.Refs(), 0);
    EXPECT_TRUE(driver.journal.Take().empty()) << "the preview was set up";
    EXPECT_EQ(driver.window.load(), nullptr) << "the window is left advised";
    EXPECT_EQ(driver.unadviseCalls, c.throwOn ? 1 : 0) << "only an advised window is unadvised";
    device->RemoveEventListener(&thrower);
    EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
    device->DeckPlay();
    EXPECT_TRUE(driver.TakeCommands().empty());
    EXPECT_FALSE(Initialize(*device)) << "the driver is let go for good";

    FakeDriver next;
    EXPECT_TRUE(Initialize(*MakeDevice(next))) << "the window class was left registered";
  }
}

// Every guarded operation, on a device that has no components.
void ExpectInert(ZeltoVideoDevice& device, FakeDriver& driver) {
  const int statusCalls = driver.StatusCalls();
  EXPECT_EQ(device.GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
  EXPECT_EQ(device.GetMediaInfo(), OX_MEDIA_NONE);
  EXPECT_EQ(device.GetCamcorderMode(), OX_CAMCORDER_MODE_UNKNOWN);
  EXPECT_FALSE(device.StartSeekATN(5));
  EXPECT_FALSE(device.CheckBatchCapturingParam());
  EXPECT_FALSE(device.CheckDirectCapturingParam());
  EXPECT_FALSE(device.setDecodeQuality());
  _OxRecordingProgress progress;
  progress.recordTime = 5;
  device.GetRecordingProgress(progress);
  EXPECT_EQ(progress.recordTime, 5u);
  const OxTimeCode t = device.GetTimecode();
  EXPECT_EQ(std::vector<int>({t.GetHours(), t.GetMinutes(), t.GetSeconds(), t.GetFrames(), t.GetFrameRate()}),
            std::vector<int>(5, 0)) << "only reset, without a frame rate";

  Recorder<_OxVideoDeviceNotification> heard;
  Recorder<OxRecordingEvent> recording;
  device.AddEventListener(&heard);
  device.AddEventListener(&recording);
  driver.journal.Take();
  using Z = ZeltoVideoDevice;
  for (void (Z::*operation)() : {&Z::UpdateDeviceState, &Z::UpdateMediaInfo, &Z::UpdateCamcorderMode, &Z::DeckPlay,
                                  &Z::DeckStop, &Z::DeckPause, &Z::DeckFastForward, &Z::DeckFastRewind,
                                  &Z::StartBatchCapturing, &Z::StartScanning, &Z::StopScanning,
                                  &Z::CancelScanning, &Z::StartScapturing, &Z::AbortScapturing,
                                  &Z::NotifyDeviceRemoved, &Z::StopBatchRecording, &Z::AbortDirectRecording,
                                  &Z::UpdateCompleteRecording, &Z::UpdateRecordingErrorStop,
                                  &Z::UpdateCompleteSectionRecording})
    (device.*operation)();
  device.DeckPlaySlow(3);
  device.StartBatchRecording(1, 2);
  device.StartDirectRecording(1, 2);
  device.SetVolume(30);
  device.SetPreviewMuting(false);
  device.SetPreviewMonitorVisibility(false);
  device.SetVideoResolution(OX_RESOLUTION_LOW);
  device.SetVideoDecodeDeinterlaceEnable(false);
  OxWindow window;
  OxRect rect;
  device.SetPreviewWindow(&window, &rect);
  EXPECT_TRUE(driver.journal.Take().empty()) << "no transmit, no preview";
  Recorder<OxSceneSearchEvent> search;
  device.AddEventListener(&search);
  device.RemoveEventListener(&search);
  std::vector<_OxBatchCapturingItem> items(2);
  device.GetBatchCapturingList(items);
  EXPECT_EQ(items.size(), 2u);
  EXPECT_TRUE(heard.Events().empty()) << "no deck, no state notifications";
  EXPECT_EQ(recording.Count(), 0u) << "no transmit, no recording events";
  device.RemoveEventListener(&recording);
  EXPECT_TRUE(driver.TakeCommands().empty());
  EXPECT_EQ(driver.StatusCalls(), statusCalls);

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

TEST_F(DeviceLifecycleTest, ItemDurationCountsWholeSecondsBetweenMarks) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  struct Case {
    std::uint32_t start, end;
    std::vector<int> hmsf;
  };
  // Marks count hundredths of a second; an end before the start wraps into
  // more hours than a time code holds, which leaves it at its default.
  const Case cases[] = {{0, 360000, {1, 0, 0, 0}}, {0, 6150, {0, 1, 1, 0}}, {0, 99, {0, 0, 0, 0}},
                        {1000, 7100, {0, 1, 1, 0}}, {100, 0, {0, 0, 0, 0}}};
  for (const Case& c : cases) {
    _OxMarkPosition a, b;
    a.positionTime = c.start;
    b.positionTime = c.end;
    const OxTimeCode t = device->GetItemDuration(a, b);
    EXPECT_EQ(std::vector<int>({t.GetHours(), t.GetMinutes(), t.GetSeconds(), t.GetFrames()}), c.hmsf)
        << c.start << " to " << c.end;
  }
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
      std::size_t seen = heard.Count();
      while (!stop.load()) {
        for (const DRIVER_EVENT_RECORD& record : records)
          PostMessageW(window, message, reinterpret_cast<WPARAM>(&record), 1);
        // Paced by the window, a round ahead of what it has told at most:
        // unpaced, a loaded machine (or Wine, whose queue has no limit)
        // let the flood bury the re-posted events that tell the host, and
        // the notifications waited for below never came.
        while (!stop.load() && !heard.WaitForCount(seen + 1, std::chrono::milliseconds(50))) {
        }
        seen = heard.Count();
      }
    });

    // Terminate while handlers are running.
    EXPECT_TRUE(heard.WaitForCount(initial + 50));  // no early return: the flooder must be joined
    device->TerminateDevice();
    const int statusAfter = driver.StatusCalls();
    const std::size_t heardAfter = heard.Count();
    stop = true;
    flooder.join();

    EXPECT_EQ(driver.StatusCalls(), statusAfter);
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

// ---- Removing listeners ----

// Blocks in its first call on another thread than the host's until released.
template <typename T>
class Blocking : public KelSafeEventListener<T> {
public:
  ~Blocking() override {
    CloseHandle(inside);
    CloseHandle(release);
  }
  void OnEvent(const T&) override {
    if (GetCurrentThreadId() == host || !armed.exchange(false)) return;
    SetEvent(inside);
    WaitForSingleObject(release, 20000);
    finished = true;
  }
  const DWORD host = GetCurrentThreadId();
  const HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> armed{true}, finished{false};
};

// Removes itself in every call on another thread than the host's.
template <typename T>
class SelfRemover : public KelSafeEventListener<T> {
public:
  explicit SelfRemover(ZeltoVideoDevice& device) : device(device) {}
  void OnEvent(const T&) override {
    if (GetCurrentThreadId() == host) return;
    ++calls;
    device.RemoveEventListener(this);
  }
  ZeltoVideoDevice& device;
  const DWORD host = GetCurrentThreadId();
  std::atomic<int> calls{0};
};

// `raise` makes the window's thread notify T's source once. Removed on the
// host's thread while the pass is inside it, a listener is waited for; a
// listener removing itself inside the pass does not wait for itself and
// hears nothing more.
template <typename T>
void ExpectRemovalWaitsOnlyForOtherThreads(ZeltoVideoDevice& device, const std::function<void()>& raise) {
  Blocking<T> blocking;
  device.AddEventListener(&blocking);
  raise();
  ASSERT_EQ(WaitForSingleObject(blocking.inside, 20000), WAIT_OBJECT_0);
  auto remover = std::async(std::launch::async, [&] {
    device.RemoveEventListener(&blocking);
    return blocking.finished.load();
  });
  EXPECT_EQ(remover.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "returned while the listener is running";
  SetEvent(blocking.release);
  EXPECT_TRUE(remover.get()) << "returned before the pass was over";

  SelfRemover<T> self(device);
  Recorder<T> witness;
  device.AddEventListener(&self);
  device.AddEventListener(&witness);
  raise();
  raise();
  ASSERT_TRUE(witness.WaitForCount(2)) << "the window's thread is stuck";
  EXPECT_EQ(self.calls, 1);
  device.RemoveEventListener(&witness);
}

TEST_F(DeviceLifecycleTest, RemovingAListenerWaitsForAPassOnTheWindowThreadButNeverForItself) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  ASSERT_TRUE(Initialize(*device));
  {
    SCOPED_TRACE("device notifications");
    ExpectRemovalWaitsOnlyForOtherThreads<_OxVideoDeviceNotification>(
        *device, [&] { ASSERT_TRUE(driver.Post(DRIVER_EVENT_DECK_STATE)); });
  }
  {
    SCOPED_TRACE("recording, raised by the driver's report of its end");
    // Each report stops the transmit, which pauses a second. The clock runs
    // only ten times faster: the blocked listener's own time-out must still
    // outlast the 300 ms the remover is watched for.
    const double savedScale = zelto::platform::TimeScale();
    zelto::platform::SetTimeScaleForTesting(0.1);
    ExpectRemovalWaitsOnlyForOtherThreads<OxRecordingEvent>(
        *device, [&] { ASSERT_TRUE(driver.Post(DRIVER_EVENT_RECORDING_COMPLETE)); });
    zelto::platform::SetTimeScaleForTesting(savedScale);
  }
  {
    SCOPED_TRACE("scanning, raised by the driver's report of its end");
    ExpectRemovalWaitsOnlyForOtherThreads<OxScanningEvent>(
        *device, [&] { ASSERT_TRUE(driver.Post(DRIVER_EVENT_SCAN_COMPLETE)); });
  }
  {
    SCOPED_TRACE("scene search, raised by the deck");
    // Every refresh that finds the deck playing after a seek reports the search.
    ASSERT_TRUE(device->StartSeekATN(5));
    driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PLAY;
    ExpectRemovalWaitsOnlyForOtherThreads<OxSceneSearchEvent>(
        *device, [&] { ASSERT_TRUE(driver.Post(DRIVER_EVENT_DECK_STATE)); });
  }
}

}  // namespace
