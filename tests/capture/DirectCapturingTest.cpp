// Direct capturing through the device: the start, the parts the driver
// reports, the progress record, the abort, and the end with and without a
// completed file.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <utility>

#include "tests/capture/CaptureTestSupport.h"

using namespace capturetest;
using namespace devtest;
using namespace Orvex;

namespace {

// Hears the first file created, and runs `onCreate` from inside that call.
class BlockingListener : public KelSafeEventListener<OxCapturingEvent> {
public:
  explicit BlockingListener(std::function<void()> onCreate) : onCreate(std::move(onCreate)) {}
  void OnEvent(const OxCapturingEvent& event) override {
    if (event.GetEventID() == OX_CAPTURING_CREATE_FILE && onCreate) std::exchange(onCreate, nullptr)();
  }

private:
  std::function<void()> onCreate;
};

class DirectCapturingTest : public CaptureTest {
protected:
  void SetUp() override {
    CaptureTest::SetUp();
    Start();
    param.folderPath = CaptureFolder();
    param.fileBaseName = OxString(L"Clip");
    device->SetDirectCapturingStructure(param);
  }

  // A progress query on a record whose fields all hold something already.
  _OxDirectCapturingProgress Progress() {
    _OxDirectCapturingProgress progress;
    progress.currentFile = OxString(L"the caller's");
    progress.filesCreated = 77;
    progress.hostValue = 9;
    progress.reserved1 = progress.reserved2 = 5;
    device->GetDirectCapturingProgress(progress);
    EXPECT_EQ(progress.hostValue, 9u) << "not the library's";
    EXPECT_EQ(progress.reserved1, 0u);
    EXPECT_EQ(progress.reserved2, 0u);
    EXPECT_GT(progress.freeDiskSpace, 0u);
    return progress;
  }

  // ExitDirectCapturing's duration on the process clock.
  DWORD TimedExit() {
    const DWORD before = GetTickCount();
    device->ExitDirectCapturing();
    return GetTickCount() - before;
  }

  _OxDirectCapturingParam param;
  DRIVER_FILE_RECORD record{L"X:\\driver\\Clip-01.zlt", 0};
};

TEST_F(DirectCapturingTest, PartsAreReportedAndTheEndWaitsForACompletedFile) {
  device->StartDirectCapturing();
  EXPECT_EQ(driver.streamReceive.log.Take(),
            (std::vector<std::wstring>{L"SetFolder(" + CaptureFolder().GetStdString() + L")", L"SetOptions(15)",
                                       L"SetFileName(Clip-%02d.zlt,1)", L"StartDirect"}));

  // Before the first part: Clip-00.zlt is looked for and not found.
  _OxDirectCapturingProgress progress = Progress();
  EXPECT_EQ(progress.currentFile.GetStdString(), L"the caller's");
  EXPECT_EQ(progress.filesCreated, 0u);

  WriteFile(L"Clip-01.zlt", kSecond);
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 1);
  EXPECT_EQ(capturing.Events().back().GetFileName().GetStdString(), InCaptureFolder(L"Clip-01.zlt"));
  progress = Progress();
  EXPECT_EQ(progress.currentFile.GetStdString(), InCaptureFolder(L"Clip-01.zlt"));
  EXPECT_EQ(progress.filesCreated, 1u);

  // The size limit reached: the first part completes, the second opens.
  PostAndHear(DRIVER_EVENT_FILE_COMPLETE, 2, reinterpret_cast<LPARAM>(&record));
  EXPECT_EQ(capturing.Events().back().GetFileName().GetStdString(), L"X:\\driver\\Clip-01.zlt")
      << "the driver's own name";
  WriteFile(L"Clip-02.zlt", kSecond);
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 3);
  EXPECT_EQ(Progress().currentFile.GetStdString(), InCaptureFolder(L"Clip-02.zlt"));

  device->PauseDirectCapturing();
  device->RestartDirectCapturing();
  EXPECT_TRUE(driver.streamReceive.log.Take().empty()) << "pause and restart do nothing";

  // Both names of the abort only ask the driver to stop; the capture stays
  // direct, so the last file's completion still reaches the host.
  device->AbortCapturing();
  device->StopDirectCapturing();
  EXPECT_EQ(driver.streamReceive.log.Take(), (std::vector<std::wstring>{L"Abort", L"Abort"}));
  record.path = L"X:\\driver\\Clip-02.zlt";
  PostAndHear(DRIVER_EVENT_FILE_COMPLETE, 4, reinterpret_cast<LPARAM>(&record));

  // A file has completed: the end does not wait.
  EXPECT_LT(TimedExit(), 3000u);
  EXPECT_EQ(driver.streamReceive.log.Take(), std::vector<std::wstring>{L"Stop"});
  WriteFile(L"Clip-03.zlt", kSecond);
  PostAndSettle(DRIVER_EVENT_FILE_CREATED);
  EXPECT_EQ(capturing.Count(), 4u) << "idle after the end: no file is looked for";

  using E = _OxCapturingEventID;
  EXPECT_EQ(Ids(), (std::vector<E>{OX_CAPTURING_CREATE_FILE, OX_CAPTURING_COMPLETE_FILE, OX_CAPTURING_CREATE_FILE,
                                   OX_CAPTURING_COMPLETE_FILE}));
}

