// Batch capturing through the device, with the driver's reports posted to
// the message window as the driver posts them: what is registered, what
// the host hears and in which order, the progress figures, the cassette
// memory, and the stop.
#include <gtest/gtest.h>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "tests/capture/CaptureTestSupport.h"

using namespace capturetest;
using namespace devtest;
using namespace Orvex;

namespace {

class BatchCapturingTest : public CaptureTest {
protected:
  // Three scenes in the cassette memory, in tape order; their ids.
  std::vector<long> MakeScenes() {
    OxString path;
    path.Format(L"%s\\micdb.mdb", WideOf(folder / "db").c_str());
    IMicDatabaseManager* manager = CreateMicDatabaseManager();
    std::vector<long> ids;
    if (CreateMicDatabase(path) && manager->Open(path, OX_MIC_DB_OPEN_READWRITE) &&
        manager->SelectCassette(OxString(L"tape"), true)) {
      for (std::uint32_t start : {0x00010000u, 0x00020000u, 0x00030000u}) {
        _OxMicDbRecInfo info;
        info.startTimeCode = start;
        if (manager->AddRecInfo(info)) ids.push_back(info.id);
      }
    }
    manager->Destroy();
    return ids;
  }

  // The ids of the scenes the cassette memory marks as captured.
  std::vector<long> Captured() {
    std::vector<_OxMICRecInfo> records;
    device->GetMICRecInfo(records);
    std::vector<long> ids;
    for (const _OxMICRecInfo& record : records)
      if (record.flag) ids.push_back(record.id);
    return ids;
  }

  _OxBatchCapturingProgress Progress() {
    _OxBatchCapturingProgress progress;
    device->GetBatchCapturingProgress(progress);
    return progress;
  }

  _OxBatchCapturingParam Param(std::int32_t firstFileNumber) {
    _OxBatchCapturingParam param;
    param.folderPath = CaptureFolder();
    param.fileBaseName = OxString(L"Tape");
    param.firstFileNumber = firstFileNumber;
    return param;
  }

  // The driver closing a file, with the record it passes.
  void Completed(const wchar_t* name) {
    record = DRIVER_FILE_RECORD{name, 0};
    PostAndSettle(DRIVER_EVENT_FILE_COMPLETE, reinterpret_cast<LPARAM>(&record));
  }

  DRIVER_FILE_RECORD record{};
};

TEST_F(BatchCapturingTest, ARunRegistersEachSectionAndReportsEachStepInOrder) {
  const std::vector<long> scenes = MakeScenes();
  ASSERT_EQ(scenes.size(), 3u);
  Start();
  // 10 + 5 + 40 seconds of tape; the scenes in another order than the list.
  std::vector<_OxBatchCapturingItem> items{{1000, 2000, 0, static_cast<std::uint32_t>(scenes[2])},
                                           {3000, 3500, 0, static_cast<std::uint32_t>(scenes[0])},
                                           {5000, 9000, 0, static_cast<std::uint32_t>(scenes[1])}};
  device->SetBatchCapturingList(Param(1), items);
  device->StartBatchCapturing();
  EXPECT_EQ(driver.streamReceive.log.Take(),
            (std::vector<std::wstring>{L"ClearBatch", L"SetFolder(" + CaptureFolder().GetStdString() + L")",
                                       L"SetOptions(15)", L"AddBatchItem(1000,0,Tape-001-%02d.zlt,1)",
                                       L"AddBatchItem(3000,0,Tape-002-%02d.zlt,1)",
                                       L"AddBatchItem(5000,0,Tape-003-%02d.zlt,1)", L"StartBatch"}));

  // Before any file: (0 / 1,590,000 + 1) x 1000 + 1 = 1001 ms.
  _OxBatchCapturingProgress progress = Progress();
  EXPECT_EQ(progress.filesDone, 0u);
  EXPECT_EQ(progress.itemCount, 3u);
  EXPECT_EQ(Fields(progress.capturedTime), (std::vector<int>{0, 0, 1, 0}));
  EXPECT_EQ(Fields(progress.totalTime), (std::vector<int>{0, 0, 55, 0}));
  EXPECT_EQ(progress.percent, 1u);  // 1001 x 100 / 55000
  EXPECT_GT(progress.freeDiskSpace, 0u);

  // Section 1: one part of two seconds.
  PostAndHear(DRIVER_EVENT_SEARCH_IN, 1);
  PostAndHear(DRIVER_EVENT_SEARCH_OUT, 2);
  WriteFile(L"Tape-001-01.zlt", 2 * kSecond);
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 3);
  EXPECT_EQ(capturing.Events().back().GetFileName().GetStdString(), InCaptureFolder(L"Tape-001-01.zlt"));
  progress = Progress();
  EXPECT_EQ(progress.filesDone, 1u);
  EXPECT_EQ(Fields(progress.capturedTime), (std::vector<int>{0, 0, 3, 0}));
  Completed(L"driver\\Tape-001-01.zlt");
  PostAndHear(DRIVER_EVENT_SECTION_COMPLETE, 4);
  EXPECT_EQ(Captured(), std::vector<long>{scenes[2]}) << "the scene of the first item";

