// How the deck came to leave what a capture had it do. A capture has the
// deck play (or the library's own searches and plays, in a batch); a deck
// that stops, winds, pauses or loses its cassette without being asked to
// was taken by someone else: a button pressed in another terminal, on the
// camcorder, an ejection. A stop at the end of the tape is the tape's own.
//
// Judged here, in one place, from what the deck announces, where the
// simulated tape stands and which button another zelto noted pressing.
#pragma once

#include <optional>
#include <string>

#include "app/Session.h"
#include "host/foundation/OxDeviceTypes.h"

namespace zelto::app {

struct DeckDeparture {
  enum class Kind {
    None,       // the deck does what the capture asked
    TapeEnded,  // it stopped at the end of the tape
    TakenOver,  // another command (or hand) took it
    Failed,     // it stopped by itself elsewhere (a stalled transport)
  };
  Kind kind = Kind::None;
  std::string words;  // what happened, for a person
};

// What the deck announced, and what the capture knows besides.
struct DeckView {
  std::optional<Orvex::_OxVideoDeviceState> state;
  std::optional<Orvex::_OxMediaInfo> media;
  std::optional<Orvex::_OxCamcorderMode> mode;
  // A stop the capture is waiting for (the end of a batch section's scene).
  bool stopExpected = false;
  // Where the head stands and whether another seek is under way; none
  // where the driver does not tell (the system's).
  std::optional<TapePosition> position;
  std::optional<bool> seekUnderWay;
  // The button another zelto pressed on this camcorder since the job
  // began (Session::DeckTaken), when one did.
  std::optional<DeckTakeover> takenBy;
};

DeckDeparture JudgeDeck(const DeckView& view);

// The deck as it stands now, read from the device and the session, for a
// capture the library ended on the deck's account (deck stopped, tape
// ejected: then no cassette, whatever the device last heard).
DeckView DeckAsItStands(Session& session, bool ejected);

// "the deck was taken by zelto deck stop (process 4343)"
std::string TakenWords(const DeckTakeover& by);

// Whether the head stands at the end of the tape (within a second of it:
// the deck stops on its last tracks).
bool AtTapeEnd(const std::optional<TapePosition>& position);

}  // namespace zelto::app
