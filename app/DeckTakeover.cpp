#include "app/DeckTakeover.h"

#include "app/Names.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

using namespace Orvex;

namespace {

constexpr std::uint32_t kSecondOfTracks = 300;

DeckDeparture JudgeFromTheDeck(const DeckView& view);

std::string Where(const std::optional<TapePosition>& position) {
  return position ? " at ATN " + std::to_string(position->track) : "";
}

}  // namespace

bool AtTapeEnd(const std::optional<TapePosition>& position) {
  return position && position->lengthTracks > 0 && position->track + kSecondOfTracks >= position->lengthTracks;
}

std::string TakenWords(const DeckTakeover& by) { return "the deck was taken by " + by.Text(); }

DeckDeparture JudgeDeck(const DeckView& view) {
  using Kind = DeckDeparture::Kind;
  const DeckDeparture judged = JudgeFromTheDeck(view);
  // A button another zelto noted pressing names who took the deck; the
  // tape's own end stays the tape's.
  if (view.takenBy && judged.kind != Kind::None && judged.kind != Kind::TapeEnded)
    return {Kind::TakenOver, TakenWords(*view.takenBy) + Where(view.position)};
  return judged;
}

namespace {

DeckDeparture JudgeFromTheDeck(const DeckView& view) {
  using Kind = DeckDeparture::Kind;
  if (view.media == OX_MEDIA_NONE) return {Kind::TakenOver, "the cassette was ejected"};
  if (view.mode == OX_CAMCORDER_MODE_CAMERA) return {Kind::TakenOver, "the camcorder was switched to the camera mode"};
  if (!view.state) return {};
  switch (*view.state) {
    case OX_DEVICE_STATE_PLAY: return {};
    case OX_DEVICE_STATE_STOP:
      if (AtTapeEnd(view.position)) return {Kind::TapeEnded, "the tape ended"};
      if (view.stopExpected) return {};
      return {Kind::TakenOver, "another command stopped the deck" + Where(view.position)};
    case OX_DEVICE_STATE_WINDING: return {Kind::TakenOver, "another command sent the deck to seek"};
    case OX_DEVICE_STATE_STALLED: return {Kind::Failed, "the deck's transport stalled"};
    case OX_DEVICE_STATE_UNKNOWN:
      // Busy (a cassette on its way out, the mode switching), or a seek
      // where the driver reports it so.
      if (view.seekUnderWay.value_or(false)) return {Kind::TakenOver, "another command sent the deck to seek"};
      return {Kind::Failed, "the deck stopped under the capture"};
    default:
      return {Kind::TakenOver, "another command put the deck into " + DeviceStateName(*view.state) + Where(view.position)};
  }
}

}  // namespace

DeckView DeckAsItStands(Session& session, bool ejected) {
  DeckView view;
  view.state = session.Device().GetDeviceState();
  view.media = ejected ? OX_MEDIA_NONE : session.Device().GetMediaInfo();
  view.position = session.Position();
  view.seekUnderWay = session.SeekUnderWay();
  view.takenBy = session.DeckTaken();
  return view;
}

}  // namespace zelto::app
