#include "zelto/deck/VideoDeviceController.h"

#include <stdexcept>

VideoDeviceController::VideoDeviceController(const ZeltoComPtr<ISmartControl>& smartControl)
    : stateTable{} {
  if (FAILED(smartControl.QueryInto(IID_IDeckControl, deckControl)) || !deckControl)
    throw std::runtime_error("VideoDeviceController::VideoDeviceController");
  // Codes 0 to 2 (not ready, no answer, busy) are all unknown; from 3 on the
  // codes follow the host values one lower, except that the last code skips 14.
  static constexpr std::uint32_t kTable[kStateCodeCount] = {0, 0, 0, 1, 2, 3, 4, 5, 6,
                                                            7, 8, 9, 10, 11, 12, 13, 15};
  for (std::uint32_t i = 0; i < kStateCodeCount; ++i) stateTable[i] = kTable[i];
}

Orvex::_OxVideoDeviceState VideoDeviceController::MapStateCode(std::uint32_t code) const {
  if (code >= kStateCodeCount) return Orvex::OX_DEVICE_STATE_UNKNOWN;
  return static_cast<Orvex::_OxVideoDeviceState>(stateTable[code]);
}
