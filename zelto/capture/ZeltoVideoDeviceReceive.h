// The device's handle on the driver's receiving path. The driver writes the
// capture files itself; this component tells it where (folder), how to name
// them (patterns of ZeltoCaptureNameGenerator), when to start a new part
// (size limit) and when to start and stop, and it turns the driver's
// reports, which the message receiver delivers through the device's notify
// operations, into host events and progress figures.
//
// What is here: construction and teardown, the preparation shared by every
// capture kind, the file reports, batch capturing, direct capturing and
// tape scanning with its thumbnails, and scapturing
// (ZeltoVideoDeviceReceiveScapture.cpp, which says how its runs are kept).
//
// Threads. The host's thread starts, stops and asks for progress; the
// message receiver's thread delivers the reports. What both touch is safe to
// share without tearing or a data race: the counters, flags, capturedBytes
// and the generators' numbers are atomics; captureMode is kept under the lock
// of captureGate, which also keeps a capture's file and error reports from
// reaching the host once the host has ended that capture; the batch list and
// its parameters are written by the host's thread under batchLock, under
// which the reports read them; directParam and totalMilliseconds are the
// host thread's alone. A progress figure read while a report is being
// handled may mix the state before and after that report.
//
// Host notifications. Each operation that tells the host something does so
// as its very last step, and nothing of this component is touched once a
// listener has returned: a listener may end the device from inside its
// call. That is why NotifyCompleteCapturedFile signals completionEvent
// before it tells the host, not after.
//
// Removing a listener: once RemoveEventListener returns, the listener is not
// called again (a pass under way on another thread is waited for).
//
// Decisions:
// - Batch progress when the list adds up to 0 ms (an empty list, or only
//   sections whose out-point equals their in-point): percent is 100. The
//   captured time is never below 1001 ms, so it exceeds a zero total, and
//   any captured time above the total is shown as 100; nothing is divided by
//   zero.
// - A base name holding '%': never used as a format; patterns carry it with
//   each '%' doubled (see ZeltoCaptureNameGenerator.h), so the names a
//   printf-style driver makes from them are the names this component looks
//   for. A driver that takes no '%' in a pattern but its placeholder (the
//   simulated one) refuses such a pattern, doubled or not; hosts are best
//   advised to keep '%' out of base names.
// - A section report for which the list holds no item (a report the stored
//   list cannot account for): the count goes up and the host is told, but no
//   cassette-memory entry is updated.
// - A part whose size cannot be read (gone, or not a plain file) adds
//   nothing to a section's size.
// - Time codes made from milliseconds hold at most 99 hours; a longer time
//   leaves the time code at 00:00:00:00.
// - Driver errors during a batch or direct capture (driver event 5): a
//   removed camcorder, a capture file that cannot be written (a full disk)
//   or a deck that will not search for a section ends the capture on the
//   driver's side, and nothing else would tell the host. So while
//   captureMode is 2 or 3, notifyDriverError passes every event 5 on to the
//   capturing listeners as NotifyCapturingErrorStop:
//   DRIVER_ERROR_DEVICE_REMOVED as OX_CAPTURING_ERROR_DEVICE_REMOVED (4),
//   DRIVER_ERROR_CAPTURE_WRITE as OX_CAPTURING_ERROR_FILE_WRITE (3),
//   DRIVER_ERROR_CAPTURE_DECK as OX_CAPTURING_ERROR_DECK_STOPPED (7), any
//   other argument as OX_CAPTURING_ERROR_UNKNOWN (1). The capture itself is
//   left as it is: the host ends it (StopBatchCapturing,
//   ExitDirectCapturing) as usual. The message receiver calls it after
//   NotifyDeviceRemoved and AbortScapturing, so what those do is unchanged.
// - Thumbnails: what NotifyGotThumbnail keeps, and how much of it, is
//   decided by the bitmap's header; see ThumbnailBitmap.h. One whose header
//   does not hold together (a null pointer among them) is dropped without
//   a word, and is never read past its header. A colour table between the
//   header and the pixels is copied with them: the cassette memory gets the
//   picture whole.
// - The thumbnail store and the merge: every change of thumbnailStore (the
//   insert, clearThumbnails) is made under thumbnailLock, and the merge
//   takes the whole store under it by swap, then works on what it took,
//   which no other thread can reach, with the lock left: the store it merges
//   never changes under it, and the message receiver's thread never waits
//   for the cassette memory. A thumbnail that arrives during a merge goes
//   into the emptied store and into the cassette memory with the next
//   merge; the merge never sees half a store nor drops a thumbnail it has
//   not looked at. A merge that throws puts what it took back, ahead of
//   anything that came meanwhile, and the exception passes on.
// - A camcorder removed while a scan runs (driver event 5 with
//   DRIVER_ERROR_DEVICE_REMOVED): the scanning listeners hear the error stop
//   (OX_SCANNING_ERROR_STOP) once, unless the scan was cancelled; the host
//   then stops the scan as after any error stop. Only a removal: other
//   driver errors during a scan reach the host as the driver's own
//   scan-error report.
// - One job for the tape at a time: isBusy() says whether a capture (any
//   captureMode but idle; for a whole cassette, only while its run has not
//   let the driver go) or a scan (from StartScanning until StopScanning or
//   CancelScanning) is under way, and a recording is refused meanwhile.
//   A capture or scan started while a recording is under way is refused by
//   the device before it gets here; see ZeltoVideoDevice.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "host/devevents/EventNotifications.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/foundation/OxString.h"
#include "host/foundation/OxTimeCode.h"
#include "host/kel/KelSafeEventListener.h"
#include "platform/win32.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"
#include "zelto/capture/CaptureReportGate.h"
#include "zelto/capture/ZeltoCaptureNameGenerator.h"
#include "zelto/deck/ZeltoEvent.h"

