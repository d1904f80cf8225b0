#include "zelto/events/ZeltoVideoDeviceMessageReceiver.h"

#include <stdexcept>

#include "platform/ThreadGuard.h"
#include "zelto/capture/CaptureReportGate.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"
#include "zelto/device/ZeltoDeviceLiveness.h"
#include "zelto/device/ZeltoVideoDevice.h"
#include "zelto/events/ZeltoMessages.h"
#include "zelto/record/ZeltoVideoDeviceTransmit.h"

using namespace Orvex;

namespace {

constexpr const wchar_t* kClassName = L"ZeltoVideoDeviceMessageReceiver";

[[noreturn]] void fail() { throw std::runtime_error("ZeltoVideoDeviceMessageReceiver::ZeltoVideoDeviceMessageReceiver"); }

using zelto::capture::CaptureReportGate;

// The capture a report the window takes now belongs to; none without a
// receive component.
CaptureReportGate::Capture arrivalOf(ZeltoVideoDeviceReceive* receive) {
  return receive ? receive->reportGate()->OfArrival() : CaptureReportGate::Capture{};
}

}  // namespace

ZeltoVideoDeviceMessageReceiver::ZeltoVideoDeviceMessageReceiver(ZeltoComPtr<ISmartControl>* smartControl,
                                                                 ZeltoVideoDevice* owner)
    : smartControlHolder(smartControl), device(owner), adviseCookie(0) {
  if (zelto::DeviceEventMessage() == 0 || zelto::DeferredEventMessage() == 0) fail();
  HWND window = receiverWindow.Create(&ZeltoVideoDeviceMessageReceiver::windowProcedure, kClassName);
  if (!window) fail();

  SetLastError(0);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (GetLastError() != 0) fail();

  if (!smartControlHolder || !*smartControlHolder) fail();
  if (FAILED((*smartControlHolder)->AdviseWindow(window, &adviseCookie))) {
    adviseCookie = 0;
    fail();
  }

  // A host listener may throw here; the destructor will not run then.
  try {
    device->UpdateDeviceState();
    device->UpdateCamcorderMode();
    device->UpdateMediaInfo();
  } catch (...) {
    unadvise();
    throw;
  }
}

ZeltoVideoDeviceMessageReceiver::~ZeltoVideoDeviceMessageReceiver() {
  unadvise();
  // receiverWindow's destruction now stops and joins the thread.
}

void ZeltoVideoDeviceMessageReceiver::Release(ZeltoVideoDeviceMessageReceiver* receiver) {
  if (!receiver) return;
  if (!receiver->receiverWindow.OnWindowThread()) {
    delete receiver;
    return;
  }
  // Unadvised now, as the destructor would; with the cookie 0, the deletion
  // on the thread then reads nothing of the device.
  receiver->unadvise();
  receiver->receiverWindow.HandOver([receiver] { delete receiver; });
}

void ZeltoVideoDeviceMessageReceiver::unadvise() {
  if (adviseCookie != 0 && smartControlHolder && *smartControlHolder)
    (*smartControlHolder)->UnadviseWindow(adviseCookie);
  adviseCookie = 0;
}

void ZeltoVideoDeviceMessageReceiver::FollowCaptures(CaptureReportGate& gate) {
  const HWND window = GetWindow();
  gate.SetHerald([window](CaptureReportGate::Capture capture) {
    return PostMessageW(window, kCaptureBegunMessage, static_cast<WPARAM>(capture.number),
                        static_cast<LPARAM>(capture.mode)) != FALSE;
  });
}

void ZeltoVideoDeviceMessageReceiver::DetachDevice() {
  std::lock_guard<std::recursive_mutex> guard(dispatchLock);
  device = nullptr;
}

template <typename Handler>
void ZeltoVideoDeviceMessageReceiver::withDevice(Handler&& handler) {
  std::lock_guard<std::recursive_mutex> guard(dispatchLock);
  if (device) handler(device);
}

