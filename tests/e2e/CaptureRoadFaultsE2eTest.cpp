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

  // Three short scenes with gaps; the tape stands in blank tape before the first.
  static zelto::sim::Cassette Cassette() {
    return e2e::Tape(20, 0.5, {e2e::SceneAt(1, 2), e2e::SceneAt(5, 7), e2e::SceneAt(10, 11)});
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
  // Each file must hold what the clean capture of the same name held; the
  // clean runs keep theirs as the reference.
  void CheckFiles(const std::vector<std::filesystem::path>& files, bool clean) {
    for (const auto& file : files) {
      const std::string name = file.filename().string();
      if (clean && !reference.count(name)) reference[name] = e2e::FileBytes(file);
      ASSERT_TRUE(reference.count(name)) << name << " was never captured cleanly";
      EXPECT_TRUE(e2e::FileBytes(file) == reference[name]) << name << " differs from the tape";
    }
  }
  // What a run leaves is gone before the next: the driver's capture over,
  // the files removed.
  void ClearCaptures() {
    EXPECT_TRUE(Panel().AwaitCaptureEnd(30000)) << "the driver's capture went on";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(captures)) std::filesystem::remove(entry, ignored);
    heardByLastRun = capturing.Count();
  }
  // Nothing may reach the host between one run's end and the next run.
  void CheckQuietSinceLastRun() {
    EXPECT_EQ(capturing.Count(), heardByLastRun) << "a capture event heard after the last run had ended";
  }

  CaptureRecorder capturing;
  std::filesystem::path captures;
  std::map<std::string, std::vector<char>> reference;
  std::size_t heardByLastRun = 0;
};

// The host captures the first and the third scene as a batch, waits for its
// end and stops it.
TEST_F(CaptureRoadFaultsE2e, ABatchEndsOnceWhicheverCallFails) {
  const Road road{kReceiveMethods, [&](bool clean) {
                    CheckQuietSinceLastRun();
                    const std::size_t from = capturing.Count();
                    _OxBatchCapturingParam param;
                    param.folderPath = OxString(zelto::platform::WidePath(captures).c_str());
                    param.fileBaseName = OxString(L"Tape");
                    param.firstFileNumber = 1;
                    std::vector<_OxBatchCapturingItem> items(2);
                    items[0].inPoint = 100;
                    items[0].outPoint = 200;
                    items[1].inPoint = 1000;
                    items[1].outPoint = 1100;
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
  EXPECT_GT(Sweep(road), 0u);
}

}  // namespace
