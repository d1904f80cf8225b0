// The simulated driver's receiving path, through IStreamReceive as the
// library calls it: which names it takes, the files it writes as the head
// crosses recorded tape (split at the size limit, one section after another
// in a batch), the events that report each step, and the faults a capture
// can meet.
#include <filesystem>
#include <fstream>

#include "simulator/CaptureFileName.h"
#include "simulator/CaptureStreamWriter.h"
#include "tests/simulator/SimTestSupport.h"
#include "tests/EscapedExceptionCheck.h"
#include "tests/TestFolder.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

constexpr std::uint64_t kFrameBytes = CaptureStreamWriter::kStreamBytesPerSecond / 25;

TEST(CaptureFileNameTest, TakesOnePlaceholderAndNothingThatCouldEscape) {
  struct Case {
    const wchar_t* pattern;
    bool taken;
  };
  const Case cases[] = {
      {L"Tape-001-%02d.zlt", true},   {L"Scene-%03d-01.zlt", true}, {L"-%02d.zlt", true},
      {L"100% tape-%02d.zlt", false}, {L"%s-%02d.zlt", false},      {L"Tape-%02d-%02d.zlt", false},
      {L"Tape-%d.zlt", false},        {L"Tape-%04d.zlt", false},    {L"Tape.zlt", false},
      {L"../up-%02d.zlt", false},     {L"a\\b-%02d.zlt", false},    {L"C:x-%02d.zlt", false},
      {L"what?-%02d.zlt", false},     {L"a\tb-%02d.zlt", false},    {L"nul.%02d", false},
      {L"COM1.%02d.zlt", false},      {L"Tape-%02d.", false},       {L"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(CaptureFileName::Parse(c.pattern).has_value(), c.taken) << c.pattern;

  const auto parts = CaptureFileName::Parse(L"Clip-%02d.zlt");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->Fill(1), L"Clip-01.zlt");
  EXPECT_EQ(parts->Fill(123), L"Clip-123.zlt") << "never cut";
  const auto files = CaptureFileName::Parse(L"Scene-%03d-01.zlt");
  ASSERT_TRUE(files);
  EXPECT_EQ(files->Placeholder(), CaptureFileName::Counts::Files);
  EXPECT_EQ(files->Fill(7), L"Scene-007-01.zlt");
  EXPECT_EQ(files->Fill(1234), L"Scene-1234-01.zlt");
}

class CaptureTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    folder = zelto::testing::TestFolder(std::string("zelto-capture-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    if (cookie) control->UnadviseWindow(cookie);
    receive.Reset();
    deck.Reset();
    control.Reset();
    driver.Unregister();
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
    ComTest::TearDown();
  }

  // Scenes at 1-3 s and 4-6 s of an 8 s tape, 25 frames per second.
  void Start() {
    DriverConfig config = QuickConfig();
    Cassette tape;
    tape.lengthTracks = 8 * kTracksPerSecond;
    Scene a;
    a.startTrack = 1 * kTracksPerSecond;
    a.endTrack = 3 * kTracksPerSecond;
    Scene b = a;
    b.startTrack = 4 * kTracksPerSecond;
    b.endTrack = 6 * kTracksPerSecond;
    b.startFrame = 100;
    tape.scenes = {a, b};
    config.camcorder.cassette = tape;
    ASSERT_EQ(driver.Register(config), S_OK);
    ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IStreamReceive, receive.OutVoid()), S_OK);
    ASSERT_EQ(control->AdviseWindow(events.Handle(), &cookie), S_OK);
    ASSERT_EQ(receive->SetFolder(zelto::platform::WidePath(folder).c_str()), S_OK);
  }

  // The events of the capture path, in order, from the first `from` events.
  std::vector<DWORD> CaptureCodes(std::size_t from = 0) {
    std::vector<DWORD> codes;
    const auto& seen = events.Events();
    for (std::size_t i = from; i < seen.size(); ++i) {
      const DWORD c = seen[i].code;
      if (c == DRIVER_EVENT_FILE_CREATED || c == DRIVER_EVENT_FILE_COMPLETE || c == DRIVER_EVENT_SECTION_COMPLETE ||
          c == DRIVER_EVENT_BATCH_COMPLETE || c == DRIVER_EVENT_SEARCH_IN || c == DRIVER_EVENT_SEARCH_OUT ||
          c == DRIVER_EVENT_DEVICE_ERROR)
        codes.push_back(c);
    }
    return codes;
  }
  // The paths the file-complete events carried.
  std::vector<std::filesystem::path> Completed() {
    std::vector<std::filesystem::path> paths;
    for (LPARAM a : events.Arguments(DRIVER_EVENT_FILE_COMPLETE))
      paths.push_back(zelto::platform::NativePath(reinterpret_cast<const DRIVER_FILE_RECORD*>(a)->path));
    return paths;
  }
  // A direct capture into Clip-NN.zlt, under way in the first scene.
  void CaptureInTheFirstScene() {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(receive->SetOptions(15), S_OK);
    ASSERT_EQ(receive->SetFileName(L"Clip-%02d.zlt", 1), S_OK);
    ASSERT_EQ(receive->StartDirect(), S_OK);
    ASSERT_EQ(deck->SendCommand(DECK_COMMAND_SEEK_ATN | kTracksPerSecond), S_OK);
    ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_FILE_CREATED, 1));
  }
  bool WaitForEvent(DWORD code, std::size_t count) { return events.WaitForCount(code, count); }
  std::filesystem::path File(const std::string& name) const { return folder / name; }

  std::filesystem::path folder;
  EventWindow events;
  SimulatedDriver driver;
  Ref<ISmartControl> control;
  Ref<IDeckControl> deck;
  Ref<IStreamReceive> receive;
  DWORD cookie = 0;
};