class ZeltoVideoDevice;
class ZeltoVideoDeviceAutoCapturing;

class ZeltoVideoDeviceReceive {
public:
  // Takes the driver's stream receive and tape scan from the smart control
  // and sets the stream type for the video system (non-zero: video system
  // 1). Throws std::runtime_error "ZeltoVideoDeviceReceive::ZeltoVideoDeviceReceive"
  // when either interface is missing, the stream type is refused or the
  // completion event cannot be made; what was obtained is released.
  ZeltoVideoDeviceReceive(ZeltoComPtr<ISmartControl>* smartControl, Orvex::_OxVideoSystem videoSystem,
                          ZeltoVideoDevice* owner);
  ~ZeltoVideoDeviceReceive();
  ZeltoVideoDeviceReceive(const ZeltoVideoDeviceReceive&) = delete;
  ZeltoVideoDeviceReceive& operator=(const ZeltoVideoDeviceReceive&) = delete;

  // ---- Shared ----
  // IStreamReceive::Stop; true when the driver did not refuse.
  bool stopReceiving();
  // The driver opened a file (the name is not used: it is rebuilt from the
  // counters). Waits up to about 200 ms for the file to appear.
  void NotifyCreateCapturedFile(const Orvex::OxString& fileName);
  // The driver closed the file it names.
  void NotifyCompleteCapturedFile(const Orvex::OxString& fileName);
  // The same two reports as the message window takes them, of `capture`
  // (reportGate's OfArrival then): a report of a capture that has ended
  // since is dropped whole, counters and completion included.
  void reportFileCreated(zelto::capture::CaptureReportGate::Capture capture);
  void reportFileCompleted(const Orvex::OxString& fileName, zelto::capture::CaptureReportGate::Capture capture);
  // A batch's section, search and end reports (driver events 23, 25, 27,
  // 28) as the message window takes them: told as the device's operations
  // of the same names tell them, while `capture` lasts.
  void reportBatchStep(DWORD driverCode, zelto::capture::CaptureReportGate::Capture capture);
  // Which capture the driver's reports belong to; see CaptureReportGate.
  const std::shared_ptr<zelto::capture::CaptureReportGate>& reportGate() const { return captureGate; }
  void NotifyDeviceRemoved();
  // Driver event 5 with its argument; see Decisions above.
  void notifyDriverError(std::intptr_t driverCode);
  void AddEventListener(KelSafeEventListener<Orvex::OxCapturingEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxCapturingEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxScanningEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxScanningEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxScapturingEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxScapturingEvent>* listener);

