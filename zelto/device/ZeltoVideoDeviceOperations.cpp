// The device's exported operations: each checks the component it needs and
// hands the call on. The recording operations are in
// zelto/record/ZeltoVideoDeviceRecording.cpp, scapturing's run in the
// receive component.
#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/capture/ZeltoVideoDevicePreview.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"
#include "zelto/cassette/ItemDuration.h"
#include "zelto/deck/ZeltoVideoDeviceDeck.h"
#include "zelto/device/ZeltoDeviceLiveness.h"
#include "zelto/device/ZeltoVideoDevice.h"
#include "zelto/record/ZeltoVideoDeviceTransmit.h"

using namespace Orvex;

// ---- Listeners ----
// Every removal waits for a pass under way on another thread (see the
// header); a component that owns a source removes from it the same way, as
// the deck does.

namespace {

template <typename T>
void removeAndWait(KelSafeEventSource<T>& source, KelSafeEventListener<T>* listener) {
  if (listener) source.RemoveEventListenerAndWait(listener);
}

}  // namespace

void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<_OxVideoDeviceNotification>* listener) {
  if (listener) notification.AddEventListener(listener);
}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<_OxVideoDeviceNotification>* listener) {
  removeAndWait(notification, listener);
}

// The capturing, scanning and scapturing sources belong to the receive
// component, whose removals wait for a pass under way on another thread.
void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxCapturingEvent>* listener) {
  if (ZeltoVideoDeviceReceive* r = receive.load(); r && listener) r->AddEventListener(listener);
}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxCapturingEvent>* listener) {
  if (ZeltoVideoDeviceReceive* r = receive.load(); r && listener) r->RemoveEventListener(listener);
}
void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxScanningEvent>* listener) {
  if (ZeltoVideoDeviceReceive* r = receive.load(); r && listener) r->AddEventListener(listener);
}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxScanningEvent>* listener) {
  if (ZeltoVideoDeviceReceive* r = receive.load(); r && listener) r->RemoveEventListener(listener);
}
void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxScapturingEvent>* listener) {
  if (ZeltoVideoDeviceReceive* r = receive.load(); r && listener) r->AddEventListener(listener);
}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxScapturingEvent>* listener) {
  if (ZeltoVideoDeviceReceive* r = receive.load(); r && listener) r->RemoveEventListener(listener);
}

void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxRecordingEvent>* listener) {
  if (listener) recordingNotification.AddEventListener(listener);
}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxRecordingEvent>* listener) {
  removeAndWait(recordingNotification, listener);
}

void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxSceneSearchEvent>* listener) {
  if (ZeltoVideoDeviceDeck* d = deck.load(); d && listener) d->AddEventListener(listener);
}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxSceneSearchEvent>* listener) {
  if (ZeltoVideoDeviceDeck* d = deck.load(); d && listener) d->RemoveEventListener(listener);
}

// Passed on as given, null included: the manager decides.
void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) {
  if (micDatabaseManager) micDatabaseManager->AddEventListener(listener);
}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxReadingMicEvent>* listener) {
  if (micDatabaseManager) micDatabaseManager->RemoveEventListener(listener);
}

void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxAdjustEvent>*) {}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxAdjustEvent>*) {}
void ZeltoVideoDevice::AddEventListener(KelSafeEventListener<OxUpdateFrameEvent>*) {}
void ZeltoVideoDevice::RemoveEventListener(KelSafeEventListener<OxUpdateFrameEvent>*) {}

// ---- Device state and deck ----

_OxVideoDeviceState ZeltoVideoDevice::GetDeviceState() const {
  ZeltoVideoDeviceDeck* d = deck.load();
  return d ? d->GetDeviceState() : OX_DEVICE_STATE_UNKNOWN;
}

_OxMediaInfo ZeltoVideoDevice::GetMediaInfo() const {
  ZeltoVideoDeviceDeck* d = deck.load();
  return d ? d->GetMediaInfo() : OX_MEDIA_NONE;
}

_OxCamcorderMode ZeltoVideoDevice::GetCamcorderMode() const {
  ZeltoVideoDeviceDeck* d = deck.load();
  return d ? d->GetCamcorderMode() : OX_CAMCORDER_MODE_UNKNOWN;
}

OxTimeCode ZeltoVideoDevice::GetTimecode() const {
  OxTimeCode timeCode;
  timeCode.ResetNoFrameRate();
  if (ZeltoVideoDeviceDeck* d = deck.load()) {
    try {
      d->GetTimecode(timeCode);
    } catch (const std::runtime_error&) {
      // What was read so far is the answer.
    }
  }
  return timeCode;
}

