// What the deck model's source files share: the play speed and which
// transport modes stream or have a tape threaded. Private to the model.
#pragma once

#include "simulator/DeckModel.h"

namespace zelto::sim::detail {

inline constexpr double kPlaySpeed = kTracksPerSecond / 1000.0;  // tracks per millisecond

// The modes in which the camcorder streams what is recorded under the head.
inline bool Streams(TransportMode mode) { return mode == TransportMode::Play || mode == TransportMode::SeekPlaying; }

inline bool HasTape(TransportMode mode) {
  return mode != TransportMode::Empty && mode != TransportMode::Loading && mode != TransportMode::Ejecting;
}

}  // namespace zelto::sim::detail