// Without an abort, and so without a completed file, the end waits 3000 ms
// and then stops the receiver all the same. A new start forgets the
// completion of the capture before.
TEST_F(DirectCapturingTest, TheEndWithoutACompletedFileWaitsAtMost3000Milliseconds) {
  device->StartDirectCapturing();
  PostAndHear(DRIVER_EVENT_FILE_COMPLETE, 1, reinterpret_cast<LPARAM>(&record));
  device->StartDirectCapturing();
  driver.streamReceive.log.Take();

  const DWORD waited = TimedExit();
  EXPECT_GE(waited, 3000u - kTickSlack);
  EXPECT_LT(waited, 3000u + 30000u) << "a bounded wait";
  EXPECT_EQ(driver.streamReceive.log.Take(), std::vector<std::wstring>{L"Stop"});
  WriteFile(L"Clip-01.zlt", kSecond);
  PostAndSettle(DRIVER_EVENT_FILE_CREATED);
  EXPECT_EQ(capturing.Count(), 1u) << "idle after the end: no file is looked for";
}

// The driver's last reports of one capture, which the window hands on only
// once the host has started the next: not heard, they neither move the next
// capture's names on nor end the wait for its last file.
TEST_F(DirectCapturingTest, AnEarlierCapturesReportsHandedOnLateAreNotTheNextOnes) {
  device->StartDirectCapturing();
  HeldWindow window(*device, driver);
  WriteFile(L"Clip-01.zlt", kSecond);
  EXPECT_TRUE(driver.Post(DRIVER_EVENT_FILE_CREATED, 0));
  EXPECT_TRUE(driver.Post(DRIVER_EVENT_FILE_COMPLETE, reinterpret_cast<LPARAM>(&record)));
  EXPECT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE));
  device->StartDirectCapturing();
  window.Release();
  PostAndSettle(DRIVER_EVENT_STREAMING, 0);
  EXPECT_EQ(capturing.Count(), 0u);

  PostAndHear(DRIVER_EVENT_FILE_CREATED, 1);
  EXPECT_EQ(capturing.Events().back().GetFileName().GetStdString(), InCaptureFolder(L"Clip-01.zlt"));
  EXPECT_GE(TimedExit(), 3000u - kTickSlack) << "the end took the earlier capture's completion for its own";
}

// The host ends the capture while the report of a new part is being told on
// the driver's thread: the end returns only once that telling is over, so
// nothing of the capture reaches the host after its end.
TEST_F(DirectCapturingTest, TheEndWaitsForAReportBeingTold) {
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  BlockingListener blocking([&] {
    entered.set_value();
    released.wait_for(kLongWait);
  });
  device->AddEventListener(&blocking);
  device->StartDirectCapturing();
  WriteFile(L"Clip-01.zlt", kSecond);
  PostAndHear(DRIVER_EVENT_FILE_COMPLETE, 1, reinterpret_cast<LPARAM>(&record));
  EXPECT_TRUE(driver.Post(DRIVER_EVENT_FILE_CREATED, 0));
  EXPECT_EQ(entered.get_future().wait_for(kLongWait), std::future_status::ready);

  std::future<void> exit = std::async(std::launch::async, [&] { device->ExitDirectCapturing(); });
  EXPECT_EQ(exit.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
      << "the end returned while its capture was still being told";
  release.set_value();
  EXPECT_EQ(exit.wait_for(kLongWait), std::future_status::ready);
  device->RemoveEventListener(&blocking);
  EXPECT_EQ(capturing.Count(), 2u);
}

}  // namespace
