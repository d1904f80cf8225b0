#include "simulator/DeckModel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <utility>

#include "simulator/DeckModelInternal.h"

namespace zelto::sim {

using detail::HasTape;
using detail::kPlaySpeed;
using detail::Streams;

namespace {

constexpr unsigned kRecordVideoSystem = 1;
constexpr bool kRecordWide = true;

struct ModeName {
  TransportMode mode;
  const char* name;
};
constexpr ModeName kModeNames[] = {
    {TransportMode::Empty, "empty"},
    {TransportMode::Loading, "loading"},
    {TransportMode::Ejecting, "ejecting"},
    {TransportMode::Stop, "stop"},
    {TransportMode::Play, "play"},
    {TransportMode::Pause, "pause"},
    {TransportMode::Record, "record"},
    {TransportMode::RecordPause, "record-pause"},
    {TransportMode::Rewind, "rewind"},
    {TransportMode::FastForward, "fast-forward"},
    {TransportMode::FastestForward, "fastest-forward"},
    {TransportMode::SlowestForward, "slowest-forward"},
    {TransportMode::FastestReverse, "fastest-reverse"},
    {TransportMode::SlowestReverse, "slowest-reverse"},
    {TransportMode::SeekWinding, "seek-winding"},
    {TransportMode::SeekSettling, "seek-settling"},
    {TransportMode::SeekPlaying, "seek-playing"},
    {TransportMode::Stalled, "stalled"},
};

// Milliseconds to cover a distance at a speed, rounded up so that the head
// has arrived when the transition fires.
Tick TimeToCover(double distance, double speed) {
  if (speed == 0) return 0;
  const double ms = distance / speed;
  if (!(ms > 0)) return 0;
  return static_cast<Tick>(std::ceil(ms - 1e-9));
}

std::string NowAsDate() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &now);
#else
  localtime_r(&now, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return text;
}
}  // namespace

const char* TransportModeName(TransportMode mode) {
  for (const ModeName& m : kModeNames)
    if (m.mode == mode) return m.name;
  return "?";
}

std::optional<TransportMode> TransportModeFromName(std::string_view name) {
  for (const ModeName& m : kModeNames)
    if (name == m.name) return m.mode;
  return std::nullopt;
}

DeckModel::DeckModel(TransportTiming timing, CamcorderModeCode mode) : timing_(timing), camcorderMode_(mode) {}

double DeckModel::Speed(TransportMode mode) const {
  switch (mode) {
    case TransportMode::Play:
    case TransportMode::SeekPlaying:
    case TransportMode::Record:
      return kPlaySpeed;
    case TransportMode::Rewind:
      return -kPlaySpeed * timing_.windSpeed;
    case TransportMode::FastForward:
      return kPlaySpeed * timing_.windSpeed;
    case TransportMode::FastestForward:
      return kPlaySpeed * timing_.searchSpeed;
    case TransportMode::FastestReverse:
      return -kPlaySpeed * timing_.searchSpeed;
    case TransportMode::SlowestForward:
      return kPlaySpeed * timing_.slowSpeed;
    case TransportMode::SlowestReverse:
      return -kPlaySpeed * timing_.slowSpeed;
    default:
      return 0;
  }
}

double DeckModel::Position(Tick now) const {
  if (!cassette_) return 0;
  double p = anchorPosition_;
  if (speed_ != 0 && now > anchorTick_) p += speed_ * static_cast<double>(now - anchorTick_);
  return std::clamp(p, 0.0, static_cast<double>(cassette_->lengthTracks));
}

std::uint32_t DeckModel::Track(Tick now) const { return static_cast<std::uint32_t>(std::floor(Position(now))); }

void DeckModel::EnterAt(TransportMode mode, double position, Tick at) {
  if (mode_ == TransportMode::Record && mode != TransportMode::Record) CommitRecording(position);
  if (mode == TransportMode::Record && mode_ != TransportMode::Record && transmit_ == TransmitState::Started)
    BeginSending(static_cast<std::uint32_t>(std::floor(position)));
  if (logPlay_ && Streams(mode_) && position > playFrom_) played_.push_back(PlayedSpan{playFrom_, position});
  if (Streams(mode)) playFrom_ = position;
  mode_ = mode;
  anchorPosition_ = position;
  anchorTick_ = at;
  speed_ = Speed(mode);
  phaseDue_.reset();
}

void DeckModel::Enter(TransportMode mode, Tick now) { EnterAt(mode, Position(now), now); }

void DeckModel::LogPlay(bool on, Tick now) {
  logPlay_ = on;
  played_.clear();
  playFrom_ = Position(now);
}

