// The abstract deck control: one operation per deck command or status query.
// The state-code table turns the driver's deck-state codes into host values.
#pragma once

#include <cstdint>

#include "host/foundation/OxDeviceTypes.h"
#include "host/foundation/OxTimeCode.h"
#include "zelto/bridge/DriverInterfaces.h"
#include "zelto/bridge/ZeltoComPtr.h"

class VideoDeviceController {
public:
  // Number of deck-state codes the table knows; larger codes mean unknown.
  static constexpr std::uint32_t kStateCodeCount = 17;

  VideoDeviceController(const VideoDeviceController&) = delete;
  VideoDeviceController& operator=(const VideoDeviceController&) = delete;

  virtual HRESULT Play() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT FastForward() = 0;
  virtual HRESULT Rewind() = 0;
  virtual void StepForward() = 0;
  virtual void StepReverse() = 0;
  virtual HRESULT PlayFastestForward() = 0;
  virtual HRESULT PlayFastestReverse() = 0;
  virtual HRESULT PlaySlowestForward() = 0;
  virtual HRESULT PlaySlowestReverse() = 0;
  virtual HRESULT Record() = 0;
  virtual HRESULT RecordPause() = 0;
  virtual HRESULT StopRecord() = 0;
  virtual HRESULT SeekATN(std::uint32_t absoluteTrackNumber) = 0;
  virtual Orvex::_OxVideoDeviceState GetDeviceState() = 0;
  virtual Orvex::_OxMediaInfo GetMediaInfo() = 0;
  virtual Orvex::_OxCamcorderMode GetCamcorderMode() = 0;
  virtual void GetTimecode(Orvex::OxTimeCode& timeCode) = 0;
  virtual std::uint32_t GetPlaySpeed() = 0;
  virtual HRESULT SetRecordMode(bool record) = 0;

protected:
  // Asks the smart control for its deck control and fills the table; throws
  // std::runtime_error when the driver has no deck control.
  explicit VideoDeviceController(const ZeltoComPtr<ISmartControl>& smartControl);
  // Not virtual: the table of operations above is the contract; owners hold
  // the concrete class.
  ~VideoDeviceController() = default;

  // The host value for a driver deck-state code; 0 for codes past the table.
  Orvex::_OxVideoDeviceState MapStateCode(std::uint32_t code) const;

  ZeltoComPtr<IDeckControl> deckControl;
  std::uint32_t stateTable[kStateCodeCount];
};