  // ---- Batch capturing ----
  // Stores copies of both; the total length is 10 x the sum of
  // (outPoint - inPoint), in 32-bit unsigned arithmetic.
  void SetBatchCapturingList(Orvex::_OxBatchCapturingParam param,
                             const std::vector<Orvex::_OxBatchCapturingItem>& items);
  void StartBatchCapturing();
  // Stops the deck and the driver's batch, then pauses 2000 ms. Also the
  // device's AbortBatchCapturing and AbortDirectCapturing.
  void StopBatchCapturing();
  void GetBatchCapturingProgress(Orvex::_OxBatchCapturingProgress& progress);
  bool CheckBatchCapturingParam() const;
  // No file is deleted by this library.
  void eraseBatchFiles(Orvex::_OxCancelState state);
  void NotifyCompleteSectionBatchCapturing();
  void NotifyCompleteBatchCapturing();
  void NotifyCapturingErrorStop(Orvex::_OxCapturingErrorID errorId);
  void NotifyBatchCaptureSearchIn();
  void NotifyBatchCaptureSearchOut();

  // ---- Tape scanning ----
  // Accepted and not used: the driver's scan takes no parameters.
  void SetScanningParam(Orvex::_OxScanningParam param);
  // Starts the driver's scan (only with a tape scan interface) and tells
  // the host (event 0).
  void StartScanning();
  // Stops the driver's scan, stores the thumbnails in the cassette memory,
  // tells the host (event 1), stops receiving, leaves captureMode idle and
  // stops the deck.
  void StopScanning();
  // As StopScanning, with event 2; a later error report is not passed on.
  void CancelScanning();
  // Keeps a copy of the thumbnail under its scene key; see Decisions.
  void NotifyGotThumbnail(const Orvex::_THUMBNAIL_DATA* thumbnail);
  // Event 3, unless the scan was cancelled.
  void NotifyScanTapeErrorStop();
  // Event 1.
  void NotifyScanTapeCompleted();
  // The camcorder is gone: event 3 for a scan under way; see Decisions.
  void notifyScanDeviceRemoved();
  // A scan the device would not start: event 3.
  void notifyScanRefused();
  // A capture or a scan is under way; see Decisions.
  bool isBusy() const;

  // ---- Direct capturing ----
  void SetDirectCapturingStructure(const Orvex::_OxDirectCapturingParam& param);
  // Looks for the part being written for up to 300 ms; leaves currentFile
  // as it was when the part is not there.
  void GetDirectCapturingProgress(Orvex::_OxDirectCapturingProgress& progress);
  void StartDirectCapturing();
  // Waits up to 3000 ms for a file to complete, then stops receiving.
  void ExitDirectCapturing();
  // Asks the driver to stop; the capture stays in direct mode until
  // ExitDirectCapturing.
  void AbortCapturing();
  bool CheckDirectCapturingParam() const;

  // ---- Scapturing (ZeltoVideoDeviceReceiveScapture.cpp) ----
  void SetupScapturing(Orvex::_OxBatchCapturingParam param);
  // After the device has marshalled its smart control into the singleton.
  void StartScapturing();
  // Ends the tracked run and waits until it has ended.
  void StopScapturing();
  void ChangeStreaming(bool on);
  void GetScapturingProgress(Orvex::_OxScapturingProgress& progress);
  // Before the device marshals for a new run: false while a run is going;
  // otherwise waits for every earlier run to end.
  bool readyForScapturing();
  // Stops every run, tracked or not, and waits for all of them.
  void endScapturingRuns();

private:
  // Values of captureMode.
  enum : std::int32_t { modeIdle = 0, modeScapturing = 1, modeDirect = 2, modeBatch = 3 };
  // How a file the driver has made is looked for: this many checks, this
  // many milliseconds apart.
  static constexpr int fileChecks = 3;
  static constexpr DWORD fileCheckPause = 100;