  // Searching counts completed sections only: the finished file is not
  // counted a second time as the section being written.
  PostAndHear(DRIVER_EVENT_SEARCH_IN, 5);
  EXPECT_EQ(Fields(Progress().capturedTime), (std::vector<int>{0, 0, 3, 0}));
  PostAndHear(DRIVER_EVENT_SEARCH_OUT, 6);
  EXPECT_EQ(Fields(Progress().capturedTime), (std::vector<int>{0, 0, 3, 0}));
  // Section 2, in two parts; a part just opened counts before it is reported.
  WriteFile(L"Tape-002-01.zlt", kSecond);
  EXPECT_EQ(Fields(Progress().capturedTime), (std::vector<int>{0, 0, 4, 0}));
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 7);
  WriteFile(L"Tape-002-02.zlt", kSecond);
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 8);
  EXPECT_EQ(capturing.Events().back().GetFileName().GetStdString(), InCaptureFolder(L"Tape-002-02.zlt"));
  EXPECT_EQ(Fields(Progress().capturedTime), (std::vector<int>{0, 0, 5, 0}));
  Completed(L"driver\\Tape-002-01.zlt");
  Completed(L"driver\\Tape-002-02.zlt");
  PostAndHear(DRIVER_EVENT_SECTION_COMPLETE, 9);
  EXPECT_EQ(Captured(), (std::vector<long>{scenes[0], scenes[2]}));

  // Section 3, longer than the whole list says: the percentage stops at 100.
  PostAndHear(DRIVER_EVENT_SEARCH_IN, 10);
  PostAndHear(DRIVER_EVENT_SEARCH_OUT, 11);
  WriteFile(L"Tape-003-01.zlt", 100 * kSecond);
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 12);
  Completed(L"driver\\Tape-003-01.zlt");
  PostAndHear(DRIVER_EVENT_SECTION_COMPLETE, 13);
  PostAndHear(DRIVER_EVENT_BATCH_COMPLETE, 14);
  EXPECT_EQ(Captured(), (std::vector<long>{scenes[0], scenes[1], scenes[2]}));
  // Once complete, the last section counts as done and, not being searched
  // past, as the section being written: 104 s done + 100 s being written.
  progress = Progress();
  EXPECT_EQ(progress.filesDone, 3u);
  EXPECT_EQ(Fields(progress.capturedTime), (std::vector<int>{0, 3, 25, 0}));
  EXPECT_EQ(progress.percent, 100u);

  // The file-complete reports never reach the host in a batch.
  using E = _OxCapturingEventID;
  const E in = OX_CAPTURING_SEARCH_IN, out = OX_CAPTURING_SEARCH_OUT, file = OX_CAPTURING_CREATE_FILE,
          section = OX_CAPTURING_COMPLETE_SECTION;
  EXPECT_EQ(Ids(), (std::vector<E>{in, out, file, section, in, out, file, file, section, in, out, file, section,
                                   OX_CAPTURING_COMPLETE_BATCH}));
  for (DWORD thread : capturing.Threads()) EXPECT_NE(thread, GetCurrentThreadId());

  // The stop: the deck, the driver's batch, the receiver, then the pause;
  // afterwards a file report finds no capture to name the file for.
  driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PLAY;
  device->UpdateDeviceState();
  driver.TakeCommands();
  const DWORD before = GetTickCount();
  device->StopBatchCapturing();
  EXPECT_GE(GetTickCount() - before, 2000u - kTickSlack);
  EXPECT_EQ(driver.TakeCommands(), std::vector<DWORD>{DECK_COMMAND_STOP});
  EXPECT_EQ(driver.streamReceive.log.Take(), (std::vector<std::wstring>{L"StopBatch", L"Stop"}));
  WriteFile(L"Tape-003-02.zlt", kSecond);
  PostAndSettle(DRIVER_EVENT_FILE_CREATED);
  EXPECT_EQ(capturing.Count(), 14u);

  device->EraseFileBatchCapturing(OX_CANCEL_ERASE_FILES);
  EXPECT_TRUE(std::filesystem::exists(captureFolder / "Tape-001-01.zlt")) << "this library deletes no file";
}

