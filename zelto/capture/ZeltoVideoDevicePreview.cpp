#include "zelto/capture/ZeltoVideoDevicePreview.h"

#include <stdexcept>

using namespace Orvex;

namespace {

DWORD qualityCode(std::uint32_t qualityIndex) {
  switch (qualityIndex) {
    case 1: return 3;
    case 2: return 1;
    default: return 7;
  }
}

}  // namespace

ZeltoVideoDevicePreview::ZeltoVideoDevicePreview(ZeltoComPtr<ISmartControl>* smartControl) {
  if (!smartControl || FAILED(smartControl->QueryInto(IID_IPreviewControl, previewInterface)) || !previewInterface)
    throw std::runtime_error("ZeltoVideoDevicePreview::ZeltoVideoDevicePreview");
}

ZeltoVideoDevicePreview::~ZeltoVideoDevicePreview() = default;

bool ZeltoVideoDevicePreview::SetWindow(const OxWindow* window, const OxRect* rect) {
  if (!window || !rect) return false;
  if (previewInterface->SetOwnerWindow(window->GetHwnd()) != S_OK) return false;
  const RECT area = rect->GetRect();
  if (previewInterface->SetWindowRect(&area) != S_OK) return false;
  return previewInterface->SetMode(modeShown) == S_OK;
}

bool ZeltoVideoDevicePreview::SetVolumeLevel(std::uint32_t level) {
  return SUCCEEDED(previewInterface->SetVolume(level));
}

bool ZeltoVideoDevicePreview::SetMonitorMode(bool visible) {
  return previewInterface->SetMode(visible ? modeShown : modeHidden) == S_OK;
}

bool ZeltoVideoDevicePreview::SetCaptureMonitorMode(bool visible) {
  return previewInterface->SetMode(visible ? modeShown : modeScapturing) == S_OK;
}

bool ZeltoVideoDevicePreview::ApplyDecodeQuality(std::uint32_t qualityIndex, bool deinterlace) {
  ZeltoComPtr<IDecodeQuality> quality;
  previewInterface.QueryInto(IID_IDecodeQuality, quality);
  const DWORD code = qualityCode(qualityIndex);
  if (!quality) return false;
  return SUCCEEDED(quality->SetQuality(code, deinterlace ? TRUE : FALSE));
}
