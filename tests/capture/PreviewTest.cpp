// The preview through the device: what initialisation applies, the rules of
// volume, muting, visibility and decode quality as the driver sees them,
// and a window the driver refuses.
#include <gtest/gtest.h>

#include <functional>

#include "tests/device/DeviceTestSupport.h"

using namespace devtest;
using namespace Orvex;

namespace {

using PreviewTest = DeviceTestBase;
using Calls = std::vector<std::wstring>;

// The window set-up only with both a window and a rectangle; the decode
// quality and the muting always; the visibility only by a later window.
TEST_F(PreviewTest, InitialisationAppliesTheWindowTheQualityAndTheMuting) {
  OxWindow window(reinterpret_cast<HWND>(0x40));
  OxRect rect(1, 2, 3, 4);
  const struct {
    const char* what;
    const OxWindow* window;
    const OxRect* rect;
    bool deinterlace, muted;
    Calls calls;
  } cases[] = {
      {"window and rectangle", &window, &rect, true, false,
       {L"preview.SetOwnerWindow(64)", L"preview.SetWindowRect(1,2,3,4)", L"preview.SetMode(2)",
        L"preview.SetQuality(7,1)", L"preview.SetVolume(100)"}},
      {"no window", nullptr, &rect, false, true, {L"preview.SetQuality(7,0)", L"preview.SetVolume(0)"}},
      {"no rectangle", &window, nullptr, true, true, {L"preview.SetQuality(7,1)", L"preview.SetVolume(0)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDriver driver;
    std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
    ASSERT_TRUE(device->InitializeDevice(OX_VIDEO_SYSTEM_0, c.deinterlace, c.window, c.rect, c.muted, false));
    EXPECT_EQ(driver.journal.Take(), c.calls);
    EXPECT_EQ(driver.preview.Refs(), 1);
    EXPECT_EQ(driver.preview.decodeQuality.Refs(), 0) << "asked for anew each time";

    OxWindow later(reinterpret_cast<HWND>(0x41));
    device->SetPreviewWindow(&later, &rect);
    EXPECT_EQ(driver.journal.Take(),
              (Calls{L"preview.SetOwnerWindow(65)", L"preview.SetWindowRect(1,2,3,4)", L"preview.SetMode(2)",
                     c.muted ? L"preview.SetVolume(0)" : L"preview.SetVolume(100)", L"preview.SetMode(0)"}));
    device->TerminateDevice();
    EXPECT_EQ(driver.preview.Refs(), 0);
  }
}

// Each operation in turn on one device, with what the driver is told; the
// remembered muting and visibility show in the window set-ups.
TEST_F(PreviewTest, VolumeMutingVisibilityAndQualityRules) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  ASSERT_TRUE(Initialize(*device));
  driver.journal.Take();
  OxWindow window(reinterpret_cast<HWND>(9));
  OxRect rect(0, 0, 2, 2);
  const Calls place{L"preview.SetOwnerWindow(9)", L"preview.SetWindowRect(0,0,2,2)", L"preview.SetMode(2)"};
  ZeltoVideoDevice& d = *device;
  const struct {
    const char* what;
    std::function<void()> operation;
    Calls calls;
  } steps[] = {
      {"volume 0 mutes", [&] { d.SetVolume(0); }, {L"preview.SetVolume(0)"}},
      {"remembered: muted", [&] { d.SetPreviewWindow(&window, &rect); },
       {place[0], place[1], place[2], L"preview.SetVolume(0)", L"preview.SetMode(2)"}},
      {"volume 250 is 100", [&] { d.SetVolume(250); }, {L"preview.SetVolume(100)"}},
      {"volume 40", [&] { d.SetVolume(40); }, {L"preview.SetVolume(40)"}},
      {"unmuting gives 100, not 40", [&] { d.SetPreviewMuting(false); }, {L"preview.SetVolume(100)"}},
      {"muting", [&] { d.SetPreviewMuting(true); }, {L"preview.SetVolume(0)"}},
      {"hidden", [&] { d.SetPreviewMonitorVisibility(false); }, {L"preview.SetMode(0)"}},
      {"volume 1 unmutes", [&] { d.SetVolume(1); }, {L"preview.SetVolume(1)"}},
      {"remembered: unmuted, hidden", [&] { d.SetPreviewWindow(&window, &rect); },
       {place[0], place[1], place[2], L"preview.SetVolume(100)", L"preview.SetMode(0)"}},
      {"shown", [&] { d.SetPreviewMonitorVisibility(true); }, {L"preview.SetMode(2)"}},
      {"resolution 3", [&] { d.SetVideoResolution(OX_RESOLUTION_HIGH); }, {L"preview.SetQuality(7,1)"}},
      {"resolution 2", [&] { d.SetVideoResolution(OX_RESOLUTION_MIDDLE); }, {L"preview.SetQuality(3,1)"}},
      {"resolution 1", [&] { d.SetVideoResolution(OX_RESOLUTION_LOW); }, {L"preview.SetQuality(1,1)"}},
      {"resolution 0", [&] { d.SetVideoResolution(OX_RESOLUTION_DEFAULT); }, {L"preview.SetQuality(3,1)"}},
      {"resolution 9", [&] { d.SetVideoResolution(static_cast<_OxVideoResolution>(9)); },
       {L"preview.SetQuality(3,1)"}},
      {"resolution 1 again", [&] { d.SetVideoResolution(OX_RESOLUTION_LOW); }, {L"preview.SetQuality(1,1)"}},
      {"deinterlacing off: back to 7", [&] { d.SetVideoDecodeDeinterlaceEnable(false); },
       {L"preview.SetQuality(7,0)"}},
      {"resolution 1, not deinterlaced", [&] { d.SetVideoResolution(OX_RESOLUTION_LOW); },
       {L"preview.SetQuality(1,0)"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.operation();
    EXPECT_EQ(driver.journal.Take(), step.calls);
  }
  EXPECT_EQ(driver.preview.decodeQuality.Refs(), 0);

  // The decode quality's own result, and a driver without one.
  EXPECT_TRUE(device->setDecodeQuality());
  driver.preview.decodeQuality.result = S_FALSE;
  EXPECT_TRUE(device->setDecodeQuality()) << "not negative";
  driver.preview.decodeQuality.result = E_FAIL;
  EXPECT_FALSE(device->setDecodeQuality());
  driver.preview.decodeQualityAvailable = false;
  driver.journal.Take();
  EXPECT_FALSE(device->setDecodeQuality());
  EXPECT_TRUE(driver.journal.Take().empty());
}

// A window the driver refuses, at each step: the later steps are not sent
// (only exactly 0 is success), and the remembered settings are applied all
// the same. A null window or rectangle places nothing.
TEST_F(PreviewTest, ARefusedWindowStopsTheSetUpButNotTheRememberedSettings) {
  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device = MakeDevice(driver);
  ASSERT_TRUE(Initialize(*device));
  OxWindow window(reinterpret_cast<HWND>(9));
  OxRect rect(0, 0, 2, 2);
  const Calls remembered{L"preview.SetVolume(100)", L"preview.SetMode(2)"};
  const struct {
    const char* what;
    HRESULT owner, area;
    bool placed;
    Calls calls;
  } cases[] = {
      {"owner window refused", S_FALSE, S_OK, true, {L"preview.SetOwnerWindow(9)"}},
      {"rectangle refused", S_OK, E_FAIL, true, {L"preview.SetOwnerWindow(9)", L"preview.SetWindowRect(0,0,2,2)"}},
      {"no window", S_OK, S_OK, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    driver.preview.ownerWindowResult = c.owner;
    driver.preview.windowRectResult = c.area;
    driver.journal.Take();
    device->SetPreviewWindow(c.placed ? &window : nullptr, &rect);
    Calls expected = c.calls;
    expected.insert(expected.end(), remembered.begin(), remembered.end());
    EXPECT_EQ(driver.journal.Take(), expected);
  }
}

}  // namespace
