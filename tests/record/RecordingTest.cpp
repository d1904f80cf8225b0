// The device's recording against the fake driver: the batch and direct roads
// as the driver's calls and the host's events in order, their ends by the
// driver's reports and by the host, a deck that never gets ready, recording
// and capturing refusing each other, and a camcorder removed while it
// records.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <future>
#include <stdexcept>
#include <utility>

#include "tests/record/RecordTestSupport.h"

using namespace devtest;
using namespace recordtest;
using namespace Orvex;

namespace {

using RecordingTest = RecordTest;

// Each road, ended by each driver report. The journal of the start, then of
// the end; the end comes on the message receiver's thread, the host last.
// A second report after the end finds the recording direct (batchRecording
// was reset) and sends no StopRecord. A direct recording is one the
// camcorder records itself: its deck state is record, whose stop button
// does nothing, so a deck stop would show only as StopRecord.
TEST_F(RecordingTest, EachRoadSendsItsCallsInOrderAndEndsOnTheDriversReport) {
  struct Road {
    const char* name;
    bool batch;
    DWORD report;
    const wchar_t* heardAtEnd;
  };
  const Road roads[] = {{"batch, completed", true, DRIVER_EVENT_RECORDING_COMPLETE, L"host.Complete"},
                        {"batch, error", true, DRIVER_EVENT_RECORDING_ERROR, L"host.ErrorStop(1)"},
                        {"direct, completed", false, DRIVER_EVENT_RECORDING_COMPLETE, L"host.Complete"},
                        {"direct, error", false, DRIVER_EVENT_RECORDING_ERROR, L"host.ErrorStop(1)"}};
  const std::vector<std::wstring> file{L"transmit.SetFile(C:\\clips\\a.m2t)", L"transmit.SetMargins(100,200)"};
  const std::vector<std::wstring> deckUp{L"deck.SetRecordMode(1)", L"deck.RecordPause", L"deck.Record",
                                         L"host.RecordingStart", L"deck.SetRecordMode(0)"};
  const std::vector<std::wstring> sending{L"host.DataStart", L"transmit.Start"};

  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    heard.Clear();
    List(L"C:\\clips\\a.m2t", 1000, 4000);
    DeckIs(road.batch ? DECK_STATE_STOP : DECK_STATE_RECORD);
    DeckPausesAfter(3);
    driver.journal.Take();
    const int reads = driver.statusCalls[DECK_STATUS_DECK_STATE];
    const DWORD before = GetTickCount();
    if (road.batch)
      device->StartBatchRecording(100, 200);
    else
      device->StartDirectRecording(100, 200);
    const DWORD took = GetTickCount() - before;

    EXPECT_EQ(driver.journal.Take(), road.batch ? Concat(Concat(file, deckUp), sending) : Concat(file, sending));
    if (road.batch) {
      EXPECT_EQ(driver.statusCalls[DECK_STATUS_DECK_STATE] - reads, 3) << "polled until record pause";
      EXPECT_GE(took, 3 * 400u + 5000u - kTickSlack);
    }
    _OxRecordingProgress progress;
    progress.hostValues[27] = 7;
    device->GetRecordingProgress(progress);
    EXPECT_EQ(progress.recordTime, 3000u + 100u + 200u);
    EXPECT_EQ(progress.hostValues[27], 7u) << "only the record time is the device's";
    for (DWORD thread : heard.Threads()) EXPECT_EQ(thread, GetCurrentThreadId());

    PostAndHear(road.report, road.batch ? 3 : 2);
    std::vector<std::wstring> end = road.batch ? std::vector<std::wstring>{L"deck.Stop"} : std::vector<std::wstring>{};
    end = Concat(end, kTransmitStop);
    end.push_back(road.heardAtEnd);
    EXPECT_EQ(driver.journal.Take(), end);
    EXPECT_NE(heard.Threads().back(), GetCurrentThreadId()) << "the end is heard on the message receiver's thread";

    PostAndHear(road.report, road.batch ? 4 : 3);
    EXPECT_EQ(driver.journal.Take(), Concat(kTransmitStop, {road.heardAtEnd}));
    driver.onCommand = nullptr;
    driver.onStatus = nullptr;
  }
}

