// The camcorder's state shared through the state file with every program
// that names it.
#include "simulator/Camcorder.h"

#include <algorithm>
#include <chrono>

#include "platform/PlatformExtras.h"

namespace zelto::sim {

namespace {

std::int64_t WallNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void Camcorder::OpenState(const CamcorderConfig& config, Tick now) {
  if (!config.stateFile) {
    if (config.cassette) model_.Insert(*config.cassette, now, true);
    return;
  }
  stateFile_.emplace(*config.stateFile, readOnly_ ? StateFile::Access::ReadOnly : StateFile::Access::ReadWrite);
  StateFile::Lock lock(*stateFile_);
  bool restored = false;
  try {
    if (std::optional<std::string> text = stateFile_->ReadIfChanged()) {
      std::string problem;
      restored = RestoreLocked(*text, now, nullptr, &problem);
      if (!restored)
        throw StateFileError(StateFileError::Kind::Damaged,
                             stateFile_->Name() + ": the state in it is damaged (" + problem + ")");
    }
  } catch (const StateFileError& e) {
    if (e.kind() != StateFileError::Kind::Damaged || !config.replaceDamagedState || readOnly_) throw;
  }
  if ((!restored || config.insertCassette) && config.cassette) model_.Insert(*config.cassette, now, true);
  // What ended before this camcorder was there is no news to its windows.
  model_.TakeTransmitEnds();
  model_.TakeScanNotes();
  // Saved at once: a file that cannot be written is found out before any
  // command is taken.
  if (!readOnly_) WriteLocked(now);
}

bool Camcorder::RestoreLocked(const std::string& text, Tick now, bool* orphaned, std::string* problem) {
  return model_.Restore(
      text, now, WallNowMs(), platform::TimeScale(), [this](const Owner& owner) { return GoneLocked(owner); },
      orphaned, problem);
}

std::string Camcorder::SaveText(Tick now) const { return model_.Save(now, WallNowMs()); }

void Camcorder::WriteLocked(Tick now) {
  stateFile_->Write(SaveText(now));
  lastSave_ = now;
}

bool Camcorder::GoneLocked(const Owner& owner) const { return !(owner == self_) && !OwnerAlive(owner); }

bool Camcorder::PullLocked(Tick now) {
  std::optional<std::string> text = stateFile_->ReadIfChanged();
  const std::optional<Owner> owner = model_.TransmitOwner();
  const bool ownerGone = model_.Transmit() == DeckModel::TransmitState::Started && owner && GoneLocked(*owner);
  // Gone since this camcorder last read the state: the state as it was
  // saved last tells where the data stopped.
  if (!text && ownerGone) text = stateFile_->ReadAgain();
  bool orphaned = false;
  if (text) {
    std::string problem;
    if (!RestoreLocked(*text, now, &orphaned, &problem)) {
      stateProblem_ = stateFile_->Name() + ": another program wrote a state that cannot be read (" + problem + ")";
      return false;
    }
  } else if (ownerGone) {
    // No state left to tell: the data stops here.
    model_.OrphanTransmit(now);
    orphaned = true;
  }
  if (text || orphaned) ReportLocked(now);
  return orphaned;
}

void Camcorder::PollStateLocked(Tick now) {
  if (!stateFile_ || now < nextStatePoll_) return;
  // Real time, whatever the clock scale: how soon another process's change
  // shows here.
  constexpr double kStatePollMs = 250;
  // How often, in real time, a program sending a transmit saves the state
  // while it runs: what another program finds recorded should this one end
  // without a word.
  constexpr double kTransmitHoldMs = 1000;
  const double scale = platform::TimeScale();
  nextStatePoll_ = now + std::max<Tick>(1, static_cast<Tick>(kStatePollMs / scale));
  try {
    StateFile::Lock lock(*stateFile_);
    bool save = PullLocked(now);
    const std::optional<Owner> owner = model_.TransmitOwner();
    if (model_.Transmit() == DeckModel::TransmitState::Started && owner == self_ &&
        now - lastSave_ >= static_cast<Tick>(kTransmitHoldMs / scale))
      save = true;
    if (save && !readOnly_) WriteLocked(now);
  } catch (const StateFileError& e) {
    stateProblem_ = e.what();
  }
}

std::string Camcorder::StateProblem() const {
  std::lock_guard guard(lock_);
  return stateProblem_;
}

void Camcorder::CloseStateFile() {
  std::lock_guard guard(lock_);
  stateFile_.reset();
}

}  // namespace zelto::sim
