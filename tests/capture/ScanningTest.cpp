// Tape scanning through the device: what the host hears and the driver is
// told, the thumbnails merged into the cassette memory, thumbnails whose
// headers lie, a thumbnail that arrives during a merge, and a camcorder
// removed during a scan.
#include <gtest/gtest.h>

#include <utility>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ThumbnailSupport.h"

using namespace capturetest;
using namespace devtest;
using namespace Orvex;

namespace {

class ScanningTest : public CaptureTest {
protected:
  // Scenes in the cassette memory, in tape order, with the pictures given
  // (empty: none); their ids.
  std::vector<long> MakeScenes(const std::vector<std::pair<OxBitmap, OxBitmap>>& pictures) {
    OxString path;
    path.Format(L"%s\\micdb.mdb", WideOf(folder / "db").c_str());
    IMicDatabaseManager* manager = CreateMicDatabaseManager();
    std::vector<long> ids;
    if (CreateMicDatabase(path) && manager->Open(path, OX_MIC_DB_OPEN_READWRITE) &&
        manager->SelectCassette(OxString(L"tape"), true)) {
      std::uint32_t start = 0x00010000;
      for (auto [first, second] : pictures) {
        _OxMicDbRecInfo info;
        info.startTimeCode = start += 0x00010000;
        if (!manager->AddRecInfo(info)) break;
        ids.push_back(info.id);
        if (first.GetBitmapSize()) manager->SetRecInfoPicture(info.id, first, true);
        if (second.GetBitmapSize()) manager->SetRecInfoSecondPicture(info.id, second, true);
      }
    }
    manager->Destroy();
    return ids;
  }

  // The pictures of each scene, in tape order.
  std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> Pictures() {
    std::vector<_OxMICRecInfo> records;
    device->GetMICRecInfo(records);
    std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> pictures;
    for (const _OxMICRecInfo& r : records)
      pictures.emplace_back(Bytes(r.firstPicture), Bytes(r.secondPicture));
    return pictures;
  }

  static std::vector<std::uint8_t> Bytes(const OxBitmap& bitmap) {
    const std::uint8_t* data = bitmap.GetBitmap();
    return data ? std::vector<std::uint8_t>(data, data + bitmap.GetBitmapSize()) : std::vector<std::uint8_t>{};
  }
  static OxBitmap Bitmap(const Dib& dib) {
    OxBitmap bitmap;
    bitmap.SetBitmap(dib.Data(), static_cast<std::uint32_t>(dib.Size()));
    return bitmap;
  }

  // The driver sending a thumbnail; the record lives until it is handled.
  void Thumbnail(const std::uint8_t* dib, long sceneKey) {
    thumbnails.push_back(std::make_unique<_THUMBNAIL_DATA>(_THUMBNAIL_DATA{dib, static_cast<std::uint32_t>(sceneKey)}));
    PostAndSettle(DRIVER_EVENT_THUMBNAIL, reinterpret_cast<LPARAM>(thumbnails.back().get()));
  }

  std::vector<_OxScanningEventID> Ids() {
    std::vector<_OxScanningEventID> ids;
    for (const OxScanningEvent& event : scanning.Events()) ids.push_back(event.GetEventID());
    return ids;
  }

  void StartScanning() {
    Start();
    device->AddEventListener(&scanning);
    driver.journal.Take();
  }
  void TearDown() override {
    if (device) device->RemoveEventListener(&scanning);
    CaptureTest::TearDown();
  }