// The deck's refresh may call a scene-search listener that terminates or
// deletes this device; then nothing of it may be touched any more.
void ZeltoVideoDevice::UpdateDeviceState() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) {
    const std::shared_ptr<ZeltoDeviceLiveness> stillLive = live;
    d->UpdateDeviceState();
    if (!stillLive->live.load()) return;
    notification.NotifyEvent(OX_NOTIFY_DEVICE_STATE);
  }
}

void ZeltoVideoDevice::UpdateMediaInfo() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) {
    d->UpdateMediaInfo();
    notification.NotifyEvent(OX_NOTIFY_MEDIA_INFO);
  }
}

void ZeltoVideoDevice::UpdateCamcorderMode() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) {
    d->UpdateCamcorderMode();
    notification.NotifyEvent(OX_NOTIFY_CAMCORDER_MODE);
  }
}

void ZeltoVideoDevice::DeckPlay() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) d->DeckPlay();
}
void ZeltoVideoDevice::DeckStop() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) d->DeckStop();
}
void ZeltoVideoDevice::DeckPause() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) d->DeckPause();
}
void ZeltoVideoDevice::DeckFastForward() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) d->DeckFastForward();
}
void ZeltoVideoDevice::DeckFastRewind() {
  if (ZeltoVideoDeviceDeck* d = deck.load()) d->DeckFastRewind();
}
// The driver has one slow speed; the argument cannot choose another.
void ZeltoVideoDevice::DeckPlaySlow(int) {
  if (ZeltoVideoDeviceDeck* d = deck.load()) d->DeckPlaySlow();
}
void ZeltoVideoDevice::DeckPlayFast(int) {}
void ZeltoVideoDevice::DeckRevPlayFast(int) {}
void ZeltoVideoDevice::DeckRevPlaySlow(int) {}
void ZeltoVideoDevice::DeckStepForward() {}
void ZeltoVideoDevice::DeckStepReverse() {}

bool ZeltoVideoDevice::StartSeekATN(unsigned absoluteTrackNumber) {
  ZeltoVideoDeviceDeck* d = deck.load();
  if (!d) return false;
  d->StartSeekATN(absoluteTrackNumber);
  return true;
}

void ZeltoVideoDevice::AbortSeekATN() {}

// ---- Preview and picture ----
// The device remembers muting, visibility and deinterlacing, so that a
// preview window given later gets them; the preview is called only while it
// exists.

namespace {

std::uint32_t qualityIndexFor(_OxVideoResolution resolution) {
  switch (resolution) {
    case OX_RESOLUTION_HIGH: return 0;
    case OX_RESOLUTION_MIDDLE: return 1;
    case OX_RESOLUTION_LOW: return 2;
    default: return 1;
  }
}

constexpr unsigned long kFullVolume = 100;

}  // namespace

// The window's own result is not looked at: the remembered settings are
// applied either way.
void ZeltoVideoDevice::SetPreviewWindow(OxWindow* window, OxRect* rect) {
  ZeltoVideoDevicePreview* p = preview.load();
  if (!p) return;
  p->SetWindow(window, rect);
  SetPreviewMuting(previewMuting);
  SetPreviewMonitorVisibility(previewMonitorVisible);
}

void ZeltoVideoDevice::SetPreviewMuting(bool mute) {
  previewMuting = mute;
  if (ZeltoVideoDevicePreview* p = preview.load()) p->SetVolumeLevel(mute ? 0 : kFullVolume);
}

void ZeltoVideoDevice::SetVolume(unsigned long volume) {
  volume = std::min(volume, kFullVolume);
  previewMuting = volume == 0;
  if (ZeltoVideoDevicePreview* p = preview.load()) p->SetVolumeLevel(static_cast<std::uint32_t>(volume));
}

void ZeltoVideoDevice::SetPreviewMonitorVisibility(bool visible) {
  previewMonitorVisible = visible;
  if (ZeltoVideoDevicePreview* p = preview.load()) p->SetMonitorMode(visible);
}

void ZeltoVideoDevice::SetVideoResolution(_OxVideoResolution resolution) {
  if (ZeltoVideoDevicePreview* p = preview.load()) p->ApplyDecodeQuality(qualityIndexFor(resolution), deinterlaceEnable);
}

bool ZeltoVideoDevice::setDecodeQuality() {
  ZeltoVideoDevicePreview* p = preview.load();
  return p && p->ApplyDecodeQuality(0, deinterlaceEnable);
}

// The quality index goes back to 0 with it.
void ZeltoVideoDevice::SetVideoDecodeDeinterlaceEnable(bool enable) {
  deinterlaceEnable = enable;
  setDecodeQuality();
}

