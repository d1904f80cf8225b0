// The camcorder as the host sees it.
//
// Life: ZeltoVideoDeviceFactory::GetZeltoVideoDevice -> InitializeDevice
// (once) -> operations -> TerminateDevice -> delete. An operation that needs
// a component does nothing, or returns false, 0 or leaves its out-parameter
// untouched, while that component does not exist: before InitializeDevice,
// after TerminateDevice, and after a failed InitializeDevice.
//
// Threads: the host calls on the thread that ran the factory. The message
// receiver's thread calls the update, change and notify operations when the
// driver reports events; they run concurrently with the host's calls.
// Listeners are therefore called on either thread.
//
// Removing a listener: once RemoveEventListener (any overload) returns, the
// listener is never called again and may be destroyed. Called on another
// thread than the one delivering to it, it waits for a notification pass
// under way to end. Called from inside a listener on the delivering thread,
// it does not wait (the listener may be further up that very stack) and
// never deadlocks; only the pass under way there may still reach the
// listener removed, if it comes later in that pass. The wait deadlocks if
// the remover holds what the listener needs to finish: a lock the listener
// takes (its own KelSafeEventListener lock, held around every OnEvent,
// counts), or the remover's own thread, when the listener waits for it.
//
// Terminating from a listener: a listener running on the message receiver's
// thread (device notifications, capture, scanning and recording events, and
// scene-search events, which the deck raises while it refreshes its state
// there) may call TerminateDevice or delete the device. Neither waits for that thread, which cannot wait for
// itself: before the call returns the driver is unadvised and released, and
// the window and its class are gone, so another device can be initialised
// at once; the thread ends after the dispatch under way, dropping the driver
// events still queued. Nothing of the device is touched after the listener
// returns, and a pass whose source is gone calls no further listener (the
// device's notifications once the device is deleted, the deck's scene-search
// events and the capture events once it is terminated). The device may also be terminated there and
// deleted later on the host's thread. On Windows the driver's interfaces
// belong to the apartment of the host's thread, and this path calls them
// from the receiver's: terminate from the host's thread where the host can.
// Not supported: terminating or deleting from a listener that runs on the
// host's thread inside the host's own call into the device (InitializeDevice,
// GetDeviceState...), or while another thread is calling into the device.
//
// One job for the tape at a time. A recording is under way from the start
// of StartBatchRecording or StartDirectRecording until it is stopped (by the
// host, by the driver's report of its end, or by the camcorder's removal),
// or until a batch start gives up on a deck that never reaches record
// pause. A capture is under way from StartBatchCapturing or
// StartDirectCapturing (or a scapture's set-up) until the host stops it, a
// scan from StartScanning until StopScanning or CancelScanning. A start of
// one while the other is under way is refused: nothing is sent to the
// driver, nothing under way is disturbed, and the refused start's listeners
// hear an error stop at once, on the host's thread:
// - a recording: NotifyRecordingErrorStop with OX_RECORDING_ERROR_TRANSMIT;
// - a batch or direct capture: NotifyCapturingErrorStop with
//   OX_CAPTURING_ERROR_DECK_STOPPED (the capture cannot be driven);
// - a scan: the error stop OX_SCANNING_ERROR_STOP; the preview is left as
//   it was.
//
// A camcorder removed (driver event 5 with DRIVER_ERROR_DEVICE_REMOVED)
// while a recording is under way, the deck still being brought up
// included, ends it as a driver error does: the recording is stopped, then
// its listeners hear NotifyRecordingErrorStop with
// OX_RECORDING_ERROR_DEVICE_REMOVED, on the message receiver's thread; a
// batch start waiting for the deck returns without waiting further. A scan
// under way hears OX_SCANNING_ERROR_STOP (see ZeltoVideoDeviceReceive.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/devevents/OxDeviceEvents.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/foundation/OxGeometry.h"
#include "host/foundation/OxString.h"
#include "host/foundation/OxTimeCode.h"
#include "host/kel/KelSafeEventListener.h"
#include "zelto/bridge/ZeltoComPtr.h"
#include "zelto/cassette/MemoryInCassette.h"
#include "zelto/device/ConnectedZeltoVideoDevice.h"
#include "zelto/device/ZeltoApi.h"
#include "zelto/device/ZeltoVideoDeviceFactory.h"
#include "zelto/device/ZeltoVideoDeviceInstanceException.h"
#include "zelto/events/ZeltoVideoDeviceNotification.h"