void DeckModel::FlushPlayed(Tick now) {
  if (!logPlay_ || !Streams(mode_)) return;
  const double position = Position(now);
  if (position > playFrom_) played_.push_back(PlayedSpan{playFrom_, position});
  playFrom_ = position;
}

std::vector<DeckModel::PlayedSpan> DeckModel::TakePlayed(Tick now) {
  FlushPlayed(now);
  std::vector<PlayedSpan> taken;
  taken.swap(played_);
  return taken;
}

void DeckModel::CommitRecording(double position) {
  if (!cassette_) return;
  const auto end = static_cast<std::uint32_t>(std::floor(position));
  const bool sent = sending_;
  sending_ = false;
  if (end <= recordStart_) return;
  Scene scene;
  if (sent) {
    // What this pass sent: up to where the stream stopped exactly, or as far
    // as the head got.
    const std::uint64_t stopAt = TransmitStopAt();
    const std::uint64_t count = std::min(sentExact_.value_or(sentBefore_ + PacketAtTrack(end - sendTrack_)), stopAt) -
                                std::min(sentBefore_, stopAt);
    const std::uint64_t before = PacketAtTrack(sendTrack_ - recordStart_);  // null packets before the data
    const std::uint64_t fileStart = source_.leadInPackets;
    const std::uint64_t fileEnd = fileStart + source_.fileSize / kPacketBytes;
    SceneContent content;
    content.file = source_.file;
    content.fileSize = source_.fileSize;
    const std::uint64_t from = std::max(sentBefore_, fileStart);
    const std::uint64_t to = std::min(sentBefore_ + count, fileEnd);
    if (from < to) {
      content.fromPacket = from - fileStart;
      content.toPacket = to - fileStart;
      content.atPacket = static_cast<std::int64_t>(before + (from - sentBefore_));
    }
    scene.content = std::move(content);
    sentBefore_ += count;
    sentExact_.reset();
  }
  scene.startTrack = recordStart_;
  scene.endTrack = end;
  scene.startFrame = recordFrame_;
  scene.recorded = NowAsDate();
  scene.videoSystem = kRecordVideoSystem;
  scene.wide = kRecordWide;
  cassette_->Overwrite(scene);
  ++memorySequence_;
}

DeckModel::Transition DeckModel::Next(Tick* at) const {
  Transition best = Transition::None;
  Tick bestAt = 0;
  auto consider = [&](Transition t, Tick when) {
    if (best == Transition::None || when < bestAt) {
      best = t;
      bestAt = when;
    }
  };
  if (switchDue_) consider(Transition::ModeSwitch, *switchDue_);
  if (phaseDue_) consider(Transition::Phase, *phaseDue_);
  if (mode_ == TransportMode::RecordPause && timing_.recordPauseLimitMs > 0)
    consider(Transition::RecordPauseLimit, anchorTick_ + timing_.recordPauseLimitMs);
  if (cassette_ && speed_ != 0) {
    const double limit = LimitPosition();
    const Tick limitAt = anchorTick_ + TimeToCover(limit - anchorPosition_, speed_);
    consider(Transition::Limit, limitAt);
    if (const auto end = TransmitEndTrack())
      consider(Transition::TransmitEnd, anchorTick_ + TimeToCover(*end - anchorPosition_, speed_));
    if (scan_ == ScanPhase::Playing && mode_ == TransportMode::FastestForward) {
      if (const auto point = NextScanPoint())
        consider(Transition::ScanPoint, anchorTick_ + TimeToCover(*point - anchorPosition_, speed_));
    }
    // Scene boundaries matter only where the camcorder streams.
    if (mode_ == TransportMode::Play || mode_ == TransportMode::SeekPlaying) {
      const auto from = static_cast<std::uint32_t>(std::floor(anchorPosition_));
      if (auto b = cassette_->NextBoundaryAfter(from); b && *b < limit) {
        consider(Transition::Boundary, anchorTick_ + TimeToCover(*b - anchorPosition_, speed_));
      }
    }
  }
  if (at) *at = bestAt;
  return best;
}

double DeckModel::LimitPosition() const {
  const double length = cassette_->lengthTracks;
  if (mode_ == TransportMode::SeekWinding) return seekTarget_;
  if (mode_ == TransportMode::SeekPlaying) return std::min<double>(seekStop_, length);
  if (scan_ == ScanPhase::Playing && mode_ == TransportMode::FastestForward)
    return std::min<double>(ScanEnd(), length);
  return speed_ > 0 ? length : 0.0;
}

