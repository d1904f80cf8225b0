// The receive component on its own and in the device: construction and its
// failures, what the driver is told when a capture starts, driver errors
// during a capture, termination while the driver reports, a listener that
// deletes the device, and listener removal.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "tests/capture/CaptureTestSupport.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"

using namespace capturetest;
using namespace devtest;
using namespace Orvex;

namespace {

using ReceiveTest = CaptureTest;

TEST_F(ReceiveTest, ConstructionTakesBothInterfacesAndSetsTheStreamTypeOfTheVideoSystem) {
  const std::pair<_OxVideoSystem, GUID> systems[] = {{OX_VIDEO_SYSTEM_0, STREAMTYPE_VIDEOSYSTEM0},
                                                     {OX_VIDEO_SYSTEM_1, STREAMTYPE_VIDEOSYSTEM1}};
  for (const auto& [system, type] : systems) {
    ZeltoComPtr<ISmartControl> control(static_cast<ISmartControl*>(&driver));
    {
      ZeltoVideoDeviceReceive receive(&control, system, nullptr);
      ASSERT_EQ(driver.streamReceive.streamTypes.size(), 1u);
      EXPECT_TRUE(IsEqualGUID(driver.streamReceive.streamTypes[0], type)) << system;
      EXPECT_EQ(driver.streamReceive.log.Take(), (std::vector<std::wstring>{L"SetStreamTypes", L"Stop"}));
      EXPECT_EQ(driver.streamReceive.Refs(), 1);
      EXPECT_EQ(driver.tapeScan.Refs(), 1);
    }
    EXPECT_EQ(driver.streamReceive.Refs(), 0);
    EXPECT_EQ(driver.tapeScan.Refs(), 0);
  }
}

// Each way construction fails: the exception's text, nothing held, and a
// device whose initialisation then fails with everything taken down.
TEST_F(ReceiveTest, AFailedConstructionHoldsNothingAndFailsTheDevice) {
  enum Failure { NoStreamReceive, StreamTypeRefused, NoTapeScan };
  for (Failure failure : {NoStreamReceive, StreamTypeRefused, NoTapeScan}) {
    SCOPED_TRACE(failure);
    FakeDriver broken;
    broken.streamReceiveAvailable = failure != NoStreamReceive;
    broken.streamReceive.streamTypesResult = failure == StreamTypeRefused ? E_FAIL : S_OK;
    broken.tapeScanAvailable = failure != NoTapeScan;
    {
      ZeltoComPtr<ISmartControl> control(static_cast<ISmartControl*>(&broken));
      try {
        ZeltoVideoDeviceReceive receive(&control, OX_VIDEO_SYSTEM_0, nullptr);
        ADD_FAILURE() << "constructed";
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "ZeltoVideoDeviceReceive::ZeltoVideoDeviceReceive");
      }
      EXPECT_EQ(broken.streamReceive.Refs(), 0);
      EXPECT_EQ(broken.tapeScan.Refs(), 0);
      const std::vector<std::wstring> sent = broken.streamReceive.log.Take();
      EXPECT_EQ(sent, failure == NoStreamReceive ? std::vector<std::wstring>{}
                                                  : std::vector<std::wstring>{L"SetStreamTypes"})
          << "the receiver is stopped only once everything is there";
    }

    std::unique_ptr<ZeltoVideoDevice> failed = MakeDevice(broken);
    Recorder<OxCapturingEvent> heard;
    EXPECT_FALSE(Initialize(*failed));
    EXPECT_EQ(broken.Refs(), 0);
    EXPECT_EQ(broken.streamReceive.Refs(), 0);
    EXPECT_EQ(broken.tapeScan.Refs(), 0);
    EXPECT_EQ(broken.unadviseCalls, 1) << "the window advised before the receive component is unadvised";
    EXPECT_FALSE(failed->CheckBatchCapturingParam());
    failed->AddEventListener(&heard);
    failed->NotifyBatchCaptureSearchIn();
    EXPECT_EQ(heard.Count(), 0u);
    failed.reset();

    FakeDriver next;
    EXPECT_TRUE(Initialize(*MakeDevice(next))) << "the window class was left registered";
  }
}

