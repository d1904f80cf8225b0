// Tape to files through the library, as a host captures, against the
// simulated camcorder: the batch road from the list to the last event with
// the files read back as what a player gets, a direct capture split into
// parts, and the faults a capture meets ending with the host told and every
// file kept, never with a hang.
#include <fstream>

#include "host/devevents/OxCapturingEvent.h"
#include "simulator/CaptureStreamWriter.h"
#include "tests/e2e/E2eSupport.h"

#if ZELTO_SIM_HAVE_FFMPEG
extern "C" {
#include <libavformat/avformat.h>
}
#endif

namespace {

using namespace Orvex;
using CaptureRecorder = e2e::Recorder<OxCapturingEvent>;

constexpr double kStreamRate = 1'590'000.0;

// Three scenes of 2 s with gaps, 25 frames a second.
zelto::sim::DriverConfig ThreeScenes() {
  zelto::sim::DriverConfig config;
  config.camcorder.cassette =
      e2e::Tape(20, 0, {e2e::SceneAt(1, 3), e2e::SceneAt(5, 7, false), e2e::SceneAt(10, 12)});
  config.camcorder.timing = e2e::QuickTiming();
  return config;
}

// What a player finds in a capture file: its length in seconds, or, in the
// build without video, whether it is a transport stream at all.
struct Played {
  bool transportStream = false;
  bool mpeg2Video = false;
  double seconds = 0;
};

Played Play(const std::filesystem::path& file) {
  Played played;
#if ZELTO_SIM_HAVE_FFMPEG
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, file.string().c_str(), nullptr, nullptr) != 0) return played;
  if (avformat_find_stream_info(input, nullptr) >= 0) {
    played.transportStream = std::string(input->iformat->name) == "mpegts";
    played.mpeg2Video = input->nb_streams == 1 && input->streams[0]->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO;
    played.seconds = static_cast<double>(input->duration) / AV_TIME_BASE;
  }
  avformat_close_input(&input);
#else
  // Packets of 188 bytes, each with its sync byte; the length from the rate.
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  played.transportStream = !bytes.empty() && bytes.size() % 188 == 0;
  for (std::size_t i = 0; i < bytes.size() && played.transportStream; i += 188)
    played.transportStream = bytes[i] == 0x47;
  played.mpeg2Video = true;  // nothing to decode in this build
  played.seconds = static_cast<double>(bytes.size()) / kStreamRate;
#endif
  return played;
}

class CaptureE2e : public e2e::CamcorderTest {
protected:
  CaptureE2e() {
    config = ThreeScenes();
    timeScale = 0.25;  // the tape plays four times as fast natively
  }
  void SetUp() override {
    e2e::CamcorderTest::SetUp();
    captures = folder / "captures";
    std::filesystem::create_directories(captures);
    OxUnique::GetInstance().SetCaptureFolder(OxString(zelto::platform::WidePath(captures).c_str()));
    if (device) device->AddEventListener(&capturing);
  }
  void TearDown() override {
    if (device) device->RemoveEventListener(&capturing);
    e2e::CamcorderTest::TearDown();
  }

  std::vector<_OxCapturingEventID> Ids() {
    std::vector<_OxCapturingEventID> ids;
    for (const auto& e : capturing.Entries()) ids.push_back(e.value.GetEventID());
    return ids;
  }
  long WaitForCapture(_OxCapturingEventID id, std::size_t from = 0) {
    return capturing.WaitFor(from, [&](const CaptureRecorder::Entry& e) { return e.value.GetEventID() == id; });
  }
  // Waits until `count` events of this kind have been heard.
  bool WaitForCaptures(_OxCapturingEventID id, std::size_t count) {
    std::size_t from = 0;
    for (std::size_t seen = 0; seen < count; ++seen) {
      const long at = WaitForCapture(id, from);
      if (at < 0) return false;
      from = static_cast<std::size_t>(at) + 1;
    }
    return true;
  }
  std::filesystem::path File(const char* name) const { return captures / name; }

