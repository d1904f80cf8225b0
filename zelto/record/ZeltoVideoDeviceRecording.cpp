// The device's recording operations: a file from the recording list onto
// tape, with the deck brought into recording by the device (batch) or left
// to the camcorder (direct), ended by the host or by the driver's report.
//
// Threads: the host's thread starts, stops and asks for progress; the
// message receiver's thread runs UpdateCompleteRecording and
// UpdateRecordingErrorStop, and ends a recording when the camcorder is
// removed (ZeltoVideoDeviceMessageReceiver). Either may end a recording that
// the other is still starting; the transmit component's run state settles
// which (see ZeltoVideoDeviceTransmit.h).
//
// One job for the tape at a time: a recording is refused while the receive
// component has a capture or a scan under way, and the host hears
// NotifyRecordingErrorStop with OX_RECORDING_ERROR_TRANSMIT; nothing is sent
// to the driver. The converse is in ZeltoVideoDeviceOperations.cpp.
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "zelto/capture/ZeltoVideoDeviceReceive.h"
#include "zelto/deck/ZeltoVideoDeviceDeck.h"
#include "zelto/device/ZeltoVideoDevice.h"
#include "zelto/record/ZeltoVideoDeviceTransmit.h"

using namespace Orvex;

namespace {

// The deck is asked this often, this many times, whether it has reached
// record pause: a minute in all.
constexpr DWORD kPollPeriod = 400;
constexpr int kPolls = 150;
// From record pause to record: the tape settles before the data comes.
constexpr DWORD kRecordDelay = 5000;
constexpr unsigned kTransmitPolling = 5000;

// In 64 bits, so that the difference of two 32-bit values cannot overflow;
// the result is wrapped into long as the driver's units have always been.
long itemLength(const _OxRecordingItem& item) {
  return static_cast<long>(static_cast<std::int64_t>(item.end) - item.start);
}

bool tapeBusy(const ZeltoVideoDeviceReceive* receive) { return receive && receive->isBusy(); }

// The count is taken once; the bound is checked again for each item, since
// a listener called on this thread may replace the list meanwhile.
template <typename Record>
void forEachItem(const std::vector<_OxRecordingItem>& list, Record record) {
  const std::size_t count = list.size();
  for (std::size_t i = 0; i < count && i < list.size(); ++i) record(list[i]);
}

}  // namespace

// One file at a time goes to tape; a list of any other length is kept all
// the same, so that the host can still see what it stored.
void ZeltoVideoDevice::SetRecordingList(std::vector<_OxRecordingItem>& items) {
  recordingList = items;
  if (recordingList.size() != 1) throw std::runtime_error("ZeltoVideoDevice::SetRecordingList");
}

void ZeltoVideoDevice::StartBatchRecording(unsigned firstMargin, unsigned secondMargin) {
  batchRecording.store(true);
  if (!transmit.load()) return;
  if (tapeBusy(receive.load())) {
    recordingNotification.NotifyRecordingErrorStop(OX_RECORDING_ERROR_TRANSMIT);
    return;
  }
  forEachItem(recordingList, [&](const _OxRecordingItem& item) {
    startRecording(item.path, itemLength(item), static_cast<int>(firstMargin), secondMargin, true);
  });
}

void ZeltoVideoDevice::StartDirectRecording(unsigned firstMargin, unsigned secondMargin) {
  batchRecording.store(false);
  if (!transmit.load()) return;
  if (tapeBusy(receive.load())) {
    recordingNotification.NotifyRecordingErrorStop(OX_RECORDING_ERROR_TRANSMIT);
    return;
  }
  forEachItem(recordingList, [&](const _OxRecordingItem& item) {
    startRecording(item.path, itemLength(item), static_cast<int>(firstMargin), secondMargin, false);
  });
}

void ZeltoVideoDevice::StopBatchRecording() { stopRecording(true); }
void ZeltoVideoDevice::AbortBatchRecording() { stopRecording(true); }
void ZeltoVideoDevice::StopDirectRecording() { stopRecording(false); }
void ZeltoVideoDevice::AbortDirectRecording() { stopRecording(false); }

