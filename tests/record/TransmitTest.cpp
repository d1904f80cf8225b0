// The transmit component on its own: what it holds, what it tells the
// driver, its record time and its run state.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/record/RecordTestSupport.h"
#include "zelto/record/ZeltoVideoDeviceTransmit.h"

using namespace devtest;
using namespace recordtest;
using namespace Orvex;

namespace {

class TransmitTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedScale = zelto::platform::TimeScale();
    zelto::platform::SetTimeScaleForTesting(kTimeScale);
  }
  void TearDown() override { zelto::platform::SetTimeScaleForTesting(savedScale); }

  ZeltoComPtr<ISmartControl> Control(FakeDriver& driver) {
    return ZeltoComPtr<ISmartControl>(static_cast<ISmartControl*>(&driver));
  }

  double savedScale = 1.0;
  FakeDriver driver;
};

// The smart control passed in is let go before the constructor returns,
// whether or not the driver has a transmit; the transmit is held once and
// let go once.
TEST_F(TransmitTest, HoldsTheTransmitOnceAndNeverTheSmartControl) {
  {
    ZeltoVideoDeviceTransmit transmit(Control(driver));
    EXPECT_EQ(driver.Refs(), 0);
    EXPECT_EQ(driver.transmit.Refs(), 1);
    transmit.ReleaseSourceDevice();
    EXPECT_EQ(driver.transmit.Refs(), 0);
    transmit.SetTransmitFile(OxString(L"a.m2t"), 1, 2);
    transmit.StartTransmit();
    const DWORD before = GetTickCount();
    transmit.StopTransmit();
    EXPECT_LT(GetTickCount() - before, 1000u) << "no pause without the driver's transmit";
    EXPECT_TRUE(driver.transmit.log.Take().empty());
  }
  EXPECT_EQ(driver.transmit.Refs(), 0) << "released once only";

  driver.transmitAvailable = false;
  try {
    ZeltoVideoDeviceTransmit transmit(Control(driver));
    ADD_FAILURE() << "constructed without a transmit";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "ZeltoVideoDeviceTransmit::SetSourceDevice");
  }
  EXPECT_EQ(driver.Refs(), 0);
}

TEST_F(TransmitTest, FileMarginsStartAndStop) {
  ZeltoVideoDeviceTransmit transmit(Control(driver));
  transmit.SetTransmitFile(OxString(L"C:\\a.m2t"), -1, 7);
  driver.transmit.setFileResult = E_INVALIDARG;
  transmit.SetTransmitFile(OxString(L"refused.m2t"), 3, 4);
  driver.transmit.setFileResult = S_FALSE;
  transmit.SetTransmitFile(OxString(L"b.m2t"), 5, 6);
  EXPECT_EQ(driver.transmit.log.Take(),
            (std::vector<std::wstring>{L"SetFile(C:\\a.m2t)", L"SetMargins(4294967295,7)", L"SetFile(refused.m2t)",
                                       L"SetFile(b.m2t)", L"SetMargins(5,6)"}))
      << "margins only for a file the driver did not refuse";

  driver.transmit.setFileResult = S_OK;
  transmit.StartTransmit();
  const DWORD before = GetTickCount();
  transmit.StopTransmit();
  EXPECT_GE(GetTickCount() - before, 1000u - kTickSlack);
  EXPECT_EQ(driver.transmit.log.Take(),
            (std::vector<std::wstring>{L"Start", L"Stop", L"SetFile()", L"SetMargins(0,0)"}));
}

TEST_F(TransmitTest, RecordTimeZeroIsNone) {
  ZeltoVideoDeviceTransmit transmit(Control(driver));
  const auto read = [&]() -> std::string {
    try {
      return std::to_string(transmit.GetRecordTime());
    } catch (const std::runtime_error& error) {
      return error.what();
    }
  };
  EXPECT_EQ(read(), "ZeltoVideoDeviceTransmit::GetRecordTime");
  transmit.SetRecordTime(42);
  EXPECT_EQ(read(), "42");
  transmit.SetRecordTime(0);
  EXPECT_EQ(read(), "ZeltoVideoDeviceTransmit::GetRecordTime");
}

// The run state: a stop between Begin and MarkSending makes MarkSending
// fail; Abandon gives up only a start that nothing has stopped.
TEST_F(TransmitTest, RunState) {
  ZeltoVideoDeviceTransmit transmit(Control(driver));
  EXPECT_FALSE(transmit.IsRecording());
  transmit.Begin();
  EXPECT_TRUE(transmit.IsRecording());
  EXPECT_TRUE(transmit.IsStarting());
  EXPECT_TRUE(transmit.MarkSending());
  EXPECT_FALSE(transmit.IsStarting());
  EXPECT_TRUE(transmit.IsRecording());
  EXPECT_FALSE(transmit.MarkSending()) << "sending already";
  transmit.StopTransmit();
  EXPECT_FALSE(transmit.IsRecording());

  transmit.Begin();
  transmit.StopTransmit();
  EXPECT_FALSE(transmit.MarkSending()) << "stopped while starting";
  EXPECT_FALSE(transmit.IsRecording());

  transmit.Begin();
  transmit.Abandon();
  EXPECT_FALSE(transmit.IsRecording());
  transmit.Begin();
  EXPECT_TRUE(transmit.MarkSending());
  transmit.Abandon();
  EXPECT_TRUE(transmit.IsRecording()) << "a recording that is sending is not abandoned";
}

}  // namespace