// Every item of the list is recorded in order, even of a list the device
// would not accept; lengths and margins add up in 32 bits; an empty list
// records nothing but still makes the recording a batch one.
TEST_F(RecordingTest, ListItemsLengthsAndMargins) {
  std::vector<_OxRecordingItem> items(2);
  items[0].path = OxString(L"a.m2t");
  items[0].start = INT_MIN;  // a length that does not fit 32 signed bits
  items[0].end = INT_MAX;
  items[1].path = OxString(L"b.m2t");
  items[1].start = 10;
  items[1].end = 5;
  EXPECT_THROW(device->SetRecordingList(items), std::runtime_error);
  device->StartDirectRecording(2, 0xFFFFFFFFu);
  EXPECT_EQ(driver.journal.Take(),
            (std::vector<std::wstring>{L"transmit.SetFile(a.m2t)", L"transmit.SetMargins(2,4294967295)",
                                       L"host.DataStart", L"transmit.Start", L"transmit.SetFile(b.m2t)",
                                       L"transmit.SetMargins(2,4294967295)", L"host.DataStart", L"transmit.Start"}));
  _OxRecordingProgress progress;
  device->GetRecordingProgress(progress);
  EXPECT_EQ(progress.recordTime, 0xFFFFFFFCu) << "-5 + 2 + 4294967295, wrapped";

  std::vector<_OxRecordingItem> none;
  try {
    device->SetRecordingList(none);
    ADD_FAILURE() << "an empty list accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "ZeltoVideoDevice::SetRecordingList");
  }
  DeckIs(DECK_STATE_RECORD);
  heard.Clear();
  device->StartBatchRecording(0, 0);
  EXPECT_TRUE(driver.journal.Take().empty());
  PostAndHear(DRIVER_EVENT_RECORDING_COMPLETE, 1);
  EXPECT_EQ(driver.journal.Take(), Concat(Concat({L"deck.Stop"}, kTransmitStop), {L"host.Complete"}))
      << "ended as a batch recording, with StopRecord";
}

// A deck that never reaches record pause: 150 looks 400 ms apart, then the
// start gives up without a word, the transmit never started and the record
// mode left on. The tape is free again afterwards.
TEST_F(RecordingTest, ADeckThatNeverReachesRecordPauseIsPolled150TimesAndNothingIsSaid) {
  List(L"a.m2t", 0, 100);
  const int reads = driver.statusCalls[DECK_STATUS_DECK_STATE];
  const DWORD before = GetTickCount();
  device->StartBatchRecording(0, 0);
  EXPECT_GE(GetTickCount() - before, 150 * 400u - kTickSlack);
  EXPECT_EQ(driver.statusCalls[DECK_STATUS_DECK_STATE] - reads, 150);
  EXPECT_EQ(driver.journal.Take(), (std::vector<std::wstring>{L"transmit.SetFile(a.m2t)", L"transmit.SetMargins(0,0)",
                                                              L"deck.SetRecordMode(1)", L"deck.RecordPause"}));
  EXPECT_EQ(heard.Count(), 0u);
  EXPECT_EQ(driver.recordMode, TRUE);

  Recorder<OxCapturingEvent> capturing;
  device->AddEventListener(&capturing);
  _OxDirectCapturingParam param;
  param.folderPath = OxString(WideOf(folder).c_str());
  param.fileBaseName = OxString(L"Clip");
  device->SetDirectCapturingStructure(param);
  driver.streamReceive.log.Take();
  device->StartDirectCapturing();
  EXPECT_EQ(driver.streamReceive.log.Take().back(), L"StartDirect") << "no recording is under way any more";
  EXPECT_EQ(capturing.Count(), 0u);
  device->ExitDirectCapturing();
  device->RemoveEventListener(&capturing);
}

