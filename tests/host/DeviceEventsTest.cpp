// Each host notification raises the event its name promises, with its payload.
// Ids are compared as numbers: the host sees the values, not our names.
#include <gtest/gtest.h>

#include <vector>

#include "host/devevents/OxDeviceEvents.h"

using namespace Orvex;

namespace {

template <typename T>
struct Collector : KelSafeEventListener<T> {
  void OnEvent(const T& event) override { events.push_back(event); }
  std::vector<int> ids() const {
    std::vector<int> out;
    for (const T& e : events) out.push_back(static_cast<int>(e.GetEventID()));
    return out;
  }
  std::vector<T> events;
};

}  // namespace

TEST(DeviceEventsTest, EveryNotificationCarriesItsIdAndPayload) {
  CapturingEventNotification capturing;
  Collector<OxCapturingEvent> captures;
  capturing.AddEventListener(&captures);
  capturing.NotifyCreateCapturedFile(L"C:\\cap\\a-001-01.zlt");
  capturing.NotifyCompleteCapturedFile(L"C:\\cap\\a-001-02.zlt");
  capturing.NotifyCapturingErrorStop(OX_CAPTURING_ERROR_DECK_STOPPED);
  capturing.NotifyCompleteSectionBatchCapturing();
  capturing.NotifyCompleteBatchCapturing();
  capturing.NotifyBatchCaptureSearchIn();
  capturing.NotifyBatchCaptureSearchOut();
  ASSERT_EQ(captures.ids(), (std::vector{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(captures.events[0].GetFileName(), OxString(L"C:\\cap\\a-001-01.zlt"));
  EXPECT_EQ(captures.events[1].GetFileName(), OxString(L"C:\\cap\\a-001-02.zlt"));
  EXPECT_EQ(captures.events[2].GetErrorID(), 7);
  capturing.RemoveEventListener(&captures);
  capturing.NotifyCompleteBatchCapturing();
  EXPECT_EQ(captures.events.size(), 7u);

  ScanningEventNotification scanning;
  Collector<OxScanningEvent> scans;
  scanning.AddEventListener(&scans);
  scanning.NotifyScanningEvent(OX_SCANNING_ERROR_STOP);
  EXPECT_EQ(scans.ids(), std::vector{3});

  ScapturingEventNotification scapturing;
  Collector<OxScapturingEvent> scaps;
  scapturing.AddEventListener(&scaps);
  scapturing.NotifyCreateCapturedFile(L"f-001-01.zlt");
  scapturing.NotifyCompleteScapturingSetup();
  scapturing.NotifyCompleteBatchScapturing();
  scapturing.NotifyScapturingErrorStop(OX_CAPTURING_ERROR_DEVICE_REMOVED);
  ASSERT_EQ(scaps.ids(), (std::vector{0, 1, 2, 3}));
  EXPECT_EQ(scaps.events[0].GetFileName(), OxString(L"f-001-01.zlt"));
  EXPECT_EQ(scaps.events[3].GetErrorID(), 4);

  SceneSearchEventNotification sceneSearch;
  Collector<OxSceneSearchEvent> scenes;
  sceneSearch.AddEventListener(&scenes);
  sceneSearch.NotifyCompleteSceneSearch();
  sceneSearch.NotifyCompleteScenePlaying();
  EXPECT_EQ(scenes.ids(), (std::vector{0, 1}));

  RecordingEventNotification recording;
  Collector<OxRecordingEvent> records;
  recording.AddEventListener(&records);
  RecordingEventNotification copy = recording;  // the device that embeds one is copied
  copy.NotifyRecordingStart();
  copy.NotifyDataStart();
  copy.NotifyCompleteSectionRecording();
  copy.NotifyCompleteRecording();
  copy.NotifyRecordingErrorStop(OX_RECORDING_ERROR_TRANSMIT);
  ASSERT_EQ(records.ids(), (std::vector{0, 1, 2, 3, 4}));
  EXPECT_EQ(records.events[4].GetErrorID(), 1);
}