  _OxBatchCapturingParam BatchParam() const {
    _OxBatchCapturingParam param;
    param.folderPath = OxString(zelto::platform::WidePath(captures).c_str());
    param.fileBaseName = OxString(L"Tape");
    param.firstFileNumber = 1;
    return param;
  }
  _OxDirectCapturingParam DirectParam() const {
    _OxDirectCapturingParam param;
    param.folderPath = OxString(zelto::platform::WidePath(captures).c_str());
    param.fileBaseName = OxString(L"Clip");
    return param;
  }

  CaptureRecorder capturing;
  std::filesystem::path captures;
};

TEST_F(CaptureE2e, ABatchOfThreeScenesBecomesThreePlayableFiles) {
  std::vector<_OxBatchCapturingItem> items;
  const std::optional<zelto::sim::Cassette> tape = Panel().CurrentCassette();
  ASSERT_TRUE(tape);
  for (const auto& scene : tape->scenes) {
    _OxBatchCapturingItem item;
    item.inPoint = scene.startTrack / 3;  // hundredths of a second
    item.outPoint = scene.endTrack / 3;
    items.push_back(item);
  }
  device->SetBatchCapturingList(BatchParam(), items);
  device->StartBatchCapturing();

  // Progress as the host polls it, after every event, until the batch is
  // done. While a section is captured it only grows; between sections the
  // library counts the section just completed twice until the next search
  // begins, so the figure may fall back then.
  std::vector<unsigned> capturingPercents;
  for (std::size_t heardSoFar = 0;;) {
    _OxBatchCapturingProgress progress;
    device->GetBatchCapturingProgress(progress);
    EXPECT_EQ(progress.itemCount, 3u);
    EXPECT_LE(progress.percent, 100u);
    const long next = capturing.WaitFor(heardSoFar, [](const CaptureRecorder::Entry&) { return true; });
    ASSERT_GE(next, 0) << "the batch went quiet";
    heardSoFar = static_cast<std::size_t>(next) + 1;
    const _OxCapturingEventID id = capturing.Entries()[static_cast<std::size_t>(next)].value.GetEventID();
    if (id == OX_CAPTURING_COMPLETE_BATCH) break;
    if (id == OX_CAPTURING_SEARCH_OUT || id == OX_CAPTURING_CREATE_FILE) {
      device->GetBatchCapturingProgress(progress);
      capturingPercents.push_back(progress.percent);
    }
  }
  for (std::size_t i = 1; i < capturingPercents.size(); ++i)
    EXPECT_LE(capturingPercents[i - 1], capturingPercents[i]) << "sample " << i;
  _OxBatchCapturingProgress done;
  device->GetBatchCapturingProgress(done);
  EXPECT_EQ(done.filesDone, 3u);
  EXPECT_EQ(done.percent, 100u);
  device->StopBatchCapturing();

  // The road, in order, section after section.
  std::vector<_OxCapturingEventID> road;
  for (int i = 0; i < 3; ++i)
    road.insert(road.end(), {OX_CAPTURING_SEARCH_IN, OX_CAPTURING_SEARCH_OUT, OX_CAPTURING_CREATE_FILE,
                             OX_CAPTURING_COMPLETE_SECTION});
  road.push_back(OX_CAPTURING_COMPLETE_BATCH);
  EXPECT_EQ(Ids(), road);
  std::vector<std::string> created;
  for (const auto& e : capturing.Entries())
    if (e.value.GetEventID() == OX_CAPTURING_CREATE_FILE)
      created.push_back(zelto::platform::ToUtf8(e.value.GetFileName().GetStdString()));
  ASSERT_EQ(created.size(), 3u);
  EXPECT_EQ(zelto::platform::NativePath(zelto::platform::FromUtf8(created[0])), File("Tape-001-01.zlt"));

  for (const char* name : {"Tape-001-01.zlt", "Tape-002-01.zlt", "Tape-003-01.zlt"}) {
    SCOPED_TRACE(name);
    const Played played = Play(File(name));
    EXPECT_TRUE(played.transportStream);
    EXPECT_TRUE(played.mpeg2Video);
    EXPECT_NEAR(played.seconds, 2.0, 0.5);  // the scene, to a GOP
  }
  EXPECT_FALSE(std::filesystem::exists(File("Tape-004-01.zlt")));
}

