#include "simulator/DeckModel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <utility>

#include "host/cassettedb/ICassetteMemory.h"
#include "simulator/CassetteJson.h"
#include "simulator/JsonFields.h"
#include "simulator/StateFile.h"

namespace zelto::sim {

namespace {

constexpr double kPlaySpeed = kTracksPerSecond / 1000.0;  // tracks per millisecond
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

nlohmann::json PreviewToJson(const PreviewSettings& p) {
  nlohmann::json rect = nullptr;
  if (p.rect) rect = {p.rect->left, p.rect->top, p.rect->right, p.rect->bottom};
  auto optional = [](const std::optional<DWORD>& v) { return v ? nlohmann::json(*v) : nlohmann::json(nullptr); };
  return {{"ownerWindow", p.ownerWindow}, {"rect", rect},       {"mode", optional(p.mode)},
          {"volume", p.volume},           {"quality", optional(p.quality)}, {"deinterlace", p.deinterlace}};
}

// False for a preview this model could not have saved. Throws FieldError
// or nlohmann's exceptions on a wrong type.
bool PreviewFromJson(const nlohmann::json& json, PreviewSettings& p) {
  using detail::CountField;
  using detail::OptionalCountField;
  PreviewSettings read;
  read.ownerWindow = CountField<std::uint64_t>(json, "ownerWindow");
  if (const auto& rect = detail::Field(json, "rect"); !rect.is_null()) {
    if (!rect.is_array() || rect.size() != 4) return false;
    LONG edges[4] = {};
    for (std::size_t i = 0; i < 4; ++i)
      edges[i] = static_cast<LONG>(detail::ToInteger(rect[i], "rect", std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max()));
    if (edges[2] < edges[0] || edges[3] < edges[1]) return false;
    read.rect = RECT{edges[0], edges[1], edges[2], edges[3]};
  }
  read.mode = OptionalCountField<DWORD>(json, "mode");
  read.volume = CountField<DWORD>(json, "volume", 100);
  read.quality = OptionalCountField<DWORD>(json, "quality");
  read.deinterlace = detail::ToBool(detail::Field(json, "deinterlace"), "deinterlace");
  p = read;
  return true;
}

// The modes in which the camcorder streams what is recorded under the head.
bool Streams(TransportMode mode) { return mode == TransportMode::Play || mode == TransportMode::SeekPlaying; }

bool HasTape(TransportMode mode) {
  return mode != TransportMode::Empty && mode != TransportMode::Loading && mode != TransportMode::Ejecting;
}

nlohmann::ordered_json OwnerToJson(const std::optional<Owner>& owner) {
  if (!owner) return nullptr;
  return {{"process", owner->process}, {"started", owner->started}, {"camcorder", owner->camcorder}};
}

// Throws FieldError on a wrong type.
std::optional<Owner> OwnerFromJson(const nlohmann::json& json) {
  if (json.is_null()) return std::nullopt;
  using detail::CountField;
  return Owner{CountField<std::uint64_t>(json, "process"), CountField<std::uint64_t>(json, "started"),
               CountField<std::uint64_t>(json, "camcorder")};
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

// --- The transmit -------------------------------------------------------------

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

// --- The scan -----------------------------------------------------------------

std::optional<std::uint32_t> DeckModel::ScanPointFrom(std::uint32_t track) const {
  std::optional<std::uint32_t> best;
  for (const Scene& s : cassette_->scenes) {
    std::uint32_t points[2] = {s.startTrack, s.startTrack};
    if (s.endTrack - s.startTrack >= kTracksPerSecond) points[1] = s.startTrack + (s.endTrack - s.startTrack) / 2;
    for (std::uint32_t p : points)
      if (p >= track && (!best || p < *best)) best = p;
  }
  return best;
}

std::uint32_t DeckModel::ScanEnd() const {
  std::uint32_t end = 0;
  for (const Scene& s : cassette_->scenes) end = std::max(end, s.endTrack);
  return end;
}

HRESULT DeckModel::StartScan(Tick now) {
  Advance(now);
  if (camcorderMode_ != CAMCORDER_MODE_DECK || switchDue_) return kErrorWrongMode;
  if (mode_ == TransportMode::Stalled) return kErrorBusy;
  if (!cassette_ || !HasTape(mode_)) return kErrorNotReady;
  if (mode_ == TransportMode::Record || scan_ != ScanPhase::None) return kErrorBusy;
  scanFrom_ = 0;
  scanOwner_ = self_;
  ++scanRun_;
  scanOutcome_ = ScanOutcome::Running;
  const double position = Position(now);
  if (position > 0) {
    scan_ = ScanPhase::Rewinding;
    EnterAt(TransportMode::Rewind, position, now);
  } else {
    scan_ = ScanPhase::Playing;
    EnterAt(TransportMode::FastestForward, 0, now);
  }
  return S_OK;
}

void DeckModel::StopScan(Tick now) {
  Advance(now);
  if (scan_ == ScanPhase::None) return;
  scan_ = ScanPhase::None;
  scanOutcome_ = ScanOutcome::Stopped;
  Enter(TransportMode::Stop, now);
}

void DeckModel::InterruptScan() {
  if (scan_ == ScanPhase::None) return;
  scan_ = ScanPhase::None;
  scanOutcome_ = ScanOutcome::Error;
  NoteScan(ScanNote{ScanNote::Kind::Error});
}

void DeckModel::FailScan() { InterruptScan(); }

std::vector<DeckModel::ScanNote> DeckModel::TakeScanNotes() {
  std::vector<ScanNote> taken;
  taken.swap(scanNotes_);
  return taken;
}

// --- The cassette memory ------------------------------------------------------

const Cassette* DeckModel::MemoryCassette() const {
  if (!cassette_ || !HasTape(mode_) || !cassette_->hasMemory) return nullptr;
  return &*cassette_;
}

HRESULT DeckModel::SetMemoryKey(std::uint32_t sequence, std::uint32_t index, std::uint32_t key) {
  if (!MemoryCassette()) return kErrorNotReady;
  if (sequence != memorySequence_) return CASSETTE_MEMORY_E_CHANGED;
  if (index >= cassette_->scenes.size()) return E_INVALIDARG;
  cassette_->scenes[index].memoryKey = key;
  return S_OK;
}

HRESULT DeckModel::SetMemoryText(std::string text) {
  if (!MemoryCassette()) return kErrorNotReady;
  if (cassette_->writeProtected) return kErrorWriteProtected;
  cassette_->text = std::move(text);
  ++memorySequence_;
  return S_OK;
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
      } else if (scan_ == ScanPhase::Rewinding && mode_ == TransportMode::Rewind) {
        scan_ = ScanPhase::Playing;
        EnterAt(TransportMode::FastestForward, 0, at);
      } else if (scan_ == ScanPhase::Playing && mode_ == TransportMode::FastestForward) {
        scan_ = ScanPhase::None;
        scanOutcome_ = ScanOutcome::Complete;
        EnterAt(TransportMode::Stop, limit, at);
        NoteScan(ScanNote{ScanNote::Kind::Complete});
      } else {
        // A recording that runs into the end of the tape loses the rest of
        // its stream.
        const bool recording = mode_ == TransportMode::Record;
        EnterAt(TransportMode::Stop, limit, at);
        if (recording) FailTransmit();
      }
      return;
    }
    case Transition::TransmitEnd: {
      const std::uint32_t track = *TransmitEndTrack();
      const std::uint64_t stop = TransmitStopAt();
      const bool complete = stop == TransmitTotal();
      sentExact_ = stop;
      EnterAt(TransportMode::RecordPause, track, at);  // commits the scene, ending with the stream
      transmit_ = complete ? TransmitState::Completed : TransmitState::Failed;
      NoteTransmitEnd(complete);
      return;
    }
    case Transition::ScanPoint: {
      const std::uint32_t point = *NextScanPoint();
      const Scene* scene = cassette_->SceneAt(point);
      if (scene)
        NoteScan(ScanNote{ScanNote::Kind::Thumbnail, static_cast<std::size_t>(scene - cassette_->scenes.data()), point});
      scanFrom_ = point + 1;
      if (scanStallAfter_ > 0 && --scanStallAfter_ == 0) {
        EnterAt(TransportMode::Stalled, point, at);
        InterruptScan();
      }
      return;
    }
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

std::string DeckModel::Save(Tick now, std::int64_t wallMs) const {
  auto onClock = [&](Tick t) { return t + clockOffset_; };
  auto optionalTime = [&](const std::optional<Tick>& t) {
    return t ? nlohmann::ordered_json(onClock(*t)) : nlohmann::ordered_json(nullptr);
  };
  auto optionalCount = [](const std::optional<std::uint64_t>& v) {
    return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
  };
  // The format comes first: a file cut short still says whose it is.
  nlohmann::ordered_json state;
  state["format"] = std::string(kStateFormat);
  state["version"] = kStateVersion;
  state["clock"] = {{"now", onClock(now)}, {"wall", wallMs}};
  state["camcorderMode"] = static_cast<unsigned>(camcorderMode_);
  state["switchTarget"] = static_cast<unsigned>(switchTarget_);
  state["switchDue"] = optionalTime(switchDue_);
  state["cassette"] = cassette_ ? nlohmann::ordered_json(detail::CassetteToJson(*cassette_)) : nullptr;
  state["mode"] = TransportModeName(mode_);
  state["position"] = anchorPosition_;
  state["modeEntered"] = onClock(anchorTick_);
  state["phaseDue"] = optionalTime(phaseDue_);
  state["seekTarget"] = seekTarget_;
  state["seekStop"] = seekStop_;
  state["recordStart"] = recordStart_;
  state["recordFrame"] = recordFrame_;
  state["recordInput"] = recordInput_;
  state["memorySequence"] = memorySequence_;
  state["transmit"] = {{"state", static_cast<int>(transmit_)},
                       {"owner", OwnerToJson(transmitOwner_)},
                       {"run", transmitRun_},
                       {"file", source_.file},
                       {"fileSize", source_.fileSize},
                       {"leadIn", source_.leadInPackets},
                       {"leadOut", source_.leadOutPackets},
                       {"readable", optionalCount(source_.readablePackets)},
                       {"sending", sending_},
                       {"sendTrack", sendTrack_},
                       {"sentBefore", sentBefore_},
                       {"sendLimit", optionalCount(sendLimit_)}};
  state["scan"] = {{"phase", static_cast<int>(scan_)},
                   {"from", scanFrom_},
                   {"owner", OwnerToJson(scanOwner_)},
                   {"run", scanRun_},
                   {"outcome", static_cast<int>(scanOutcome_)}};
  state["preview"] = nlohmann::ordered_json(PreviewToJson(preview_));
  return state.dump(2);
}

bool DeckModel::Restore(std::string_view text, Tick now, std::int64_t wallMs, double scale, const OwnerGone& gone,
                        bool* orphaned, std::string* problem) {
  using detail::CountField;
  using detail::Field;
  using detail::FieldError;
  const nlohmann::json state = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (orphaned) *orphaned = false;
  if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
  // Every count of tape and of packets is bounded (see Cassette.h), so that
  // no arithmetic on a restored state overflows.
  constexpr std::uint64_t kMostPackets = kLargestStreamFileBytes / kPacketBytes;
  try {
    if (!state.is_object()) throw FieldError("the state is no JSON object");
    if (const auto format = state.find("format"); format == state.end() || !format->is_string() || format->get<std::string>() != kStateFormat)
      throw FieldError("not a state of the simulated camcorder");
    // Version 1 had no cassette memory to speak of, no recorded content, no
    // transmit and no scan; what it lacks starts afresh.
    const auto version = detail::ToInteger(Field(state, "version"), "version", 1, kStateVersion);
    DeckModel restored(timing_, camcorderMode_);
    restored.self_ = self_;
    // Saved times become ticks of this model, clamped to a few decades so
    // that a file with absurd times cannot overflow the clock arithmetic.
    constexpr double kFarMs = 1e12;
    auto aroundNow = [&](double offset) { return now + static_cast<Tick>(std::clamp(offset, -kFarMs, kFarMs)); };
    auto time = [](const nlohmann::json& value, const std::string& name) {
      constexpr auto kFarthest = static_cast<std::int64_t>(kFarMs * 1000);
      return detail::ToInteger(value, name, -kFarthest, kFarthest);
    };
    std::function<Tick(std::int64_t)> fromSaved;
    Tick savedAt = now;  // when the state was saved; unknown before version 3
    if (version >= 3) {
      const auto& clock = Field(state, "clock");
      const std::int64_t savedNow = time(Field(clock, "now"), "clock: now");
      const std::int64_t savedWall = time(Field(clock, "wall"), "clock: wall");
      // The camcorder's clock now: it ran on while no program looked.
      const double passed = std::clamp((static_cast<double>(wallMs) - static_cast<double>(savedWall)) / scale, 0.0, kFarMs);
      const double clockNow = static_cast<double>(savedNow) + passed;
      restored.clockOffset_ = static_cast<std::int64_t>(clockNow) - now;
      fromSaved = [&, clockNow](std::int64_t t) { return aroundNow(static_cast<double>(t) - clockNow); };
      savedAt = std::min(now, fromSaved(savedNow));
    } else {
      // Wall-clock times, which the tape followed at this program's scale.
      restored.clockOffset_ = clockOffset_;
      fromSaved = [&](std::int64_t wall) {
        return aroundNow((static_cast<double>(wall) - static_cast<double>(wallMs)) / scale);
      };
    }
    auto optionalTime = [&](const char* key) -> std::optional<Tick> {
      const auto& v = Field(state, key);
      if (v.is_null()) return std::nullopt;
      return fromSaved(time(v, key));
    };
    auto mode = [&](const char* key) {
      const auto code = CountField<std::uint32_t>(state, key);
      if (code == CAMCORDER_MODE_OFF || code == CAMCORDER_MODE_SWITCHING || code == CAMCORDER_MODE_DECK ||
          code == CAMCORDER_MODE_CAMERA)
        return static_cast<CamcorderModeCode>(code);
      throw FieldError("\"" + std::string(key) + "\" is no camcorder mode");
    };
    restored.camcorderMode_ = mode("camcorderMode");
    restored.switchTarget_ = mode("switchTarget");
    const auto transport = TransportModeFromName(detail::ToText(Field(state, "mode"), "mode"));
    if (!transport) throw FieldError("\"mode\" is no transport mode");
    restored.switchDue_ = optionalTime("switchDue");
    if (const auto& cassette = Field(state, "cassette"); !cassette.is_null()) {
      std::string why;
      restored.cassette_ = detail::CassetteFromJson(cassette, &why);
      if (!restored.cassette_) throw FieldError("cassette: " + why);
    }
    if ((*transport != TransportMode::Empty) != restored.cassette_.has_value())
      throw FieldError("\"mode\" and \"cassette\" disagree");
    // A count of tracks: on the tape, as far as it goes.
    const std::uint32_t tape = restored.cassette_ ? restored.cassette_->lengthTracks : 0;
    auto track = [&](const nlohmann::json& object, const char* key) {
      return std::min(detail::CountField<std::uint32_t>(object, key, kLongestTapeTracks), tape);
    };
    restored.mode_ = *transport;
    restored.anchorPosition_ = std::min<double>(detail::ToNumber(Field(state, "position"), "position", 0, kLongestTapeTracks), tape);
    restored.anchorTick_ = fromSaved(time(Field(state, "modeEntered"), "modeEntered"));
    restored.speed_ = restored.Speed(*transport);
    restored.phaseDue_ = optionalTime("phaseDue");
    restored.seekTarget_ = track(state, "seekTarget");
    restored.seekStop_ = track(state, "seekStop");
    restored.recordStart_ = track(state, "recordStart");
    restored.recordFrame_ = CountField<std::uint32_t>(state, "recordFrame");
    restored.recordInput_ = detail::ToBool(Field(state, "recordInput"), "recordInput");
    // Every process changes the state as the last one left it, so the saved
    // sequence is the shared one; a version 1 state has none, and its
    // memory counts as changed.
    restored.memorySequence_ =
        state.contains("memorySequence") ? CountField<std::uint32_t>(state, "memorySequence") : memorySequence_ + 1;
    if (state.contains("transmit")) {
      const auto& t = state.at("transmit");
      restored.transmit_ = static_cast<TransmitState>(
          detail::ToInteger(Field(t, "state"), "transmit: state", 0, static_cast<int>(TransmitState::Failed)));
      // Version 2 kept no owner: a transmit of then is anybody's.
      if (version >= 3) {
        restored.transmitOwner_ = OwnerFromJson(Field(t, "owner"));
        restored.transmitRun_ = CountField<std::uint32_t>(t, "run");
      }
      restored.source_.file = detail::ToText(Field(t, "file"), "transmit: file");
      restored.source_.fileSize = CountField<std::uint64_t>(t, "fileSize", kLargestStreamFileBytes);
      restored.source_.leadInPackets = CountField<std::uint64_t>(t, "leadIn", kMostPackets);
      restored.source_.leadOutPackets = CountField<std::uint64_t>(t, "leadOut", kMostPackets);
      restored.source_.readablePackets = detail::OptionalCountField<std::uint64_t>(t, "readable", kMostPackets);
      restored.sending_ = detail::ToBool(Field(t, "sending"), "sending") && restored.mode_ == TransportMode::Record;
      restored.sendTrack_ = track(t, "sendTrack");
      restored.sentBefore_ = CountField<std::uint64_t>(t, "sentBefore", 3 * kMostPackets);
      restored.sendLimit_ = detail::OptionalCountField<std::uint64_t>(t, "sendLimit", 3 * kMostPackets);
    }
    if (state.contains("preview") && !PreviewFromJson(state.at("preview"), restored.preview_))
      throw FieldError("\"preview\" holds settings no preview takes");
    if (state.contains("scan")) {
      const auto& scan = state.at("scan");
      restored.scan_ = static_cast<ScanPhase>(
          detail::ToInteger(Field(scan, "phase"), "scan: phase", 0, static_cast<int>(ScanPhase::Playing)));
      restored.scanFrom_ = CountField<std::uint32_t>(scan, "from");
      if (version >= 3) {
        restored.scanOwner_ = OwnerFromJson(Field(scan, "owner"));
        restored.scanRun_ = CountField<std::uint32_t>(scan, "run");
        restored.scanOutcome_ = static_cast<ScanOutcome>(
            detail::ToInteger(Field(scan, "outcome"), "scan: outcome", 0, static_cast<int>(ScanOutcome::Stopped)));
      }
      // A scan goes with the transport it runs.
      if ((restored.scan_ == ScanPhase::Rewinding && restored.mode_ != TransportMode::Rewind) ||
          (restored.scan_ == ScanPhase::Playing && restored.mode_ != TransportMode::FastestForward))
        restored.scan_ = ScanPhase::None;
    }
    if (restored.mode_ == TransportMode::SeekWinding) {
      restored.speed_ = kPlaySpeed * timing_.windSpeed * (restored.seekTarget_ < restored.anchorPosition_ ? -1 : 1);
    }
    // A state that waits for a phase must say when it ends.
    const bool needsPhase = restored.mode_ == TransportMode::Loading || restored.mode_ == TransportMode::Ejecting ||
                            restored.mode_ == TransportMode::SeekSettling;
    if (needsPhase != restored.phaseDue_.has_value()) throw FieldError("\"phaseDue\" does not suit the mode");
    // What this process has still to report stays, and what another
    // process saw of this one's transmit or scan is added to it.
    restored.transmitEnds_ = std::move(transmitEnds_);
    restored.scanNotes_ = std::move(scanNotes_);
    restored.scanStallAfter_ = scanStallAfter_;
    restored.noted_ = noted_;
    if (gone && restored.transmit_ == TransmitState::Started && restored.transmitOwner_ &&
        gone(*restored.transmitOwner_)) {
      restored.Advance(savedAt);
      restored.OrphanTransmit(savedAt);
      if (orphaned) *orphaned = true;
    }
    restored.NoteWhatHappenedElsewhere();
    restored.Advance(now);
    // What this process's capture has still to take stays.
    FlushPlayed(now);
    restored.logPlay_ = logPlay_;
    restored.played_ = std::move(played_);
    restored.playFrom_ = restored.Position(now);
    *this = std::move(restored);
    return true;
  } catch (const FieldError& e) {
    if (problem) *problem = e.what();
  } catch (const nlohmann::json::exception& e) {
    if (problem) *problem = e.what();
  }
  return false;
}

void DeckModel::NoteTransmitEnd(bool complete) {
  if (!Mine(transmitOwner_) || noted_.transmitEndRun == transmitRun_) return;
  noted_.transmitEndRun = transmitRun_;
  transmitEnds_.push_back(complete);
}

void DeckModel::NoteScan(const ScanNote& note) {
  if (!Mine(scanOwner_)) return;
  if (noted_.scanRun != scanRun_) {
    noted_.scanRun = scanRun_;
    noted_.scanFrom = 0;
    noted_.scanEnded = false;
  }
  if (noted_.scanEnded) return;
  if (note.kind == ScanNote::Kind::Thumbnail) {
    if (note.track < noted_.scanFrom) return;
    noted_.scanFrom = note.track + 1;
  } else {
    noted_.scanEnded = true;
  }
  scanNotes_.push_back(note);
}

void DeckModel::NoteWhatHappenedElsewhere() {
  // Only what this very camcorder started: a state of a program that kept
  // no owners tells nothing of the kind.
  if (transmitOwner_ == self_ && (transmit_ == TransmitState::Completed || transmit_ == TransmitState::Failed))
    NoteTransmitEnd(transmit_ == TransmitState::Completed);
  if (scanOwner_ != self_ || !cassette_) return;
  // The pictures the other program's look passed over, in tape order.
  for (std::uint32_t from = noted_.scanRun == scanRun_ ? noted_.scanFrom : 0;;) {
    const std::optional<std::uint32_t> point = ScanPointFrom(from);
    if (!point || *point >= scanFrom_) break;
    if (const Scene* scene = cassette_->SceneAt(*point))
      NoteScan(ScanNote{ScanNote::Kind::Thumbnail, static_cast<std::size_t>(scene - cassette_->scenes.data()), *point});
    from = *point + 1;
  }
  if (scan_ != ScanPhase::None) return;
  if (scanOutcome_ == ScanOutcome::Complete) NoteScan(ScanNote{ScanNote::Kind::Complete});
  if (scanOutcome_ == ScanOutcome::Error) NoteScan(ScanNote{ScanNote::Kind::Error});
}

}  // namespace zelto::sim