// The host stops a batch while the driver's last steps of it still wait in
// the window: once the stop has returned, none of them reaches the host,
// and the cassette memory marks no scene as captured.
TEST_F(BatchCapturingTest, StepsHandedOnAfterTheStopAreNotHeard) {
  const std::vector<long> scenes = MakeScenes();
  ASSERT_EQ(scenes.size(), 3u);
  Start();
  std::vector<_OxBatchCapturingItem> items{{1000, 2000, 0, static_cast<std::uint32_t>(scenes[0])}};
  device->SetBatchCapturingList(Param(1), items);
  device->StartBatchCapturing();
  HeldWindow window(*device, driver);
  for (DWORD step : {DRIVER_EVENT_SEARCH_IN, DRIVER_EVENT_SEARCH_OUT, DRIVER_EVENT_SECTION_COMPLETE,
                     DRIVER_EVENT_BATCH_COMPLETE})
    EXPECT_TRUE(driver.Post(step, 0));
  device->StopBatchCapturing();
  window.Release();
  PostAndSettle(DRIVER_EVENT_STREAMING, 0);
  EXPECT_EQ(capturing.Count(), 0u);
  EXPECT_TRUE(Captured().empty());
}

// From 999 on the numbers wrap: the patterns are 999, 001, 002, and the
// second section's file is looked for under 001.
TEST_F(BatchCapturingTest, FileNumbersWrapAfter999) {
  Start();
  std::vector<_OxBatchCapturingItem> items{{100, 200, 0, 0}, {300, 400, 0, 0}, {500, 600, 0, 0}};
  device->SetBatchCapturingList(Param(999), items);
  device->StartBatchCapturing();
  const std::vector<std::wstring> sent = driver.streamReceive.log.Take();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(std::vector<std::wstring>(sent.begin() + 3, sent.end() - 1),
            (std::vector<std::wstring>{L"AddBatchItem(100,0,Tape-999-%02d.zlt,1)",
                                       L"AddBatchItem(300,0,Tape-001-%02d.zlt,1)",
                                       L"AddBatchItem(500,0,Tape-002-%02d.zlt,1)"}));

  PostAndHear(DRIVER_EVENT_SEARCH_OUT, 1);
  WriteFile(L"Tape-999-01.zlt", kSecond);
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 2);
  EXPECT_EQ(capturing.Events().back().GetFileName().GetStdString(), InCaptureFolder(L"Tape-999-01.zlt"));
  PostAndHear(DRIVER_EVENT_SECTION_COMPLETE, 3);
  PostAndHear(DRIVER_EVENT_SEARCH_OUT, 4);
  WriteFile(L"Tape-001-01.zlt", kSecond);
  PostAndHear(DRIVER_EVENT_FILE_CREATED, 5);
  EXPECT_EQ(capturing.Events().back().GetFileName().GetStdString(), InCaptureFolder(L"Tape-001-01.zlt"));
  PostAndHear(DRIVER_EVENT_SECTION_COMPLETE, 6);
  PostAndHear(DRIVER_EVENT_SEARCH_IN, 7);

  const _OxBatchCapturingProgress progress = Progress();
  EXPECT_EQ(progress.filesDone, 2u);
  EXPECT_EQ(Fields(progress.capturedTime), (std::vector<int>{0, 0, 3, 0})) << "both sections measured";
}

// A list that adds up to no time at all: nothing is divided by zero and the
// capture counts as complete.
TEST_F(BatchCapturingTest, ProgressOfAListOfNoLength) {
  Start();
  for (std::size_t count : {0u, 2u}) {
    SCOPED_TRACE(testing::Message() << count << " items");
    std::vector<_OxBatchCapturingItem> items(count, _OxBatchCapturingItem{700, 700, 0, 0});
    device->SetBatchCapturingList(Param(1), items);
    device->StartBatchCapturing();
    EXPECT_EQ(driver.streamReceive.log.Take().size(), 4 + count) << "one batch item per list item";
    const _OxBatchCapturingProgress progress = Progress();
    EXPECT_EQ(progress.itemCount, count);
    EXPECT_EQ(Fields(progress.totalTime), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Fields(progress.capturedTime), (std::vector<int>{0, 0, 1, 0}));
    EXPECT_EQ(progress.percent, 100u);
  }
}

// The three stops are one: deck, driver's batch, receiver, 2000 ms.
TEST_F(BatchCapturingTest, StopAndBothAbortsStopTheBatchAndPause) {
  Start();
  using Z = ZeltoVideoDevice;
  for (void (Z::*stop)() : {&Z::StopBatchCapturing, &Z::AbortBatchCapturing, &Z::AbortDirectCapturing}) {
    driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PLAY;
    device->UpdateDeviceState();
    driver.TakeCommands();
    const DWORD before = GetTickCount();
    (device.get()->*stop)();
    EXPECT_GE(GetTickCount() - before, 2000u - kTickSlack);
    EXPECT_EQ(driver.TakeCommands(), std::vector<DWORD>{DECK_COMMAND_STOP});
    EXPECT_EQ(driver.streamReceive.log.Take(), (std::vector<std::wstring>{L"StopBatch", L"Stop"}));
  }
  EXPECT_TRUE(device->CheckBatchCapturingParam());
  EXPECT_TRUE(device->CheckDirectCapturingParam());
}

}  // namespace
