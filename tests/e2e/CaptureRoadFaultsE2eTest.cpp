// The capture roads (a batch, a direct capture, a whole cassette) run
// through the library with every driver call they make failing in turn (see
// RoadSweep.h). Whatever fails, the calls that start and end the capture
// return within their bounds, the host hears one end and nothing after it,
// every file it was told is complete holds what the tape holds (a clean
// capture of the same stretch, the simulated tape being the same on every
// pass), and the device captures cleanly again.
#include <set>

#include "host/devevents/OxCapturingEvent.h"
#include "host/devevents/OxScapturingEvent.h"
#include "simulator/CaptureStreamWriter.h"
#include "tests/e2e/RoadSweep.h"

namespace {

using namespace Orvex;
using e2e::Method;
using CaptureRecorder = e2e::Recorder<OxCapturingEvent>;
using ScapturingRecorder = e2e::Recorder<OxScapturingEvent>;

// The methods any capture road may call besides its receive calls: the
// deck's commands and the status the library reads on the driver's events.
const std::vector<Method> kReceiveMethods = {
    Method::SendCommand,      Method::GetStatus,      Method::GetTimeCode,   Method::ReceiveStop,
    Method::SetCaptureFolder, Method::SetCaptureFileName, Method::SetCaptureOptions, Method::StartCapture,
    Method::AbortCapture,     Method::SetMaxCaptureFileSize, Method::ClearBatch, Method::AddBatchItem,
    Method::StopBatchCapture};

class CaptureRoadFaultsE2e : public e2e::RoadSweepTest {
protected:
  CaptureRoadFaultsE2e() {
    config.camcorder.cassette = Cassette();
    timeScale = 0.05;
  }
  void SetUp() override {
    e2e::RoadSweepTest::SetUp();
    captures = folder / "captures";
    std::filesystem::create_directories(captures);
    OxUnique::GetInstance().SetCaptureFolder(OxString(zelto::platform::WidePath(captures).c_str()));
  }
  void Listen() override {
    capturing.WakeOnEvent(arrived);
    device->AddEventListener(&capturing);
  }
  void Unlisten() override {
    if (device) device->RemoveEventListener(&capturing);
  }

  // Two short scenes far apart (a whole-cassette run ends in the gap); the
  // tape stands in blank tape before the first.
  static zelto::sim::Cassette Cassette() {
    return e2e::Tape(20, 0.5, {e2e::SceneAt(1, 2), e2e::SceneAt(12, 13)});
  }

  // The index of the first capture event from `from` on that `id` names, or -1.
  long Find(std::size_t from, _OxCapturingEventID id) {
    const auto entries = capturing.Entries();
    for (std::size_t i = from; i < entries.size(); ++i)
      if (entries[i].value.GetEventID() == id) return static_cast<long>(i);
    return -1;
  }
  std::size_t CountFrom(std::size_t from, _OxCapturingEventID id) {
    std::size_t n = 0;
    const auto entries = capturing.Entries();
    for (std::size_t i = from; i < entries.size(); ++i) n += entries[i].value.GetEventID() == id;
    return n;
  }