struct ISmartControl;
struct ZeltoDeviceLiveness;
class ZeltoVideoDeviceTransmit;
class ZeltoVideoDeviceDeck;
class ZeltoVideoDeviceReceive;
class ZeltoVideoDevicePreview;
class ZeltoVideoDeviceMessageReceiver;

namespace Orvex {
class OxAdjustEvent;
class OxUpdateFrameEvent;
}  // namespace Orvex

class ZELTO_API ZeltoVideoDevice {
public:
  // Binds the unit's smart control and creates the cassette-memory database
  // manager; throws std::runtime_error when either fails.
  explicit ZeltoVideoDevice(const ConnectedZeltoVideoDevice& connected);
  virtual ~ZeltoVideoDevice();
  // A copy would share the components, the driver's window advice and the
  // process-wide window class with the original: devices are not copied.
  ZeltoVideoDevice(const ZeltoVideoDevice&) = delete;
  ZeltoVideoDevice& operator=(const ZeltoVideoDevice&) = delete;

  // False when a component could not be built, or a listener threw during
  // the first refresh of the deck state, camcorder mode and media
  // information; the device is then terminated. window and rect may be null.
  bool InitializeDevice(Orvex::_OxVideoSystem videoSystem, bool deinterlaceEnable, const Orvex::OxWindow* window,
                        const Orvex::OxRect* rect, bool previewMuting, bool previewMonitorVisible);
  // Takes the components down and releases the driver; the device can then
  // only be destroyed.
  void TerminateDevice();

  // Listeners.
  void AddEventListener(KelSafeEventListener<Orvex::_OxVideoDeviceNotification>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::_OxVideoDeviceNotification>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxCapturingEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxCapturingEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxScanningEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxScanningEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxScapturingEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxScapturingEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxRecordingEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxRecordingEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxSceneSearchEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxSceneSearchEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxReadingMicEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxReadingMicEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxAdjustEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxAdjustEvent>* listener);
  void AddEventListener(KelSafeEventListener<Orvex::OxUpdateFrameEvent>* listener);
  void RemoveEventListener(KelSafeEventListener<Orvex::OxUpdateFrameEvent>* listener);

  // Device state and deck.
  Orvex::_OxVideoDeviceState GetDeviceState() const;
  Orvex::_OxMediaInfo GetMediaInfo() const;
  Orvex::_OxCamcorderMode GetCamcorderMode() const;
  Orvex::OxTimeCode GetTimecode() const;
  void UpdateDeviceState();
  void UpdateMediaInfo();
  void UpdateCamcorderMode();
  void DeckPlay();
  void DeckStop();
  void DeckPause();
  void DeckFastForward();
  void DeckFastRewind();
  void DeckPlaySlow(int speed);
  void DeckPlayFast(int speed);
  void DeckRevPlayFast(int speed);
  void DeckRevPlaySlow(int speed);
  void DeckStepForward();
  void DeckStepReverse();
  bool StartSeekATN(unsigned absoluteTrackNumber);
  void AbortSeekATN();

