#include "zelto/deck/VideoDeviceState.h"

using namespace Orvex;

HRESULT VideoDeviceState::Play(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::Stop(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::FastForward(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::FastRewind(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::Pause(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::StepForward(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::StepReverse(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::PlaySlow(VideoDeviceController&) { return S_OK; }
HRESULT VideoDeviceState::Shuttle(VideoDeviceController&, std::int32_t) { return S_OK; }

// Stop: winding from a standstill; pause and slow play are meaningless.
HRESULT ZeltoStopState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoStopState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoStopState::FastForward(VideoDeviceController& c) { return c.FastForward(); }
HRESULT ZeltoStopState::FastRewind(VideoDeviceController& c) { return c.Rewind(); }
_OxVideoDeviceState ZeltoStopState::GetValue() const { return OX_DEVICE_STATE_STOP; }

// Play: the wind buttons cue at the fastest play speeds instead of winding.
HRESULT ZeltoPlayState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoPlayState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoPlayState::FastForward(VideoDeviceController& c) { return c.PlayFastestForward(); }
HRESULT ZeltoPlayState::FastRewind(VideoDeviceController& c) { return c.PlayFastestReverse(); }
HRESULT ZeltoPlayState::Pause(VideoDeviceController& c) { return c.Pause(); }
HRESULT ZeltoPlayState::PlaySlow(VideoDeviceController& c) { return c.PlaySlowestForward(); }
_OxVideoDeviceState ZeltoPlayState::GetValue() const { return OX_DEVICE_STATE_PLAY; }

// Pause: pause again resumes play.
HRESULT ZeltoPauseState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoPauseState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoPauseState::FastForward(VideoDeviceController& c) { return c.PlayFastestForward(); }
HRESULT ZeltoPauseState::FastRewind(VideoDeviceController& c) { return c.PlayFastestReverse(); }
HRESULT ZeltoPauseState::Pause(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoPauseState::PlaySlow(VideoDeviceController& c) { return c.PlaySlowestForward(); }
_OxVideoDeviceState ZeltoPauseState::GetValue() const { return OX_DEVICE_STATE_PAUSE; }

HRESULT ZeltoFastForwardState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoFastForwardState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoFastForwardState::FastRewind(VideoDeviceController& c) { return c.Rewind(); }
_OxVideoDeviceState ZeltoFastForwardState::GetValue() const { return OX_DEVICE_STATE_FAST_FORWARD; }

HRESULT ZeltoRewindState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoRewindState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoRewindState::FastForward(VideoDeviceController& c) { return c.FastForward(); }
_OxVideoDeviceState ZeltoRewindState::GetValue() const { return OX_DEVICE_STATE_REWIND; }

HRESULT ZeltoPlayFastestForwardState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoPlayFastestForwardState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoPlayFastestForwardState::FastRewind(VideoDeviceController& c) { return c.PlayFastestReverse(); }
HRESULT ZeltoPlayFastestForwardState::Pause(VideoDeviceController& c) { return c.Pause(); }
HRESULT ZeltoPlayFastestForwardState::PlaySlow(VideoDeviceController& c) { return c.PlaySlowestForward(); }
_OxVideoDeviceState ZeltoPlayFastestForwardState::GetValue() const {
  return OX_DEVICE_STATE_PLAY_FASTEST_FORWARD;
}

HRESULT ZeltoPlayFastestReverseState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoPlayFastestReverseState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoPlayFastestReverseState::FastForward(VideoDeviceController& c) { return c.PlayFastestForward(); }
HRESULT ZeltoPlayFastestReverseState::Pause(VideoDeviceController& c) { return c.Pause(); }
HRESULT ZeltoPlayFastestReverseState::PlaySlow(VideoDeviceController& c) { return c.PlaySlowestForward(); }
_OxVideoDeviceState ZeltoPlayFastestReverseState::GetValue() const {
  return OX_DEVICE_STATE_PLAY_FASTEST_REVERSE;
}

HRESULT ZeltoPlaySlowestForwardState::Play(VideoDeviceController& c) { return c.Play(); }
HRESULT ZeltoPlaySlowestForwardState::Stop(VideoDeviceController& c) { return c.Stop(); }
HRESULT ZeltoPlaySlowestForwardState::FastForward(VideoDeviceController& c) { return c.PlayFastestForward(); }
HRESULT ZeltoPlaySlowestForwardState::FastRewind(VideoDeviceController& c) { return c.PlayFastestReverse(); }
HRESULT ZeltoPlaySlowestForwardState::Pause(VideoDeviceController& c) { return c.Pause(); }
_OxVideoDeviceState ZeltoPlaySlowestForwardState::GetValue() const {
  return OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD;
}

_OxVideoDeviceState ZeltoRecordState::GetValue() const { return OX_DEVICE_STATE_RECORD_PAUSE; }
_OxVideoDeviceState ZeltoRecordPauseState::GetValue() const { return OX_DEVICE_STATE_RECORD_PAUSE; }
_OxVideoDeviceState ZeltoUnknownState::GetValue() const { return OX_DEVICE_STATE_UNKNOWN; }