  static std::filesystem::path FileOf(const OxCapturingEvent& e) {
    return zelto::platform::NativePath(e.GetFileName().GetStdString());
  }
  // The files of the sections the host heard complete from `from` on: those
  // created between a section's start and its completion.
  std::vector<std::filesystem::path> CompletedSections(std::size_t from) {
    std::vector<std::filesystem::path> done, open;
    const auto entries = capturing.Entries();
    for (std::size_t i = from; i < entries.size(); ++i) {
      const _OxCapturingEventID id = entries[i].value.GetEventID();
      if (id == OX_CAPTURING_SEARCH_IN) open.clear();
      if (id == OX_CAPTURING_CREATE_FILE) open.push_back(FileOf(entries[i].value));
      if (id == OX_CAPTURING_COMPLETE_SECTION) {
        done.insert(done.end(), open.begin(), open.end());
        open.clear();
      }
    }
    return done;
  }
  // The files the host heard complete from `from` on (a direct capture's).
  std::vector<std::filesystem::path> CompletedFiles(std::size_t from) {
    std::vector<std::filesystem::path> done;
    const auto entries = capturing.Entries();
    for (std::size_t i = from; i < entries.size(); ++i)
      if (entries[i].value.GetEventID() == OX_CAPTURING_COMPLETE_FILE) done.push_back(FileOf(entries[i].value));
    return done;
  }
  // Each file must hold what the clean capture of the same name (past the
  // run's own base name) held; the clean runs keep theirs as the reference.
  // Where the disk filled or the cassette came out, the one file being
  // written then was cut short (a direct capture's file holds what played).
  void CheckFiles(const std::vector<std::filesystem::path>& files, bool clean, std::size_t baseLength = 0) {
    std::size_t cut = 0;
    for (const auto& file : files) {
      const std::string name = file.filename().string().substr(baseLength);
      if (clean && !reference.count(name)) reference[name] = e2e::FileBytes(file);
      ASSERT_TRUE(reference.count(name)) << name << " was never captured cleanly";
      const std::vector<char> bytes = e2e::FileBytes(file);
      if (bytes == reference[name]) continue;
      const bool cutShort = !clean && (DiskFilled() || Panel().EventActionTaken());
      EXPECT_TRUE(cutShort && CutShortOf(bytes, reference[name]))
          << name << " differs from the tape" << (cutShort ? " (more than a cut)" : "");
      ++cut;
    }
    EXPECT_LE(cut, 1u) << "files the full disk cut short";
  }
  // A file cut short holds the tape's stream up to the cut, and then what
  // the writer held back (the muxer's tenth of a second).
  static bool CutShortOf(const std::vector<char>& file, const std::vector<char>& whole) {
    constexpr std::size_t kHeldBack = zelto::sim::CaptureStreamWriter::kStreamBytesPerSecond / 4;
    const std::size_t same = file.size() > kHeldBack ? file.size() - kHeldBack : 0;
    return file.size() < whole.size() && std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(same), whole.begin());
  }
  // What a run leaves is gone before the next: the driver's capture over,
  // the files removed.
  void ClearCaptures(bool awaitTheDriver = true) {
    if (awaitTheDriver) {
      EXPECT_TRUE(Panel().AwaitCaptureEnd(30000)) << "the driver's capture went on";
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(captures)) std::filesystem::remove(entry, ignored);
    heardByLastRun = capturing.Count();
  }
  // Nothing may reach the host between one run's end and the next run.
  void CheckQuietSinceLastRun() {
    EXPECT_EQ(capturing.Count(), heardByLastRun) << "a capture event heard after the last run had ended";
  }

  // The fixture's cassette, freshly loaded: it stands where it began.
  void LoadAfresh() { LoadCassette(Cassette()); }
  // Whether the host heard the stream go off, from device notification `from` on.
  bool StreamWentOff(std::size_t from) {
    const auto entries = heard.Entries();
    for (std::size_t i = from; i < entries.size(); ++i)
      if (entries[i].value == OX_NOTIFY_STREAMING_OFF && entries[i].thread != hostThread) return true;
    return false;
  }

  // The host captures both scenes as a batch, waits for its end and stops it.
  Road BatchRoad();
  // The host starts a direct capture, plays the first scene through and ends
  // the capture as the stream goes off. A direct capture has no end of its
  // own: the host ends it, and hears at most one error stop meanwhile.
  Road DirectRoad();

  CaptureRecorder capturing;
  std::filesystem::path captures;
  std::map<std::string, std::vector<char>> reference;
  std::size_t heardByLastRun = 0;
};