std::optional<Tick> DeckModel::NextTransition() const {
  Tick at = 0;
  if (Next(&at) == Transition::None) return std::nullopt;
  return at;
}

void DeckModel::Fire(Transition transition, Tick at) {
  switch (transition) {
    case Transition::None:
      return;
    case Transition::ModeSwitch:
      camcorderMode_ = switchTarget_;
      switchDue_.reset();
      return;
    case Transition::Phase:
      if (mode_ == TransportMode::Loading) {
        EnterAt(TransportMode::Stop, anchorPosition_, at);
      } else if (mode_ == TransportMode::Ejecting) {
        EnterAt(TransportMode::Empty, 0, at);
        cassette_.reset();
        ++memorySequence_;
      } else if (mode_ == TransportMode::SeekSettling) {
        EnterAt(seekStop_ > seekTarget_ ? TransportMode::SeekPlaying : TransportMode::Stop, seekTarget_, at);
      } else {
        phaseDue_.reset();
      }
      return;
    case Transition::Limit: {
      const double limit = LimitPosition();
      if (mode_ == TransportMode::SeekWinding) {
        EnterAt(TransportMode::SeekSettling, limit, at);
        phaseDue_ = at + timing_.seekSettleMs;
      } else if (!ScanReachedLimit(limit, at)) {
        // A recording that runs into the end of the tape loses the rest of
        // its stream.
        const bool recording = mode_ == TransportMode::Record;
        EnterAt(TransportMode::Stop, limit, at);
        if (recording) FailTransmit();
      }
      return;
    }
    case Transition::TransmitEnd:
      FinishTransmitStream(at);
      return;
    case Transition::ScanPoint:
      PassScanPoint(at);
      return;
    case Transition::Boundary: {
      // Re-anchor exactly on the boundary so the scene under the head is the
      // one just entered, whatever the rounding of the clock.
      const auto from = static_cast<std::uint32_t>(std::floor(anchorPosition_));
      if (auto b = cassette_->NextBoundaryAfter(from)) anchorPosition_ = *b;
      anchorTick_ = at;
      return;
    }
    case Transition::RecordPauseLimit:
      // The camcorder spares the tape: it stops, and a stream still waiting
      // to be recorded has nowhere to go.
      EnterAt(TransportMode::Stop, anchorPosition_, at);
      FailTransmit();
      return;
  }
}

void DeckModel::Advance(Tick now) {
  for (int guard = 0; guard < 1000000; ++guard) {
    Tick at = 0;
    const Transition t = Next(&at);
    if (t == Transition::None || at > now) return;
    Fire(t, at);
  }
}

HRESULT DeckModel::SeekTo(std::uint32_t track, Tick now) {
  if (track > cassette_->lengthTracks) return E_INVALIDARG;
  const double position = Position(now);
  // Play the scene found at the track to its end; on blank tape, search on
  // to the next scene's start. With no scene there or after it, the deck
  // stops at the track: it never plays blank tape to the end.
  seekTarget_ = track;
  seekStop_ = track;
  if (const Scene* s = cassette_->SceneAt(track)) {
    seekStop_ = s->endTrack;
  } else {
    for (const Scene& next : cassette_->scenes) {
      if (next.startTrack > track) {
        seekTarget_ = next.startTrack;
        seekStop_ = next.endTrack;
        break;
      }
    }
  }
  EnterAt(TransportMode::SeekWinding, position, now);
  const double wind = kPlaySpeed * timing_.windSpeed;
  if (seekTarget_ > position) {
    speed_ = wind;
  } else if (seekTarget_ < position) {
    speed_ = -wind;
  } else {
    EnterAt(TransportMode::SeekSettling, seekTarget_, now);
    phaseDue_ = now + timing_.seekSettleMs;
  }
  return S_OK;
}