TEST_F(CaptureTest, RefusesWhatItCannotUse) {
  Start();
  EXPECT_EQ(receive->SetFileName(L"%s-%02d.zlt", 1), E_INVALIDARG);
  EXPECT_EQ(receive->AddBatchItem(100, 0, L"..\\out-%02d.zlt", 1), E_INVALIDARG);
  EXPECT_EQ(receive->SetOptions(0x3F), E_INVALIDARG);
  const GUID other = zelto::driver::DriverGuid(0x99);
  const GUID_LIST types{1, const_cast<GUID*>(&other)};
  EXPECT_EQ(receive->SetStreamTypes(&types), E_INVALIDARG);
  EXPECT_EQ(receive->StartDirect(), E_UNEXPECTED) << "no name given";
  EXPECT_EQ(receive->StartBatch(), E_UNEXPECTED) << "no section given";
  ASSERT_EQ(receive->SetFileName(L"Clip-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->StartDirect(), S_OK);
  EXPECT_NE(receive->StartDirect(), S_OK) << "one capture at a time";
  EXPECT_EQ(receive->Abort(), S_OK);
  EXPECT_TRUE(std::filesystem::is_empty(folder)) << "nothing played, nothing written";
}

TEST_F(CaptureTest, DirectCaptureSplitsAtTheSizeLimitAndReportsEachPart) {
  Start();
  ASSERT_EQ(receive->SetOptions(31), S_OK);
  ASSERT_EQ(receive->SetMaxFileSize(20 * kFrameBytes), S_OK);
  ASSERT_EQ(receive->SetFileName(L"Clip-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->StartDirect(), S_OK);
  // The first scene, 2 s: 50 frames in parts of 20, 20 and 10.
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_SEEK_ATN | kTracksPerSecond), S_OK);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE, DECK_STATE_STOP));
  ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_FILE_COMPLETE, 2));
  ASSERT_EQ(receive->Abort(), S_OK);
  ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_FILE_COMPLETE, 3));

  EXPECT_EQ(CaptureCodes(), (std::vector<DWORD>{3, 4, 3, 4, 3, 4}));
  EXPECT_EQ(Completed(), (std::vector<std::filesystem::path>{File("Clip-01.zlt"), File("Clip-02.zlt"),
                                                               File("Clip-03.zlt")}));
  std::uint64_t total = 0;
  for (const auto& part : Completed()) {
    const std::uint64_t size = std::filesystem::file_size(part);
    EXPECT_LE(size, 20 * kFrameBytes + 4096) << part;
    total += size;
  }
  // 50 frames at the stream rate, within what a container adds.
  EXPECT_NEAR(static_cast<double>(total), 50.0 * kFrameBytes, 0.03 * 50 * kFrameBytes);
  EXPECT_FALSE(std::filesystem::exists(File("Clip-04.zlt")));
}