TEST_F(CaptureE2e, ADirectCaptureIsSplitIntoPartsAndEndsPromptly) {
  _OxDirectCapturingParam param = DirectParam();
  param.splitKind = 1;
  param.splitSizeMegabytes = 1;  // about 16 frames a part
  device->SetDirectCapturingStructure(param);
  device->StartDirectCapturing();
  device->DeckPlay();
  // The first scene, 2 s: 50 frames in parts of at most 1 MiB, 16 + 16 +
  // 16 + 2 frames.
  ASSERT_GE(WaitForEvent(0, OX_NOTIFY_STREAMING_OFF), 0);
  ASSERT_TRUE(WaitForCaptures(OX_CAPTURING_CREATE_FILE, 4));
  device->AbortCapturing();
  const auto exitStarted = std::chrono::steady_clock::now();
  device->ExitDirectCapturing();
  EXPECT_LT(std::chrono::steady_clock::now() - exitStarted, std::chrono::milliseconds(2500))
      << "the first completed part already lets the exit through";
  device->DeckStop();

  std::uint64_t total = 0;
  int parts = 0;
  for (; std::filesystem::exists(captures / ("Clip-0" + std::to_string(parts + 1) + ".zlt")); ++parts) {
    const auto size = std::filesystem::file_size(captures / ("Clip-0" + std::to_string(parts + 1) + ".zlt"));
    EXPECT_LE(size, 1'048'576u + 4096);
    total += size;
  }
  EXPECT_EQ(parts, 4);
  EXPECT_NEAR(static_cast<double>(total) / kStreamRate, 2.0, 0.1);
  // Each part created, and each completed before the next; the exit does
  // not wait for the last part, whose report may come after the capture is
  // over and then reaches nobody.
  const std::vector<_OxCapturingEventID> ids = Ids();
  const std::vector<_OxCapturingEventID> expected = {OX_CAPTURING_CREATE_FILE, OX_CAPTURING_COMPLETE_FILE,
                                                     OX_CAPTURING_CREATE_FILE, OX_CAPTURING_COMPLETE_FILE,
                                                     OX_CAPTURING_CREATE_FILE, OX_CAPTURING_COMPLETE_FILE,
                                                     OX_CAPTURING_CREATE_FILE};
  ASSERT_GE(ids.size(), expected.size());
  EXPECT_EQ(std::vector<_OxCapturingEventID>(ids.begin(), ids.begin() + 7), expected);
  _OxDirectCapturingProgress progress;
  device->GetDirectCapturingProgress(progress);
  EXPECT_EQ(progress.filesCreated, static_cast<std::uint32_t>(parts));
}

