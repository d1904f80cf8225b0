#include "app/DeckButtons.h"

#include "app/Names.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

std::optional<_OxVideoDeviceState> DeckTarget(DeckAction action, _OxVideoDeviceState current) {
  // States the library has no button behaviour for: recording, and
  // everything it reads as unknown (no cassette, loading, winding, stalled).
  const bool stopped = current == OX_DEVICE_STATE_STOP;
  const bool winding = current == OX_DEVICE_STATE_FAST_FORWARD || current == OX_DEVICE_STATE_REWIND;
  const bool playing = current == OX_DEVICE_STATE_PLAY || current == OX_DEVICE_STATE_PAUSE ||
                       current == OX_DEVICE_STATE_PLAY_FASTEST_FORWARD ||
                       current == OX_DEVICE_STATE_PLAY_FASTEST_REVERSE ||
                       current == OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD;
  if (!stopped && !winding && !playing) return std::nullopt;

  switch (action) {
    case DeckAction::Play: return OX_DEVICE_STATE_PLAY;
    case DeckAction::Stop: return OX_DEVICE_STATE_STOP;
    case DeckAction::FastForward:
      if (stopped || current == OX_DEVICE_STATE_REWIND) return OX_DEVICE_STATE_FAST_FORWARD;
      if (current == OX_DEVICE_STATE_FAST_FORWARD || current == OX_DEVICE_STATE_PLAY_FASTEST_FORWARD)
        return std::nullopt;
      return OX_DEVICE_STATE_PLAY_FASTEST_FORWARD;
    case DeckAction::Rewind:
      if (stopped || current == OX_DEVICE_STATE_FAST_FORWARD) return OX_DEVICE_STATE_REWIND;
      if (current == OX_DEVICE_STATE_REWIND || current == OX_DEVICE_STATE_PLAY_FASTEST_REVERSE)
        return std::nullopt;
      return OX_DEVICE_STATE_PLAY_FASTEST_REVERSE;
    case DeckAction::Pause:
      if (!playing) return std::nullopt;
      // The pause button releases a pause.
      return current == OX_DEVICE_STATE_PAUSE ? OX_DEVICE_STATE_PLAY : OX_DEVICE_STATE_PAUSE;
    case DeckAction::Slow:
      if (!playing || current == OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD) return std::nullopt;
      return OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD;
    case DeckAction::Seek: return std::nullopt;
  }
  return std::nullopt;
}

std::string DeckRefusal(DeckAction action, _OxVideoDeviceState state, _OxMediaInfo media, _OxCamcorderMode mode) {
  if (mode == OX_CAMCORDER_MODE_CAMERA) return "the camcorder is in camera mode; switch it to the deck";
  if (media == OX_MEDIA_NONE) return "there is no cassette in the camcorder";
  if (state == OX_DEVICE_STATE_RECORD || state == OX_DEVICE_STATE_RECORD_PAUSE)
    return "the camcorder is recording";
  if (action == DeckAction::Seek) {
    // Loading, winding and a stalled transport all read as unknown; only
    // the camcorder can tell them apart, and a seek while winding is fine.
    if (mode != OX_CAMCORDER_MODE_DECK) return "the camcorder is not in deck mode";
    return {};
  }
  if (!DeckTarget(action, state))
    return std::string("the deck does not take '") + DeckActionWord(action) + "' while in state " +
           DeviceStateName(state);
  return {};
}

void PressDeckButton(ZeltoVideoDevice& device, DeckAction action) {
  switch (action) {
    case DeckAction::Play: device.DeckPlay(); break;
    case DeckAction::Stop: device.DeckStop(); break;
    case DeckAction::Pause: device.DeckPause(); break;
    case DeckAction::FastForward: device.DeckFastForward(); break;
    case DeckAction::Rewind: device.DeckFastRewind(); break;
    case DeckAction::Slow: device.DeckPlaySlow(0); break;  // the speed is not used
    case DeckAction::Seek: break;
  }
}

}  // namespace zelto::app
