#include "zelto/deck/ZeltoVideoDeviceDeck.h"

using namespace Orvex;

ZeltoVideoDeviceDeck::ZeltoVideoDeviceDeck(ZeltoComPtr<ISmartControl>* smartControl, _OxVideoSystem)
    : currentState(&stopState) {
  controller = std::make_unique<ZeltoVideoDeviceController>(*smartControl);
  UpdateDeviceState();
}

ZeltoVideoDeviceDeck::~ZeltoVideoDeviceDeck() = default;

VideoDeviceState& ZeltoVideoDeviceDeck::stateFor(_OxVideoDeviceState value) {
  switch (value) {
    case OX_DEVICE_STATE_PLAY: return playState;
    case OX_DEVICE_STATE_PAUSE: return pauseState;
    case OX_DEVICE_STATE_STOP: return stopState;
    case OX_DEVICE_STATE_RECORD: return recordState;
    case OX_DEVICE_STATE_RECORD_PAUSE: return recordPauseState;
    case OX_DEVICE_STATE_REWIND: return rewindState;
    case OX_DEVICE_STATE_FAST_FORWARD: return fastForwardState;
    case OX_DEVICE_STATE_PLAY_FASTEST_FORWARD: return playFastestForwardState;
    case OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD: return playSlowestForwardState;
    case OX_DEVICE_STATE_PLAY_FASTEST_REVERSE: return playFastestReverseState;
    default: return unknownState;
  }
}

// After a seek, every refresh that finds the deck playing reports the search
// as complete; the first that finds it stopped ends the scene and the search.
// The notification is the last thing done: its listener may delete the
// device, and this deck with it.
void ZeltoVideoDeviceDeck::UpdateDeviceState() {
  VideoDeviceState& state = stateFor(controller->GetDeviceState());
  currentState.store(&state);
  const _OxVideoDeviceState value = state.GetValue();
  if (value == OX_DEVICE_STATE_PLAY) {
    if (sceneSearch.load()) sceneSearchNotification.NotifyCompleteSceneSearch();
  } else if (value == OX_DEVICE_STATE_STOP) {
    // exchange, so that two threads refreshing at once report the end once.
    if (sceneSearch.exchange(false)) sceneSearchNotification.NotifyCompleteScenePlaying();
  }
}

void ZeltoVideoDeviceDeck::UpdateMediaInfo() { cassette.SetMediaInfo(controller->GetMediaInfo()); }

void ZeltoVideoDeviceDeck::UpdateCamcorderMode() { camcorderMode.store(controller->GetCamcorderMode()); }

_OxVideoDeviceState ZeltoVideoDeviceDeck::GetDeviceState() {
  UpdateDeviceState();
  return current().GetValue();
}

_OxMediaInfo ZeltoVideoDeviceDeck::GetMediaInfo() {
  UpdateMediaInfo();
  return cassette.GetMediaInfo();
}

// The mode is asked again only while it is still unknown.
_OxCamcorderMode ZeltoVideoDeviceDeck::GetCamcorderMode() {
  if (camcorderMode.load() == OX_CAMCORDER_MODE_UNKNOWN) UpdateCamcorderMode();
  return camcorderMode.load();
}

void ZeltoVideoDeviceDeck::GetTimecode(OxTimeCode& timeCode) {
  timeCode.ResetNoFrameRate();
  controller->GetTimecode(timeCode);
}

void ZeltoVideoDeviceDeck::DeckPlay() { current().Play(*controller); }
void ZeltoVideoDeviceDeck::DeckStop() { current().Stop(*controller); }
void ZeltoVideoDeviceDeck::DeckPause() { current().Pause(*controller); }
void ZeltoVideoDeviceDeck::DeckFastForward() { current().FastForward(*controller); }
void ZeltoVideoDeviceDeck::DeckFastRewind() { current().FastRewind(*controller); }
void ZeltoVideoDeviceDeck::DeckPlaySlow() { current().PlaySlow(*controller); }

HRESULT ZeltoVideoDeviceDeck::Record() { return controller->Record(); }
HRESULT ZeltoVideoDeviceDeck::RecordPause() { return controller->RecordPause(); }
HRESULT ZeltoVideoDeviceDeck::StopRecord() { return controller->StopRecord(); }
HRESULT ZeltoVideoDeviceDeck::SetRecordMode(bool record) { return controller->SetRecordMode(record); }

void ZeltoVideoDeviceDeck::StartSeekATN(std::uint32_t absoluteTrackNumber) {
  controller->SeekATN(absoluteTrackNumber);
  sceneSearch.store(true);
}

void ZeltoVideoDeviceDeck::AddEventListener(KelSafeEventListener<OxSceneSearchEvent>* listener) {
  sceneSearchNotification.AddEventListener(listener);
}

void ZeltoVideoDeviceDeck::RemoveEventListener(KelSafeEventListener<OxSceneSearchEvent>* listener) {
  sceneSearchNotification.RemoveEventListenerAndWait(listener);
}
