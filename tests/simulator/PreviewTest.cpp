// The preview interfaces as the library calls them: what they take, what
// they refuse, and that what they were told is there for another program on
// the same state file.
#include <filesystem>

#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

class PreviewTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    folder = std::filesystem::temp_directory_path() /
             (std::string("zelto-preview-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
    DriverConfig config = QuickConfig();
    config.camcorder.stateFile = folder / "camcorder.json";
    ASSERT_EQ(driver.Register(config), S_OK);
    ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IPreviewControl, preview.OutVoid()), S_OK);
    // As the library asks for it: from the preview, anew each time.
    ASSERT_EQ(preview->QueryInterface(IID_IDecodeQuality, quality.OutVoid()), S_OK);
  }
  void TearDown() override {
    quality.Reset();
    preview.Reset();
    control.Reset();
    driver.Unregister();
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
    ComTest::TearDown();
  }

  std::filesystem::path folder;
  EventWindow window;
  SimulatedDriver driver;
  Ref<ISmartControl> control;
  Ref<IPreviewControl> preview;
  Ref<IDecodeQuality> quality;
};

}  // namespace

TEST_F(PreviewTest, WhatItWasToldSurvivesToAnotherCamcorderOnTheStateFile) {
  EXPECT_FALSE(driver.Panel().Preview().mode) << "never told";
  const RECT rect{10, 20, 330, 200};
  ASSERT_EQ(preview->SetOwnerWindow(window.Handle()), S_OK);
  ASSERT_EQ(preview->SetWindowRect(&rect), S_OK);
  ASSERT_EQ(preview->SetMode(2), S_OK);
  ASSERT_EQ(preview->SetVolume(0), S_OK);
  ASSERT_EQ(quality->SetQuality(3, TRUE), S_OK);
  ASSERT_EQ(preview->SetMode(3), S_OK) << "the mode of a scapture";

  CamcorderConfig config = QuickConfig().camcorder;
  config.stateFile = folder / "camcorder.json";
  Camcorder other(config);
  const PreviewSettings seen = other.Preview();
  EXPECT_EQ(seen.ownerWindow, reinterpret_cast<std::uintptr_t>(window.Handle()));
  ASSERT_TRUE(seen.rect);
  EXPECT_EQ(std::make_tuple(seen.rect->left, seen.rect->top, seen.rect->right, seen.rect->bottom),
            std::make_tuple(10, 20, 330, 200));
  EXPECT_EQ(seen.mode, 3u);
  EXPECT_EQ(seen.volume, 0u);
  EXPECT_EQ(seen.quality, 3u);
  EXPECT_TRUE(seen.deinterlace);
}

TEST_F(PreviewTest, RefusesWhatNoPreviewCouldUseAndKeepsWhatItHad) {
  const RECT good{0, 0, 160, 90};
  ASSERT_EQ(preview->SetWindowRect(&good), S_OK);
  ASSERT_EQ(preview->SetMode(0), S_OK);
  ASSERT_EQ(preview->SetVolume(55), S_OK);
  ASSERT_EQ(quality->SetQuality(7, FALSE), S_OK);
  const RECT inverted{100, 0, 50, 90};
  struct Case {
    const char* what;
    HRESULT result;
    HRESULT expected;
  };
  const Case cases[] = {
      {"no window", preview->SetOwnerWindow(nullptr), E_INVALIDARG},
      {"a handle that is no window", preview->SetOwnerWindow(reinterpret_cast<HWND>(0x7FFF1234)), E_INVALIDARG},
      {"no rectangle", preview->SetWindowRect(nullptr), E_POINTER},
      {"an inverted rectangle", preview->SetWindowRect(&inverted), E_INVALIDARG},
      {"mode 1", preview->SetMode(1), E_INVALIDARG},
      {"volume 101", preview->SetVolume(101), E_INVALIDARG},
      {"quality 2", quality->SetQuality(2, TRUE), E_INVALIDARG},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
  const PreviewSettings kept = driver.Panel().Preview();
  EXPECT_EQ(kept.ownerWindow, 0u);
  EXPECT_EQ(kept.rect->right, 160);
  EXPECT_EQ(kept.mode, 0u);
  EXPECT_EQ(kept.volume, 55u);
  EXPECT_EQ(kept.quality, 7u);
  EXPECT_FALSE(kept.deinterlace);

  // Unplugged, it takes nothing.
  driver.Panel().RemoveDevice();
  EXPECT_EQ(preview->SetVolume(10), kErrorDeviceRemoved);
  driver.Panel().ReconnectDevice();
  EXPECT_EQ(driver.Panel().Preview().volume, 55u);
}
