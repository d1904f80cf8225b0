// The deck model as JSON: what the state file holds, and taking in a state
// another program saved.
#include "simulator/DeckModel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "simulator/CassetteJson.h"
#include "simulator/DeckModelInternal.h"
#include "simulator/JsonFields.h"
#include "simulator/StateFile.h"

namespace zelto::sim {

using detail::kPlaySpeed;

namespace {

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
