// The deck model's transmit: a file's stream written by the record head.
#include "simulator/DeckModel.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "simulator/DeckModelInternal.h"

namespace zelto::sim {

using detail::HasTape;

std::uint64_t DeckModel::TransmitTotal() const {
  return source_.leadInPackets + source_.fileSize / kPacketBytes + source_.leadOutPackets;
}

std::uint64_t DeckModel::TransmitStopAt() const {
  std::uint64_t stop = TransmitTotal();
  if (source_.readablePackets && *source_.readablePackets < source_.fileSize / kPacketBytes)
    stop = source_.leadInPackets + *source_.readablePackets;
  if (sendLimit_) stop = std::min(stop, *sendLimit_);
  return stop;
}

std::optional<std::uint32_t> DeckModel::TransmitEndTrack() const {
  if (mode_ != TransportMode::Record || transmit_ != TransmitState::Started || !sending_) return std::nullopt;
  // Past the longest tape the end lies beyond any tape: no need to count on.
  const std::uint64_t left =
      std::min(TransmitStopAt() - std::min(sentBefore_, TransmitStopAt()), PacketAtTrack(kLongestTapeTracks + 1ull));
  // The first track by which the head has written `left` more packets.
  std::uint64_t tracks = left * kPacketBytes / kStreamBytesPerTrack;
  while (PacketAtTrack(tracks) < left) ++tracks;
  const std::uint64_t track = sendTrack_ + tracks;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(track, 0xFFFFFFFFu));
}

std::uint32_t DeckModel::RecordFrameAt(std::uint32_t track) const {
  // Recording that starts where a scene ends, or inside one, continues its
  // time code; on blank tape the count starts again.
  std::uint32_t frame = 0;
  for (const Scene& s : cassette_->scenes)
    if (s.startTrack <= track && track <= s.endTrack && s.FramesPerSecond() == 25) frame = s.FrameAt(track);
  return frame;
}

void DeckModel::BeginSending(std::uint32_t track) {
  sending_ = true;
  sendTrack_ = track;
  sentExact_.reset();
}

void DeckModel::StartTransmit(TransmitSource source, Tick now) {
  Advance(now);
  EndSending(now);
  transmit_ = TransmitState::Idle;
  transmitOwner_ = self_;
  ++transmitRun_;
  if (!cassette_ || !HasTape(mode_) || cassette_->writeProtected) {
    // Nothing the stream could be written on.
    transmit_ = TransmitState::Failed;
    NoteTransmitEnd(false);
    return;
  }
  if (mode_ == TransportMode::Record && sending_) {
    // The pass carried another file: that scene ends here, a new one begins.
    const double position = Position(now);
    CommitRecording(position);
    recordStart_ = static_cast<std::uint32_t>(std::floor(position));
    recordFrame_ = RecordFrameAt(recordStart_);
  }
  source_ = std::move(source);
  sentBefore_ = 0;
  sendLimit_.reset();
  transmit_ = TransmitState::Started;
  if (mode_ == TransportMode::Record) BeginSending(Track(now));
}

void DeckModel::EndSending(Tick now) {
  if (transmit_ == TransmitState::Started && sending_)
    sendLimit_ = std::min(TransmitStopAt(), sentBefore_ + PacketAtTrack(Track(now) - sendTrack_));
}

void DeckModel::StopTransmit(Tick now) {
  Advance(now);
  if (transmit_ == TransmitState::Started && !Mine(transmitOwner_)) return;
  // The data stops here; the deck records on, without it.
  EndSending(now);
  transmit_ = TransmitState::Idle;
}

void DeckModel::OrphanTransmit(Tick now) {
  Advance(now);
  if (transmit_ != TransmitState::Started) return;
  // As when a computer's stream stops arriving: what came is on the tape,
  // and the deck waits in record pause for more.
  EndSending(now);
  if (mode_ == TransportMode::Record) Enter(TransportMode::RecordPause, now);
  FailTransmit();
}

void DeckModel::LoseTransmit(Tick now) {
  Advance(now);
  if (transmit_ != TransmitState::Started) return;
  if (mode_ == TransportMode::Record) Enter(TransportMode::Stop, now);  // keeps what was written
  FailTransmit();
}

void DeckModel::FailTransmit() {
  if (transmit_ != TransmitState::Started) return;
  transmit_ = TransmitState::Failed;
  sending_ = false;
  NoteTransmitEnd(false);
}

std::vector<bool> DeckModel::TakeTransmitEnds() {
  std::vector<bool> taken;
  taken.swap(transmitEnds_);
  return taken;
}

void DeckModel::FinishTransmitStream(Tick at) {
  const std::uint32_t track = *TransmitEndTrack();
  const std::uint64_t stop = TransmitStopAt();
  const bool complete = stop == TransmitTotal();
  sentExact_ = stop;
  EnterAt(TransportMode::RecordPause, track, at);  // commits the scene, ending with the stream
  transmit_ = complete ? TransmitState::Completed : TransmitState::Failed;
  NoteTransmitEnd(complete);
}

void DeckModel::NoteTransmitEnd(bool complete) {
  if (!Mine(transmitOwner_) || noted_.transmitEndRun == transmitRun_) return;
  noted_.transmitEndRun = transmitRun_;
  transmitEnds_.push_back(complete);
}

}  // namespace zelto::sim
