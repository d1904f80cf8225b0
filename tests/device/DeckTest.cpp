// The deck controller's command and status mappings, and the deck's state
// machine and scene search, against a fake deck control.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/device/DeviceTestSupport.h"
#include "zelto/deck/ZeltoVideoDeviceController.h"
#include "zelto/deck/ZeltoVideoDeviceDeck.h"

using namespace Orvex;
using devtest::FakeDriver;

namespace {

class DeckTest : public ::testing::Test {
protected:
  void SetUp() override { holder = ZeltoComPtr<ISmartControl>(static_cast<ISmartControl*>(&driver)); }
  // Answers `code` for one kind of status and returns what `read` makes of it.
  template <typename Read>
  int Mapped(DWORD kind, DWORD code, Read read) {
    driver.statusCode[kind] = code;
    return static_cast<int>(read());
  }

  FakeDriver driver;
  ZeltoComPtr<ISmartControl> holder;
};

TEST_F(DeckTest, ControllerMapsEveryStatusCodeAndPresetsUnwrittenValues) {
  ZeltoVideoDeviceController controller(holder);
  const std::pair<DWORD, int> expected[] = {
      {0, 0},   {1, 0},   {2, 0},   {3, 1},   {4, 2},   {5, 3},   {6, 4},          {7, 5},          {8, 6},
      {9, 7},   {10, 8},  {11, 9},  {12, 10}, {13, 11}, {14, 12}, {15, 13},        {16, 15},        {17, 0},
      {18, 0},  {1000, 0}, {0x7FFFFFFF, 0}, {0xFFFFFFFF, 0}};
  for (const auto& [code, value] : expected)
    EXPECT_EQ(Mapped(DECK_STATUS_DECK_STATE, code, [&] { return controller.GetDeviceState(); }), value) << code;
  const std::pair<DWORD, int> media[] = {{0, 0}, {1, 0}, {2, 2}, {3, 3}, {4, 1}, {5, 0}, {0xFFFFFFFF, 0}};
  for (const auto& [code, value] : media)
    EXPECT_EQ(Mapped(DECK_STATUS_MEDIA_INFO, code, [&] { return controller.GetMediaInfo(); }), value) << code;
  const std::pair<DWORD, int> modes[] = {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 2}, {5, 0}};
  for (const auto& [code, value] : modes)
    EXPECT_EQ(Mapped(DECK_STATUS_CAMCORDER_MODE, code, [&] { return controller.GetCamcorderMode(); }), value) << code;

