#include "simulator/DeckModel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <utility>

#include "simulator/CassetteJson.h"

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

// The modes in which the camcorder streams what is recorded under the head.
bool Streams(TransportMode mode) { return mode == TransportMode::Play || mode == TransportMode::SeekPlaying; }

bool HasTape(TransportMode mode) {
  return mode != TransportMode::Empty && mode != TransportMode::Loading && mode != TransportMode::Ejecting;
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
  if (end <= recordStart_) return;
  Scene scene;
  scene.startTrack = recordStart_;
  scene.endTrack = end;
  scene.startFrame = recordFrame_;
  scene.recorded = NowAsDate();
  scene.videoSystem = kRecordVideoSystem;
  scene.wide = kRecordWide;
  cassette_->Overwrite(scene);
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
  if (cassette_ && speed_ != 0) {
    const double length = cassette_->lengthTracks;
    double limit = speed_ > 0 ? length : 0.0;
    if (mode_ == TransportMode::SeekWinding) limit = seekTarget_;
    if (mode_ == TransportMode::SeekPlaying) limit = std::min<double>(seekStop_, length);
    const Tick limitAt = anchorTick_ + TimeToCover(limit - anchorPosition_, speed_);
    consider(Transition::Limit, limitAt);
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
      } else if (mode_ == TransportMode::SeekSettling) {
        EnterAt(seekStop_ > seekTarget_ ? TransportMode::SeekPlaying : TransportMode::Stop, seekTarget_, at);
      } else {
        phaseDue_.reset();
      }
      return;
    case Transition::Limit: {
      const double length = cassette_->lengthTracks;
      if (mode_ == TransportMode::SeekWinding) {
        EnterAt(TransportMode::SeekSettling, seekTarget_, at);
        phaseDue_ = at + timing_.seekSettleMs;
      } else if (mode_ == TransportMode::SeekPlaying) {
        EnterAt(TransportMode::Stop, std::min<double>(seekStop_, length), at);
      } else {
        EnterAt(TransportMode::Stop, speed_ > 0 ? length : 0.0, at);
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
      // Recording that starts where a scene ends, or inside one, continues
      // its time code; on blank tape the count starts again.
      recordFrame_ = 0;
      for (const Scene& s : cassette_->scenes) {
        if (s.startTrack <= recordStart_ && recordStart_ <= s.endTrack && s.FramesPerSecond() == 25) {
          recordFrame_ = s.FrameAt(recordStart_);
        }
      }
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
  mode_ = TransportMode::Empty;  // the old cassette (if any) is gone, and what was played on it
  played_.clear();
  const double position = std::min(cassette.positionTrack, cassette.lengthTracks);
  cassette_ = std::move(cassette);
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
  cassette_->positionTrack = static_cast<std::uint32_t>(std::floor(position));
  phaseDue_ = now + timing_.ejectMs;
  return true;
}

void DeckModel::SetWriteProtected(bool on) {
  if (cassette_) cassette_->writeProtected = on;
}

void DeckModel::SetStalled(bool on, Tick now) {
  Advance(now);
  if (on && cassette_ && HasTape(mode_) && mode_ != TransportMode::Stalled) {
    Enter(TransportMode::Stalled, now);
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

std::string DeckModel::Save(const std::function<std::int64_t(Tick)>& toWall) const {
  auto optionalTime = [&](const std::optional<Tick>& t) {
    return t ? nlohmann::json(toWall(*t)) : nlohmann::json(nullptr);
  };
  nlohmann::json state = {
      {"format", "zelto-sim-state"},
      {"version", 1},
      {"camcorderMode", static_cast<unsigned>(camcorderMode_)},
      {"switchTarget", static_cast<unsigned>(switchTarget_)},
      {"switchDue", optionalTime(switchDue_)},
      {"cassette", cassette_ ? detail::CassetteToJson(*cassette_) : nlohmann::json(nullptr)},
      {"mode", TransportModeName(mode_)},
      {"position", anchorPosition_},
      {"modeEntered", toWall(anchorTick_)},
      {"phaseDue", optionalTime(phaseDue_)},
      {"seekTarget", seekTarget_},
      {"seekStop", seekStop_},
      {"recordStart", recordStart_},
      {"recordFrame", recordFrame_},
      {"recordInput", recordInput_},
  };
  return state.dump(2);
}

bool DeckModel::Restore(std::string_view text, const std::function<Tick(std::int64_t)>& fromWall, Tick now) {
  const nlohmann::json state = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (!state.is_object() || state.value("format", "") != "zelto-sim-state" || state.value("version", 0) != 1)
    return false;
  try {
    DeckModel restored(timing_, camcorderMode_);
    auto optionalTime = [&](const char* key) -> std::optional<Tick> {
      const auto& v = state.at(key);
      if (v.is_null()) return std::nullopt;
      return fromWall(v.get<std::int64_t>());
    };
    auto mode = [](unsigned code) -> std::optional<CamcorderModeCode> {
      if (code == CAMCORDER_MODE_OFF || code == CAMCORDER_MODE_SWITCHING || code == CAMCORDER_MODE_DECK ||
          code == CAMCORDER_MODE_CAMERA)
        return static_cast<CamcorderModeCode>(code);
      return std::nullopt;
    };
    const auto camcorderMode = mode(state.at("camcorderMode").get<unsigned>());
    const auto switchTarget = mode(state.at("switchTarget").get<unsigned>());
    const auto transport = TransportModeFromName(state.at("mode").get<std::string>());
    if (!camcorderMode || !switchTarget || !transport) return false;
    restored.camcorderMode_ = *camcorderMode;
    restored.switchTarget_ = *switchTarget;
    restored.switchDue_ = optionalTime("switchDue");
    if (!state.at("cassette").is_null()) {
      restored.cassette_ = detail::CassetteFromJson(state.at("cassette"), nullptr);
      if (!restored.cassette_) return false;
    }
    if ((*transport != TransportMode::Empty) != restored.cassette_.has_value()) return false;
    const double length = restored.cassette_ ? restored.cassette_->lengthTracks : 0;
    restored.mode_ = *transport;
    restored.anchorPosition_ = std::clamp(state.at("position").get<double>(), 0.0, length);
    restored.anchorTick_ = fromWall(state.at("modeEntered").get<std::int64_t>());
    restored.speed_ = restored.Speed(*transport);
    restored.phaseDue_ = optionalTime("phaseDue");
    restored.seekTarget_ = std::min<std::uint32_t>(state.at("seekTarget").get<std::uint32_t>(), length);
    restored.seekStop_ = std::min<std::uint32_t>(state.at("seekStop").get<std::uint32_t>(), length);
    restored.recordStart_ = std::min<std::uint32_t>(state.at("recordStart").get<std::uint32_t>(), length);
    restored.recordFrame_ = state.at("recordFrame").get<std::uint32_t>();
    restored.recordInput_ = state.at("recordInput").get<bool>();
    if (restored.mode_ == TransportMode::SeekWinding) {
      restored.speed_ = kPlaySpeed * timing_.windSpeed * (restored.seekTarget_ < restored.anchorPosition_ ? -1 : 1);
    }
    // A state that waits for a phase must say when it ends.
    const bool needsPhase = restored.mode_ == TransportMode::Loading || restored.mode_ == TransportMode::Ejecting ||
                            restored.mode_ == TransportMode::SeekSettling;
    if (needsPhase != restored.phaseDue_.has_value()) return false;
    restored.Advance(now);
    // What this process's capture has still to take stays.
    FlushPlayed(now);
    restored.logPlay_ = logPlay_;
    restored.played_ = std::move(played_);
    restored.playFrom_ = restored.Position(now);
    *this = std::move(restored);
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

}  // namespace zelto::sim
