// The library as a host uses it: through the shared library's exported
// surface only, with a fake driver registered in the host's apartment.
#include <gtest/gtest.h>

#include "tests/device/DeviceTestSupport.h"

using namespace devtest;
using namespace Orvex;

namespace {

using DeviceApiTest = DeviceTestBase;

TEST_F(DeviceApiTest, NoDriverNoDevice) { EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr); }

// The host's settings reach the library (the host libraries are shared, not
// copied into it); events come back to a listener defined on the host's side.
TEST_F(DeviceApiTest, HostFindsDrivesAndReleasesTheCamcorder) {
  FakeDriver driver;
  FakeUnit unit(L"HXQ-ZL30", &driver);
  {
    RegisteredClasses classes;
    ASSERT_TRUE(classes.Register({&unit}));
    std::unique_ptr<ZeltoVideoDevice> device(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
    ASSERT_NE(device, nullptr);
    Recorder<_OxVideoDeviceNotification> heard;
    device->AddEventListener(&heard);
    ASSERT_TRUE(Initialize(*device));
    EXPECT_TRUE(std::filesystem::exists(folder / "db" / "micdb.mdb")) << "the database is where the host said";
    EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_STOP);

    const std::size_t before = heard.Count();
    driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PLAY;
    ASSERT_TRUE(driver.Post(DRIVER_EVENT_DECK_STATE));
    ASSERT_TRUE(heard.WaitForCount(before + 1));
    EXPECT_EQ(heard.Events().back(), OX_NOTIFY_DEVICE_STATE);
    device->DeckFastForward();
    EXPECT_EQ(driver.TakeCommands(), std::vector<DWORD>{DECK_COMMAND_PLAY_FASTEST_FORWARD});

    device->TerminateDevice();
    device->RemoveEventListener(&heard);
  }
  EXPECT_EQ(driver.Refs(), 0);
  EXPECT_EQ(unit.Refs(), 0);
}

}  // namespace