e2e::RoadSweepTest::Road CaptureRoadFaultsE2e::BatchRoad() {
  return Road{kReceiveMethods, [this](bool clean) {
                    CheckQuietSinceLastRun();
                    const std::size_t from = capturing.Count();
                    _OxBatchCapturingParam param;
                    param.folderPath = OxString(zelto::platform::WidePath(captures).c_str());
                    param.fileBaseName = OxString(L"Tape");
                    param.firstFileNumber = 1;
                    std::vector<_OxBatchCapturingItem> items(2);
                    items[0].inPoint = 100;
                    items[0].outPoint = 200;
                    items[1].inPoint = 1200;
                    items[1].outPoint = 1300;
                    device->SetBatchCapturingList(param, items);
                    EXPECT_LT(e2e::Timed([&] { device->StartBatchCapturing(); }), e2e::kCallBound);
                    const bool ended = Await([&] {
                      return Find(from, OX_CAPTURING_COMPLETE_BATCH) >= 0 || Find(from, OX_CAPTURING_ERROR_STOP) >= 0;
                    });
                    EXPECT_TRUE(ended) << "the batch never ended";
                    if (clean) {
                      EXPECT_GE(Find(from, OX_CAPTURING_COMPLETE_BATCH), 0);
                      EXPECT_EQ(CompletedSections(from).size(), 2u);
                    }
                    // The stop is written to pause for 2 s of the process clock.
                    EXPECT_LT(e2e::Timed([&] { device->StopBatchCapturing(); }), e2e::kCallBound);
                    EXPECT_EQ(CountFrom(from, OX_CAPTURING_COMPLETE_BATCH) + CountFrom(from, OX_CAPTURING_ERROR_STOP), 1u);
                    CheckFiles(CompletedSections(from), clean);
                    ClearCaptures();
                  }};
}

TEST_F(CaptureRoadFaultsE2e, ABatchEndsOnceWhicheverCallFails) { EXPECT_GT(Sweep(BatchRoad()), 0u); }

TEST_F(CaptureRoadFaultsE2e, ABatchEndsOnceWhereverTheCamcorderIsRemoved) {
  EXPECT_GT(SweepEvents(BatchRoad(), e2e::EventAction::Remove), 0u);
}

TEST_F(CaptureRoadFaultsE2e, ABatchEndsOnceWhereverTheCassetteIsEjected) {
  EXPECT_GT(SweepEvents(BatchRoad(), e2e::EventAction::Eject), 0u);
}

TEST_F(CaptureRoadFaultsE2e, ABatchEndsOnceWhereverTheDiskFills) { EXPECT_GT(SweepDiskFull(BatchRoad()), 0u); }

e2e::RoadSweepTest::Road CaptureRoadFaultsE2e::DirectRoad() {
  return Road{kReceiveMethods, [this](bool clean) {
                    CheckQuietSinceLastRun();
                    ASSERT_NO_FATAL_FAILURE(LoadAfresh());
                    const std::size_t from = capturing.Count();
                    const std::size_t heardFrom = heard.Count();
                    _OxDirectCapturingParam param;
                    param.folderPath = OxString(zelto::platform::WidePath(captures).c_str());
                    param.fileBaseName = OxString(L"Clip");
                    device->SetDirectCapturingStructure(param);
                    EXPECT_LT(e2e::Timed([&] { device->StartDirectCapturing(); }), e2e::kCallBound);
                    EXPECT_LT(e2e::Timed([&] { device->DeckPlay(); }), e2e::kCallBound);
                    EXPECT_TRUE(Await([&] {
                      return Panel().Mode() != zelto::sim::TransportMode::Play || StreamWentOff(heardFrom) ||
                             Find(from, OX_CAPTURING_ERROR_STOP) >= 0;
                    })) << "the scene never ended";
                    EXPECT_LT(e2e::Timed([&] { device->AbortCapturing(); }), e2e::kCallBound);
                    // The exit is written to wait for the file's completion 3 s of the process clock at most.
                    EXPECT_LT(e2e::Timed([&] { device->ExitDirectCapturing(); }), e2e::kCallBound);
                    device->DeckStop();
                    EXPECT_LE(CountFrom(from, OX_CAPTURING_ERROR_STOP), 1u);
                    EXPECT_TRUE(Panel().AwaitCaptureEnd(30000)) << "the driver's capture went on";
                    std::vector<std::filesystem::path> files = CompletedFiles(from);
                    if (clean) {
                      EXPECT_EQ(CountFrom(from, OX_CAPTURING_ERROR_STOP), 0u);
                      // The exit need not wait for the report of the file's completion (3 s of the
                      // process clock at most); the file is complete once the driver's capture is over.
                      EXPECT_LE(files.size(), 1u);
                      files = {captures / "Clip-01.zlt"};
                      EXPECT_TRUE(std::filesystem::exists(files[0]));
                    }
                    CheckFiles(files, clean);
                    ClearCaptures();
                  }};
}

