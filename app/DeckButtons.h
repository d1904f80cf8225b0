// What a deck button does, judged by the deck state the library last read:
// the state the deck is sent to, or none when the library sends nothing in
// that state (a button pressed while recording, say). This is how the host
// knows what "--wait" waits for and when a command is refused outright.
#pragma once

#include <optional>
#include <string>

#include "app/Options.h"
#include "host/foundation/OxDeviceTypes.h"

class ZeltoVideoDevice;

namespace zelto::app {

// For every action but Seek.
std::optional<Orvex::_OxVideoDeviceState> DeckTarget(DeckAction action, Orvex::_OxVideoDeviceState current);

// Why the camcorder will not take a deck command now, or empty when it will.
// Seeks are judged by the mode, the cassette and recording alone; the other
// actions also by DeckTarget.
std::string DeckRefusal(DeckAction action, Orvex::_OxVideoDeviceState state, Orvex::_OxMediaInfo media,
                        Orvex::_OxCamcorderMode mode);

// The device's operation for a button (a seek needs its track: not here).
void PressDeckButton(ZeltoVideoDevice& device, DeckAction action);

}  // namespace zelto::app
