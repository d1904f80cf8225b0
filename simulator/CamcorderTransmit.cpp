// The camcorder's transmitting: a file recorded onto the tape.
#include "simulator/Camcorder.h"

#include <utility>

namespace zelto::sim {

HRESULT Camcorder::SetTransmitFile(const WCHAR* path) {
  std::optional<TransmitInput::File> file;
  if (const HRESULT hr = TransmitInput::Open(path, &file); FAILED(hr)) return hr;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return transmitInput_.Take(std::move(file));
}

HRESULT Camcorder::SetTransmitMargins(DWORD first, DWORD second) {
  if (!TransmitInput::MarginsFit(first, second)) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  transmitInput_.SetMargins(first, second);
  return S_OK;
}

HRESULT Camcorder::StartTransmit() {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  if (!transmitInput_.HasFile()) {
    // Nothing it could send (no file, or one it refused): the recording
    // fails at once, so that a caller that looks only at events hears of it.
    QueueLocked(DRIVER_EVENT_RECORDING_ERROR, 0, Now());
    return E_UNEXPECTED;
  }
  const DeckModel::TransmitSource source = transmitInput_.Source();
  const HRESULT hr = ChangeLocked([&](Tick now) {
    if (model_.Transmit() == DeckModel::TransmitState::Started) return kErrorBusy;
    model_.StartTransmit(source, now);
    return S_OK;
  });
  // A transmit already under way goes on, and ends by itself.
  if (FAILED(hr) && hr != kErrorBusy) QueueLocked(DRIVER_EVENT_RECORDING_ERROR, 0, Now());
  return hr;
}

void Camcorder::TransmitRefused() {
  std::lock_guard guard(lock_);
  if (removed_ || model_.Transmit() == DeckModel::TransmitState::Started) return;
  QueueLocked(DRIVER_EVENT_RECORDING_ERROR, 0, Now());
}

HRESULT Camcorder::StopTransmit() {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick now) {
    model_.StopTransmit(now);
    return S_OK;
  });
}

void Camcorder::BreakTransmitFile(std::uint64_t readablePackets) {
  std::lock_guard guard(lock_);
  transmitInput_.BreakNextFile(readablePackets);
}

DeckModel::TransmitState Camcorder::Transmit() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.Transmit();
}

void Camcorder::ReportTransmitEndsLocked(const std::vector<bool>& ends, Tick now) {
  for (bool complete : ends)
    QueueLocked(complete ? DRIVER_EVENT_RECORDING_COMPLETE : DRIVER_EVENT_RECORDING_ERROR, 0, now);
}

}  // namespace zelto::sim
