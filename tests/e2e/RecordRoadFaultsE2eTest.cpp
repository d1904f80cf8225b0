// The recording roads (batch: the library brings the deck into recording;
// direct: the deck already records, the library sends the data) run
// through the library with every driver call they make failing in turn
// (see RoadSweep.h). Whatever fails, the start returns within its written
// bound, the host hears one end once the data started (a batch start that
// gives up on the deck is written to report nothing), a complete recording
// left the whole file on the tape, and the device records cleanly again.
#include "host/devevents/OxRecordingEvent.h"
#include "simulator/CaptureStreamWriter.h"
#include "tests/e2e/RoadSweep.h"

namespace {

using namespace Orvex;
using e2e::Method;
using RecordingRecorder = e2e::Recorder<OxRecordingEvent>;

const std::vector<Method> kRecordMethods = {Method::SendCommand,      Method::GetStatus,          Method::GetTimeCode,
                                            Method::SetRecordMode,    Method::SetTransmitFile,    Method::SetTransmitMargins,
                                            Method::StartTransmit,    Method::StopTransmit};

class RecordRoadFaultsE2e : public e2e::RoadSweepTest {
protected:
  RecordRoadFaultsE2e() {
    config.camcorder.cassette = Cassette();
    timeScale = 0.05;
  }
  void SetUp() override {
    e2e::RoadSweepTest::SetUp();
    // A capture file of this camcorder's own: 0.4 s of pictures.
    source = folder / "source.zlt";
    std::string error;
    auto writer = zelto::sim::CaptureStreamWriter::Create(source, 25, true, &error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->WriteFrames(7, 0, 10, &error)) << error;
    ASSERT_TRUE(writer->Close(&error)) << error;
  }
  void Listen() override {
    recording.WakeOnEvent(arrived);
    device->AddEventListener(&recording);
  }
  void Unlisten() override {
    if (device) device->RemoveEventListener(&recording);
  }

  // One scene, then blank tape where the deck stands.
  static zelto::sim::Cassette Cassette() { return e2e::Tape(20, 4, {e2e::SceneAt(1, 2)}); }

  // The fixture's cassette, freshly loaded, the library's deck told so.
  void LoadAfresh() { LoadCassette(Cassette()); }
  std::size_t CountFrom(std::size_t from, _OxRecordingEventID id) {
    std::size_t n = 0;
    const auto entries = recording.Entries();
    for (std::size_t i = from; i < entries.size(); ++i) n += entries[i].value.GetEventID() == id;
    return n;
  }
  std::size_t Ends(std::size_t from) {
    return CountFrom(from, OX_RECORDING_COMPLETE) + CountFrom(from, OX_RECORDING_ERROR_STOP);
  }