// The stops under their two names each; a stop waits a second for the
// driver, and only the batch ones stop the deck's recording.
TEST_F(RecordingTest, StopAndAbortAreOneOperationPerRoad) {
  using Z = ZeltoVideoDevice;
  const std::pair<void (Z::*)(), bool> stops[] = {{&Z::StopBatchRecording, true},
                                                  {&Z::AbortBatchRecording, true},
                                                  {&Z::StopDirectRecording, false},
                                                  {&Z::AbortDirectRecording, false}};
  List(L"a.m2t", 0, 100);
  DeckIs(DECK_STATE_RECORD);
  for (const auto& [stop, withDeck] : stops) {
    device->StartDirectRecording(0, 0);
    driver.journal.Take();
    const DWORD before = GetTickCount();
    (device.get()->*stop)();
    EXPECT_GE(GetTickCount() - before, 1000u - kTickSlack);
    EXPECT_EQ(driver.journal.Take(), withDeck ? Concat({L"deck.Stop"}, kTransmitStop) : kTransmitStop);
  }
  EXPECT_EQ(heard.Count(), 4u) << "a data start for each start; the host's own stops are not reported back";
}

// Progress: the record is left as it was until a record time other than 0
// has been set, and when there is no transmit component.
TEST_F(RecordingTest, ProgressIsLeftUntouchedWithoutARecordTime) {
  _OxRecordingProgress progress;
  progress.recordTime = 77;
  device->GetRecordingProgress(progress);
  EXPECT_EQ(progress.recordTime, 77u);
  List(L"a.m2t", 500, 500);
  device->StartDirectRecording(0, 0);
  device->GetRecordingProgress(progress);
  EXPECT_EQ(progress.recordTime, 77u) << "a record time of 0 is none";
  device->StopDirectRecording();
  device->TerminateDevice();
  driver.journal.Take();
  device->StartDirectRecording(0, 0);
  device->GetRecordingProgress(progress);
  EXPECT_EQ(progress.recordTime, 77u);
  EXPECT_TRUE(driver.journal.Take().empty()) << "nothing sent once terminated";
}