TEST_F(CaptureRoadFaultsE2e, ADirectCaptureEndsOnceWhicheverCallFails) { EXPECT_GT(Sweep(DirectRoad()), 0u); }

TEST_F(CaptureRoadFaultsE2e, ADirectCaptureEndsOnceWhereverTheCamcorderIsRemoved) {
  EXPECT_GT(SweepEvents(DirectRoad(), e2e::EventAction::Remove), 0u);
}

TEST_F(CaptureRoadFaultsE2e, ADirectCaptureEndsOnceWhereverTheCassetteIsEjected) {
  EXPECT_GT(SweepEvents(DirectRoad(), e2e::EventAction::Eject), 0u);
}

TEST_F(CaptureRoadFaultsE2e, ADirectCaptureEndsOnceWhereverTheDiskFills) { EXPECT_GT(SweepDiskFull(DirectRoad()), 0u); }

// The same device capturing the whole cassette, with the driver's objects
// free-threaded or kept in the host thread's apartment (where the run's
// calls are served only while the host's thread dispatches messages).
class ScaptureRoadFaultsE2e : public CaptureRoadFaultsE2e, public ::testing::WithParamInterface<bool> {
protected:
  ScaptureRoadFaultsE2e() { config.apartmentThreaded = GetParam(); }
  void SetUp() override {
    CaptureRoadFaultsE2e::SetUp();
    OxUnique::GetInstance().SetPollingTime(250);
    OxUnique::GetInstance().SetScaptureStreamTimeOut(1000);
  }
  void Listen() override {
    CaptureRoadFaultsE2e::Listen();
    scapturing.WakeOnEvent(arrived);
    device->AddEventListener(&scapturing);
  }
  void Unlisten() override {
    if (device) device->RemoveEventListener(&scapturing);
    CaptureRoadFaultsE2e::Unlisten();
  }
  bool CompletedRun(std::size_t from) {
    const auto entries = scapturing.Entries();
    for (std::size_t i = from; i < entries.size(); ++i)
      if (entries[i].value.GetEventID() == OX_SCAPTURING_COMPLETE) return true;
    return false;
  }
  std::size_t Ends(std::size_t from) {
    std::size_t n = 0;
    const auto entries = scapturing.Entries();
    for (std::size_t i = from; i < entries.size(); ++i)
      n += entries[i].value.GetEventID() == OX_SCAPTURING_COMPLETE ||
           entries[i].value.GetEventID() == OX_SCAPTURING_ERROR_STOP;
    return n;
  }

  // See its definition.
  Road WholeCassetteRoad();

  ScapturingRecorder scapturing;
  std::size_t scapturedByLastRun = 0;
  unsigned runs = 0;
};

