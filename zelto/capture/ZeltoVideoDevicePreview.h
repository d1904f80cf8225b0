// The device's handle on the driver's preview: the driver decodes the
// incoming stream, draws it in a host window and plays its sound. This
// component places the picture, sets the sound level, the display mode and
// the decode quality. The settings the host gave (muting, visibility,
// deinterlacing) are the device's to remember and re-apply.
//
// Results: the window, rectangle and mode calls succeed only on a result of
// exactly 0; the volume and quality calls on any result that is not
// negative.
//
// Threads: called on the host's thread only.
#pragma once

#include <cstdint>

#include "host/foundation/OxGeometry.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"

class ZeltoVideoDevicePreview {
public:
  // IPreviewControl::SetMode values.
  enum : DWORD { modeHidden = 0, modeShown = 2, modeScapturing = 3 };

  // Takes the driver's preview control from the smart control. Throws
  // std::runtime_error "ZeltoVideoDevicePreview::ZeltoVideoDevicePreview"
  // when there is none.
  explicit ZeltoVideoDevicePreview(ZeltoComPtr<ISmartControl>* smartControl);
  ~ZeltoVideoDevicePreview();
  ZeltoVideoDevicePreview(const ZeltoVideoDevicePreview&) = delete;
  ZeltoVideoDevicePreview& operator=(const ZeltoVideoDevicePreview&) = delete;

  // Owner window, then its rectangle, then shows the picture; stops at the
  // first call the driver refuses. A null window or rectangle sends
  // nothing and gives false: there is nothing to place the picture in.
  bool SetWindow(const Orvex::OxWindow* window, const Orvex::OxRect* rect);
  // 0 to 100.
  bool SetVolumeLevel(std::uint32_t level);
  // Shown (2) or hidden (0).
  bool SetMonitorMode(bool visible);
  // Shown (2), or the mode of a running scapture (3).
  bool SetCaptureMonitorMode(bool visible);
  // Quality index 0 -> code 7, 1 -> 3, 2 -> 1, any other -> 7. The decode
  // quality interface is asked for anew each time; false when the driver
  // has none or refuses.
  bool ApplyDecodeQuality(std::uint32_t qualityIndex, bool deinterlace);

private:
  ZeltoComPtr<IPreviewControl> previewInterface;
};
