#include "zelto/bridge/ZeltoVideoDeviceSmartControlBridge.h"

#include <new>

#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"
#include "zelto/capture/CaptureTarget.h"
#include "zelto/capture/ZeltoCaptureNameGenerator.h"
#include "zelto/device/ZeltoVideoDeviceInstanceException.h"

using namespace Orvex;

namespace {

// The pattern's file number is filled in by the driver.
constexpr DWORD kNamedByPattern = 1;

[[noreturn]] void missing() { throw ZeltoVideoDeviceInstanceException(ZeltoVideoDeviceInstanceException::kMissingInterface); }

}  // namespace

ZeltoVideoDeviceSmartControlBridge::ZeltoVideoDeviceSmartControlBridge() = default;

ZeltoVideoDeviceSmartControlBridge::~ZeltoVideoDeviceSmartControlBridge() { TerminateSmartControl(); }

void ZeltoVideoDeviceSmartControlBridge::SetCapturingParam(const _OxDirectCapturingParam& param) {
  capturingParam = param;
}

bool ZeltoVideoDeviceSmartControlBridge::InitializeSmartControl() {
  if (FAILED(CoInitialize(nullptr))) return false;
  apartmentEntered = true;

  ZeltoVideoDeviceSmartControlSingleton& handOver = *ZeltoVideoDeviceSmartControlSingleton::GetInstance();
  const bool gotSmartControl = handOver.GetSmartControlStream().Unmarshal(IID_ISmartControl, smartControl.ReceiveVoid());
  const bool gotReceive = handOver.GetReceiveStream().Unmarshal(IID_IStreamReceive, streamReceive.ReceiveVoid());
  if (!gotSmartControl || !gotReceive || !smartControl || !streamReceive) {
    TerminateSmartControl();
    return false;
  }

  try {
    controller.reset(new (std::nothrow) ZeltoVideoDeviceController(smartControl));
  } catch (...) {
    TerminateSmartControl();
    return false;
  }
  return true;
}

void ZeltoVideoDeviceSmartControlBridge::TerminateSmartControl() {
  controller.reset();
  streamReceive.Reset();
  smartControl.Reset();
  if (apartmentEntered) {
    apartmentEntered = false;
    CoUninitialize();
  }
}

ZeltoVideoDeviceController& ZeltoVideoDeviceSmartControlBridge::requireController() {
  if (!controller) missing();
  return *controller;
}

IStreamReceive& ZeltoVideoDeviceSmartControlBridge::requireStreamReceive() {
  if (!streamReceive) missing();
  return *streamReceive.Get();
}

void ZeltoVideoDeviceSmartControlBridge::DeckPlay() { requireController().Play(); }
void ZeltoVideoDeviceSmartControlBridge::DeckStop() { requireController().Stop(); }
void ZeltoVideoDeviceSmartControlBridge::DeckFastRewind() { requireController().Rewind(); }

_OxVideoDeviceState ZeltoVideoDeviceSmartControlBridge::GetDeviceState() { return requireController().GetDeviceState(); }

_OxMediaInfo ZeltoVideoDeviceSmartControlBridge::GetMediaInfo() {
  return controller ? controller->GetMediaInfo() : OX_MEDIA_NONE;
}

void ZeltoVideoDeviceSmartControlBridge::StartCapturing() {
  IStreamReceive& receive = requireStreamReceive();
  zelto::capture::SendCaptureTarget(receive, capturingParam);
  ZeltoCaptureNameGenerator names(0, 0);
  names.SetBaseName(capturingParam.fileBaseName);
  receive.SetFileName(names.MakeFirstPartPattern().GetString(), kNamedByPattern);
  receive.StartDirect();
}

HRESULT ZeltoVideoDeviceSmartControlBridge::AbortCapturing() { return requireStreamReceive().Abort(); }