LRESULT CALLBACK ZeltoVideoDeviceMessageReceiver::windowProcedure(HWND window, UINT message, WPARAM wParam,
                                                                  LPARAM lParam) {
  auto* self = reinterpret_cast<ZeltoVideoDeviceMessageReceiver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);

  // What a host listener throws stops here, never in the system's dispatch:
  // that one event is lost, and the window goes on.
  if (message == zelto::DeviceEventMessage()) {
    if (!wParam) return 0;
    const DWORD code = reinterpret_cast<const DRIVER_EVENT_RECORD*>(wParam)->code;
    zelto::platform::GuardThread("message receiver", [&] {
      self->withDevice([&](ZeltoVideoDevice* target) { dispatchDeviceEvent(window, code, lParam, target); });
    });
    return 0;
  }
  if (message == kCaptureBegunMessage) {
    self->withDevice([&](ZeltoVideoDevice* target) {
      if (ZeltoVideoDeviceReceive* receive = target->receive.load())
        receive->reportGate()->Witness({static_cast<std::int32_t>(lParam), static_cast<std::uint64_t>(wParam)});
    });
    return 0;
  }
  if (message == zelto::DeferredEventMessage()) {
    zelto::platform::GuardThread("message receiver", [&] {
      self->withDevice([&](ZeltoVideoDevice* target) { dispatchDeferredEvent(wParam, lParam, target); });
    });
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void ZeltoVideoDeviceMessageReceiver::dispatchDeviceEvent(HWND window, DWORD code, LPARAM argument,
                                                          ZeltoVideoDevice* target) {
  switch (code) {
    case DRIVER_EVENT_STREAM_TYPE_CHANGED:
    case DRIVER_EVENT_DECK_STATE:
    case DRIVER_EVENT_CAMCORDER_MODE:
    case DRIVER_EVENT_MEDIA_INFO:
      repost(window, code, 0, target);
      break;
    case DRIVER_EVENT_DEVICE_ERROR: {
      const auto capture = static_cast<std::uint32_t>(arrivalOf(target->receive.load()).number);
      repost(window, code | static_cast<WPARAM>(capture) << kCaptureShift, argument, target);
      break;
    }
    case DRIVER_EVENT_TRANSMIT_PROGRESS:
    case DRIVER_EVENT_RECORDING_ERROR:
    case DRIVER_EVENT_RECORDING_COMPLETE:
    case DRIVER_EVENT_VIDEO_SYSTEM:
    case DRIVER_EVENT_DISPLAY_SIZE:
    case DRIVER_EVENT_SCAN_PROGRESS:
    case DRIVER_EVENT_BATCH_PROGRESS:
    case DRIVER_EVENT_STREAMING:
      repost(window, code, argument, target);
      break;
    // The device's NotifyCreateCapturedFile and NotifyCompleteCapturedFile,
    // bound to the capture the driver reported them in: one that has ended
    // since hears nothing of them.
    case DRIVER_EVENT_FILE_CREATED:
      if (ZeltoVideoDeviceReceive* receive = target->receive.load()) receive->reportFileCreated(arrivalOf(receive));
      break;
    case DRIVER_EVENT_FILE_COMPLETE:
      if (ZeltoVideoDeviceReceive* receive = target->receive.load(); receive && argument)
        receive->reportFileCompleted(OxString(reinterpret_cast<const DRIVER_FILE_RECORD*>(argument)->path),
                                     arrivalOf(receive));
      break;
    case DRIVER_EVENT_THUMBNAIL:
      target->NotifyGotThumbnail(reinterpret_cast<const _THUMBNAIL_DATA*>(argument));
      break;
    case DRIVER_EVENT_SCAN_ERROR:
      target->NotifyScanTapeErrorStop();
      break;
    case DRIVER_EVENT_SCAN_COMPLETE:
      target->NotifyScanTapeCompleted();
      break;
    // The device's NotifyCompleteBatchCapturing,
    // NotifyCompleteSectionBatchCapturing, NotifyBatchCaptureSearchIn and
    // NotifyBatchCaptureSearchOut, bound likewise.
    case DRIVER_EVENT_BATCH_COMPLETE:
    case DRIVER_EVENT_SECTION_COMPLETE:
    case DRIVER_EVENT_SEARCH_IN:
    case DRIVER_EVENT_SEARCH_OUT:
      if (ZeltoVideoDeviceReceive* receive = target->receive.load()) receive->reportBatchStep(code, arrivalOf(receive));
      break;
    default:
      break;
  }
}

// A queue at its limit (10,000 posted messages on Windows) takes nothing
// more, and a state change dropped there would be lost for good: the event
// is then handled at once, on this same thread, only sooner than its turn.
void ZeltoVideoDeviceMessageReceiver::repost(HWND window, WPARAM event, LPARAM argument, ZeltoVideoDevice* target) {
  if (!PostMessageW(window, zelto::DeferredEventMessage(), event, argument) && GetLastError() == ERROR_NOT_ENOUGH_QUOTA)
    dispatchDeferredEvent(event, argument, target);
}

// Each step may tell listeners, and any listener may terminate or delete the
// device: after each one, nothing of it is touched unless it is still live.
void ZeltoVideoDeviceMessageReceiver::deviceError(LPARAM argument, std::uint32_t capture, ZeltoVideoDevice* target) {
  const std::shared_ptr<ZeltoDeviceLiveness> stillLive = target->live;
  const bool removed = argument == DRIVER_ERROR_DEVICE_REMOVED;
  // A removal is the camcorder's, not a capture's: it always ends what runs.
  if (!removed) {
    const ZeltoVideoDeviceReceive* receive = target->receive.load();
    if (receive && static_cast<std::uint32_t>(receive->reportGate()->Current().number) != capture) return;
  }
  // During scapturing NotifyDeviceRemoved tells the scapturing listeners.
  if (removed) target->NotifyDeviceRemoved();
  if (!stillLive->live.load()) return;
  target->AbortScapturing();
  if (!stillLive->live.load()) return;
  if (removed) {
    // A recording or a scan has no other way to hear that it ended. The
    // recording is stopped as a driver error stops it, then the host told;
    // one that begins after this is ended by its own start.
    target->camcorderRemoved.store(true);
    ZeltoVideoDeviceTransmit* transmit = target->transmit.load();
    if (transmit && transmit->Claim()) {
      target->stopRecording(target->batchRecording.load());
      target->recordingNotification.NotifyRecordingErrorStop(OX_RECORDING_ERROR_DEVICE_REMOVED);
      if (!stillLive->live.load()) return;
    }
    if (ZeltoVideoDeviceReceive* receive = target->receive.load()) receive->notifyScanDeviceRemoved();
    if (!stillLive->live.load()) return;
  }
  // Nor has a batch or direct capture. Last, since a capturing listener
  // may end the device.
  if (ZeltoVideoDeviceReceive* receive = target->receive.load()) receive->notifyDriverError(argument);
}

void ZeltoVideoDeviceMessageReceiver::dispatchDeferredEvent(WPARAM event, LPARAM argument, ZeltoVideoDevice* target) {
  switch (event & kEventCodeMask) {
    case DRIVER_EVENT_DEVICE_ERROR:
      deviceError(argument, static_cast<std::uint32_t>(event >> kCaptureShift), target);
      break;
    case DRIVER_EVENT_RECORDING_ERROR:
      target->UpdateRecordingErrorStop();
      break;
    case DRIVER_EVENT_RECORDING_COMPLETE:
      target->UpdateCompleteRecording();
      break;
    case DRIVER_EVENT_VIDEO_SYSTEM:
      target->ChangeVideoSystem(argument != 0 ? OX_VIDEO_SYSTEM_1 : OX_VIDEO_SYSTEM_0);
      break;
    case DRIVER_EVENT_DISPLAY_SIZE:
      target->ChangeDisplaySize(argument == 1 ? OX_ASPECT_WIDE : OX_ASPECT_NORMAL);
      break;
    case DRIVER_EVENT_DECK_STATE:
      target->UpdateDeviceState();
      break;
    case DRIVER_EVENT_CAMCORDER_MODE:
      target->UpdateCamcorderMode();
      break;
    case DRIVER_EVENT_MEDIA_INFO:
      target->UpdateMediaInfo();
      break;
    case DRIVER_EVENT_STREAMING:
      target->ChangeStreaming(argument != 0);
      break;
    default:
      break;
  }
}