TEST_F(CaptureTest, BatchSearchesEachSectionAndCapturesItsScene) {
  Start();
  ASSERT_EQ(receive->SetOptions(15), S_OK);
  ASSERT_EQ(receive->ClearBatch(), S_OK);
  // In-points in hundredths of a second: inside the second scene, then on
  // blank tape before the first (the search goes on to it), then past the
  // last scene (nothing to capture).
  ASSERT_EQ(receive->AddBatchItem(500, 0, L"Tape-001-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->AddBatchItem(50, 0, L"Tape-002-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->AddBatchItem(700, 0, L"Tape-003-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->StartBatch(), S_OK);
  ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_BATCH_COMPLETE, 1));

  EXPECT_EQ(CaptureCodes(), (std::vector<DWORD>{27, 28, 3, 4, 25, 27, 28, 3, 4, 25, 27, 28, 25, 23}));
  EXPECT_EQ(Completed(),
            (std::vector<std::filesystem::path>{File("Tape-001-01.zlt"), File("Tape-002-01.zlt")}));
  // From 5 s to the scene's end at 6 s, and the whole first scene.
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(File("Tape-001-01.zlt"))), 25.0 * kFrameBytes,
              0.05 * 25 * kFrameBytes);
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(File("Tape-002-01.zlt"))), 50.0 * kFrameBytes,
              0.05 * 50 * kFrameBytes);
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_STOP), S_OK);
}

TEST_F(CaptureTest, FaultsEndTheCaptureWithAnEventAndKeepTheFiles) {
  Start();
  ASSERT_EQ(receive->SetOptions(15), S_OK);
  ASSERT_EQ(receive->SetFileName(L"Clip-%02d.zlt", 1), S_OK);

  // A file that shows up late is reported before it exists; one that never
  // shows is still reported complete with its name.
  driver.Panel().DelayFileAppearance(2000);
  ASSERT_EQ(receive->StartDirect(), S_OK);
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), S_OK);
  ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_FILE_CREATED, 1));
  EXPECT_FALSE(std::filesystem::exists(File("Clip-01.zlt")));
  ASSERT_EQ(receive->Abort(), S_OK);
  ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_FILE_COMPLETE, 1));
  EXPECT_TRUE(std::filesystem::exists(File("Clip-01.zlt"))) << "there by the time it is complete";

  driver.Panel().HideFiles(1);
  ASSERT_EQ(receive->SetFileName(L"Hidden-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->StartDirect(), S_OK);
  ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_FILE_CREATED, 2));
  ASSERT_EQ(receive->Abort(), S_OK);
  ASSERT_TRUE(WaitForEvent(DRIVER_EVENT_FILE_COMPLETE, 2));
  EXPECT_EQ(Completed().back(), File("Hidden-01.zlt"));
  EXPECT_FALSE(std::filesystem::exists(File("Hidden-01.zlt")));

  // A disk that fills: the file is closed and kept, then a device error.
  driver.Panel().FillDiskAfter(10 * kFrameBytes);
  ASSERT_EQ(receive->SetFileName(L"Full-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->StartDirect(), S_OK);
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_CAPTURE_WRITE));
  EXPECT_EQ(Completed().back(), File("Full-01.zlt"));
  EXPECT_LE(std::filesystem::file_size(File("Full-01.zlt")), 10 * kFrameBytes + 4096);
  EXPECT_TRUE(driver.Panel().AwaitCaptureEnd(20000));
}

TEST_F(CaptureTest, RemovalEndsTheCaptureWithoutAWordAndKeepsItsFile) {
  ASSERT_NO_FATAL_FAILURE(CaptureInTheFirstScene());
  driver.Panel().RemoveDevice();
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED));
  EXPECT_TRUE(driver.Panel().AwaitCaptureEnd(20000));
  EXPECT_TRUE(events.Arguments(DRIVER_EVENT_FILE_COMPLETE).empty()) << "an unplugged camcorder tells nothing";
  EXPECT_TRUE(std::filesystem::exists(File("Clip-01.zlt")));
  driver.Panel().ReconnectDevice();
}

TEST_F(CaptureTest, AFailureOnTheCamcordersThreadTakesItOffTheBusAndKeepsTheFile) {
  ASSERT_NO_FATAL_FAILURE(CaptureInTheFirstScene());
  // Nothing moves the model or posts its events any more: the camcorder is
  // gone, and says so itself, once.
  driver.Panel().BreakThread();
  ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED));
  EXPECT_TRUE(driver.Panel().AwaitCaptureEnd(20000));
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_STOP), kErrorDeviceRemoved) << "every later call fails";
  EXPECT_TRUE(std::filesystem::exists(File("Clip-01.zlt")));
  ASSERT_TRUE(events.Mark());
  ASSERT_TRUE(events.WaitForCount(EventWindow::kMarker, 1));
  EXPECT_EQ(events.Arguments(DRIVER_EVENT_DEVICE_ERROR).size(), 1u);
  zelto::testing::ExpectEscapedExceptions(1);
}

}  // namespace