HRESULT DeckModel::Command(DWORD command, Tick now) {
  Advance(now);
  if (camcorderMode_ != CAMCORDER_MODE_DECK || switchDue_) return kErrorWrongMode;
  if (mode_ == TransportMode::Stalled) return kErrorBusy;
  if (!cassette_ || !HasTape(mode_)) return kErrorNotReady;
  // The transport is the user's again: a scan under way ends.
  if ((command & 0xF0000000u) == DECK_COMMAND_SEEK_ATN ||
      (command >= DECK_COMMAND_PLAY && command <= DECK_COMMAND_PLAY_SLOWEST_REVERSE))
    InterruptScan();
  if ((command & 0xF0000000u) == DECK_COMMAND_SEEK_ATN) {
    if (mode_ == TransportMode::Record) return kErrorBusy;
    return SeekTo(command & 0x0FFFFFFFu, now);
  }
  const bool recording = mode_ == TransportMode::Record;
  if (recording && command != DECK_COMMAND_STOP && command != DECK_COMMAND_PAUSE &&
      command != DECK_COMMAND_RECORD && command != DECK_COMMAND_RECORD_PAUSE) {
    return kErrorBusy;
  }
  // The buttons that only set the transport going.
  static constexpr std::pair<DWORD, TransportMode> kPlain[] = {
      {DECK_COMMAND_PLAY, TransportMode::Play},
      {DECK_COMMAND_STOP, TransportMode::Stop},
      {DECK_COMMAND_REWIND, TransportMode::Rewind},
      {DECK_COMMAND_FAST_FORWARD, TransportMode::FastForward},
      {DECK_COMMAND_PLAY_FASTEST_FORWARD, TransportMode::FastestForward},
      {DECK_COMMAND_PLAY_SLOWEST_FORWARD, TransportMode::SlowestForward},
      {DECK_COMMAND_PLAY_FASTEST_REVERSE, TransportMode::FastestReverse},
      {DECK_COMMAND_PLAY_SLOWEST_REVERSE, TransportMode::SlowestReverse},
  };
  for (const auto& [code, mode] : kPlain) {
    if (command == code) {
      Enter(mode, now);
      return S_OK;
    }
  }
  switch (command) {
    case DECK_COMMAND_PAUSE:
      Enter(recording ? TransportMode::RecordPause : TransportMode::Pause, now);
      return S_OK;
    case DECK_COMMAND_RECORD: {
      if (cassette_->writeProtected) return kErrorWriteProtected;
      if (recording) return S_OK;
      recordStart_ = Track(now);
      recordFrame_ = RecordFrameAt(recordStart_);
      EnterAt(TransportMode::Record, recordStart_, now);
      return S_OK;
    }
    case DECK_COMMAND_RECORD_PAUSE:
      if (cassette_->writeProtected) return kErrorWriteProtected;
      Enter(TransportMode::RecordPause, now);
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

void DeckModel::Insert(Cassette cassette, Tick now, bool immediate) {
  Advance(now);
  if (mode_ == TransportMode::Record) CommitRecording(Position(now));
  FailTransmit();
  InterruptScan();
  mode_ = TransportMode::Empty;  // the old cassette (if any) is gone, and what was played on it
  played_.clear();
  const double position = std::min(cassette.positionTrack, cassette.lengthTracks);
  cassette_ = std::move(cassette);
  ++memorySequence_;
  if (immediate) {
    EnterAt(TransportMode::Stop, position, now);
    return;
  }
  EnterAt(TransportMode::Loading, position, now);
  phaseDue_ = now + timing_.loadMs;
}

bool DeckModel::Eject(Tick now) {
  Advance(now);
  if (!cassette_ || mode_ == TransportMode::Ejecting || mode_ == TransportMode::Empty) return false;
  const double position = Position(now);
  EnterAt(TransportMode::Ejecting, position, now);  // commits a recording
  FailTransmit();
  InterruptScan();
  cassette_->positionTrack = static_cast<std::uint32_t>(std::floor(position));
  phaseDue_ = now + timing_.ejectMs;
  return true;
}

void DeckModel::SetWriteProtected(bool on, Tick now) {
  Advance(now);
  if (!cassette_) return;
  cassette_->writeProtected = on;
  if (!on) return;
  if (mode_ == TransportMode::Record || mode_ == TransportMode::RecordPause) Enter(TransportMode::Stop, now);
  FailTransmit();
}

void DeckModel::SetStalled(bool on, Tick now) {
  Advance(now);
  if (on && cassette_ && HasTape(mode_) && mode_ != TransportMode::Stalled) {
    Enter(TransportMode::Stalled, now);
    FailTransmit();
    InterruptScan();
  } else if (!on && mode_ == TransportMode::Stalled) {
    Enter(TransportMode::Stop, now);
  }
}

void DeckModel::SwitchCamcorderMode(CamcorderModeCode mode, Tick now) {
  Advance(now);
  if (mode == (switchDue_ ? switchTarget_ : camcorderMode_)) return;
  // The transport stops whenever the camcorder changes its mode.
  if (cassette_ && HasTape(mode_) && mode_ != TransportMode::Stop && mode_ != TransportMode::Stalled) {
    Enter(TransportMode::Stop, now);
  }
  FailTransmit();
  InterruptScan();
  if (mode == CAMCORDER_MODE_OFF || timing_.modeSwitchMs == 0) {
    camcorderMode_ = mode;
    switchDue_.reset();
    return;
  }
  camcorderMode_ = CAMCORDER_MODE_SWITCHING;
  switchTarget_ = mode;
  switchDue_ = now + timing_.modeSwitchMs;
}

DeckStateCode DeckModel::DeckState() const {
  switch (camcorderMode_) {
    case CAMCORDER_MODE_DECK:
      break;
    case CAMCORDER_MODE_OFF:
      return DECK_STATE_NO_ANSWER;
    case CAMCORDER_MODE_SWITCHING:
      return DECK_STATE_BUSY;
    default:
      return DECK_STATE_NOT_READY;  // the camera has the transport
  }
  switch (mode_) {
    case TransportMode::Empty:
      return DECK_STATE_NOT_READY;
    case TransportMode::Loading:
      return DECK_STATE_LOADING;
    case TransportMode::Ejecting:
      return DECK_STATE_BUSY;
    case TransportMode::Stop:
      return DECK_STATE_STOP;
    case TransportMode::Play:
    case TransportMode::SeekPlaying:
      return DECK_STATE_PLAY;
    case TransportMode::Pause:
      return DECK_STATE_PAUSE;
    case TransportMode::Record:
      return DECK_STATE_RECORD;
    case TransportMode::RecordPause:
      return DECK_STATE_RECORD_PAUSE;
    case TransportMode::Rewind:
      return DECK_STATE_REWIND;
    case TransportMode::FastForward:
      return DECK_STATE_FAST_FORWARD;
    case TransportMode::FastestForward:
      return DECK_STATE_PLAY_FASTEST_FORWARD;
    case TransportMode::SlowestForward:
      return DECK_STATE_PLAY_SLOWEST_FORWARD;
    case TransportMode::FastestReverse:
      return DECK_STATE_PLAY_FASTEST_REVERSE;
    case TransportMode::SlowestReverse:
      return DECK_STATE_PLAY_SLOWEST_REVERSE;
    case TransportMode::SeekWinding:
    case TransportMode::SeekSettling:
      return DECK_STATE_WINDING_TO_TRACK;
    case TransportMode::Stalled:
      return DECK_STATE_STALLED;
  }
  return DECK_STATE_NOT_READY;
}

MediaInfoCode DeckModel::MediaInfo() const {
  if (!cassette_) return MEDIA_INFO_NONE;
  if (mode_ == TransportMode::Ejecting) return MEDIA_INFO_EJECTING;
  if (!HasTape(mode_)) return MEDIA_INFO_NONE;
  if (cassette_->writeProtected) return MEDIA_INFO_WRITE_PROTECTED;
  if (!cassette_->hasMemory) return MEDIA_INFO_NO_MEMORY;
  return MEDIA_INFO_RECORDABLE;
}

std::optional<__MIDL___MIDL_itf_plgdefs_0000_0001> DeckModel::TimeCode(Tick now) const {
  if (camcorderMode_ != CAMCORDER_MODE_DECK || !cassette_ || !HasTape(mode_)) return std::nullopt;
  const std::uint32_t track = Track(now);
  if (mode_ == TransportMode::Record) {
    const std::uint64_t elapsed = track > recordStart_ ? track - recordStart_ : 0;
    return TimeCodeRecord(recordFrame_ + static_cast<std::uint32_t>(elapsed * 25 / kTracksPerSecond), 25);
  }
  if (const Scene* s = cassette_->SceneAt(track)) return s->TimeCodeAt(track);
  __MIDL___MIDL_itf_plgdefs_0000_0001 blank{};
  blank.flags = kTimeCodeRecordNoTimeCode;
  return blank;
}

const Scene* DeckModel::StreamingScene(Tick now) const {
  if (camcorderMode_ != CAMCORDER_MODE_DECK || !cassette_) return nullptr;
  if (!Streams(mode_)) return nullptr;
  return cassette_->SceneAt(Track(now));
}

std::optional<Cassette> DeckModel::CurrentCassette(Tick now) const {
  if (!cassette_) return std::nullopt;
  DeckModel copy = *this;
  const double position = copy.Position(now);
  if (copy.mode_ == TransportMode::Record) copy.CommitRecording(position);
  if (HasTape(copy.mode_)) copy.cassette_->positionTrack = static_cast<std::uint32_t>(std::floor(position));
  return copy.cassette_;
}

std::uint32_t DeckModel::TakeDropoutPass(std::uint32_t startTrack) {
  if (!cassette_) return 0;
  for (Dropout& d : cassette_->dropouts)
    if (d.startTrack == startTrack) return d.passes++;
  return 0;
}

}  // namespace zelto::sim