  Recorder<OxScanningEvent> scanning;
  std::vector<std::unique_ptr<_THUMBNAIL_DATA>> thumbnails;
};

// The events of each way a scan goes, the driver's reports among them
// heard on the message receiver's thread; a cancel silences a later error
// report until the next start.
TEST_F(ScanningTest, EventsOfEachWayAScanGoes) {
  StartScanning();
  using E = _OxScanningEventID;
  const E start = OX_SCANNING_START, complete = OX_SCANNING_COMPLETE, cancel = OX_SCANNING_CANCEL,
          error = OX_SCANNING_ERROR_STOP;
  const struct {
    const char* steps;  // S start, T stop, C cancel, 1 driver's completion, E driver's error
    std::vector<E> heard;
  } cases[] = {
      {"S1T", {start, complete, complete}},
      {"SCE", {start, cancel}},
      {"SET", {start, error, complete}},
      {"SECE", {start, error, cancel}},
      {"SCSET", {start, cancel, start, error, complete}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    scanning.Clear();
    for (const char* step = c.steps; *step; ++step) {
      switch (*step) {
        case 'S': device->StartScanning(); break;
        case 'T': device->StopScanning(); break;
        case 'C': device->CancelScanning(); break;
        case '1': PostAndSettle(DRIVER_EVENT_SCAN_COMPLETE); break;
        case 'E': PostAndSettle(DRIVER_EVENT_SCAN_ERROR); break;
      }
    }
    EXPECT_EQ(Ids(), c.heard);
  }
}

// What the driver, the preview and the deck see: the picture hidden before
// the scan starts and shown after the host's stop or cancel, the driver's
// scan stopped before the receiver and the deck. The remembered visibility
// stays as the host set it.
TEST_F(ScanningTest, ThePreviewIsHiddenWhileTheTapeIsScanned) {
  StartScanning();
  device->SetPreviewMonitorVisibility(false);
  using Z = ZeltoVideoDevice;
  for (void (Z::*end)() : {&Z::StopScanning, &Z::CancelScanning}) {
    driver.journal.Take();
    driver.tapeScan.log.Take();
    driver.streamReceive.log.Take();
    device->StartScanning();
    EXPECT_EQ(driver.journal.Take(), std::vector<std::wstring>{L"preview.SetMode(0)"});
    EXPECT_EQ(driver.tapeScan.log.Take(), std::vector<std::wstring>{L"StartScan(769)"});
    (device.get()->*end)();
    EXPECT_EQ(driver.tapeScan.log.Take(), std::vector<std::wstring>{L"StopScan"});
    EXPECT_EQ(driver.streamReceive.log.Take(), std::vector<std::wstring>{L"Stop"});
    EXPECT_EQ(driver.journal.Take(), (std::vector<std::wstring>{L"deck.Stop", L"preview.SetMode(2)"}));
  }
  OxWindow window(reinterpret_cast<HWND>(7));
  OxRect rect(0, 0, 8, 8);
  device->SetPreviewWindow(&window, &rect);
  EXPECT_EQ(driver.journal.Take().back(), L"preview.SetMode(0)") << "the host's visibility is kept";
  for (DWORD thread : scanning.Threads()) EXPECT_EQ(thread, GetCurrentThreadId());
}

// Two thumbnails fill both pictures of a scene that has none, a third is
// dropped; a scene with a first picture gets the second store entry as its
// second picture; a full scene and a thumbnail without a scene change
// nothing; the store is emptied by the merge.
TEST_F(ScanningTest, ThumbnailsFillTheFirstAndSecondPicturesOfTheirScenes) {
  const Dib kept1 = SmallPicture(11), kept2 = SmallPicture(12);
  const std::vector<long> scenes = MakeScenes(
      {{}, {Bitmap(kept1), {}}, {}, {Bitmap(kept1), Bitmap(kept2)}, {}});
  ASSERT_EQ(scenes.size(), 5u);
  const long a = scenes[0], b = scenes[1], c = scenes[2], full = scenes[3], f = scenes[4];
  StartScanning();
  device->StartScanning();
  const Dib a1 = SmallPicture(1), a2 = SmallPicture(2), a3 = SmallPicture(3), b1 = SmallPicture(4),
            b2 = SmallPicture(5), c1 = SmallPicture(6), stray = SmallPicture(7), d1 = SmallPicture(8),
            f1 = SmallPicture(9);
  Thumbnail(a1.Data(), a);
  Thumbnail(b1.Data(), b);
  Thumbnail(a2.Data(), a);
  Thumbnail(stray.Data(), 999);
  Thumbnail(b2.Data(), b);
  Thumbnail(a3.Data(), a);
  Thumbnail(c1.Data(), c);
  Thumbnail(d1.Data(), full);
  Thumbnail(f1.Data(), f);
  device->StopScanning();

  using Pair = std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>;
  const std::vector<Pair> expected{{a1.Bytes(), a2.Bytes()},
                                   {kept1.Bytes(), b2.Bytes()},
                                   {c1.Bytes(), {}},
                                   {kept1.Bytes(), kept2.Bytes()},
                                   {f1.Bytes(), {}}};
  EXPECT_EQ(Pictures(), expected);

  // Emptied: with f's picture removed, another merge has nothing to give it.
  OxBitmap none;
  ASSERT_TRUE(device->GetTapeInformation().SetRecInfoPicture(f, none, true));
  device->StartScanning();
  device->StopScanning();
  EXPECT_TRUE(Pictures()[4].first.empty());
}

// Thumbnails whose headers lie are dropped and never read past (under the
// address sanitizer each sits in a block of its own size); one with a
// colour table is stored whole.
TEST_F(ScanningTest, LyingThumbnailsAreDroppedAndAColourTableIsKeptWhole) {
  const std::vector<long> scenes = MakeScenes({{}, {}, {}});
  ASSERT_EQ(scenes.size(), 3u);
  StartScanning();
  device->StartScanning();

  DibHeader oversized;
  oversized.imageSize = 0x7FFFFFF0;  // far more than 4 x 2 pixels
  const Dib lying(oversized, 40 + 24);
  DibHeader unknownHeader;
  unknownHeader.headerSize = 4000;
  const Dib wrongHeader(unknownHeader, 4);
  DibHeader palette;
  palette.bits = 8;
  palette.coloursUsed = 16;
  palette.imageSize = 8;
  const Dib withTable(palette, 40 + 16 * 4 + 8);

  Thumbnail(lying.Data(), scenes[0]);
  Thumbnail(wrongHeader.Data(), scenes[0]);
  Thumbnail(nullptr, scenes[1]);
  PostAndSettle(DRIVER_EVENT_THUMBNAIL, 0);  // no record at all
  Thumbnail(withTable.Data(), scenes[2]);
  device->StopScanning();

  const auto pictures = Pictures();
  EXPECT_TRUE(pictures[0].first.empty());
  EXPECT_TRUE(pictures[1].first.empty());
  EXPECT_EQ(pictures[2].first, withTable.Bytes()) << "header, colour table and pixels";
}

// A thumbnail that arrives while the merge runs is neither merged by it in
// part nor lost to it: it goes in with the next merge. Nor does the merge
// hold up the message receiver's thread: a report behind the thumbnail is
// heard while the merge is still writing. The merge is caught in the middle
// by the cassette memory's change event, raised on the merging thread.
TEST_F(ScanningTest, AThumbnailArrivingDuringAMergeIsKeptForTheNextAndWaitsForNothing) {
  const std::vector<long> scenes = MakeScenes({{}, {}});
  ASSERT_EQ(scenes.size(), 2u);
  StartScanning();
  const Dib first = SmallPicture(1), late = SmallPicture(2);
  _THUMBNAIL_DATA lateRecord{late.Data(), static_cast<std::uint32_t>(scenes[1])};

  class MidMerge : public KelSafeEventListener<OxReadingMicEvent> {
  public:
    MidMerge(FakeDriver& driver, Recorder<OxScanningEvent>& scanning, _THUMBNAIL_DATA& record)
        : driver(driver), scanning(scanning), record(record) {}
    void OnEvent(const OxReadingMicEvent& event) override {
      if (event.GetEventID() != OX_MIC_DATA_CHANGED || fired) return;
      fired = true;
      // The thumbnail, and behind it a report that shows it was handled.
      const std::size_t before = scanning.Count();
      driver.Post(DRIVER_EVENT_THUMBNAIL, reinterpret_cast<LPARAM>(&record));
      driver.Post(DRIVER_EVENT_SCAN_COMPLETE);
      heardDuringMerge = scanning.WaitForCount(before + 1);
    }
    FakeDriver& driver;
    Recorder<OxScanningEvent>& scanning;
    _THUMBNAIL_DATA& record;
    bool fired = false;
    bool heardDuringMerge = false;
  } midMerge(driver, scanning, lateRecord);
  device->AddEventListener(&midMerge);

  device->StartScanning();
  Thumbnail(first.Data(), scenes[0]);
  device->StopScanning();
  ASSERT_TRUE(midMerge.fired);
  EXPECT_TRUE(midMerge.heardDuringMerge) << "the receiver's thread waited for the merge";
  EXPECT_EQ(Pictures()[0].first, first.Bytes());
  EXPECT_TRUE(Pictures()[1].first.empty()) << "merged by the merge it arrived in";

  device->StartScanning();
  device->StopScanning();
  EXPECT_EQ(Pictures()[1].first, late.Bytes()) << "lost";
  device->RemoveEventListener(&midMerge);
}

// A camcorder removed during a scan: the host hears the error stop once,
// unless it cancelled; the scan then stops as usual.
TEST_F(ScanningTest, RemovalDuringAScanIsAnErrorStop) {
  StartScanning();
  device->StartScanning();
  PostAndSettle(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED);
  PostAndSettle(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED);
  PostAndSettle(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE);
  EXPECT_EQ(Ids(), (std::vector<_OxScanningEventID>{OX_SCANNING_START, OX_SCANNING_ERROR_STOP}));
  EXPECT_NE(scanning.Threads()[1], GetCurrentThreadId());
  device->StopScanning();
  EXPECT_EQ(Ids().back(), OX_SCANNING_COMPLETE);

  scanning.Clear();
  device->StartScanning();
  device->CancelScanning();
  PostAndSettle(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED);
  EXPECT_EQ(Ids(), (std::vector<_OxScanningEventID>{OX_SCANNING_START, OX_SCANNING_CANCEL}));
}

// A driver's end and the removal's, in either order, are one end to the
// host: a driver may report the scan failed before or after the camcorder
// is gone.
TEST_F(ScanningTest, ADriverEndAndARemovalAreOneEnd) {
  StartScanning();
  for (const DWORD driverEnd : {DRIVER_EVENT_SCAN_COMPLETE, DRIVER_EVENT_SCAN_ERROR}) {
    SCOPED_TRACE(driverEnd);
    const _OxScanningEventID told =
        driverEnd == DRIVER_EVENT_SCAN_COMPLETE ? OX_SCANNING_COMPLETE : OX_SCANNING_ERROR_STOP;
    scanning.Clear();
    device->StartScanning();
    PostAndSettle(driverEnd, 0);
    PostAndSettle(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(Ids(), (std::vector<_OxScanningEventID>{OX_SCANNING_START, told}));
    device->StopScanning();

    scanning.Clear();
    device->StartScanning();
    PostAndSettle(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED);
    PostAndSettle(driverEnd, 0);
    EXPECT_EQ(Ids(), (std::vector<_OxScanningEventID>{OX_SCANNING_START, OX_SCANNING_ERROR_STOP}));
    device->StopScanning();
  }
}

// A scanning listener on the message receiver's thread may delete the
// device at each report it hears there (under the address sanitizer, a
// touch of the deleted device fails).
TEST_F(ScanningTest, AScanningListenerMayDeleteTheDeviceFromEveryReport) {
  const std::pair<DWORD, LPARAM> reports[] = {{DRIVER_EVENT_SCAN_COMPLETE, 0},
                                              {DRIVER_EVENT_SCAN_ERROR, 0},
                                              {DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED}};
  for (const auto& [code, argument] : reports) {
    SCOPED_TRACE(code);
    FakeDriver local;
    std::unique_ptr<ZeltoVideoDevice> owned = MakeDevice(local);
    ASSERT_TRUE(Initialize(*owned));
    class Deleter : public KelSafeEventListener<OxScanningEvent> {
    public:
      explicit Deleter(ZeltoVideoDevice* device) : device(device) {}
      ~Deleter() override { CloseHandle(deleted); }
      // No lock of its own: nothing of it is touched once it has signalled.
      void HandleEvent(const OxScanningEvent& event) override { OnEvent(event); }
      void OnEvent(const OxScanningEvent& event) override {
        if (event.GetEventID() == OX_SCANNING_START || !device) return;
        delete std::exchange(device, nullptr);
        SetEvent(deleted);
      }
      ZeltoVideoDevice* device;
      const HANDLE deleted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } deleter(owned.get());
    owned->AddEventListener(&deleter);
    owned->StartScanning();
    owned.release();  // the listener's from now on
    ASSERT_TRUE(local.Post(code, argument));
    ASSERT_EQ(WaitForSingleObject(deleter.deleted, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(local.Refs(), 0);
    EXPECT_EQ(local.tapeScan.Refs(), 0);
    EXPECT_EQ(local.preview.Refs(), 0);
  }
}

}  // namespace