// One job for the tape at a time, both ways: a recording refused while a
// capture or a scan is under way, and a capture or scan refused while a
// recording is. The refused start sends the driver nothing and disturbs
// nothing; its listeners hear an error stop at once.
TEST_F(RecordingTest, RecordingAndCapturingRefuseEachOther) {
  Recorder<OxCapturingEvent> capturing;
  Recorder<OxScanningEvent> scanning;
  device->AddEventListener(&capturing);
  device->AddEventListener(&scanning);
  List(L"a.m2t", 0, 100);
  _OxBatchCapturingParam batch;
  batch.folderPath = OxString(WideOf(folder).c_str());
  std::vector<_OxBatchCapturingItem> sections(1);
  device->SetBatchCapturingList(batch, sections);
  _OxDirectCapturingParam direct;
  direct.folderPath = batch.folderPath;
  device->SetDirectCapturingStructure(direct);

  enum Busy { BatchCapture, DirectCapture, Scan };
  for (Busy busy : {BatchCapture, DirectCapture, Scan}) {
    SCOPED_TRACE(busy);
    if (busy == BatchCapture) device->StartBatchCapturing();
    if (busy == DirectCapture) device->StartDirectCapturing();
    if (busy == Scan) device->StartScanning();
    driver.journal.Take();
    driver.TakeCommands();
    driver.streamReceive.log.Take();
    driver.tapeScan.log.Take();
    device->StartBatchRecording(1, 2);
    device->StartDirectRecording(1, 2);
    EXPECT_EQ(driver.journal.Take(), (std::vector<std::wstring>{L"host.ErrorStop(1)", L"host.ErrorStop(1)"}))
        << "heard at once, and nothing sent";
    EXPECT_TRUE(driver.TakeCommands().empty());
    EXPECT_TRUE(driver.streamReceive.log.Take().empty()) << "the capture is left alone";
    EXPECT_TRUE(driver.tapeScan.log.Take().empty()) << "the scan is left alone";
    if (busy == BatchCapture) device->StopBatchCapturing();
    if (busy == DirectCapture) device->ExitDirectCapturing();
    if (busy == Scan) device->StopScanning();
  }

  // A whole-cassette set-up starts nothing: the capture mode it leaves is
  // no job, and the recording goes ahead.
  device->SetupScapturing(batch);
  driver.journal.Take();
  DeckIs(DECK_STATE_RECORD);
  device->StartDirectRecording(1, 2);
  const std::vector<std::wstring> started = driver.journal.Take();
  EXPECT_NE(std::find(started.begin(), started.end(), L"transmit.Start"), started.end()) << "not refused";
  driver.streamReceive.log.Take();
  driver.tapeScan.log.Take();
  capturing.Clear();
  scanning.Clear();
  device->StartBatchCapturing();
  device->StartDirectCapturing();
  device->StartScanning();
  EXPECT_TRUE(driver.streamReceive.log.Take().empty());
  EXPECT_TRUE(driver.tapeScan.log.Take().empty());
  EXPECT_TRUE(driver.journal.Take().empty()) << "neither the transmit nor the preview is touched";
  ASSERT_EQ(capturing.Count(), 2u);
  for (const OxCapturingEvent& event : capturing.Events()) {
    EXPECT_EQ(event.GetEventID(), OX_CAPTURING_ERROR_STOP);
    EXPECT_EQ(event.GetErrorID(), OX_CAPTURING_ERROR_DECK_STOPPED);
  }
  ASSERT_EQ(scanning.Count(), 1u);
  EXPECT_EQ(scanning.Events()[0].GetEventID(), OX_SCANNING_ERROR_STOP);

  device->StopDirectRecording();
  device->StartDirectCapturing();
  EXPECT_EQ(driver.streamReceive.log.Take().back(), L"StartDirect") << "free once the recording is stopped";
  device->ExitDirectCapturing();
  device->RemoveEventListener(&capturing);
  device->RemoveEventListener(&scanning);
}

// A camcorder removed while it records: the recording is stopped and the
// host told, on the message receiver's thread; the tape is free again.
// Other device errors leave the recording alone.
TEST_F(RecordingTest, RemovalWhileSendingStopsTheRecordingAndTellsTheHost) {
  List(L"a.m2t", 0, 100);
  DeckIs(DECK_STATE_RECORD);
  device->StartDirectRecording(0, 0);
  ASSERT_EQ(heard.Count(), 1u);
  driver.journal.Take();
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE));
  PostAndHear(DRIVER_EVENT_DEVICE_ERROR, 2, DRIVER_ERROR_DEVICE_REMOVED);
  EXPECT_EQ(driver.journal.Take(), Concat(kTransmitStop, {L"host.ErrorStop(3)"}));
  EXPECT_NE(heard.Threads().back(), GetCurrentThreadId());

  // Nothing is under way any more: a second removal tells nothing (the
  // report behind it ends as the driver's reports always do).
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED));
  PostAndHear(DRIVER_EVENT_RECORDING_COMPLETE, 3);
  EXPECT_EQ(driver.journal.Take(), Concat(kTransmitStop, {L"host.Complete"}));

  // One started once the camcorder is gone ends at once, told by its start:
  // the driver of a camcorder gone reports nothing.
  device->StartDirectRecording(0, 0);
  const std::vector<std::wstring> started = driver.journal.Take();
  ASSERT_GE(started.size(), kTransmitStop.size() + 1);
  EXPECT_EQ(std::vector<std::wstring>(started.end() - static_cast<long>(kTransmitStop.size()) - 1, started.end()),
            Concat(kTransmitStop, {L"host.ErrorStop(3)"}));
  EXPECT_EQ(heard.Threads().back(), GetCurrentThreadId());
}

