// The simulated driver's file-to-tape path through IStreamTransmit, as the
// library drives it: a file recorded while the deck records and captured
// back from the tape, and every way a recording ends with the event that
// says so.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "simulator/CaptureStreamWriter.h"
#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

std::vector<char> ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Transport packets on PID 0x100 whose payloads count on, so that a packet
// out of place is noticed.
void WriteCountingStream(const std::filesystem::path& file, std::size_t packets) {
  std::ofstream out(file, std::ios::binary);
  for (std::size_t i = 0; i < packets; ++i) {
    char packet[188];
    packet[0] = 0x47;
    packet[1] = 0x01;
    packet[2] = 0x00;
    packet[3] = static_cast<char>(0x10 | (i & 0x0F));
    for (int b = 4; b < 188; ++b) packet[b] = static_cast<char>((i * 7 + static_cast<std::size_t>(b)) & 0xFF);
    out.write(packet, sizeof packet);
  }
}

bool IsNullPacket(const char* packet) {
  return static_cast<unsigned char>(packet[0]) == 0x47 && (packet[1] & 0x1F) == 0x1F &&
         static_cast<unsigned char>(packet[2]) == 0xFF;
}

class TransmitTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    folder = std::filesystem::temp_directory_path() /
             (std::string("zelto-transmit-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    Stop();
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
    ComTest::TearDown();
  }

  // An 8 s tape with one scene at 1-2 s, the head at its end, or where asked.
  void Start(double positionSeconds = 2.0) {
    DriverConfig config = QuickConfig();
    Cassette tape;
    tape.lengthTracks = 8 * kTracksPerSecond;
    Scene a;
    a.startTrack = 1 * kTracksPerSecond;
    a.endTrack = 2 * kTracksPerSecond;
    a.startFrame = 1000;
    tape.scenes = {a};
    tape.positionTrack = static_cast<std::uint32_t>(positionSeconds * kTracksPerSecond);
    config.camcorder.cassette = tape;
    ASSERT_EQ(driver.Register(config), S_OK);
    ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IStreamTransmit, transmit.OutVoid()), S_OK);
    ASSERT_EQ(control->AdviseWindow(events->Handle(), &cookie), S_OK);
  }
  void Stop() {
    if (cookie && control.p) control->UnadviseWindow(cookie);
    cookie = 0;
    transmit.Reset();
    receive.Reset();
    deck.Reset();
    control.Reset();
    driver.Unregister();
  }
  // As the library does it: the file and margins, record pause, record, then
  // the data.
  void Record(const std::filesystem::path& file, DWORD firstMargin, DWORD secondMargin) {
    ASSERT_EQ(transmit->SetFile(zelto::platform::WidePath(file).c_str()), S_OK);
    ASSERT_EQ(transmit->SetMargins(firstMargin, secondMargin), S_OK);
    ASSERT_EQ(deck->SendCommand(DECK_COMMAND_RECORD_PAUSE), S_OK);
    ASSERT_EQ(deck->SendCommand(DECK_COMMAND_RECORD), S_OK);
    ASSERT_EQ(transmit->Start(), S_OK);
  }
  // Waits for one of the recording's ending events; its code, or 0.
  DWORD AwaitEnd() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const SeenEvent& e : events->Events())
        if (e.code == DRIVER_EVENT_RECORDING_COMPLETE || e.code == DRIVER_EVENT_RECORDING_ERROR) return e.code;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return 0;
  }
  std::size_t EndingEvents() {
    return events->Arguments(DRIVER_EVENT_RECORDING_COMPLETE).size() +
           events->Arguments(DRIVER_EVENT_RECORDING_ERROR).size();
  }

  std::filesystem::path folder;
  std::unique_ptr<EventWindow> events = std::make_unique<EventWindow>();
  SimulatedDriver driver;
  Ref<ISmartControl> control;
  Ref<IDeckControl> deck;
  Ref<IStreamTransmit> transmit;
  Ref<IStreamReceive> receive;
  DWORD cookie = 0;
};

}  // namespace

