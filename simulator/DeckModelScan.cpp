// The deck model's tape scan: a rewind, then a look over the tape for
// each scene's pictures.
#include "simulator/DeckModel.h"

#include <algorithm>
#include <utility>

#include "simulator/DeckModelInternal.h"

namespace zelto::sim {

using detail::HasTape;

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

bool DeckModel::ScanReachedLimit(double limit, Tick at) {
  if (scan_ == ScanPhase::Rewinding && mode_ == TransportMode::Rewind) {
    scan_ = ScanPhase::Playing;
    EnterAt(TransportMode::FastestForward, 0, at);
    return true;
  }
  if (scan_ == ScanPhase::Playing && mode_ == TransportMode::FastestForward) {
    scan_ = ScanPhase::None;
    scanOutcome_ = ScanOutcome::Complete;
    EnterAt(TransportMode::Stop, limit, at);
    NoteScan(ScanNote{ScanNote::Kind::Complete});
    return true;
  }
  return false;
}

void DeckModel::PassScanPoint(Tick at) {
  const std::uint32_t point = *NextScanPoint();
  const Scene* scene = cassette_->SceneAt(point);
  if (scene)
    NoteScan(ScanNote{ScanNote::Kind::Thumbnail, static_cast<std::size_t>(scene - cassette_->scenes.data()), point});
  scanFrom_ = point + 1;
  if (scanStallAfter_ > 0 && --scanStallAfter_ == 0) {
    EnterAt(TransportMode::Stalled, point, at);
    InterruptScan();
  }
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

}  // namespace zelto::sim
