// The scan and preview roads run through the library with
// every driver call they make failing in turn (see RoadSweep.h). Whatever
// fails, the call that starts the road returns within its bound, the host
// hears one end and nothing after it, and the device runs the road again
// cleanly.
#include "host/devevents/OxScanningEvent.h"
#include "tests/e2e/RoadSweep.h"

namespace {

using namespace Orvex;
using e2e::Method;
using ScanRecorder = e2e::Recorder<OxScanningEvent>;

class RoadFaultsE2e : public e2e::RoadSweepTest {
protected:
  RoadFaultsE2e() {
    config.camcorder.cassette = e2e::Tape(20, 8, {e2e::SceneAt(1, 3), e2e::SceneAt(5, 7), e2e::SceneAt(10, 12)});
    config.camcorder.cassette->text = "before";
    timeScale = 0.25;
  }
  void Listen() override {
    scanning.WakeOnEvent(arrived);
    device->AddEventListener(&scanning);
  }
  void Unlisten() override {
    if (device) device->RemoveEventListener(&scanning);
  }

  static bool IsEnd(const ScanRecorder::Entry& e) {
    return e.value.GetEventID() == OX_SCANNING_COMPLETE || e.value.GetEventID() == OX_SCANNING_ERROR_STOP;
  }

  // The host starts a scan and stops it once it has heard the end; a clean
  // scan completes. Each end is the only one, and the last thing heard.
  Road ScanRoad() {
    return Road{{Method::StartScan, Method::StopScan, Method::SendCommand, Method::GetStatus}, [this](bool clean) {
                  const std::size_t from = scanning.Count();
                  for (std::size_t i = endsSoFar; i < from; ++i)
                    EXPECT_FALSE(IsEnd(scanning.Entries()[i])) << "an end heard after the last road's end";
                  EXPECT_LT(e2e::Timed([&] { device->StartScanning(); }), e2e::kCallBound);
                  const long end = scanning.WaitFor(from, IsEnd);
                  ASSERT_GE(end, 0) << "the scan never ended";
                  if (clean) {
                    EXPECT_EQ(scanning.Entries()[static_cast<std::size_t>(end)].value.GetEventID(),
                              OX_SCANNING_COMPLETE);
                  }
                  EXPECT_LT(e2e::Timed([&] { device->StopScanning(); }), e2e::kCallBound);
                  // The stop repeats the completion to the host itself; nothing else ends the scan.
                  std::size_t ends = 0;
                  const auto entries = scanning.Entries();
                  for (std::size_t i = from; i < entries.size(); ++i) ends += IsEnd(entries[i]) ? 1 : 0;
                  EXPECT_LE(ends, 2u);
                  endsSoFar = entries.size();
                }};
  }

  // The host sets the preview: muted and heard again at a level, hidden and
  // shown, a resolution and the deinterlacing. The preview has no end to
  // hear; each call returns within its bound, whatever the driver refuses,
  // and once a clean run is over the driver shows what the host last asked.
  Road PreviewRoad() {
    return Road{{Method::QueryPreviewControl, Method::QueryDecodeQuality, Method::SetPreviewOwner,
                 Method::SetPreviewRect, Method::SetPreviewMode, Method::SetPreviewVolume, Method::SetDecodeQuality},
                [this](bool clean) {
                  EXPECT_LT(e2e::Timed([&] {
                              device->SetPreviewMuting(true);
                              device->SetVolume(40);
                              device->SetPreviewMonitorVisibility(false);
                              device->SetPreviewMonitorVisibility(true);
                              device->SetVideoResolution(OX_RESOLUTION_LOW);
                              device->SetVideoDecodeDeinterlaceEnable(false);
                              device->SetVideoResolution(OX_RESOLUTION_MIDDLE);
                            }),
                            e2e::kCallBound);
                  if (clean) {
                    const zelto::sim::PreviewSettings preview = Panel().Preview();
                    EXPECT_EQ(preview.volume, 40u);
                    EXPECT_EQ(preview.mode, std::optional<DWORD>(2));
                    EXPECT_EQ(preview.quality, std::optional<DWORD>(3));
                    EXPECT_FALSE(preview.deinterlace);
                  }
                }};
  }

  ScanRecorder scanning;
  std::size_t endsSoFar = 0;
};

TEST_F(RoadFaultsE2e, AScanEndsOnceWhicheverCallFails) { EXPECT_GT(Sweep(ScanRoad()), 0u); }

TEST_F(RoadFaultsE2e, AScanEndsOnceWhereverTheCamcorderIsRemoved) {
  EXPECT_GT(SweepEvents(ScanRoad(), e2e::EventAction::Remove), 0u);
}

TEST_F(RoadFaultsE2e, AScanEndsOnceWhereverTheCassetteIsEjected) {
  EXPECT_GT(SweepEvents(ScanRoad(), e2e::EventAction::Eject), 0u);
}

TEST_F(RoadFaultsE2e, PreviewSettingsHoldWhicheverCallFails) { EXPECT_GT(Sweep(PreviewRoad()), 0u); }

// The preview's calls post no driver event to sweep removals over: the
// camcorder is taken away before them instead. Each returns within its
// bound, and the settings hold on the camcorder plugged in again.
TEST_F(RoadFaultsE2e, PreviewCallsReturnWhileTheCamcorderIsGone) {
  const Road road = PreviewRoad();
  road.run(true);
  Panel().RemoveDevice();
  road.run(false);
  Panel().ReconnectDevice();
  ASSERT_TRUE(Reopen());
  road.run(true);
}

}  // namespace