  void prepareCapture(bool batch);
  void registerCaptureFiles(bool batch);
  void resetCaptureCounters();
  void advanceFileCounters();
  // Three looks for the file, 100 ms apart; tells the host when found, if
  // the capture still lasts.
  void waitForFile(const Orvex::OxString& path, zelto::capture::CaptureReportGate::Capture capture);
  // A telling of a file report of `capture`; see openTelling's definition.
  zelto::capture::CaptureReportGate::Telling openTelling(zelto::capture::CaptureReportGate::Capture capture);
  std::uint64_t getSectionFileSize(std::int32_t fileNumber, std::int32_t partCount);
  std::uint32_t getCapturedMilliseconds();
  static Orvex::OxTimeCode millisecondsToTimeCode(std::uint32_t milliseconds);
  void clearThumbnails();
  // Takes the store under thumbnailLock; see Decisions.
  void mergeThumbnails();
  // Scene key to a whole packed bitmap, in arrival order within a key.
  using ThumbnailStore = std::multimap<std::uint32_t, std::vector<std::uint8_t>>;
  void mergeIntoCassetteMemory(const ThumbnailStore& store);
  void endScanning(Orvex::_OxScanningEventID event);
  std::size_t batchItemCount() const;
  void untrackScapturingRun();
  // A whole-cassette run has started and not yet let the driver go.
  bool scapturingRunUsesTape() const;
  void finishScapturingRuns(bool stop);

  std::atomic<bool> scanCancelled{false};
  ZeltoComPtr<IStreamReceive> receiveInterface;
  std::unique_ptr<Orvex::OxString> ownedTextRecord;
  Orvex::_OxBatchCapturingParam batchParam;
  std::vector<Orvex::_OxBatchCapturingItem> batchItems;
  Orvex::_OxDirectCapturingParam directParam;
  std::atomic<std::uint32_t> filesCreated{0};
  std::atomic<std::uint32_t> filesCompleted{0};
  std::atomic<std::uint32_t> sectionsCompleted{0};
  Orvex::CapturingEventNotification capturingNotification;
  Orvex::ScanningEventNotification scanningNotification;
  Orvex::ScapturingEventNotification scapturingNotification;
  // The capture mode (captureMode), and which capture the driver's reports
  // belong to; see CaptureReportGate.h.
  const std::shared_ptr<zelto::capture::CaptureReportGate> captureGate =
      std::make_shared<zelto::capture::CaptureReportGate>();
  ThumbnailStore thumbnailStore;
  ZeltoVideoDevice* ownerDevice;
  ZeltoComPtr<ITapeScan> tapeScanInterface;
  std::atomic<ZeltoVideoDeviceAutoCapturing*> autoCapturingThread{nullptr};
  std::uint32_t totalMilliseconds = 0;
  std::atomic<std::uint64_t> capturedBytes{0};
  std::atomic<bool> batchFinished{false};
  // The host has heard the batch complete: a driver error after it, before
  // the host's stop, is not a second end.
  std::atomic<bool> batchCompleteTold{false};
  std::atomic<bool> searching{false};
  ZeltoCaptureNameGenerator scapturingNames{0, 0};
  ZeltoCaptureNameGenerator directNames{0, 0};
  ZeltoCaptureNameGenerator batchNames{0, 0};
  ZeltoVideoEvent completionEvent{true, false};
  CRITICAL_SECTION thumbnailLock;
  // Guards batchParam and batchItems between the host's thread, which
  // replaces them, and the reports that read them.
  mutable std::mutex batchLock;
  // From StartScanning until the scan is stopped, cancelled or ended by a
  // removal.
  std::atomic<bool> scanning{false};
  // The host has heard the scan end from the driver (completed or error
  // stop) or from the camcorder's removal; by the removal alone.
  std::atomic<bool> scanEndHeard{false};
  std::atomic<bool> scanEndedByRemoval{false};
  // Every run not yet finished and let go, tracked (autoCapturingThread) or
  // not; guarded by scapturingLock, as is autoCapturingThread's target.
  mutable std::mutex scapturingLock;
  std::vector<std::shared_ptr<ZeltoVideoDeviceAutoCapturing>> scapturingRuns;
};
