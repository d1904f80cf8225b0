// The deck control on the camcorder driver: each operation is one
// IDeckControl call, each status code a host value.
#pragma once

#include "zelto/deck/VideoDeviceController.h"

class ZeltoVideoDeviceController : public VideoDeviceController {
public:
  explicit ZeltoVideoDeviceController(const ZeltoComPtr<ISmartControl>& smartControl);

  HRESULT Play() override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT FastForward() override;
  HRESULT Rewind() override;
  void StepForward() override;
  void StepReverse() override;
  HRESULT PlayFastestForward() override;
  HRESULT PlayFastestReverse() override;
  HRESULT PlaySlowestForward() override;
  HRESULT PlaySlowestReverse() override;
  HRESULT Record() override;
  HRESULT RecordPause() override;
  HRESULT StopRecord() override;
  HRESULT SeekATN(std::uint32_t absoluteTrackNumber) override;
  Orvex::_OxVideoDeviceState GetDeviceState() override;
  Orvex::_OxMediaInfo GetMediaInfo() override;
  Orvex::_OxCamcorderMode GetCamcorderMode() override;
  void GetTimecode(Orvex::OxTimeCode& timeCode) override;
  std::uint32_t GetPlaySpeed() override;
  HRESULT SetRecordMode(bool record) override;

  virtual ~ZeltoVideoDeviceController();

private:
  HRESULT send(DWORD command);
};