// What a start tells the driver, per split kind and file system, for a
// batch and for a direct capture. A folder that does not exist reads as a
// volume that is not NTFS (OxFolder::IsNTFSFileSystem), which stands in for
// a FAT volume here; the test's own folder is on a volume that takes large
// files.
TEST_F(ReceiveTest, StartSendsTheFolderTheSizeLimitAndTheOptionsPerSplitKindAndFileSystem) {
  Start();
  struct Case {
    std::int32_t kind;
    bool fat;
    std::uint64_t megabytes;
    std::uint32_t frames;
    int appVideoSystem;
    std::optional<ULONGLONG> limit;
  };
  const Case cases[] = {
      {0, false, 700, 900, 0, std::nullopt},
      {0, true, 700, 900, 0, 4200000000ull},
      {1, false, 700, 0, 0, 734003200ull},
      {1, true, 5000, 0, 0, 5242880000ull},  // beyond 32 bits
      {1, false, 0, 0, 0, 0ull},
      // 0 frames: 1 s, floor(1.516...) - 1 = 0 MiB.
      {2, false, 0, 0, 0, 0ull},
      // 1799 frames at 30 fps: 60 s, floor(90.98...) - 1 = 89 MiB.
      {2, true, 0, 1799, 0, 93323264ull},
      // The same frames at 25 fps: 72 s, floor(109.17...) - 1 = 108 MiB.
      {2, false, 0, 1799, 1, 113246208ull},
      // An hour at 30 fps: 3601 s, 5459 MiB, which wraps in 32 bits.
      {2, false, 0, 108000, 0, 1429209088ull},
      {3, true, 700, 900, 0, std::nullopt},
      {-1, true, 700, 900, 0, std::nullopt},
  };
  const OxString fatFolder(WideOf(folder / "not-there").c_str());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << (c.fat ? " on FAT" : " on NTFS") << ", " << c.megabytes
                                    << " MiB, " << c.frames << " frames, video system " << c.appVideoSystem);
    OxUnique::GetInstance().SetAppVideoSystem(c.appVideoSystem);
    const OxString target = c.fat ? fatFolder : CaptureFolder();
    std::vector<std::wstring> told{L"SetFolder(" + target.GetStdString() + L")"};
    if (c.limit) told.push_back(L"SetMaxFileSize(" + std::to_wstring(*c.limit) + L")");
    told.push_back(c.limit ? L"SetOptions(31)" : L"SetOptions(15)");

    _OxBatchCapturingParam batch;
    batch.folderPath = target;
    batch.fileBaseName = OxString(L"Tape");
    batch.splitKind = c.kind;
    batch.splitSizeMegabytes = c.megabytes;
    batch.splitDurationFrames = c.frames;
    std::vector<_OxBatchCapturingItem> none;
    device->SetBatchCapturingList(batch, none);
    device->StartBatchCapturing();
    std::vector<std::wstring> expected{L"ClearBatch"};
    expected.insert(expected.end(), told.begin(), told.end());
    expected.push_back(L"StartBatch");
    EXPECT_EQ(driver.streamReceive.log.Take(), expected) << "batch";

    _OxDirectCapturingParam direct;
    direct.folderPath = target;
    direct.fileBaseName = OxString(L"Clip");
    direct.splitKind = c.kind;
    direct.splitSizeMegabytes = c.megabytes;
    direct.splitDurationFrames = c.frames;
    device->SetDirectCapturingStructure(direct);
    device->StartDirectCapturing();
    expected = told;
    expected.push_back(L"SetFileName(Clip-%02d.zlt,1)");
    expected.push_back(L"StartDirect");
    EXPECT_EQ(driver.streamReceive.log.Take(), expected) << "direct";
  }
}

// Driver event 5 while a batch or direct capture runs reaches the capturing
// listeners with the reason; while idle it does not, and it never reaches
// the scapturing listeners of a batch or direct capture.
TEST_F(ReceiveTest, DriverErrorsReachTheCapturingListenersOnlyWhileABatchOrDirectCaptureRuns) {
  Start();
  Recorder<OxScapturingEvent> scapturing;
  device->AddEventListener(&scapturing);
  _OxBatchCapturingParam batch;
  batch.folderPath = CaptureFolder();
  batch.fileBaseName = OxString(L"Tape");
  std::vector<_OxBatchCapturingItem> items(1);
  device->SetBatchCapturingList(batch, items);
  _OxDirectCapturingParam direct;
  direct.folderPath = CaptureFolder();
  direct.fileBaseName = OxString(L"Clip");
  device->SetDirectCapturingStructure(direct);

  const std::pair<LPARAM, _OxCapturingErrorID> codes[] = {{DRIVER_ERROR_CAPTURE_WRITE, OX_CAPTURING_ERROR_FILE_WRITE},
                                                          {DRIVER_ERROR_DEVICE_REMOVED, OX_CAPTURING_ERROR_DEVICE_REMOVED},
                                                          {DRIVER_ERROR_CAPTURE_DECK, OX_CAPTURING_ERROR_DECK_STOPPED},
                                                          {0x20000099, OX_CAPTURING_ERROR_UNKNOWN},
                                                          {0, OX_CAPTURING_ERROR_UNKNOWN}};
  enum Mode { Idle, Batch, Direct };
  for (Mode mode : {Idle, Batch, Direct}) {
    if (mode == Batch) device->StartBatchCapturing();
    if (mode == Direct) device->StartDirectCapturing();
    for (const auto& [code, error] : codes) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << ", code " << std::hex << code);
      capturing.Clear();
      PostAndSettle(DRIVER_EVENT_DEVICE_ERROR, code);
      const std::vector<OxCapturingEvent> heard = capturing.Events();
      if (mode == Idle) {
        EXPECT_TRUE(heard.empty());
        continue;
      }
      ASSERT_EQ(heard.size(), 1u);
      EXPECT_EQ(heard[0].GetEventID(), OX_CAPTURING_ERROR_STOP);
      EXPECT_EQ(heard[0].GetErrorID(), error);
      EXPECT_NE(capturing.Threads()[0], GetCurrentThreadId()) << "raised on the message receiver's thread";
    }
  }
  EXPECT_EQ(scapturing.Count(), 0u);
  device->RemoveEventListener(&scapturing);
}

