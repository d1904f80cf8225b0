// The library as a host uses it: through the shared library's exported
// surface only, with a fake driver registered in the host's apartment.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"
#include "tests/device/FakeDriver.h"
#include "zelto/device/ZeltoVideoDevice.h"

using namespace devtest;
using namespace Orvex;

namespace {

constexpr CLSID kUnitClass = {0x7A11CE00, 0x1F01, 0x11D6, {0xA4, 0xE5, 0x00, 0xE0, 0x29, 0x21, 0xEA, 0x11}};

// A listener defined on the host's side of the library boundary.
class HostListener : public KelSafeEventListener<_OxVideoDeviceNotification> {
public:
  void OnEvent(const _OxVideoDeviceNotification& event) override {
    std::lock_guard<std::mutex> guard(mutex);
    events.push_back(event);
    changed.notify_all();
  }
  bool WaitFor(_OxVideoDeviceNotification value) {
    std::unique_lock<std::mutex> guard(mutex);
    return changed.wait_for(guard, std::chrono::seconds(20), [&] {
      for (auto event : events)
        if (event == value) return true;
      return false;
    });
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(mutex);
    events.clear();
  }

private:
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<_OxVideoDeviceNotification> events;
};

class DeviceApiTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(DeviceApiTest, NoDriverNoDevice) { EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr); }

TEST_F(DeviceApiTest, HostFindsDrivesAndReleasesTheCamcorder) {
  FakeDriver driver;
  FakeUnit unit(L"HXQ-ZL30", &driver);
  FakeUnitCollection collection({&unit});
  FakeClassEnumerator enumerator;
  enumerator.classes = {kUnitClass};
  {
    ClassRegistration enumeratorClass(CLSID_DriverClassEnumerator, static_cast<IDriverClassEnumerator*>(&enumerator));
    ClassRegistration unitClass(kUnitClass, static_cast<IUnitCollection*>(&collection));
    ASSERT_TRUE(enumeratorClass.Ok() && unitClass.Ok());

    std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
    ASSERT_NE(device, nullptr);
    HostListener listener;
    device->AddEventListener(&listener);
    ASSERT_TRUE(device->InitializeDevice(OX_VIDEO_SYSTEM_0, true, nullptr, nullptr, false, true));
    EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_STOP);

    listener.Clear();
    driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PLAY;
    ASSERT_TRUE(driver.Post(DRIVER_EVENT_DECK_STATE));
    EXPECT_TRUE(listener.WaitFor(OX_NOTIFY_DEVICE_STATE));
    device->DeckFastForward();
    EXPECT_EQ(driver.TakeCommands(), std::vector<DWORD>{DECK_COMMAND_PLAY_FASTEST_FORWARD});

    device->TerminateDevice();
    device->RemoveEventListener(&listener);
  }
  EXPECT_EQ(driver.Refs(), 0);
  EXPECT_EQ(unit.Refs(), 0);
}

// The host's settings and the library's are one object: the host libraries
// are shared, not copied into the library.
TEST_F(DeviceApiTest, SettingsTheHostMakesReachTheLibrary) {
  const auto folder = std::filesystem::temp_directory_path() / "zelto-device-api-settings";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  OxUnique::GetInstance().SetMicDataBaseFolder(OxString(zelto::platform::WidePath(folder).c_str()));
  OxUnique::GetInstance().SetTempFolder(OxString(zelto::platform::WidePath(folder).c_str()));

  FakeDriver driver;
  FakeUnit unit(L"HXQ-ZL30", &driver);
  FakeUnitCollection collection({&unit});
  FakeClassEnumerator enumerator;
  enumerator.classes = {kUnitClass};
  {
    ClassRegistration enumeratorClass(CLSID_DriverClassEnumerator, static_cast<IDriverClassEnumerator*>(&enumerator));
    ClassRegistration unitClass(kUnitClass, static_cast<IUnitCollection*>(&collection));
    std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->InitializeDevice(OX_VIDEO_SYSTEM_0, true, nullptr, nullptr, false, true));
    EXPECT_TRUE(std::filesystem::exists(folder / "micdb.mdb"));
  }
  OxUnique::GetInstance().ResetToDefaults();
  std::filesystem::remove_all(folder);
}

}  // namespace
