// The receive component's construction and teardown, the preparation that
// every capture kind shares, and the driver's file reports.
#include "zelto/capture/ZeltoVideoDeviceReceive.h"

#include <stdexcept>

#include "host/foundation/OxUnique.h"
#include "zelto/capture/CaptureTarget.h"

using namespace Orvex;
using zelto::capture::CaptureReportGate;

namespace {

[[noreturn]] void fail() { throw std::runtime_error("ZeltoVideoDeviceReceive::ZeltoVideoDeviceReceive"); }

// The pattern's part number is filled in by the driver.
constexpr DWORD kNamedByPattern = 1;

}  // namespace

ZeltoVideoDeviceReceive::ZeltoVideoDeviceReceive(ZeltoComPtr<ISmartControl>* smartControl,
                                                 _OxVideoSystem videoSystem, ZeltoVideoDevice* owner)
    : ownerDevice(owner) {
  if (!completionEvent.GetHandle()) fail();
  if (!smartControl || !*smartControl) fail();
  if (FAILED(smartControl->QueryInto(IID_IStreamReceive, receiveInterface)) || !receiveInterface) fail();

  GUID streamType = videoSystem != OX_VIDEO_SYSTEM_0 ? STREAMTYPE_VIDEOSYSTEM1 : STREAMTYPE_VIDEOSYSTEM0;
  const GUID_LIST streamTypes{1, &streamType};
  if (FAILED(receiveInterface->SetStreamTypes(&streamTypes))) fail();

  if (FAILED(smartControl->QueryInto(IID_ITapeScan, tapeScanInterface)) || !tapeScanInterface) fail();

  stopReceiving();
  InitializeCriticalSection(&thumbnailLock);
}

// The members then go in reverse order: the name generators, the tape scan,
// the thumbnails, the notification sources, the stored parameters, and the
// stream receive last.
ZeltoVideoDeviceReceive::~ZeltoVideoDeviceReceive() {
  // No run may outlive the notification source it reports to.
  endScapturingRuns();
  ownedTextRecord.reset();
  clearThumbnails();
  DeleteCriticalSection(&thumbnailLock);
}

bool ZeltoVideoDeviceReceive::stopReceiving() { return !FAILED(receiveInterface->Stop()); }

void ZeltoVideoDeviceReceive::resetCaptureCounters() {
  capturedBytes.store(0);
  filesCreated.store(0);
  filesCompleted.store(0);
  sectionsCompleted.store(0);
  batchFinished.store(false);
  batchCompleteTold.store(false);
  searching.store(false);
  scapturingNames.ResetCounters();
  directNames.ResetCounters();
  batchNames.ResetCounters();
  clearThumbnails();
}

void ZeltoVideoDeviceReceive::clearThumbnails() {
  EnterCriticalSection(&thumbnailLock);
  thumbnailStore.clear();
  LeaveCriticalSection(&thumbnailLock);
}

// batchParam is written only on the host's thread, which runs this; no lock
// is needed to read it here.
void ZeltoVideoDeviceReceive::prepareCapture(bool batch) {
  resetCaptureCounters();
  if (batch)
    zelto::capture::SendCaptureTarget(*receiveInterface.Get(), batchParam);
  else
    zelto::capture::SendCaptureTarget(*receiveInterface.Get(), directParam);
}

void ZeltoVideoDeviceReceive::registerCaptureFiles(bool batch) {
  if (!batch) {
    directNames.SetBaseName(directParam.fileBaseName);
    directNames.ResetCounters();
    receiveInterface->SetFileName(directNames.MakePartPattern().GetString(), kNamedByPattern);
    return;
  }
  if (batchItems.empty()) return;
  batchNames.SetBaseName(batchParam.fileBaseName);
  batchNames.ResetCounters();
  // Unsigned, so that the smallest first number wraps instead of overflowing.
  batchNames.SetFileNumber(
      static_cast<std::int32_t>(static_cast<std::uint32_t>(batchParam.firstFileNumber) - 1u));
  batchNames.SetFirstNumber(batchParam.firstFileNumber);
  const std::uint32_t first = static_cast<std::uint32_t>(batchNames.GetFirstNumber());
  for (std::size_t i = 0; i < batchItems.size(); ++i) {
    const OxString pattern =
        batchNames.MakeFilePattern(static_cast<std::int32_t>(first + static_cast<std::uint32_t>(i)));
    receiveInterface->AddBatchItem(batchItems[i].inPoint, 0, pattern.GetString(), kNamedByPattern);
  }
}

void ZeltoVideoDeviceReceive::advanceFileCounters() {
  scapturingNames.NextFile();
  directNames.NextPart();
  batchNames.NextPart();
  filesCreated.fetch_add(1);
}

void ZeltoVideoDeviceReceive::NotifyCreateCapturedFile(const OxString&) { reportFileCreated(captureGate->Current()); }

void ZeltoVideoDeviceReceive::reportFileCreated(CaptureReportGate::Capture capture) {
  // The next capture's names are made from the counters.
  if (!captureGate->IsCurrent(capture)) return;
  advanceFileCounters();
  OxString name;
  switch (capture.mode) {
    case modeScapturing: name = scapturingNames.MakeFirstPartName(); break;
    case modeDirect: name = directNames.MakePartName(); break;
    case modeBatch: name = batchNames.MakeFilePartName(); break;
    default: return;
  }
  OxString path = OxUnique::GetInstance().GetCaptureFolder().GetPath();
  path.Append(L"\\");
  path.Append(name);
  waitForFile(path, capture);
}