  // Preview and picture. The muting, the visibility and the deinterlacing
  // are remembered, and given to the preview while it exists:
  // InitializeDevice applies the decode quality and the muting,
  // SetPreviewWindow the muting and the visibility. SetPreviewWindow with a
  // null window or rectangle places no picture but still re-applies them.
  void SetPreviewWindow(Orvex::OxWindow* window, Orvex::OxRect* rect);
  void SetPreviewMuting(bool mute);
  void SetVolume(unsigned long volume);
  void SetPreviewMonitorVisibility(bool visible);
  void SetVideoResolution(Orvex::_OxVideoResolution resolution);
  bool setDecodeQuality();
  void SetVideoDecodeDeinterlaceEnable(bool enable);
  void ChangeVideoSystem(Orvex::_OxVideoSystem videoSystem);
  void ChangeDisplaySize(Orvex::_OxAspectRatio aspectRatio);
  void ChangeStreaming(bool on);
  Orvex::_OxAspectRatio GetAspectRatio() const;
  Orvex::_OxVideoSystem GetVideoSystem() const;

  // Batch and direct capturing. While one runs, the capturing listeners
  // also hear of the driver's device errors (a removed camcorder, a capture
  // file that cannot be written, a deck that will not search) as
  // NotifyCapturingErrorStop; see zelto/capture/ZeltoVideoDeviceReceive.h.
  void SetBatchCapturingList(Orvex::_OxBatchCapturingParam param, std::vector<Orvex::_OxBatchCapturingItem>& items);
  void GetBatchCapturingList(std::vector<Orvex::_OxBatchCapturingItem>& items);
  void GetBatchCapturingProgress(Orvex::_OxBatchCapturingProgress& progress);
  void StartBatchCapturing();
  void StopBatchCapturing();
  void AbortBatchCapturing();
  void AbortDirectCapturing();
  void EraseFileBatchCapturing(Orvex::_OxCancelState state);
  bool CheckBatchCapturingParam();
  bool CheckDirectCapturingParam();
  void SetDirectCapturingStructure(Orvex::_OxDirectCapturingParam& param);
  void GetDirectCapturingProgress(Orvex::_OxDirectCapturingProgress& progress);
  void StartDirectCapturing();
  void ExitDirectCapturing();
  void AbortCapturing();
  void StopDirectCapturing();
  void PauseDirectCapturing();
  void RestartDirectCapturing();

  // Capture notifications (the message receiver calls them for driver events).
  void NotifyCreateCapturedFile(const Orvex::OxString& fileName);
  void NotifyCompleteCapturedFile(const Orvex::OxString& fileName);
  void NotifyCapturingErrorStop(Orvex::_OxCapturingErrorID errorId);
  void NotifyCompleteSectionBatchCapturing();
  void NotifyCompleteBatchCapturing();
  void NotifyBatchCaptureSearchIn();
  void NotifyBatchCaptureSearchOut();
  void NotifyGotThumbnail(const Orvex::_THUMBNAIL_DATA* thumbnail);
  void NotifyScanTapeErrorStop();
  void NotifyScanTapeCompleted();
  void NotifyDeviceRemoved();

  // Tape scanning. The preview's picture is hidden from StartScanning until
  // StopScanning or CancelScanning, which store the thumbnails in the
  // cassette memory; see zelto/capture/ZeltoVideoDeviceReceive.h.
  void SetScanningParam(Orvex::_OxScanningParam param);
  void StartScanning();
  void StopScanning();
  void CancelScanning();

  // Scapturing: a worker thread of its own rewinds, plays and captures the
  // whole cassette, and reports its end to the scapturing listeners on that
  // thread. The driver's interfaces reach it only marshalled into an
  // apartment of its own; on Windows, where a driver that is not
  // free-threaded is then reached through proxies whose calls run on the
  // host's thread, StartScapturing, StopScapturing, AbortScapturing and
  // TerminateDevice dispatch the host thread's messages while they wait for
  // a run to end (see zelto/scapture/MessagePumpingWait.h). A host window
  // procedure reached from that dispatch must not terminate or delete the
  // device. StartScapturing does nothing while a run is going. A removed
  // camcorder is reported once (error 4); its run then ends without another
  // report. Scapturing is started from the host's thread only; a listener
  // of a run's final report may stop scapturing, but should not terminate
  // or delete the device on that thread.
  void SetupScapturing(Orvex::_OxBatchCapturingParam param);
  void AbortSetupScapturing();
  void StartScapturing();
  void StopScapturing();
  void AbortScapturing();
  void GetScapturingProgress(Orvex::_OxScapturingProgress& progress);