// Only listeners hear of it; the device keeps the system it was started with.
void ZeltoVideoDevice::ChangeVideoSystem(_OxVideoSystem newVideoSystem) {
  notification.NotifyEvent(newVideoSystem == OX_VIDEO_SYSTEM_0 ? OX_NOTIFY_VIDEO_SYSTEM_0
                                                               : OX_NOTIFY_VIDEO_SYSTEM_OTHER);
}

void ZeltoVideoDevice::ChangeDisplaySize(_OxAspectRatio newAspectRatio) {
  aspectRatio.store(newAspectRatio);
  notification.NotifyEvent(OX_NOTIFY_DISPLAY_SIZE);
}

void ZeltoVideoDevice::ChangeStreaming(bool on) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->ChangeStreaming(on);
  notification.NotifyEvent(on ? OX_NOTIFY_STREAMING_ON : OX_NOTIFY_STREAMING_OFF);
}

_OxAspectRatio ZeltoVideoDevice::GetAspectRatio() const { return aspectRatio.load(); }

_OxVideoSystem ZeltoVideoDevice::GetVideoSystem() const { return videoSystem; }

// ---- Batch and direct capturing: the receive component's ----

namespace {

// One job for the tape at a time: see the header.
bool recordingUnderWay(const ZeltoVideoDeviceTransmit* transmit) { return transmit && transmit->IsRecording(); }

}  // namespace

void ZeltoVideoDevice::SetBatchCapturingList(_OxBatchCapturingParam param, std::vector<_OxBatchCapturingItem>& items) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->SetBatchCapturingList(std::move(param), items);
}
void ZeltoVideoDevice::GetBatchCapturingList(std::vector<_OxBatchCapturingItem>&) {}
void ZeltoVideoDevice::GetBatchCapturingProgress(_OxBatchCapturingProgress& progress) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->GetBatchCapturingProgress(progress);
}
void ZeltoVideoDevice::StartBatchCapturing() {
  ZeltoVideoDeviceReceive* r = receive.load();
  if (!r) return;
  if (recordingUnderWay(transmit.load())) {
    r->NotifyCapturingErrorStop(OX_CAPTURING_ERROR_DECK_STOPPED);
    return;
  }
  r->StartBatchCapturing();
}
void ZeltoVideoDevice::StopBatchCapturing() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->StopBatchCapturing();
}
void ZeltoVideoDevice::AbortBatchCapturing() { StopBatchCapturing(); }
// The batch stop, deck included: it ends a direct capture too.
void ZeltoVideoDevice::AbortDirectCapturing() { StopBatchCapturing(); }
void ZeltoVideoDevice::EraseFileBatchCapturing(_OxCancelState state) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->eraseBatchFiles(state);
}
bool ZeltoVideoDevice::CheckBatchCapturingParam() {
  ZeltoVideoDeviceReceive* r = receive.load();
  return r && r->CheckBatchCapturingParam();
}
bool ZeltoVideoDevice::CheckDirectCapturingParam() { return CheckBatchCapturingParam(); }
void ZeltoVideoDevice::SetDirectCapturingStructure(_OxDirectCapturingParam& param) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->SetDirectCapturingStructure(param);
}
void ZeltoVideoDevice::GetDirectCapturingProgress(_OxDirectCapturingProgress& progress) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->GetDirectCapturingProgress(progress);
}
void ZeltoVideoDevice::StartDirectCapturing() {
  ZeltoVideoDeviceReceive* r = receive.load();
  if (!r) return;
  if (recordingUnderWay(transmit.load())) {
    r->NotifyCapturingErrorStop(OX_CAPTURING_ERROR_DECK_STOPPED);
    return;
  }
  r->StartDirectCapturing();
}
void ZeltoVideoDevice::ExitDirectCapturing() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->ExitDirectCapturing();
}
void ZeltoVideoDevice::AbortCapturing() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->AbortCapturing();
}
void ZeltoVideoDevice::StopDirectCapturing() { AbortCapturing(); }
void ZeltoVideoDevice::PauseDirectCapturing() {}
void ZeltoVideoDevice::RestartDirectCapturing() {}