TEST_F(TransmitTest, ARecordedFileIsCapturedBackAsItWasBetweenItsMargins) {
  Start();
  // A capture file of this camcorder's own, 0.4 s of pictures (on a build
  // without video, only its tables and padding: the bytes still count).
  const std::filesystem::path source = folder / "source.zlt";
  {
    std::string error;
    auto writer = CaptureStreamWriter::Create(source, 25, true, &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->WriteFrames(7, 0, 10, &error)) << error;
    ASSERT_TRUE(writer->Close(&error)) << error;
  }
  const std::vector<char> sent = ReadAll(source);
  ASSERT_EQ(sent.size() % 188, 0u);
  ASSERT_FALSE(sent.empty() || IsNullPacket(sent.data())) << "where the file begins must show";
  // The deck records blank stream from its record command until the data
  // starts: at most as many tracks as the clock moved over the two calls.
  const ULONGLONG beforeRecord = GetTickCount64();
  Record(source, 10, 20);  // 0.1 s before, 0.2 s after
  const std::uint64_t mostBlankTracks = (GetTickCount64() - beforeRecord) * kTracksPerSecond / 1000 + 1;
  ASSERT_EQ(AwaitEnd(), static_cast<DWORD>(DRIVER_EVENT_RECORDING_COMPLETE));
  EXPECT_EQ(driver.Panel().DeckState(), DECK_STATE_RECORD_PAUSE);
  ASSERT_EQ(deck->SendCommand(DECK_COMMAND_STOP), S_OK);

  // The scene follows the one before it on the tape and in time code.
  const std::optional<Cassette> tape = driver.Panel().CurrentCassette();
  ASSERT_TRUE(tape);
  ASSERT_EQ(tape->scenes.size(), 2u);
  const Scene& recorded = tape->scenes[1];
  EXPECT_EQ(recorded.startTrack, 2 * kTracksPerSecond);
  EXPECT_EQ(recorded.startFrame, tape->scenes[0].FrameAt(tape->scenes[0].endTrack));

  // A batch section from the scene's start captures it whole.
  ASSERT_EQ(control->QueryInterface(IID_IStreamReceive, receive.OutVoid()), S_OK);
  ASSERT_EQ(receive->SetFolder(zelto::platform::WidePath(folder).c_str()), S_OK);
  ASSERT_EQ(receive->SetOptions(15), S_OK);
  ASSERT_EQ(receive->AddBatchItem(200, 0, L"Back-001-%02d.zlt", 1), S_OK);
  ASSERT_EQ(receive->StartBatch(), S_OK);
  ASSERT_TRUE(events->WaitForCount(DRIVER_EVENT_BATCH_COMPLETE, 1));

  const std::vector<char> back = ReadAll(folder / "Back-001-01.zlt");
  ASSERT_EQ(back.size() % 188, 0u);
  EXPECT_EQ(back.size(), PacketAtTrack(recorded.endTrack - recorded.startTrack) * 188) << "the rate holds";

  // Null packets, the file's packets in order, null packets.
  std::size_t first = 0;
  while (first < back.size() && IsNullPacket(&back[first])) first += 188;
  const std::size_t margin = 10 * 5300 * 300 / 100 / 188;  // the first margin's null packets
  EXPECT_GE(first / 188, margin) << "the first margin is kept whole";
  EXPECT_LE(first / 188, margin + PacketAtTrack(mostBlankTracks)) << "no more blank than the deck recorded";
  ASSERT_GE(back.size(), first + sent.size());
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), back.begin() + static_cast<std::ptrdiff_t>(first)))
      << "the file's packets, in order, where the blank ends";
  std::size_t others = 0;
  for (std::size_t at = first + sent.size(); at < back.size(); at += 188)
    if (!IsNullPacket(&back[at])) ++others;
  EXPECT_EQ(others, 0u) << "the second margin holds null packets only";

  // The scene lasts as long as its blank and the stream did, at 1,590,000
  // bytes a second.
  const double streamSeconds = static_cast<double>(first + sent.size()) / 1'590'000 + 0.2;
  EXPECT_NEAR((recorded.endTrack - recorded.startTrack) / double(kTracksPerSecond), streamSeconds, 0.01);
}

