#include "zelto/deck/ZeltoVideoDeviceController.h"

using namespace Orvex;

ZeltoVideoDeviceController::ZeltoVideoDeviceController(const ZeltoComPtr<ISmartControl>& smartControl)
    : VideoDeviceController(smartControl) {}

ZeltoVideoDeviceController::~ZeltoVideoDeviceController() = default;

HRESULT ZeltoVideoDeviceController::send(DWORD command) { return deckControl->SendCommand(command); }

HRESULT ZeltoVideoDeviceController::Play() { return send(DECK_COMMAND_PLAY); }
HRESULT ZeltoVideoDeviceController::Stop() { return send(DECK_COMMAND_STOP); }
HRESULT ZeltoVideoDeviceController::Pause() { return send(DECK_COMMAND_PAUSE); }
HRESULT ZeltoVideoDeviceController::FastForward() { return send(DECK_COMMAND_FAST_FORWARD); }
HRESULT ZeltoVideoDeviceController::Rewind() { return send(DECK_COMMAND_REWIND); }
void ZeltoVideoDeviceController::StepForward() {}
void ZeltoVideoDeviceController::StepReverse() {}
HRESULT ZeltoVideoDeviceController::PlayFastestForward() { return send(DECK_COMMAND_PLAY_FASTEST_FORWARD); }
HRESULT ZeltoVideoDeviceController::PlayFastestReverse() { return send(DECK_COMMAND_PLAY_FASTEST_REVERSE); }
HRESULT ZeltoVideoDeviceController::PlaySlowestForward() { return send(DECK_COMMAND_PLAY_SLOWEST_FORWARD); }
HRESULT ZeltoVideoDeviceController::PlaySlowestReverse() { return send(DECK_COMMAND_PLAY_SLOWEST_REVERSE); }
HRESULT ZeltoVideoDeviceController::Record() { return send(DECK_COMMAND_RECORD); }
HRESULT ZeltoVideoDeviceController::RecordPause() { return send(DECK_COMMAND_RECORD_PAUSE); }
HRESULT ZeltoVideoDeviceController::StopRecord() { return send(DECK_COMMAND_STOP); }

// A track number that already carries the seek bit is sent as it is.
HRESULT ZeltoVideoDeviceController::SeekATN(std::uint32_t absoluteTrackNumber) {
  return send(absoluteTrackNumber | DECK_COMMAND_SEEK_ATN);
}

// Status results are ignored: a driver that leaves the value unwritten
// yields the preset, which maps to unknown (2 is "busy").
_OxVideoDeviceState ZeltoVideoDeviceController::GetDeviceState() {
  DWORD code = DECK_STATE_BUSY;
  deckControl->GetStatus(DECK_STATUS_DECK_STATE, &code);
  return MapStateCode(code);
}

_OxMediaInfo ZeltoVideoDeviceController::GetMediaInfo() {
  DWORD code = 0;
  deckControl->GetStatus(DECK_STATUS_MEDIA_INFO, &code);
  switch (code) {
    case MEDIA_INFO_WRITE_PROTECTED: return OX_MEDIA_WRITE_PROTECTED;
    case MEDIA_INFO_NO_MEMORY: return OX_MEDIA_NO_MEMORY;
    case MEDIA_INFO_RECORDABLE: return OX_MEDIA_RECORDABLE;
    default: return OX_MEDIA_NONE;
  }
}

_OxCamcorderMode ZeltoVideoDeviceController::GetCamcorderMode() {
  DWORD code = 0;
  deckControl->GetStatus(DECK_STATUS_CAMCORDER_MODE, &code);
  switch (code) {
    case CAMCORDER_MODE_DECK: return OX_CAMCORDER_MODE_DECK;
    case CAMCORDER_MODE_CAMERA: return OX_CAMCORDER_MODE_CAMERA;
    default: return OX_CAMCORDER_MODE_UNKNOWN;
  }
}

void ZeltoVideoDeviceController::GetTimecode(OxTimeCode& timeCode) {
  __MIDL___MIDL_itf_plgdefs_0000_0001 record{};
  if (FAILED(deckControl->GetTimeCode(&record))) {
    timeCode.Reset();
    return;
  }
  timeCode.SetTimeCode(OxTimeCode(record));
}

std::uint32_t ZeltoVideoDeviceController::GetPlaySpeed() { return 0; }

HRESULT ZeltoVideoDeviceController::SetRecordMode(bool record) {
  return deckControl->SetRecordMode(record ? TRUE : FALSE);
}