  // A driver that writes nothing leaves the presets: busy (unknown), 0, 0.
  driver.statusCode[DECK_STATUS_DECK_STATE] = DECK_STATE_PLAY;
  driver.statusCode[DECK_STATUS_MEDIA_INFO] = MEDIA_INFO_RECORDABLE;
  driver.statusCode[DECK_STATUS_CAMCORDER_MODE] = CAMCORDER_MODE_CAMERA;
  for (auto& write : driver.writeStatus) write = false;
  EXPECT_EQ(controller.GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
  EXPECT_EQ(controller.GetMediaInfo(), OX_MEDIA_NONE);
  EXPECT_EQ(controller.GetCamcorderMode(), OX_CAMCORDER_MODE_UNKNOWN);
}

TEST_F(DeckTest, ControllerCommandsAndSeekBit) {
  ZeltoVideoDeviceController controller(holder);
  controller.Record();
  controller.RecordPause();
  controller.StopRecord();
  controller.PlaySlowestReverse();
  controller.StepForward();
  controller.StepReverse();
  controller.SeekATN(0);
  controller.SeekATN(1234);
  controller.SeekATN(0x10000005);
  EXPECT_EQ(driver.TakeCommands(),
            (std::vector<DWORD>{4, 5, 3, 11, 0x10000000, 0x10000000 | 1234, 0x10000005}));
  EXPECT_EQ(controller.SetRecordMode(true), S_OK);
  EXPECT_EQ(driver.recordMode, TRUE);
}

TEST_F(DeckTest, ControllerTimeCodeAndMissingDeckControl) {
  ZeltoVideoDeviceController controller(holder);
  OxTimeCode timeCode;
  controller.GetTimecode(timeCode);
  EXPECT_EQ(std::vector<int>({timeCode.GetHours(), timeCode.GetMinutes(), timeCode.GetSeconds(), timeCode.GetFrames()}),
            std::vector<int>({1, 2, 3, 4}));

  // A failed read resets to zero in the application's frame rate.
  driver.timeCodeResult = E_FAIL;
  controller.GetTimecode(timeCode);
  EXPECT_EQ(timeCode.GetHours(), 0);
  EXPECT_EQ(timeCode.GetFrames(), 0);
  EXPECT_NE(timeCode.GetFrameRate(), 0);

  FakeDriver noDeck;
  noDeck.deckAvailable = false;
  ZeltoComPtr<ISmartControl> other(static_cast<ISmartControl*>(&noDeck));
  try {
    ZeltoVideoDeviceController broken(other);
    FAIL() << "a smart control without deck control was accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "VideoDeviceController::VideoDeviceController");
  }
  other.Reset();
  EXPECT_EQ(noDeck.Refs(), 0);
}

// What each deck button sends in each state; 0 means nothing is sent.
struct StateRow {
  DWORD driverCode;
  int value;
  DWORD play, stop, fastForward, fastRewind, pause, playSlow;
};

TEST_F(DeckTest, EachStateDecidesWhatEveryButtonSends) {
  const StateRow rows[] = {
      {DECK_STATE_STOP, 3, 1, 3, 7, 6, 0, 0},
      {DECK_STATE_PLAY, 1, 1, 3, 8, 10, 2, 9},
      {DECK_STATE_PAUSE, 2, 1, 3, 8, 10, 1, 9},
      {DECK_STATE_FAST_FORWARD, 7, 1, 3, 0, 6, 0, 0},
      {DECK_STATE_REWIND, 6, 1, 3, 7, 0, 0, 0},
      {DECK_STATE_PLAY_FASTEST_FORWARD, 8, 1, 3, 0, 10, 2, 9},
      {DECK_STATE_PLAY_FASTEST_REVERSE, 10, 1, 3, 8, 0, 2, 9},
      {DECK_STATE_PLAY_SLOWEST_FORWARD, 9, 1, 3, 8, 10, 2, 0},
      {DECK_STATE_RECORD, 5, 0, 0, 0, 0, 0, 0},
      {DECK_STATE_RECORD_PAUSE, 5, 0, 0, 0, 0, 0, 0},
      {DECK_STATE_PLAY_SLOWEST_REVERSE, 0, 0, 0, 0, 0, 0, 0},
      {DECK_STATE_WINDING_TO_TRACK, 0, 0, 0, 0, 0, 0, 0},
      {DECK_STATE_STALLED, 0, 0, 0, 0, 0, 0, 0},
      {DECK_STATE_NOT_READY, 0, 0, 0, 0, 0, 0, 0},
  };
  ZeltoVideoDeviceDeck deck(&holder, OX_VIDEO_SYSTEM_0);
  for (const StateRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "driver state " << row.driverCode);
    driver.statusCode[DECK_STATUS_DECK_STATE] = row.driverCode;
    EXPECT_EQ(deck.GetDeviceState(), row.value);
    driver.TakeCommands();
    auto press = [&](void (ZeltoVideoDeviceDeck::*button)(), DWORD expected) {
      (deck.*button)();
      std::vector<DWORD> sent = driver.TakeCommands();
      if (expected == 0)
        EXPECT_TRUE(sent.empty());
      else
        EXPECT_EQ(sent, std::vector<DWORD>{expected});
    };
    press(&ZeltoVideoDeviceDeck::DeckPlay, row.play);
    press(&ZeltoVideoDeviceDeck::DeckStop, row.stop);
    press(&ZeltoVideoDeviceDeck::DeckFastForward, row.fastForward);
    press(&ZeltoVideoDeviceDeck::DeckFastRewind, row.fastRewind);
    press(&ZeltoVideoDeviceDeck::DeckPause, row.pause);
    press(&ZeltoVideoDeviceDeck::DeckPlaySlow, row.playSlow);
  }
}

// A mode is asked for until the driver knows it, then kept; the media
// information is asked for every time.
TEST_F(DeckTest, CamcorderModeIsAskedUntilKnownAndMediaEveryTime) {
  driver.statusCode[DECK_STATUS_CAMCORDER_MODE] = CAMCORDER_MODE_SWITCHING;
  ZeltoVideoDeviceDeck deck(&holder, OX_VIDEO_SYSTEM_0);
  EXPECT_EQ(deck.GetCamcorderMode(), OX_CAMCORDER_MODE_UNKNOWN);
  EXPECT_EQ(deck.GetCamcorderMode(), OX_CAMCORDER_MODE_UNKNOWN);
  EXPECT_EQ(driver.statusCalls[DECK_STATUS_CAMCORDER_MODE], 2);
  driver.statusCode[DECK_STATUS_CAMCORDER_MODE] = CAMCORDER_MODE_CAMERA;
  EXPECT_EQ(deck.GetCamcorderMode(), OX_CAMCORDER_MODE_CAMERA);
  driver.statusCode[DECK_STATUS_CAMCORDER_MODE] = CAMCORDER_MODE_DECK;
  EXPECT_EQ(deck.GetCamcorderMode(), OX_CAMCORDER_MODE_CAMERA);  // cached
  EXPECT_EQ(driver.statusCalls[DECK_STATUS_CAMCORDER_MODE], 3);
  deck.UpdateCamcorderMode();
  EXPECT_EQ(deck.GetCamcorderMode(), OX_CAMCORDER_MODE_DECK);

  EXPECT_EQ(Mapped(DECK_STATUS_MEDIA_INFO, MEDIA_INFO_WRITE_PROTECTED, [&] { return deck.GetMediaInfo(); }),
            OX_MEDIA_WRITE_PROTECTED);
  EXPECT_EQ(Mapped(DECK_STATUS_MEDIA_INFO, MEDIA_INFO_NONE, [&] { return deck.GetMediaInfo(); }), OX_MEDIA_NONE);
}

}  // namespace