// The host may have ended the capture while the file was looked for.
void ZeltoVideoDeviceReceive::waitForFile(const OxString& path, CaptureReportGate::Capture capture) {
  for (int check = 1; check <= fileChecks; ++check) {
    if (GetFileAttributesW(path.GetString()) != INVALID_FILE_ATTRIBUTES) {
      const CaptureReportGate::Telling telling = openTelling(capture);
      if (!telling) return;
      if (capture.mode == modeScapturing)
        scapturingNotification.NotifyCreateCapturedFile(path);
      else
        capturingNotification.NotifyCreateCapturedFile(path);
      return;
    }
    if (check < fileChecks) Sleep(fileCheckPause);
  }
}

// A whole cassette's file reports belong to the run the host has going: none
// once the host has stopped it or a removal has ended it.
CaptureReportGate::Telling ZeltoVideoDeviceReceive::openTelling(CaptureReportGate::Capture capture) {
  CaptureReportGate::Telling telling = CaptureReportGate::Open(captureGate, capture);
  if (telling && capture.mode == modeScapturing && !autoCapturingThread.load()) return {};
  return telling;
}

// completionEvent is set before the host is told: a listener may end the
// device, and with it this component, from inside its call.
void ZeltoVideoDeviceReceive::NotifyCompleteCapturedFile(const OxString& fileName) {
  reportFileCompleted(fileName, captureGate->Current());
}

// An earlier capture's completion would end the wait for this one's last file.
void ZeltoVideoDeviceReceive::reportFileCompleted(const OxString& fileName, CaptureReportGate::Capture capture) {
  if (!captureGate->IsCurrent(capture)) return;
  filesCompleted.fetch_add(1);
  if (capture.mode == modeBatch && batchItemCount() <= static_cast<std::size_t>(sectionsCompleted.load()) + 1)
    batchFinished.store(true);
  completionEvent.Set();
  if (capture.mode != modeScapturing && capture.mode != modeDirect) return;
  if (const CaptureReportGate::Telling telling = openTelling(capture))
    capturingNotification.NotifyCompleteCapturedFile(fileName);
}

// The run, if any, is no longer tracked: the AbortScapturing that follows a
// removal then finds none to stop.
void ZeltoVideoDeviceReceive::NotifyDeviceRemoved() {
  const CaptureReportGate::Capture capture = captureGate->Current();
  if (capture.mode != modeScapturing) return;
  untrackScapturingRun();
  if (const CaptureReportGate::Telling telling = CaptureReportGate::Open(captureGate, capture))
    scapturingNotification.NotifyScapturingErrorStop(OX_CAPTURING_ERROR_DEVICE_REMOVED);
}

void ZeltoVideoDeviceReceive::notifyDriverError(std::intptr_t driverCode) {
  const CaptureReportGate::Capture capture = captureGate->Current();
  if (capture.mode != modeDirect && capture.mode != modeBatch) return;
  if (batchCompleteTold.load()) return;
  _OxCapturingErrorID error = OX_CAPTURING_ERROR_UNKNOWN;
  if (driverCode == DRIVER_ERROR_DEVICE_REMOVED)
    error = OX_CAPTURING_ERROR_DEVICE_REMOVED;
  else if (driverCode == DRIVER_ERROR_CAPTURE_WRITE)
    error = OX_CAPTURING_ERROR_FILE_WRITE;
  else if (driverCode == DRIVER_ERROR_CAPTURE_DECK)
    error = OX_CAPTURING_ERROR_DECK_STOPPED;
  if (const CaptureReportGate::Telling telling = CaptureReportGate::Open(captureGate, capture))
    NotifyCapturingErrorStop(error);
}

// Removals wait for a notification pass under way on another thread, so
// that the host may destroy the listener once the call returns.
void ZeltoVideoDeviceReceive::AddEventListener(KelSafeEventListener<OxCapturingEvent>* listener) {
  capturingNotification.AddEventListener(listener);
}
void ZeltoVideoDeviceReceive::RemoveEventListener(KelSafeEventListener<OxCapturingEvent>* listener) {
  capturingNotification.RemoveEventListenerAndWait(listener);
}
void ZeltoVideoDeviceReceive::AddEventListener(KelSafeEventListener<OxScanningEvent>* listener) {
  scanningNotification.AddEventListener(listener);
}
void ZeltoVideoDeviceReceive::RemoveEventListener(KelSafeEventListener<OxScanningEvent>* listener) {
  scanningNotification.RemoveEventListenerAndWait(listener);
}
void ZeltoVideoDeviceReceive::AddEventListener(KelSafeEventListener<OxScapturingEvent>* listener) {
  scapturingNotification.AddEventListener(listener);
}
void ZeltoVideoDeviceReceive::RemoveEventListener(KelSafeEventListener<OxScapturingEvent>* listener) {
  scapturingNotification.RemoveEventListenerAndWait(listener);
}