  // Recording, file to tape; see zelto/record/ZeltoVideoDeviceRecording.cpp.
  // A batch start blocks for the deck: at least 5.4 s, at most 65 s. Every
  // stop blocks for one second.
  void SetRecordingList(std::vector<Orvex::_OxRecordingItem>& items);
  void StartBatchRecording(unsigned firstMargin, unsigned secondMargin);
  void StartDirectRecording(unsigned firstMargin, unsigned secondMargin);
  void StopBatchRecording();
  void AbortBatchRecording();
  void StopDirectRecording();
  void AbortDirectRecording();
  void GetRecordingProgress(Orvex::_OxRecordingProgress& progress);
  void UpdateCompleteRecording();
  void UpdateRecordingErrorStop();
  void UpdateCompleteSectionRecording();
  void SetRecordingParam();

  // Cassette memory.
  MemoryInCassette& GetTapeInformation();
  bool IsCleaningTape() const;
  void GetTapeTitle(Orvex::OxString& title);
  bool GetTapeText(Orvex::OxString& text);
  bool SetTapeText(Orvex::OxString& text);
  long GetMICRecInfoCount();
  void GetMICRecInfo(std::vector<Orvex::_OxMICRecInfo>& records);
  Orvex::OxTimeCode GetItemDuration(Orvex::_OxMarkPosition start, Orvex::_OxMarkPosition end);
  void GetMarkPosition(Orvex::_OxMarkPosition& position);

private:
  // The message receiver hands driver event 5, with its argument, to the
  // receive component itself, and looks at live after a listener may have
  // ended the device; no operation is added for that, so the exported
  // surface stays as it is.
  friend class ZeltoVideoDeviceMessageReceiver;

  void startRecording(Orvex::OxString path, long length, int firstMargin, unsigned secondMargin, bool withDeck);
  void stopRecording(bool deckStop);
  unsigned getTransmitPolling() const;
  void compactMicDataBase();
  void getMicDataBaseFileFullPath(Orvex::OxString& out);

  // Components are reached from the host's thread and the message
  // receiver's, hence atomic pointers; see TerminateDevice for how the
  // receiver's handlers are kept off components that are being deleted.
  ZeltoComPtr<ISmartControl> smartControl;
  std::atomic<ZeltoVideoDeviceTransmit*> transmit{nullptr};
  std::atomic<ZeltoVideoDeviceDeck*> deck{nullptr};
  std::atomic<ZeltoVideoDeviceReceive*> receive{nullptr};
  std::atomic<ZeltoVideoDevicePreview*> preview{nullptr};
  std::atomic<ZeltoVideoDeviceMessageReceiver*> messageReceiver{nullptr};
  ZeltoVideoDeviceNotification notification;
  Orvex::RecordingEventNotification recordingNotification;
  Orvex::_OxVideoSystem videoSystem = Orvex::OX_VIDEO_SYSTEM_0;
  std::atomic<Orvex::_OxAspectRatio> aspectRatio{Orvex::OX_ASPECT_UNKNOWN};
  std::vector<Orvex::_OxRecordingItem> recordingList;
  bool previewMuting = false;
  bool previewMonitorVisible = true;
  std::atomic<bool> batchRecording{false};
  // The driver said the camcorder was removed: set once, on the message
  // receiver's thread, before it ends a recording under way.
  std::atomic<bool> camcorderRemoved{false};
  Orvex::IMicDatabaseManager* micDatabaseManager = nullptr;
  MemoryInCassette memoryInCassette;
  bool deinterlaceEnable = true;
  // Live until TerminateDevice, which the destructor runs. Shared, so that an
  // operation whose component call may reach a listener that terminates or
  // deletes this device can still look at it after that call.
  const std::shared_ptr<ZeltoDeviceLiveness> live;
};
