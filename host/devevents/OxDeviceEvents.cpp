#include "host/devevents/OxDeviceEvents.h"

namespace Orvex {

CapturingEventNotification::CapturingEventNotification() = default;
CapturingEventNotification::~CapturingEventNotification() = default;

void CapturingEventNotification::NotifyCreateCapturedFile(const OxString& fileName) {
  NotifyEvent(OxCapturingEvent(OX_CAPTURING_CREATE_FILE, fileName));
}
void CapturingEventNotification::NotifyCompleteCapturedFile(const OxString& fileName) {
  NotifyEvent(OxCapturingEvent(OX_CAPTURING_COMPLETE_FILE, fileName));
}
void CapturingEventNotification::NotifyCapturingErrorStop(_OxCapturingErrorID errorId) {
  NotifyEvent(OxCapturingEvent(OX_CAPTURING_ERROR_STOP, OxString(), errorId));
}
void CapturingEventNotification::NotifyCompleteSectionBatchCapturing() {
  NotifyEvent(OxCapturingEvent(OX_CAPTURING_COMPLETE_SECTION));
}
void CapturingEventNotification::NotifyCompleteBatchCapturing() {
  NotifyEvent(OxCapturingEvent(OX_CAPTURING_COMPLETE_BATCH));
}
void CapturingEventNotification::NotifyBatchCaptureSearchIn() {
  NotifyEvent(OxCapturingEvent(OX_CAPTURING_SEARCH_IN));
}
void CapturingEventNotification::NotifyBatchCaptureSearchOut() {
  NotifyEvent(OxCapturingEvent(OX_CAPTURING_SEARCH_OUT));
}

ScanningEventNotification::ScanningEventNotification() = default;
ScanningEventNotification::~ScanningEventNotification() = default;

void ScanningEventNotification::NotifyScanningEvent(_OxScanningEventID id) {
  NotifyEvent(OxScanningEvent(id));
}

ScapturingEventNotification::ScapturingEventNotification() = default;
ScapturingEventNotification::~ScapturingEventNotification() = default;

void ScapturingEventNotification::NotifyCreateCapturedFile(const OxString& fileName) {
  NotifyEvent(OxScapturingEvent(OX_SCAPTURING_CREATE_FILE, fileName));
}
void ScapturingEventNotification::NotifyCompleteScapturingSetup() {
  NotifyEvent(OxScapturingEvent(OX_SCAPTURING_COMPLETE_SETUP));
}
void ScapturingEventNotification::NotifyCompleteBatchScapturing() {
  NotifyEvent(OxScapturingEvent(OX_SCAPTURING_COMPLETE));
}
void ScapturingEventNotification::NotifyScapturingErrorStop(_OxCapturingErrorID errorId) {
  NotifyEvent(OxScapturingEvent(OX_SCAPTURING_ERROR_STOP, OxString(), errorId));
}

RecordingEventNotification::RecordingEventNotification() = default;
RecordingEventNotification::~RecordingEventNotification() = default;

void RecordingEventNotification::NotifyRecordingStart() {
  NotifyEvent(OxRecordingEvent(OX_RECORDING_START));
}
void RecordingEventNotification::NotifyDataStart() {
  NotifyEvent(OxRecordingEvent(OX_RECORDING_DATA_START));
}
void RecordingEventNotification::NotifyCompleteSectionRecording() {
  NotifyEvent(OxRecordingEvent(OX_RECORDING_COMPLETE_SECTION));
}
void RecordingEventNotification::NotifyCompleteRecording() {
  NotifyEvent(OxRecordingEvent(OX_RECORDING_COMPLETE));
}
void RecordingEventNotification::NotifyRecordingErrorStop(_OxRecordingErrorID errorId) {
  NotifyEvent(OxRecordingEvent(OX_RECORDING_ERROR_STOP, errorId));
}

SceneSearchEventNotification::SceneSearchEventNotification() = default;
SceneSearchEventNotification::~SceneSearchEventNotification() = default;

void SceneSearchEventNotification::NotifyCompleteSceneSearch() {
  NotifyEvent(OxSceneSearchEvent(OX_SCENE_SEARCH_COMPLETE));
}
void SceneSearchEventNotification::NotifyCompleteScenePlaying() {
  NotifyEvent(OxSceneSearchEvent(OX_SCENE_PLAYING_COMPLETE));
}

}  // namespace Orvex