// Each fault ends with the host told (or the capture ended as usual) and
// every file the camcorder wrote still there.
TEST_F(CaptureE2e, FaultsEndWithTheHostToldAndTheFilesKept) {
  // A disk that fills mid-scene: the capture stops, the host hears why.
  Panel().FillDiskAfter(20 * 63'600);
  _OxDirectCapturingParam first = DirectParam();
  device->SetDirectCapturingStructure(first);
  device->StartDirectCapturing();
  device->DeckPlay();
  const long stopped = WaitForCapture(OX_CAPTURING_ERROR_STOP);
  ASSERT_GE(stopped, 0);
  EXPECT_EQ(capturing.Entries()[static_cast<std::size_t>(stopped)].value.GetErrorID(), OX_CAPTURING_ERROR_FILE_WRITE);
  device->ExitDirectCapturing();
  device->DeckStop();
  EXPECT_TRUE(std::filesystem::exists(File("Clip-01.zlt")));
  Panel().ClearCaptureFaults();

  // A complete report that never comes: the exit waits its 3 s and goes on.
  const std::size_t from = capturing.Count();
  Panel().DropEvents(DRIVER_EVENT_FILE_COMPLETE, 1);
  _OxDirectCapturingParam second = DirectParam();
  second.fileBaseName = OxString(L"Dropped");
  device->SetDirectCapturingStructure(second);
  device->StartDirectCapturing();
  device->DeckPlay();
  ASSERT_GE(WaitForCapture(OX_CAPTURING_CREATE_FILE, from), 0);
  device->AbortCapturing();
  const auto exitStarted = std::chrono::steady_clock::now();
  device->ExitDirectCapturing();
  EXPECT_LT(std::chrono::steady_clock::now() - exitStarted, std::chrono::seconds(10)) << "bounded";
  EXPECT_TRUE(std::filesystem::exists(File("Dropped-01.zlt")));
  device->DeckStop();

  // A file that shows up 50 ms after its report is found by the library's
  // later looks; one that never shows is given up on without a word, and
  // the next part is reported as usual.
  auto createdNames = [&](std::size_t since) {
    std::vector<std::filesystem::path> names;
    const auto entries = capturing.Entries();
    for (std::size_t i = since; i < entries.size(); ++i)
      if (entries[i].value.GetEventID() == OX_CAPTURING_CREATE_FILE)
        names.push_back(zelto::platform::NativePath(entries[i].value.GetFileName().GetStdString()).filename());
    return names;
  };
  std::size_t mark = capturing.Count();
  Panel().DelayFileAppearance(50);
  _OxDirectCapturingParam late = DirectParam();
  late.fileBaseName = OxString(L"Late");
  device->SetDirectCapturingStructure(late);
  device->StartDirectCapturing();
  device->DeckPlay();
  ASSERT_GE(WaitForCapture(OX_CAPTURING_CREATE_FILE, mark), 0);
  EXPECT_EQ(createdNames(mark).front(), "Late-01.zlt");
  device->AbortCapturing();
  device->ExitDirectCapturing();
  device->DeckStop();

  mark = capturing.Count();
  Panel().HideFiles(1);
  _OxDirectCapturingParam hidden = DirectParam();
  hidden.fileBaseName = OxString(L"Hidden");
  hidden.splitKind = 1;
  hidden.splitSizeMegabytes = 1;
  device->SetDirectCapturingStructure(hidden);
  device->StartDirectCapturing();
  device->DeckPlay();
  ASSERT_GE(WaitForCapture(OX_CAPTURING_CREATE_FILE, mark), 0);
  EXPECT_EQ(createdNames(mark).front(), "Hidden-02.zlt") << "the first part never appeared";
  EXPECT_FALSE(std::filesystem::exists(File("Hidden-01.zlt")));
  device->AbortCapturing();
  device->ExitDirectCapturing();
  device->DeckStop();
}

TEST_F(CaptureE2e, ACamcorderRemovedMidSectionEndsTheBatchAndNothingHangs) {
  std::vector<_OxBatchCapturingItem> items(1);
  items[0].inPoint = 100;
  items[0].outPoint = 300;
  device->SetBatchCapturingList(BatchParam(), items);
  device->StartBatchCapturing();
  ASSERT_GE(WaitForCapture(OX_CAPTURING_CREATE_FILE), 0);
  Panel().RemoveDevice();
  const long stopped = WaitForCapture(OX_CAPTURING_ERROR_STOP);
  ASSERT_GE(stopped, 0);
  EXPECT_EQ(capturing.Entries()[static_cast<std::size_t>(stopped)].value.GetErrorID(),
            OX_CAPTURING_ERROR_DEVICE_REMOVED);
  device->StopBatchCapturing();
  EXPECT_TRUE(std::filesystem::exists(File("Tape-001-01.zlt")));
  EXPECT_TRUE(Panel().AwaitCaptureEnd(30000));
  // Teardown with the camcorder gone leaves nothing behind (the fixture checks).
  Panel().ReconnectDevice();
}

}  // namespace