// Terminating while the driver reports a running capture, with the host
// asking for progress meanwhile: nothing reaches the host once
// TerminateDevice has returned and nothing of the driver is held. Under
// the sanitizers this also shows that the reports and the progress queries
// share the component's state without a data race.
TEST_F(ReceiveTest, TerminateWhileTheDriverReportsARunningCapture) {
  static const wchar_t kDriverName[] = L"X:\\driver\\name.zlt";
  static const DRIVER_FILE_RECORD kFileRecord{kDriverName, 0};
  for (const bool batch : {true, false}) {
    SCOPED_TRACE(batch ? "batch" : "direct");
    FakeDriver flooded;
    std::unique_ptr<ZeltoVideoDevice> target = MakeDevice(flooded);
    Recorder<OxCapturingEvent> heard;
    ASSERT_TRUE(Initialize(*target));
    target->AddEventListener(&heard);
    _OxBatchCapturingParam batchParam;
    batchParam.folderPath = CaptureFolder();
    batchParam.fileBaseName = OxString(L"Tape");
    std::vector<_OxBatchCapturingItem> items(3);
    _OxDirectCapturingParam directParam;
    directParam.folderPath = CaptureFolder();
    directParam.fileBaseName = OxString(L"Clip");
    // A file for every report to find at once, so the flood is not slowed.
    WriteFile(L"Tape-001-01.zlt", kSecond);
    WriteFile(L"Clip-01.zlt", kSecond);
    if (batch) {
      target->SetBatchCapturingList(batchParam, items);
      target->StartBatchCapturing();
    } else {
      target->SetDirectCapturingStructure(directParam);
      target->StartDirectCapturing();
    }

    const HWND window = flooded.window.load();
    std::atomic<bool> stop{false};
    std::thread flooder([&] {
      const DWORD codes[] = {27, 28, 3, 4, 25, 23, 5};
      DRIVER_EVENT_RECORD records[std::size(codes)];
      for (std::size_t i = 0; i < std::size(codes); ++i) records[i] = {0, codes[i]};
      const UINT message = RegisterWindowMessageW(DRIVER_EVENT_MESSAGE_NAME);
      while (!stop.load()) {
        for (const DRIVER_EVENT_RECORD& record : records) {
          const LPARAM argument = record.code == 4   ? reinterpret_cast<LPARAM>(&kFileRecord)
                                  : record.code == 5 ? DRIVER_ERROR_CAPTURE_WRITE
                                                     : 0;
          PostMessageW(window, message, reinterpret_cast<WPARAM>(&record), argument);
        }
      }
    });

    // Progress while the reports come in; no early return: the flooder
    // must be joined.
    bool flowing = false;
    for (int i = 0; i < 2000 && !flowing; ++i) {
      if (batch) {
        _OxBatchCapturingProgress progress;
        target->GetBatchCapturingProgress(progress);
        EXPECT_LE(progress.percent, 100u);
      } else {
        _OxDirectCapturingProgress progress;
        target->GetDirectCapturingProgress(progress);
      }
      flowing = heard.Count() >= 40;
    }
    EXPECT_TRUE(flowing || heard.WaitForCount(40));
    target->TerminateDevice();
    const std::size_t heardAfter = heard.Count();
    stop = true;
    flooder.join();

    EXPECT_EQ(heard.Count(), heardAfter);
    EXPECT_EQ(flooded.Refs(), 0);
    EXPECT_EQ(flooded.streamReceive.Refs(), 0);
    EXPECT_EQ(flooded.tapeScan.Refs(), 0);
    target->RemoveEventListener(&heard);  // nothing to remove from any more
  }
}

