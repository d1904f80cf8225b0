// The tape scan through ITapeScan, with the cassette memory read by the
// host's database manager through the driver: every scene's thumbnails come
// keyed by the id its record has in the database, then the scan completes;
// anything that takes the tape away ends it with an error, and nothing waits
// for ever.
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "host/cassettedb/IMicDatabaseManager.h"
#include "host/foundation/OxDeviceTypes.h"
#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

constexpr DWORD kWholeTape = 0x301;

std::uint32_t Read32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

struct ManagerDeleter {
  void operator()(Orvex::IMicDatabaseManager* m) const { m->Destroy(); }
};

class ScanTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    folder = std::filesystem::temp_directory_path() /
             (std::string("zelto-scan-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    if (manager) manager->SetSmartControl(nullptr);
    manager.reset();
    Stop();
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
    ComTest::TearDown();
  }

  void Start(DriverConfig config) {
    ASSERT_EQ(driver.Register(config), S_OK);
    ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_ITapeScan, scan.OutVoid()), S_OK);
    ASSERT_EQ(control->AdviseWindow(events->Handle(), &cookie), S_OK);
  }
  void Stop() {
    if (cookie && control.p) control->UnadviseWindow(cookie);
    cookie = 0;
    scan.Reset();
    control.Reset();
    driver.Unregister();
  }
  // The host's database manager, reading the cassette through the driver.
  void OpenDatabase() {
    const Orvex::OxString path{zelto::platform::WidePath(folder / "micdb.mdb").c_str()};
    ASSERT_TRUE(Orvex::CreateMicDatabase(path));
    manager.reset(Orvex::CreateMicDatabaseManager());
    ASSERT_TRUE(manager);
    ASSERT_TRUE(manager->Open(path, Orvex::OX_MIC_DB_OPEN_READWRITE));
    manager->SetSmartControl(control.p);
  }
  // Waits for the scan's completion or error; its code, or 0.
  DWORD AwaitScanEnd() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const SeenEvent& e : events->Events())
        if (e.code == DRIVER_EVENT_SCAN_COMPLETE || e.code == DRIVER_EVENT_SCAN_ERROR) return e.code;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return 0;
  }
  std::vector<const Orvex::_THUMBNAIL_DATA*> Thumbnails() {
    std::vector<const Orvex::_THUMBNAIL_DATA*> out;
    for (LPARAM a : events->Arguments(DRIVER_EVENT_THUMBNAIL))
      out.push_back(reinterpret_cast<const Orvex::_THUMBNAIL_DATA*>(a));
    return out;
  }

  std::filesystem::path folder;
  std::unique_ptr<EventWindow> events = std::make_unique<EventWindow>();
  SimulatedDriver driver;
  Ref<ISmartControl> control;
  Ref<ITapeScan> scan;
  DWORD cookie = 0;
  std::unique_ptr<Orvex::IMicDatabaseManager, ManagerDeleter> manager;
};

}  // namespace

TEST_F(ScanTest, EveryScenesThumbnailsComeKeyedByItsRecordThenTheScanCompletes) {
  DriverConfig config;
  config.camcorder.cassette->positionTrack = 100 * kTracksPerSecond;  // rewound first
  config.camcorder.timing.windSpeed = 400;
  config.camcorder.timing.searchSpeed = 400;  // the 505 s recorded in about 1.3 s
  Start(config);
  OpenDatabase();
  std::vector<Orvex::_OxMicDbRecInfo> records;
  ASSERT_TRUE(manager->GetRecInfoList(records));
  ASSERT_EQ(records.size(), 3u);

  EXPECT_EQ(scan->StartScan(0x300), E_INVALIDARG) << "the one scan there is: the whole tape, with pictures";
  ASSERT_EQ(scan->StartScan(kWholeTape), S_OK);
  ASSERT_EQ(AwaitScanEnd(), static_cast<DWORD>(DRIVER_EVENT_SCAN_COMPLETE));
  EXPECT_TRUE(events->Arguments(DRIVER_EVENT_SCAN_ERROR).empty());

  // Two pictures a scene (each is longer than a second), in tape order.
  const auto thumbnails = Thumbnails();
  std::vector<std::uint32_t> keys;
  for (const auto* t : thumbnails) keys.push_back(t->sceneKey);
  const auto id = [&](int i) { return static_cast<std::uint32_t>(records[i].id); };
  EXPECT_EQ(keys, (std::vector<std::uint32_t>{id(0), id(0), id(1), id(1), id(2), id(2)}));

  // Each a packed 160x90 24-bit bitmap, as long as its header says; the
  // scenes' pictures differ.
  std::map<std::uint32_t, std::vector<std::uint8_t>> firstOf;
  for (const auto* t : thumbnails) {
    const std::uint8_t* dib = t->dibPointer;
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(Read32(dib), 40u);
    EXPECT_EQ(Read32(dib + 4), 160u);
    EXPECT_EQ(Read32(dib + 8), 90u);
    EXPECT_EQ(dib[14], 24);
    EXPECT_EQ(Read32(dib + 20), 160u * 3 * 90);
    firstOf.emplace(t->sceneKey, std::vector<std::uint8_t>(dib + 40, dib + 40 + Read32(dib + 20)));
  }
  ASSERT_EQ(firstOf.size(), 3u);
  EXPECT_NE(firstOf[id(0)], firstOf[id(1)]);
  EXPECT_NE(firstOf[id(1)], firstOf[id(2)]);

  // The scan leaves the tape where the recording ends.
  EXPECT_EQ(driver.Panel().DeckState(), DECK_STATE_STOP);
  EXPECT_EQ(driver.Panel().Track(), Cassette::Default().scenes.back().endTrack);
  EXPECT_EQ(scan->StopScan(), S_OK) << "stopping a finished scan is harmless";
}