  // One run: the file recorded from the deck standing in blank tape. A run
  // with data flowing waits for its end; the library's own stop follows
  // that end. A start that gave up is stopped by the host.
  void Run(bool clean, bool batch) {
    EXPECT_EQ(recording.Count(), heardByLastRun) << "a recording event heard after the last run had ended";
    ASSERT_NO_FATAL_FAILURE(LoadAfresh());
    if (!batch) {
      // The deck records already (left so by another program): set below the
      // driver's faults. A camcorder taken away or a cassette taken out by
      // now leaves a deck that does not record, which the library must meet.
      const bool recordingAlready = Panel().SetRecordMode(TRUE) == S_OK &&
                                    Panel().SendCommand(DECK_COMMAND_RECORD_PAUSE) == S_OK &&
                                    Panel().SendCommand(DECK_COMMAND_RECORD) == S_OK;
      if (clean) {
        ASSERT_TRUE(recordingAlready);
      }
    }
    const std::size_t from = recording.Count();
    std::vector<_OxRecordingItem> items(1);
    items[0].path = OxString(zelto::platform::WidePath(source).c_str());
    items[0].start = 0;
    items[0].end = 40;
    device->SetRecordingList(items);
    // A batch start is written to block for the deck 65 s of the process clock at most.
    const auto bound = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(65 * zelto::platform::TimeScale()) + e2e::kCallBound);
    EXPECT_LT(e2e::Timed([&] {
                if (batch)
                  device->StartBatchRecording(10, 10);
                else
                  device->StartDirectRecording(10, 10);
              }),
              bound);
    const bool dataStarted = CountFrom(from, OX_RECORDING_DATA_START) > 0;
    if (clean) {
      EXPECT_TRUE(dataStarted);
    }
    if (dataStarted) {
      EXPECT_TRUE(Await([&] { return Ends(from) > 0; })) << "the recording never ended";
    } else {
      device->StopBatchRecording();
    }
    // A camcorder taken away or its cassette out during the start may end
    // it, heard with its reason.
    if ((Panel().Removed() || Panel().EventActionTaken()) && !dataStarted) {
      EXPECT_LE(Ends(from), 1u);
    } else {
      EXPECT_EQ(Ends(from), dataStarted ? 1u : 0u);
    }
    const std::optional<zelto::sim::Cassette> tape = Panel().CurrentCassette();
    // (Unless the cassette came out after the recording's end.)
    EXPECT_TRUE(tape || Panel().EventActionTaken()) << "the cassette is gone";
    if (CountFrom(from, OX_RECORDING_COMPLETE) > 0 && tape) {
      // A complete recording put the whole file on the tape, after the scene there was.
      // (Where on the tape, and its margins, follow the deck's timing and what the
      // driver took.)
      ASSERT_EQ(tape->scenes.size(), 2u);
      const std::optional<zelto::sim::SceneContent>& content = tape->scenes[1].content;
      ASSERT_TRUE(content);
      EXPECT_EQ(zelto::platform::PathFromUtf8(content->file), source);
      EXPECT_EQ(content->fileSize, std::filesystem::file_size(source));
      EXPECT_EQ(content->fromPacket, 0u);
      EXPECT_EQ(content->toPacket, std::filesystem::file_size(source) / zelto::sim::kPacketBytes);
    }
    if (clean) {
      EXPECT_EQ(CountFrom(from, OX_RECORDING_COMPLETE), 1u);
    }
    EXPECT_TRUE(Await([&] { return Panel().Transmit() != zelto::sim::DeckModel::TransmitState::Started; }))
        << "the driver's transmit went on";
    heardByLastRun = recording.Count();
  }

  Road RecordRoad(bool batch) {
    return Road{kRecordMethods, [this, batch](bool clean) { Run(clean, batch); }};
  }

  RecordingRecorder recording;
  std::filesystem::path source;
  std::size_t heardByLastRun = 0;
};

TEST_F(RecordRoadFaultsE2e, ABatchRecordingEndsOnceWhicheverCallFails) {
  EXPECT_GT(Sweep(RecordRoad(true)), 0u);
}

TEST_F(RecordRoadFaultsE2e, ADirectRecordingEndsOnceWhicheverCallFails) {
  EXPECT_GT(Sweep(RecordRoad(false)), 0u);
}

TEST_F(RecordRoadFaultsE2e, ABatchRecordingEndsOnceWhereverTheCamcorderIsRemoved) {
  EXPECT_GT(SweepEvents(RecordRoad(true), e2e::EventAction::Remove), 0u);
}

TEST_F(RecordRoadFaultsE2e, ABatchRecordingEndsOnceWhereverTheCassetteIsEjected) {
  EXPECT_GT(SweepEvents(RecordRoad(true), e2e::EventAction::Eject), 0u);
}

TEST_F(RecordRoadFaultsE2e, ADirectRecordingEndsOnceWhereverTheCamcorderIsRemoved) {
  EXPECT_GT(SweepEvents(RecordRoad(false), e2e::EventAction::Remove), 0u);
}

TEST_F(RecordRoadFaultsE2e, ADirectRecordingEndsOnceWhereverTheCassetteIsEjected) {
  EXPECT_GT(SweepEvents(RecordRoad(false), e2e::EventAction::Eject), 0u);
}

}  // namespace
