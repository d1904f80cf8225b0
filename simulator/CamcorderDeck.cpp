// The camcorder's deck: its commands and status, and the buttons and
// cassette slot of the panel.
#include "simulator/Camcorder.h"

#include <utility>

namespace zelto::sim {

HRESULT Camcorder::SendCommand(DWORD command) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick now) { return model_.Command(command, now); });
}

HRESULT Camcorder::GetStatus(DWORD kind, DWORD* value) {
  if (!value) return E_POINTER;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  AdvanceLocked(Now());
  switch (kind) {
    case DECK_STATUS_DECK_STATE:
      *value = model_.DeckState();
      return S_OK;
    case DECK_STATUS_MEDIA_INFO:
      *value = model_.MediaInfo();
      return S_OK;
    case DECK_STATUS_CAMCORDER_MODE:
      *value = model_.CamcorderMode();
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

HRESULT Camcorder::GetTimeCode(__MIDL___MIDL_itf_plgdefs_0000_0001* timeCode) {
  if (!timeCode) return E_POINTER;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  const Tick now = Now();
  AdvanceLocked(now);
  if (model_.CamcorderMode() != CAMCORDER_MODE_DECK) return kErrorWrongMode;
  const auto record = model_.TimeCode(now);
  if (!record) return kErrorNotReady;
  *timeCode = *record;
  return S_OK;
}

HRESULT Camcorder::SetRecordMode(BOOL record) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) {
    if (model_.CamcorderMode() != CAMCORDER_MODE_DECK) return kErrorWrongMode;
    model_.SetRecordInput(record != FALSE);
    return S_OK;
  });
}

void Camcorder::InsertCassette(Cassette cassette) {
  Change([&](Tick now) { model_.Insert(std::move(cassette), now); });
}

bool Camcorder::Eject() {
  bool ejecting = false;
  Change([&](Tick now) { ejecting = model_.Eject(now); });
  return ejecting;
}

void Camcorder::SetWriteProtected(bool on) {
  Change([&](Tick now) { model_.SetWriteProtected(on, now); });
}

void Camcorder::SetCamcorderMode(CamcorderModeCode mode) {
  Change([&](Tick now) { model_.SwitchCamcorderMode(mode, now); });
}

void Camcorder::StallTransport(bool on) {
  Change([&](Tick now) { model_.SetStalled(on, now); });
}

DeckStateCode Camcorder::DeckState() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.DeckState();
}

MediaInfoCode Camcorder::MediaInfo() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.MediaInfo();
}

CamcorderModeCode Camcorder::CamcorderMode() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.CamcorderMode();
}

TransportMode Camcorder::Mode() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.Mode();
}

std::uint32_t Camcorder::Track() {
  std::lock_guard guard(lock_);
  const Tick now = Now();
  AdvanceLocked(now);
  return model_.Track(now);
}

std::optional<Cassette> Camcorder::CurrentCassette() {
  std::lock_guard guard(lock_);
  const Tick now = Now();
  AdvanceLocked(now);
  return model_.CurrentCassette(now);
}

bool Camcorder::RecordInput() {
  std::lock_guard guard(lock_);
  return model_.RecordInput();
}

}  // namespace zelto::sim
