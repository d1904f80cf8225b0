// Driver events that the device turns into notifications as the tape plays:
// streaming on and off at scene boundaries, the picture's video system and
// shape; the camcorder unplugged; and malformed events that must change
// nothing.
#include "tests/e2e/E2eSupport.h"

using namespace Orvex;
using namespace zelto::sim;
using e2e::CamcorderTest;

namespace {

class EventsE2e : public CamcorderTest {
protected:
  // Waits until the device has handled every event posted before this call:
  // a camcorder-mode event posted now is handled after all of them, in order.
  void Drain() {
    const std::size_t from = heard.Count();
    Panel().PostEvent(DRIVER_EVENT_CAMCORDER_MODE, 0);
    ASSERT_GE(WaitForEvent(from, OX_NOTIFY_CAMCORDER_MODE), 0);
  }
};

class PlayAcrossScenes : public EventsE2e {
protected:
  PlayAcrossScenes() {
    // A wide scene of video system 1, blank tape, a 4:3 scene of video
    // system 0, blank tape to the end, where the transport stops.
    config.camcorder.cassette = e2e::Tape(3.0, 0, {e2e::SceneAt(0.5, 1.0, true, 1), e2e::SceneAt(1.5, 2.5, false, 0)});
    timeScale = 0.5;
  }
};

TEST_F(PlayAcrossScenes, StreamingPictureFormatAndTheEndOfTheTapeArriveInOrder) {
  const std::size_t from = heard.Count();
  device->DeckPlay();
  const long stopped = WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_STOP; });
  ASSERT_GE(stopped, 0) << "the end of the tape never came back as a stop";
  EXPECT_EQ(Panel().Track(), 3u * kTracksPerSecond);
  ASSERT_NO_FATAL_FAILURE(Drain());  // every event of the run has been handled

  std::vector<_OxVideoDeviceNotification> values;
  std::vector<long> shapes;
  long lastStreamOff = -1;
  const auto entries = heard.Entries();
  for (std::size_t i = from; i < entries.size(); ++i) {
    const auto& e = entries[i];
    if (e.value == OX_NOTIFY_DEVICE_STATE || e.value == OX_NOTIFY_CAMCORDER_MODE) continue;
    EXPECT_NE(e.thread, hostThread) << "value " << e.value;
    values.push_back(e.value);
    if (e.value == OX_NOTIFY_DISPLAY_SIZE) shapes.push_back(e.note);
    if (e.value == OX_NOTIFY_STREAMING_OFF) lastStreamOff = static_cast<long>(i);
  }
  const std::vector<_OxVideoDeviceNotification> expected = {
      OX_NOTIFY_VIDEO_SYSTEM_OTHER, OX_NOTIFY_DISPLAY_SIZE, OX_NOTIFY_STREAMING_ON, OX_NOTIFY_STREAMING_OFF,
      OX_NOTIFY_VIDEO_SYSTEM_0,     OX_NOTIFY_DISPLAY_SIZE, OX_NOTIFY_STREAMING_ON, OX_NOTIFY_STREAMING_OFF};
  EXPECT_EQ(values, expected);
  EXPECT_EQ(shapes, (std::vector<long>{OX_ASPECT_WIDE, OX_ASPECT_NORMAL}));
  EXPECT_LT(lastStreamOff, stopped) << "the stream ends before the state that ended it";
  EXPECT_EQ(device->GetAspectRatio(), OX_ASPECT_NORMAL);
  EXPECT_EQ(device->GetVideoSystem(), OX_VIDEO_SYSTEM_1) << "only listeners hear of the video system";
}

// Unplugged: the removal event is handled and the device lives on, with
// every driver call failing; plugged in again, it works once it has read
// the deck afresh. Left unplugged, it still terminates cleanly.
TEST_F(EventsE2e, RemovedCamcorderLeavesAWorkingDevice) {
  Panel().RemoveDevice();
  ASSERT_NO_FATAL_FAILURE(Drain());
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
  EXPECT_EQ(device->GetMediaInfo(), OX_MEDIA_NONE);
  const OxTimeCode timeCode = device->GetTimecode();
  EXPECT_EQ(timeCode.GetHours() + timeCode.GetMinutes() + timeCode.GetSeconds() + timeCode.GetFrames(), 0);
  const unsigned sent = Panel().CallCount(Method::SendCommand);
  device->DeckPlay();
  device->DeckStop();
  EXPECT_EQ(Panel().CallCount(Method::SendCommand), sent) << "an unknown state sends nothing";

  Panel().ReconnectDevice();
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_STOP);
  const std::size_t from = heard.Count();
  device->DeckPlay();
  EXPECT_EQ(Panel().Mode(), TransportMode::Play);
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_PLAY; }), 0);

  Panel().RemoveDevice();
  ASSERT_NO_FATAL_FAILURE(Drain());
}

// Events no driver should send: a null record, codes the device does not
// know, known codes with arguments they never carry. None may reach a
// listener or the driver, and the device goes on working.
TEST_F(EventsE2e, MalformedEventsAreIgnored) {
  ASSERT_NO_FATAL_FAILURE(Drain());
  const std::size_t from = heard.Count();
  const unsigned asked = Panel().CallCount(Method::GetStatus);
  Panel().PostEventRecord(nullptr, 0);
  Panel().PostEventRecord(nullptr, DRIVER_EVENT_DECK_STATE);
  const DWORD unknown[] = {0, 1, 6, 12, 13, 14, 15, 16, 17, 22, 26, 33, 64, 0x7FFFFFFF, 0xFFFFFFFF};
  for (DWORD code : unknown) Panel().PostEvent(code, static_cast<LPARAM>(0xDEADBEEF));
  Panel().PostEvent(DRIVER_EVENT_FILE_COMPLETE, 0);  // no file record
  Panel().PostEvent(DRIVER_EVENT_DEVICE_ERROR, 7);   // an error that is not a removal
  for (DWORD code : {2u, 7u, 18u, 24u}) Panel().PostEvent(code, 1);  // re-posted, then nothing
  ASSERT_NO_FATAL_FAILURE(Drain());

  const auto entries = heard.Entries();
  ASSERT_EQ(entries.size(), from + 1) << "only the drain's own notification was heard";
  EXPECT_EQ(entries.back().value, OX_NOTIFY_CAMCORDER_MODE);
  EXPECT_EQ(Panel().CallCount(Method::GetStatus), asked + 1) << "only the drain read the driver";

  const std::size_t before = heard.Count();
  device->DeckPlay();
  ASSERT_GE(WaitForEvent(before, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_PLAY; }), 0);
}

}  // namespace