// Removed while a batch start waits for the deck: the host's call returns
// without polling on, nothing is sent, and the host hears of the removal.
TEST_F(RecordingTest, RemovalWhileTheDeckIsBroughtUpEndsTheWaitAndTellsTheHost) {
  List(L"a.m2t", 0, 100);
  const HANDLE paused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  driver.onCommand = [paused](DWORD command) {
    if (command == DECK_COMMAND_RECORD_PAUSE) SetEvent(paused);
  };
  const int reads = driver.statusCalls[DECK_STATUS_DECK_STATE];
  // The host's thread, blocked in the start.
  auto starting = std::async(std::launch::async, [&] { device->StartBatchRecording(0, 0); });
  ASSERT_EQ(WaitForSingleObject(paused, 20000), WAIT_OBJECT_0);
  PostAndHear(DRIVER_EVENT_DEVICE_ERROR, 1, DRIVER_ERROR_DEVICE_REMOVED);
  ASSERT_EQ(starting.wait_for(kLongWait), std::future_status::ready) << "the start hangs";
  EXPECT_LT(driver.statusCalls[DECK_STATUS_DECK_STATE] - reads, 150);
  EXPECT_EQ(driver.journal.Take(),
            Concat(Concat({L"transmit.SetFile(a.m2t)", L"transmit.SetMargins(0,0)", L"deck.SetRecordMode(1)",
                           L"deck.RecordPause", L"deck.Stop", L"deck.Stop"},
                          kTransmitStop),
                   {L"host.ErrorStop(3)"}))
      << "the deck stopped from its stop state, then its recording; the transmit never started";
  EXPECT_EQ(heard.Count(), 1u);
  CloseHandle(paused);
}

// A recording listener on the message receiver's thread may delete the
// device at each report it hears there: the report is the last thing done
// (under the address sanitizer, a touch of the deleted device fails).
TEST_F(RecordingTest, ARecordingListenerMayDeleteTheDeviceFromEveryReport) {
  device->TerminateDevice();  // its window class is the process's one
  const std::pair<DWORD, LPARAM> reports[] = {{DRIVER_EVENT_RECORDING_COMPLETE, 0},
                                              {DRIVER_EVENT_RECORDING_ERROR, 0},
                                              {DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED}};
  for (const auto& [code, argument] : reports) {
    SCOPED_TRACE(code);
    FakeDriver local;
    std::unique_ptr<ZeltoVideoDevice> owned = MakeDevice(local);
    ASSERT_TRUE(Initialize(*owned));
    class Deleter : public KelSafeEventListener<OxRecordingEvent> {
    public:
      explicit Deleter(ZeltoVideoDevice* device) : device(device) {}
      ~Deleter() override { CloseHandle(deleted); }
      // No lock of its own: nothing of it is touched once it has signalled.
      void HandleEvent(const OxRecordingEvent& event) override { OnEvent(event); }
      void OnEvent(const OxRecordingEvent& event) override {
        if (event.GetEventID() == OX_RECORDING_DATA_START || !device) return;
        delete std::exchange(device, nullptr);
        SetEvent(deleted);
      }
      ZeltoVideoDevice* device;
      const HANDLE deleted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } deleter(owned.get());
    owned->AddEventListener(&deleter);
    std::vector<_OxRecordingItem> items(1);
    owned->SetRecordingList(items);
    owned->StartDirectRecording(0, 0);
    owned.release();  // the listener's from now on
    ASSERT_TRUE(local.Post(code, argument));
    ASSERT_EQ(WaitForSingleObject(deleter.deleted, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(local.Refs(), 0);
    EXPECT_EQ(local.transmit.Refs(), 0);
    EXPECT_EQ(local.preview.Refs(), 0);
  }
}

}  // namespace