// Each hands the report on and does nothing after it: a listener may end
// the device from inside its call.
void ZeltoVideoDevice::NotifyCreateCapturedFile(const OxString& fileName) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyCreateCapturedFile(fileName);
}
void ZeltoVideoDevice::NotifyCompleteCapturedFile(const OxString& fileName) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyCompleteCapturedFile(fileName);
}
void ZeltoVideoDevice::NotifyCapturingErrorStop(_OxCapturingErrorID errorId) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyCapturingErrorStop(errorId);
}
void ZeltoVideoDevice::NotifyCompleteSectionBatchCapturing() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyCompleteSectionBatchCapturing();
}
void ZeltoVideoDevice::NotifyCompleteBatchCapturing() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyCompleteBatchCapturing();
}
void ZeltoVideoDevice::NotifyBatchCaptureSearchIn() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyBatchCaptureSearchIn();
}
void ZeltoVideoDevice::NotifyBatchCaptureSearchOut() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyBatchCaptureSearchOut();
}
void ZeltoVideoDevice::NotifyDeviceRemoved() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyDeviceRemoved();
}

// ---- Tape scanning: the receive component's ----
// The preview's picture is hidden while the tape is scanned; the remembered
// visibility is left as it is.

void ZeltoVideoDevice::NotifyGotThumbnail(const _THUMBNAIL_DATA* thumbnail) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyGotThumbnail(thumbnail);
}
void ZeltoVideoDevice::NotifyScanTapeErrorStop() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyScanTapeErrorStop();
}
void ZeltoVideoDevice::NotifyScanTapeCompleted() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->NotifyScanTapeCompleted();
}

void ZeltoVideoDevice::SetScanningParam(_OxScanningParam param) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->SetScanningParam(param);
}

// A scan refused for a recording under way leaves the preview as it was.
void ZeltoVideoDevice::StartScanning() {
  ZeltoVideoDeviceReceive* r = receive.load();
  if (r && recordingUnderWay(transmit.load())) {
    r->notifyScanRefused();
    return;
  }
  if (ZeltoVideoDevicePreview* p = preview.load()) p->SetMonitorMode(false);
  if (r) r->StartScanning();
}

void ZeltoVideoDevice::StopScanning() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->StopScanning();
  if (ZeltoVideoDevicePreview* p = preview.load()) p->SetMonitorMode(true);
}

void ZeltoVideoDevice::CancelScanning() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->CancelScanning();
  if (ZeltoVideoDevicePreview* p = preview.load()) p->SetMonitorMode(true);
}

// ---- Scapturing: the receive component's ----

void ZeltoVideoDevice::SetupScapturing(_OxBatchCapturingParam param) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->SetupScapturing(std::move(param));
}
void ZeltoVideoDevice::AbortSetupScapturing() {}
// The smart control goes to the run through the singleton's first position,
// the receive component's stream receive through its third. Nothing is
// marshalled while a run is still going: a second start does nothing.
void ZeltoVideoDevice::StartScapturing() {
  ZeltoVideoDeviceReceive* r = receive.load();
  if (!r || !r->readyForScapturing()) return;
  // The preview gives the stream up to the capture.
  if (ZeltoVideoDevicePreview* p = preview.load()) {
    p->SetCaptureMonitorMode(false);
    r->stopReceiving();
  }
  if (!ZeltoVideoDeviceSmartControlSingleton::GetInstance()->GetSmartControlStream().Marshal(IID_ISmartControl,
                                                                                            smartControl.Get()))
    return;
  r->StartScapturing();
}
void ZeltoVideoDevice::StopScapturing() {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->StopScapturing();
}
void ZeltoVideoDevice::AbortScapturing() { StopScapturing(); }
void ZeltoVideoDevice::GetScapturingProgress(_OxScapturingProgress& progress) {
  if (ZeltoVideoDeviceReceive* r = receive.load()) r->GetScapturingProgress(progress);
}

// ---- Cassette memory ----

MemoryInCassette& ZeltoVideoDevice::GetTapeInformation() { return memoryInCassette; }
bool ZeltoVideoDevice::IsCleaningTape() const { return memoryInCassette.IsCleaningTape(); }
void ZeltoVideoDevice::GetTapeTitle(OxString& title) { memoryInCassette.GetTapeTitle(title); }
bool ZeltoVideoDevice::GetTapeText(OxString& text) { return memoryInCassette.GetTapeText(text); }
bool ZeltoVideoDevice::SetTapeText(OxString& text) { return memoryInCassette.SetTapeText(text); }
long ZeltoVideoDevice::GetMICRecInfoCount() { return memoryInCassette.GetMICRecInfoCount(); }
void ZeltoVideoDevice::GetMICRecInfo(std::vector<_OxMICRecInfo>& records) { memoryInCassette.GetMICRecInfo(records); }

OxTimeCode ZeltoVideoDevice::GetItemDuration(_OxMarkPosition start, _OxMarkPosition end) {
  return zelto::cassette::ItemDuration(start, end);
}

void ZeltoVideoDevice::GetMarkPosition(_OxMarkPosition&) {}