TEST_F(TransmitTest, EveryRecordingEndsWithOneEventThatSaysHow) {
  struct Case {
    const char* what;
    double position;                                           // seconds of the 8 s tape
    std::function<void(Camcorder&, const std::filesystem::path&)> before;  // given the file
    std::function<void(Camcorder&)> during;                    // once the deck records
    bool fileTaken;
    DWORD expected;
  };
  auto nothing = [](Camcorder&, const std::filesystem::path&) {};
  auto none = [](Camcorder&) {};
  const Case cases[] = {
      {"the whole file", 2.0, nothing, none, true, DRIVER_EVENT_RECORDING_COMPLETE},
      {"a file that is no transport stream", 2.0,
       [](Camcorder&, const std::filesystem::path& file) { std::ofstream(file) << "not a stream\n"; }, none, false,
       DRIVER_EVENT_RECORDING_ERROR},
      {"a file that cannot be read to its end", 2.0,
       [](Camcorder& camcorder, const std::filesystem::path&) { camcorder.BreakTransmitFile(500); }, none, true,
       DRIVER_EVENT_RECORDING_ERROR},
      {"a write-protected cassette", 2.0,
       [](Camcorder& camcorder, const std::filesystem::path&) { camcorder.SetWriteProtected(true); }, none, true,
       DRIVER_EVENT_RECORDING_ERROR},
      {"the end of the tape", 7.9, nothing, none, true, DRIVER_EVENT_RECORDING_ERROR},
      {"an ejection", 2.0, nothing, [](Camcorder& camcorder) { camcorder.Eject(); }, true,
       DRIVER_EVENT_RECORDING_ERROR},
      {"a stalled transport", 2.0, nothing, [](Camcorder& camcorder) { camcorder.StallTransport(true); }, true,
       DRIVER_EVENT_RECORDING_ERROR},
      {"the camcorder unplugged", 2.0, nothing, [](Camcorder& camcorder) { camcorder.RemoveDevice(); }, true,
       DRIVER_EVENT_RECORDING_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    events = std::make_unique<EventWindow>();
    Start(c.position);
    const std::filesystem::path file = folder / "clip.m2t";
    std::filesystem::remove(file);
    WriteCountingStream(file, 2000);  // 0.24 s
    c.before(driver.Panel(), file);
    const HRESULT taken = transmit->SetFile(zelto::platform::WidePath(file).c_str());
    EXPECT_EQ(SUCCEEDED(taken), c.fileTaken);
    deck->SendCommand(DECK_COMMAND_RECORD_PAUSE);
    deck->SendCommand(DECK_COMMAND_RECORD);
    transmit->Start();  // its result tells nothing the event does not
    if (driver.Panel().DeckState() == DECK_STATE_RECORD) c.during(driver.Panel());
    EXPECT_EQ(AwaitEnd(), c.expected);
    // Nothing more follows: what the camcorder posts next comes after it.
    deck->SendCommand(DECK_COMMAND_STOP);
    driver.Panel().PostEvent(99, 0);
    ASSERT_TRUE(events->WaitForCount(99, 1));
    EXPECT_EQ(EndingEvents(), 1u);
    EXPECT_NE(driver.Panel().DeckState(), DECK_STATE_RECORD);
    if (driver.Panel().Removed()) {
      const auto& seen = events->Events();
      const auto removed = std::find_if(seen.begin(), seen.end(), [](const SeenEvent& e) {
        return e.code == DRIVER_EVENT_DEVICE_ERROR && e.argument == DRIVER_ERROR_DEVICE_REMOVED;
      });
      const auto failed = std::find_if(seen.begin(), seen.end(),
                                       [](const SeenEvent& e) { return e.code == DRIVER_EVENT_RECORDING_ERROR; });
      EXPECT_LT(removed, failed) << "the removal is told first";
      driver.Panel().ReconnectDevice();
    }
    Stop();
  }
}

TEST_F(TransmitTest, StartWithoutAFileAndWhatSetFileRefuses) {
  Start();
  EXPECT_EQ(transmit->SetFile(nullptr), E_POINTER);
  EXPECT_EQ(transmit->SetFile(L""), S_OK) << "an empty path lets go of the file";
  EXPECT_NE(transmit->Start(), S_OK);
  ASSERT_TRUE(events->WaitForCount(DRIVER_EVENT_RECORDING_ERROR, 1)) << "a start with nothing to send fails";
  EXPECT_EQ(transmit->SetMargins(360001, 0), E_INVALIDARG) << "more than an hour";
  const std::filesystem::path missing = folder / "missing.m2t";
  EXPECT_EQ(transmit->SetFile(zelto::platform::WidePath(missing).c_str()), E_INVALIDARG);
  EXPECT_EQ(transmit->SetFile(zelto::platform::WidePath(folder).c_str()), E_INVALIDARG) << "a folder";
  // A cut-off last packet is left out, not a reason to refuse the file.
  const std::filesystem::path cut = folder / "cut.m2t";
  WriteCountingStream(cut, 100);
  std::filesystem::resize_file(cut, 100 * 188 - 50);
  EXPECT_EQ(transmit->SetFile(zelto::platform::WidePath(cut).c_str()), S_OK);
  driver.Panel().BreakTransmitFile(0);
  EXPECT_LT(transmit->SetFile(zelto::platform::WidePath(cut).c_str()), 0) << "the read fault";
}