TEST_F(ScanTest, WhatEndsAScanHalfWayWithAnError) {
  struct Case {
    const char* what;
    std::function<void(Camcorder&)> act;  // after the first thumbnail
    std::function<void(Camcorder&)> before;
  };
  auto none = [](Camcorder&) {};
  const Case cases[] = {
      {"an ejection", [](Camcorder& c) { c.Eject(); }, none},
      {"the camcorder unplugged", [](Camcorder& c) { c.RemoveDevice(); }, none},
      {"a stalled transport", [](Camcorder& c) { c.StallTransport(true); }, none},
      {"a stall the panel set up", none, [](Camcorder& c) { c.StallScanAfter(1); }},
      {"a deck command", [](Camcorder& c) { c.SendCommand(DECK_COMMAND_PLAY); }, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    events = std::make_unique<EventWindow>();
    DriverConfig config = QuickConfig();
    config.camcorder.timing.searchSpeed = 1;  // 2.5 s to the end of the last scene
    Start(config);
    c.before(driver.Panel());
    ASSERT_EQ(scan->StartScan(kWholeTape), S_OK);
    ASSERT_TRUE(events->WaitForCount(DRIVER_EVENT_THUMBNAIL, 1));
    c.act(driver.Panel());
    EXPECT_EQ(AwaitScanEnd(), static_cast<DWORD>(DRIVER_EVENT_SCAN_ERROR));
    driver.Panel().PostEvent(99, 0);
    ASSERT_TRUE(events->WaitForCount(99, 1));
    EXPECT_TRUE(events->Arguments(DRIVER_EVENT_SCAN_COMPLETE).empty());
    EXPECT_EQ(events->Arguments(DRIVER_EVENT_SCAN_ERROR).size(), 1u);
    EXPECT_EQ(events->Arguments(DRIVER_EVENT_THUMBNAIL).size(), 1u) << "no picture after the end";
    EXPECT_FALSE(driver.Panel().Scanning());
    if (driver.Panel().Removed()) driver.Panel().ReconnectDevice();
    Stop();
  }
}

TEST_F(ScanTest, AScanStopsWithoutAWordWhenItsOwnerStopsIt) {
  DriverConfig config = QuickConfig();
  config.camcorder.timing.searchSpeed = 1;
  Start(config);
  ASSERT_EQ(scan->StartScan(kWholeTape), S_OK);
  EXPECT_NE(scan->StartScan(kWholeTape), S_OK) << "one scan at a time";
  ASSERT_TRUE(events->WaitForCount(DRIVER_EVENT_THUMBNAIL, 1));
  ASSERT_EQ(scan->StopScan(), S_OK);
  EXPECT_EQ(driver.Panel().DeckState(), DECK_STATE_STOP);
  driver.Panel().PostEvent(99, 0);
  ASSERT_TRUE(events->WaitForCount(99, 1));
  EXPECT_TRUE(events->Arguments(DRIVER_EVENT_SCAN_COMPLETE).empty());
  EXPECT_TRUE(events->Arguments(DRIVER_EVENT_SCAN_ERROR).empty());
  EXPECT_EQ(events->Arguments(DRIVER_EVENT_THUMBNAIL).size(), 1u);
  // A cassette without memory has no records: its thumbnails carry no key.
  Cassette bare = QuickTape();
  bare.hasMemory = false;
  for (Scene& scene : bare.scenes) scene.memoryKey = 55;
  driver.Panel().InsertCassette(bare);
  ASSERT_TRUE(events->WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_STOP, events->Count()));
  ASSERT_EQ(scan->StartScan(kWholeTape), S_OK);
  ASSERT_TRUE(events->WaitForCount(DRIVER_EVENT_THUMBNAIL, 2));
  EXPECT_EQ(Thumbnails()[1]->sceneKey, 0u);
  EXPECT_EQ(Thumbnails()[0]->sceneKey, 0u) << "nobody keyed the first cassette";
  EXPECT_EQ(scan->StopScan(), S_OK);
}