// The host sets up and starts a run over the whole cassette, standing where
// it was loaded, waits for its end, and stops scapturing. A run whose deck
// never reports the rewind's stop waits (as it is written to) until the
// host stops it. A run whose abort the driver refused leaves the driver
// capturing (the run does not look at the abort's result) until the next
// start stops the receiving: each run has a base name of its own, so that
// a file still open is never in the next run's way.
e2e::RoadSweepTest::Road ScaptureRoadFaultsE2e::WholeCassetteRoad() {
  return Road{kReceiveMethods, [this](bool clean) {
                    EXPECT_EQ(scapturing.Count(), scapturedByLastRun) << "an event heard after the last run had ended";
                    ASSERT_NO_FATAL_FAILURE(LoadAfresh());
                    const std::size_t from = scapturing.Count();
                    const std::string base = "Run" + std::to_string(++runs);
                    _OxBatchCapturingParam param;
                    param.folderPath = OxString(zelto::platform::WidePath(captures).c_str());
                    param.fileBaseName = OxString(zelto::platform::FromUtf8(base).c_str());
                    param.firstFileNumber = 1;
                    device->SetupScapturing(param);
                    EXPECT_LT(e2e::Timed([&] { device->StartScapturing(); }), e2e::kCallBound);
                    const bool byItself = Await([&] { return Ends(from) > 0; }, std::chrono::seconds(clean ? 30 : 2));
                    EXPECT_TRUE(byItself || !clean) << "a clean run did not end by itself";
                    EXPECT_LT(e2e::Timed([&] { device->StopScapturing(); }), e2e::kCallBound);
                    // A camcorder taken away after the run's own end, before the host's stop,
                    // is told as well (error 4): the run is still the host's until it stops it.
                    if (Panel().Removed() && CompletedRun(from)) {
                      EXPECT_GE(Ends(from), 1u);
                      EXPECT_LE(Ends(from), 2u);
                    } else {
                      EXPECT_EQ(Ends(from), 1u);
                    }
                    std::vector<std::filesystem::path> files;
                    bool complete = false;
                    const auto entries = scapturing.Entries();
                    for (std::size_t i = from; i < entries.size(); ++i) {
                      const OxScapturingEvent& e = entries[i].value;
                      if (e.GetEventID() == OX_SCAPTURING_CREATE_FILE)
                        files.push_back(zelto::platform::NativePath(e.GetFileName().GetStdString()));
                      complete = complete || e.GetEventID() == OX_SCAPTURING_COMPLETE;
                    }
                    if (clean) {
                      EXPECT_EQ(files.size(), 1u);
                    }
                    // A run that ended by itself has captured the whole recording, and its file is
                    // complete once the driver's capture is over: a clean run's files are the
                    // reference, so it waits for that (on a loaded machine the end may come first).
                    const bool captureOver = clean ? Panel().AwaitCaptureEnd(20000) : !Panel().Capturing();
                    if (clean) {
                      EXPECT_TRUE(captureOver) << "the driver's capture went on after a clean run";
                    }
                    if (byItself && complete && captureOver) CheckFiles(files, clean, base.size());
                    ClearCaptures(clean);
                    scapturedByLastRun = scapturing.Count();
                  }};
}

TEST_P(ScaptureRoadFaultsE2e, AWholeCassetteRunEndsOnceWhicheverCallFails) { EXPECT_GT(Sweep(WholeCassetteRoad()), 0u); }

TEST_P(ScaptureRoadFaultsE2e, AWholeCassetteRunEndsOnceWhereverTheCamcorderIsRemoved) {
  EXPECT_GT(SweepEvents(WholeCassetteRoad(), e2e::EventAction::Remove), 0u);
}

TEST_P(ScaptureRoadFaultsE2e, AWholeCassetteRunEndsOnceWhereverTheCassetteIsEjected) {
  EXPECT_GT(SweepEvents(WholeCassetteRoad(), e2e::EventAction::Eject), 0u);
}

TEST_P(ScaptureRoadFaultsE2e, AWholeCassetteRunEndsOnceWhereverTheDiskFills) {
  EXPECT_GT(SweepDiskFull(WholeCassetteRoad()), 0u);
}

INSTANTIATE_TEST_SUITE_P(Threading, ScaptureRoadFaultsE2e, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("ApartmentThreaded") : std::string("FreeThreaded");
                         });

}  // namespace
