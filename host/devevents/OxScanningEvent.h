// Events of a tape scan.
#pragma once

namespace Orvex {

enum _OxScanningEventID : int {
  OX_SCANNING_START = 0,       // the scan has started
  OX_SCANNING_COMPLETE = 1,    // the scan ended, by the driver or a stop
  OX_SCANNING_CANCEL = 2,      // the scan was cancelled
  OX_SCANNING_ERROR_STOP = 3   // the driver stopped the scan on an error
};

class OxScanningEvent {
public:
  explicit OxScanningEvent(_OxScanningEventID id) : id(id) {}
  virtual ~OxScanningEvent() = default;
  OxScanningEvent(const OxScanningEvent&) = default;
  OxScanningEvent& operator=(const OxScanningEvent&) = default;

  _OxScanningEventID GetEventID() const { return id; }

private:
  _OxScanningEventID id;
};

}  // namespace Orvex
