// Each host notification raises the event its name promises, with its payload.
#include <gtest/gtest.h>

#include <vector>

#include "host/devevents/OxDeviceEvents.h"

using namespace Orvex;

namespace {

template <typename T>
struct Collector : KelSafeEventListener<T> {
  void OnEvent(const T& event) override { events.push_back(event); }
  std::vector<T> events;
};

}  // namespace

TEST(DeviceEventsTest, CapturingNotificationsCarryIdAndPayload) {
  CapturingEventNotification n;
  Collector<OxCapturingEvent> c;
  n.AddEventListener(&c);
  n.NotifyCreateCapturedFile(L"C:\\cap\\a-001-01.zlt");
  n.NotifyCompleteCapturedFile(L"C:\\cap\\a-001-01.zlt");
  n.NotifyCapturingErrorStop(OX_CAPTURING_ERROR_DECK_STOPPED);
  n.NotifyCompleteSectionBatchCapturing();
  n.NotifyCompleteBatchCapturing();
  n.NotifyBatchCaptureSearchIn();
  n.NotifyBatchCaptureSearchOut();
  ASSERT_EQ(c.events.size(), 7u);
  const _OxCapturingEventID expected[] = {OX_CAPTURING_CREATE_FILE,      OX_CAPTURING_COMPLETE_FILE,
                                          OX_CAPTURING_ERROR_STOP,       OX_CAPTURING_COMPLETE_SECTION,
                                          OX_CAPTURING_COMPLETE_BATCH,   OX_CAPTURING_SEARCH_IN,
                                          OX_CAPTURING_SEARCH_OUT};
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(c.events[i].GetEventID(), expected[i]) << i;
  EXPECT_EQ(c.events[0].GetFileName(), OxString(L"C:\\cap\\a-001-01.zlt"));
  EXPECT_EQ(c.events[1].GetFileName(), OxString(L"C:\\cap\\a-001-01.zlt"));
  EXPECT_EQ(c.events[2].GetErrorID(), 7);
  n.RemoveEventListener(&c);
  n.NotifyCompleteBatchCapturing();
  EXPECT_EQ(c.events.size(), 7u);
}

TEST(DeviceEventsTest, OtherNotificationsCarryIdAndPayload) {
  ScanningEventNotification scan;
  Collector<OxScanningEvent> scans;
  scan.AddEventListener(&scans);
  scan.NotifyScanningEvent(OX_SCANNING_ERROR_STOP);
  ASSERT_EQ(scans.events.size(), 1u);
  EXPECT_EQ(scans.events[0].GetEventID(), 3);

  ScapturingEventNotification scap;
  Collector<OxScapturingEvent> scaps;
  scap.AddEventListener(&scaps);
  scap.NotifyCreateCapturedFile(L"f-001-01.zlt");
  scap.NotifyCompleteScapturingSetup();
  scap.NotifyCompleteBatchScapturing();
  scap.NotifyScapturingErrorStop(OX_CAPTURING_ERROR_DEVICE_REMOVED);
  ASSERT_EQ(scaps.events.size(), 4u);
  EXPECT_EQ(scaps.events[0].GetFileName(), OxString(L"f-001-01.zlt"));
  EXPECT_EQ(scaps.events[1].GetEventID(), OX_SCAPTURING_COMPLETE_SETUP);
  EXPECT_EQ(scaps.events[2].GetEventID(), OX_SCAPTURING_COMPLETE);
  EXPECT_EQ(scaps.events[3].GetEventID(), OX_SCAPTURING_ERROR_STOP);
  EXPECT_EQ(scaps.events[3].GetErrorID(), 4);

  SceneSearchEventNotification scene;
  Collector<OxSceneSearchEvent> scenes;
  scene.AddEventListener(&scenes);
  scene.NotifyCompleteSceneSearch();
  scene.NotifyCompleteScenePlaying();
  ASSERT_EQ(scenes.events.size(), 2u);
  EXPECT_EQ(scenes.events[0].GetEventID(), OX_SCENE_SEARCH_COMPLETE);
  EXPECT_EQ(scenes.events[1].GetEventID(), OX_SCENE_PLAYING_COMPLETE);
}

TEST(DeviceEventsTest, RecordingNotificationIsACopyableSafeSource) {
  RecordingEventNotification n;
  Collector<OxRecordingEvent> c;
  n.AddEventListener(&c);
  RecordingEventNotification copy = n;  // the device that embeds one is copied
  copy.NotifyRecordingStart();
  copy.NotifyDataStart();
  copy.NotifyCompleteSectionRecording();
  copy.NotifyCompleteRecording();
  copy.NotifyRecordingErrorStop(OX_RECORDING_ERROR_TRANSMIT);
  ASSERT_EQ(c.events.size(), 5u);
  const _OxRecordingEventID expected[] = {OX_RECORDING_START, OX_RECORDING_DATA_START,
                                          OX_RECORDING_COMPLETE_SECTION, OX_RECORDING_COMPLETE,
                                          OX_RECORDING_ERROR_STOP};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(c.events[i].GetEventID(), expected[i]) << i;
  EXPECT_EQ(c.events[4].GetErrorID(), 1);
  OxSafeEventSource<OxRecordingEvent>* base = &n;  // the device holds it as this base
  EXPECT_EQ(base->GetEventListenerCount(), 1u);
}