void ZeltoVideoDevice::GetRecordingProgress(_OxRecordingProgress& progress) {
  ZeltoVideoDeviceTransmit* t = transmit.load();
  if (!t) return;
  try {
    progress.recordTime = static_cast<std::uint32_t>(t->GetRecordTime());
  } catch (const std::runtime_error&) {
    // No record time yet: the record stays as the host passed it.
  }
}

// The stop first, the host last: a listener on the message receiver's
// thread may end the device from inside its call.
void ZeltoVideoDevice::UpdateCompleteRecording() {
  if (!transmit.load()) return;
  if (batchRecording.load())
    StopBatchRecording();
  else
    StopDirectRecording();
  recordingNotification.NotifyCompleteRecording();
}

void ZeltoVideoDevice::UpdateRecordingErrorStop() {
  if (!transmit.load()) return;
  if (batchRecording.load())
    StopBatchRecording();
  else
    StopDirectRecording();
  recordingNotification.NotifyRecordingErrorStop(OX_RECORDING_ERROR_TRANSMIT);
}

void ZeltoVideoDevice::UpdateCompleteSectionRecording() {
  if (transmit.load()) recordingNotification.NotifyCompleteSectionRecording();
}

void ZeltoVideoDevice::SetRecordingParam() {}

// A stop from the message receiver's thread (the driver reporting the end,
// or the camcorder removed) may come while this thread is still bringing
// the deck up: every wait is followed by a look at the run state, and a
// recording stopped meanwhile is left as that stop left it. The host has
// been told by whoever stopped it.
void ZeltoVideoDevice::startRecording(OxString path, long length, int firstMargin, unsigned secondMargin,
                                      bool withDeck) {
  ZeltoVideoDeviceDeck* d = deck.load();
  ZeltoVideoDeviceTransmit* t = transmit.load();
  if (!d || !t) return;
  // Wraps around in 32 bits, as the host's units always have.
  t->SetRecordTime(static_cast<std::uint32_t>(length) + static_cast<std::uint32_t>(firstMargin) + secondMargin);
  t->SetTransmitFile(std::move(path), firstMargin, static_cast<long>(secondMargin));
  t->Begin();

  if (withDeck) {
    d->SetRecordMode(true);
    d->RecordPause();
    // Record and record pause both read as record pause.
    bool paused = false;
    for (int poll = 0; poll < kPolls && !paused; ++poll) {
      Sleep(kPollPeriod);
      if (!t->IsStarting()) return;
      paused = GetDeviceState() == OX_DEVICE_STATE_RECORD_PAUSE;
    }
    if (!paused) {
      // Nothing was started, so nothing is stopped, and the host hears
      // nothing; the record mode stays on. Only the run state goes back.
      t->Abandon();
      return;
    }
    Sleep(kRecordDelay);
    if (!t->IsStarting()) return;
    d->Record();
    recordingNotification.NotifyRecordingStart();
    d->SetRecordMode(false);
  }
  recordingNotification.NotifyDataStart();
  t->StartTransmit();
  // A stop that came between the last look and the start may have reached
  // the driver before it: stopped again, deck included.
  if (!t->MarkSending()) {
    stopRecording(withDeck);
    return;
  }
  // A camcorder removed before this recording began was heard with nothing
  // to end, and a driver that is gone reports no error of its own: the
  // recording is ended here, unless the removal ended it meanwhile.
  if (camcorderRemoved.load() && t->Claim()) {
    stopRecording(withDeck);
    recordingNotification.NotifyRecordingErrorStop(OX_RECORDING_ERROR_DEVICE_REMOVED);
  }
}

// The deck is stopped through its current state whether or not data is
// flowing: a recording the host gives up on leaves no tape moving.
void ZeltoVideoDevice::stopRecording(bool deckStop) {
  DeckStop();
  ZeltoVideoDeviceDeck* d = deck.load();
  ZeltoVideoDeviceTransmit* t = transmit.load();
  if (d && t) {
    if (deckStop) d->StopRecord();
    t->StopTransmit();
  }
  batchRecording.store(false);
}

unsigned ZeltoVideoDevice::getTransmitPolling() const { return kTransmitPolling; }
