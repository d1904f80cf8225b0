// The host's notification sources. Each is a safe event source of its event
// type (AddEventListener, RemoveEventListener, RemoveEventListenerAndWait...
// are inherited) whose Notify operations build the event and deliver it to
// every registered listener on the calling thread. Copyable: a copy has the
// same listeners and a lock of its own.
#pragma once

#include "host/devevents/OxCapturingEvent.h"
#include "host/devevents/OxRecordingEvent.h"
#include "host/devevents/OxScanningEvent.h"
#include "host/devevents/OxScapturingEvent.h"
#include "host/devevents/OxSceneSearchEvent.h"
#include "host/foundation/OxString.h"
#include "host/kel/OxSafeEventSource.h"

namespace Orvex {

class CapturingEventNotification : public OxSafeEventSource<OxCapturingEvent> {
public:
  CapturingEventNotification();
  CapturingEventNotification(const CapturingEventNotification&) = default;
  CapturingEventNotification& operator=(const CapturingEventNotification&) = default;
  ~CapturingEventNotification() override;

  void NotifyCreateCapturedFile(const OxString& fileName);
  void NotifyCompleteCapturedFile(const OxString& fileName);
  void NotifyCapturingErrorStop(_OxCapturingErrorID errorId);
  void NotifyCompleteSectionBatchCapturing();
  void NotifyCompleteBatchCapturing();
  void NotifyBatchCaptureSearchIn();
  void NotifyBatchCaptureSearchOut();
};

class ScanningEventNotification : public OxSafeEventSource<OxScanningEvent> {
public:
  ScanningEventNotification();
  ScanningEventNotification(const ScanningEventNotification&) = default;
  ScanningEventNotification& operator=(const ScanningEventNotification&) = default;
  ~ScanningEventNotification() override;

  void NotifyScanningEvent(_OxScanningEventID id);
};

class ScapturingEventNotification : public OxSafeEventSource<OxScapturingEvent> {
public:
  ScapturingEventNotification();
  ScapturingEventNotification(const ScapturingEventNotification&) = default;
  ScapturingEventNotification& operator=(const ScapturingEventNotification&) = default;
  ~ScapturingEventNotification() override;

  void NotifyCreateCapturedFile(const OxString& fileName);
  void NotifyCompleteScapturingSetup();
  void NotifyCompleteBatchScapturing();
  void NotifyScapturingErrorStop(_OxCapturingErrorID errorId);
};

class RecordingEventNotification : public OxSafeEventSource<OxRecordingEvent> {
public:
  RecordingEventNotification();
  RecordingEventNotification(const RecordingEventNotification&) = default;
  RecordingEventNotification& operator=(const RecordingEventNotification&) = default;
  ~RecordingEventNotification() override;

  void NotifyRecordingStart();
  void NotifyDataStart();
  void NotifyCompleteSectionRecording();
  void NotifyCompleteRecording();
  void NotifyRecordingErrorStop(_OxRecordingErrorID errorId);
};

class SceneSearchEventNotification : public OxSafeEventSource<OxSceneSearchEvent> {
public:
  SceneSearchEventNotification();
  SceneSearchEventNotification(const SceneSearchEventNotification&) = default;
  SceneSearchEventNotification& operator=(const SceneSearchEventNotification&) = default;
  ~SceneSearchEventNotification() override;

  void NotifyCompleteSceneSearch();
  void NotifyCompleteScenePlaying();
};

}  // namespace Orvex