// A capturing listener on the message receiver's thread may delete the
// device: every report tells the host last and touches nothing of the
// device afterwards (under the address sanitizer, any access to the deleted
// device or receive component fails this test).
TEST_F(ReceiveTest, ACapturingListenerMayDeleteTheDeviceFromEveryReport) {
  static const DRIVER_FILE_RECORD kFileRecord{L"X:\\driver\\Clip-01.zlt", 0};
  struct Round {
    const char* name;
    bool batch;
    DWORD code;
    LPARAM argument;
    _OxCapturingEventID heard;
  };
  const Round rounds[] = {
      {"file created", false, DRIVER_EVENT_FILE_CREATED, 0, OX_CAPTURING_CREATE_FILE},
      {"file complete", false, DRIVER_EVENT_FILE_COMPLETE, reinterpret_cast<LPARAM>(&kFileRecord),
       OX_CAPTURING_COMPLETE_FILE},
      {"search in", true, DRIVER_EVENT_SEARCH_IN, 0, OX_CAPTURING_SEARCH_IN},
      {"search out", true, DRIVER_EVENT_SEARCH_OUT, 0, OX_CAPTURING_SEARCH_OUT},
      {"section complete", true, DRIVER_EVENT_SECTION_COMPLETE, 0, OX_CAPTURING_COMPLETE_SECTION},
      {"batch complete", true, DRIVER_EVENT_BATCH_COMPLETE, 0, OX_CAPTURING_COMPLETE_BATCH},
      {"driver error", true, DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE, OX_CAPTURING_ERROR_STOP},
  };
  WriteFile(L"Clip-01.zlt", kSecond);
  for (const Round& r : rounds) {
    SCOPED_TRACE(r.name);
    FakeDriver local;
    std::unique_ptr<ZeltoVideoDevice> owned = MakeDevice(local);
    ASSERT_TRUE(Initialize(*owned));
    // Takes no lock of its own around OnEvent, so that nothing of it is
    // touched once it has signalled: it goes at the end of the round.
    class Deleter : public KelSafeEventListener<OxCapturingEvent> {
    public:
      Deleter(ZeltoVideoDevice* device, _OxCapturingEventID at) : device(device), at(at) {}
      ~Deleter() override { CloseHandle(deleted); }
      void HandleEvent(const OxCapturingEvent& event) override { OnEvent(event); }
      void OnEvent(const OxCapturingEvent& event) override {
        if (event.GetEventID() != at || !device) return;
        delete std::exchange(device, nullptr);
        SetEvent(deleted);
      }
      ZeltoVideoDevice* device;
      const _OxCapturingEventID at;
      const HANDLE deleted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } deleter(owned.get(), r.heard);
    owned->AddEventListener(&deleter);
    if (r.batch) {
      _OxBatchCapturingParam param;
      param.folderPath = CaptureFolder();
      std::vector<_OxBatchCapturingItem> items(1);
      owned->SetBatchCapturingList(param, items);
      owned->StartBatchCapturing();
    } else {
      _OxDirectCapturingParam param;
      param.folderPath = CaptureFolder();
      param.fileBaseName = OxString(L"Clip");
      owned->SetDirectCapturingStructure(param);
      owned->StartDirectCapturing();
    }
    owned.release();  // the listener's from now on
    ASSERT_TRUE(local.Post(r.code, r.argument));
    ASSERT_EQ(WaitForSingleObject(deleter.deleted, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(local.unadviseCalls, 1);
    EXPECT_EQ(local.Refs(), 0);
    EXPECT_EQ(local.streamReceive.Refs(), 0);
    EXPECT_EQ(local.tapeScan.Refs(), 0);
  }
}

// Once RemoveEventListener has returned, the listener is not called again:
// a removal on the host's thread waits for the listener that is running on
// the message receiver's thread.
TEST_F(ReceiveTest, RemovingACapturingListenerWaitsForItsCallUnderWay) {
  Start();
  class Blocking : public KelSafeEventListener<OxCapturingEvent> {
  public:
    Blocking() : inside(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Blocking() override {
      CloseHandle(inside);
      CloseHandle(release);
    }
    void OnEvent(const OxCapturingEvent&) override {
      ++calls;
      SetEvent(inside);
      WaitForSingleObject(release, 20000);
    }
    HANDLE inside, release;
    std::atomic<int> calls{0};
  } blocking;
  device->AddEventListener(&blocking);
  PostAndHear(DRIVER_EVENT_SEARCH_IN, 1);
  ASSERT_EQ(WaitForSingleObject(blocking.inside, 20000), WAIT_OBJECT_0);

  HANDLE removed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread remover([&] {
    device->RemoveEventListener(&blocking);
    SetEvent(removed);
  });
  // Returns at once when the removal does not wait; a correct one waits
  // until the listener is let go.
  EXPECT_EQ(WaitForSingleObject(removed, RealTime(300)), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(blocking.release);
  remover.join();
  EXPECT_EQ(WaitForSingleObject(removed, 0), WAIT_OBJECT_0);

  PostAndHear(DRIVER_EVENT_SEARCH_OUT, 2);
  EXPECT_EQ(blocking.calls, 1);
  CloseHandle(removed);
}

}  // namespace
