#include "zelto/record/ZeltoVideoDeviceTransmit.h"

#include <stdexcept>
#include <utility>

using namespace Orvex;

namespace {

// Lets the driver finish with the file before anything else is asked of it.
constexpr DWORD kStopPause = 1000;

}  // namespace

ZeltoVideoDeviceTransmit::ZeltoVideoDeviceTransmit(ZeltoComPtr<ISmartControl> smartControl) {
  // Moved into a local so that the reference goes before the constructor
  // returns, or while a failure unwinds it, not when the caller drops its
  // argument.
  ZeltoComPtr<ISmartControl> source(std::move(smartControl));
  SetSourceDevice(source);
  source.Reset();
}

ZeltoVideoDeviceTransmit::~ZeltoVideoDeviceTransmit() { ReleaseSourceDevice(); }

void ZeltoVideoDeviceTransmit::SetSourceDevice(ZeltoComPtr<ISmartControl>& smartControl) {
  if (FAILED(smartControl.QueryInto(IID_IStreamTransmit, transmitInterface)) || !transmitInterface)
    throw std::runtime_error("ZeltoVideoDeviceTransmit::SetSourceDevice");
}

// ZeltoComPtr::Reset empties the holder before it releases.
void ZeltoVideoDeviceTransmit::ReleaseSourceDevice() { transmitInterface.Reset(); }

void ZeltoVideoDeviceTransmit::SetRecordTime(unsigned long time) {
  recordTime.store(static_cast<std::uint32_t>(time));
}

unsigned long ZeltoVideoDeviceTransmit::GetRecordTime() const {
  const std::uint32_t time = recordTime.load();
  if (time == 0) throw std::runtime_error("ZeltoVideoDeviceTransmit::GetRecordTime");
  return time;
}

void ZeltoVideoDeviceTransmit::SetTransmitFile(OxString path, long firstMargin, long secondMargin) {
  if (!transmitInterface) return;
  try {
    if (FAILED(transmitInterface->SetFile(path.GetString()))) return;
    transmitInterface->SetMargins(static_cast<DWORD>(firstMargin), static_cast<DWORD>(secondMargin));
  } catch (const std::runtime_error&) {
    // Nothing is reported to the caller; the driver events tell the host.
  }
}

void ZeltoVideoDeviceTransmit::StartTransmit() {
  if (transmitInterface) transmitInterface->Start();
}

void ZeltoVideoDeviceTransmit::StopTransmit() {
  // Idle before the driver hears the stop: see the header.
  runState.store(idle);
  if (!transmitInterface) return;
  transmitInterface->Stop();
  SetTransmitFile(OxString(), 0, 0);
  Sleep(kStopPause);
}

void ZeltoVideoDeviceTransmit::Begin() { runState.store(starting); }

bool ZeltoVideoDeviceTransmit::MarkSending() {
  int expected = starting;
  return runState.compare_exchange_strong(expected, sending);
}

void ZeltoVideoDeviceTransmit::Abandon() {
  int expected = starting;
  runState.compare_exchange_strong(expected, idle);
}

bool ZeltoVideoDeviceTransmit::Claim() { return runState.exchange(idle) != idle; }

bool ZeltoVideoDeviceTransmit::IsRecording() const { return runState.load() != idle; }

bool ZeltoVideoDeviceTransmit::IsStarting() const { return runState.load() == starting; }
