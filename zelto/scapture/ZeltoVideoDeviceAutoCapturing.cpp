#include "zelto/scapture/ZeltoVideoDeviceAutoCapturing.h"

#include "host/foundation/OxUnique.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlBridge.h"
#include "zelto/scapture/MessagePumpingWait.h"

using namespace Orvex;

namespace {

using Exception = ZeltoVideoDeviceAutoCapturingException;

// After the rewind command, before the deck is first asked whether it has
// stopped.
constexpr DWORD kRewindPause = 3000;
// Between the abort of the capture and the deck's stop.
constexpr DWORD kAbortPause = 100;
// Polls of the capture loop that do not check that the deck plays: it may
// take that long to start playing.
constexpr std::int32_t kUncheckedPolls = 6;

}  // namespace

ZeltoVideoDeviceAutoCapturing::ZeltoVideoDeviceAutoCapturing(ScapturingEventNotification* notification)
    : KelThread(nullptr), scapturingNotification(notification) {}

// The run uses the members below, which go before KelThread's destructor
// would wait for it.
ZeltoVideoDeviceAutoCapturing::~ZeltoVideoDeviceAutoCapturing() {
  if (!OnRunThread()) join();
  bridge.reset();
}

void ZeltoVideoDeviceAutoCapturing::SetCapturingParam(const _OxDirectCapturingParam& param) { capturingParam = param; }

bool ZeltoVideoDeviceAutoCapturing::Start() {
  capturedMilliseconds.store(0);
  ownerThread.store(GetCurrentThreadId());
  const bool eventsMade = stopEvent.GetHandle() && streamOnEvent.GetHandle() && streamOffEvent.GetHandle() &&
                          finishedEvent.GetHandle();
  // Without its events the run could neither wait nor be waited for.
  if (!eventsMade || !KelThread::start()) {
    ending.store(true);
    finishedEvent.Set();
    return false;
  }
  return true;
}

void ZeltoVideoDeviceAutoCapturing::Stop() { stopEvent.Set(); }

void ZeltoVideoDeviceAutoCapturing::Abandon() {
  abandoned.store(true);
  stopEvent.Set();
}

void ZeltoVideoDeviceAutoCapturing::StreamingOn() { streamOnEvent.Set(); }
void ZeltoVideoDeviceAutoCapturing::StreamingOff() { streamOffEvent.Set(); }

std::uint64_t ZeltoVideoDeviceAutoCapturing::GetCapturedMilliseconds() const { return capturedMilliseconds.load(); }

bool ZeltoVideoDeviceAutoCapturing::IsFinished() const {
  return WaitForSingleObject(finishedEvent.GetHandle(), 0) == WAIT_OBJECT_0;
}

bool ZeltoVideoDeviceAutoCapturing::OnRunThread() const { return runThread.load() == KelCurrentThreadId(); }

bool ZeltoVideoDeviceAutoCapturing::WaitUntilFinished() {
  if (OnRunThread()) return false;
  if (GetCurrentThreadId() == ownerThread.load())
    zelto::scapture::WaitPumpingMessages(finishedEvent.GetHandle());
  else
    WaitForSingleObject(finishedEvent.GetHandle(), INFINITE);
  // The run has returned or is about to: this wait is short.
  join();
  return true;
}

void ZeltoVideoDeviceAutoCapturing::run() {
  runThread.store(KelCurrentThreadId());
  Outcome outcome = Outcome::deckError;
  try {
    bridge.reset(new ZeltoVideoDeviceSmartControlBridge());
    bridge->SetCapturingParam(capturingParam);
    // Not looked at: without a controller or a stream receive the first
    // deck call throws, which ends the run below.
    bridge->InitializeSmartControl();
    try {
      rewind();
      startPlaying();
      captureLoop();
    } catch (const Exception& end) {
      outcome = endCapture(end.GetCode());
    }
  } catch (...) {
    // ZeltoVideoDeviceInstanceException: the capture could not be driven
    // at all, so there is nothing to abort or stop. Anything else that
    // goes wrong in here is reported the same way rather than not at all.
    outcome = Outcome::deckError;
  }
  bridge.reset();
  ending.store(true);
  if (!abandoned.load()) report(outcome);
  finishedEvent.Set();
}

void ZeltoVideoDeviceAutoCapturing::waitStep(DWORD timeout) {
  const HANDLE events[3] = {stopEvent.GetHandle(), streamOnEvent.GetHandle(), streamOffEvent.GetHandle()};
  const DWORD result = WaitForMultipleObjects(3, events, FALSE, timeout);
  if (result == WAIT_OBJECT_0) throw Exception(Exception::kStopped);
  if (result == WAIT_OBJECT_0 + 1) streaming = true;
  if (result == WAIT_OBJECT_0 + 2) streaming = false;
  if (bridge->GetMediaInfo() == OX_MEDIA_WRITE_PROTECTED) throw Exception(Exception::kStreamEnded);
}

void ZeltoVideoDeviceAutoCapturing::rewind() {
  bridge->DeckFastRewind();
  Sleep(kRewindPause);
  const DWORD poll = OxUnique::GetInstance().GetPollingTime();
  do {
    waitStep(poll);
  } while (bridge->GetDeviceState() != OX_DEVICE_STATE_STOP);
}

void ZeltoVideoDeviceAutoCapturing::startPlaying() {
  waitStep(OxUnique::GetInstance().GetPollingTime());
  bridge->DeckPlay();
}

void ZeltoVideoDeviceAutoCapturing::captureLoop() {
  const DWORD poll = OxUnique::GetInstance().GetPollingTime();
  const DWORD timeout = OxUnique::GetInstance().GetScaptureStreamTimeOut();
  capturedMilliseconds.store(0);
  bridge->StartCapturing();

  bool started = false;
  std::uint32_t idle = 0;
  DWORD startTick = 0;
  for (;;) {
    waitStep(poll);
    playCheck();
    if (streaming) {
      if (!started) {
        started = true;
        startTick = GetTickCount();
      }
      capturedMilliseconds.store(static_cast<std::uint32_t>(GetTickCount() - startTick));
      idle = 0;
    } else if (started && static_cast<std::uint32_t>(poll * idle) > static_cast<std::uint32_t>(timeout)) {
      throw Exception(Exception::kStreamEnded);
    } else {
      ++idle;
    }
  }
}

void ZeltoVideoDeviceAutoCapturing::playCheck() {
  if (playCheckCount < kUncheckedPolls) {
    ++playCheckCount;
    return;
  }
  if (bridge->GetDeviceState() != OX_DEVICE_STATE_PLAY) throw Exception(Exception::kDeckNotPlaying);
}

// Driver results are not looked at; a bridge without its interfaces cannot
// get here, as its first deck call ends the run before any of these.
ZeltoVideoDeviceAutoCapturing::Outcome ZeltoVideoDeviceAutoCapturing::endCapture(std::int32_t code) {
  try {
    bridge->AbortCapturing();
  } catch (...) {
  }
  Sleep(kAbortPause);
  try {
    bridge->DeckStop();
  } catch (...) {
  }
  switch (code) {
    case Exception::kStopped:
    case Exception::kStreamEnded:
      return Outcome::complete;
    case Exception::kDeckNotPlaying:
      return Outcome::deckError;
    default:
      return Outcome::none;
  }
}

// A listener's exception must not keep the run from being finished.
void ZeltoVideoDeviceAutoCapturing::report(Outcome outcome) {
  try {
    if (outcome == Outcome::complete)
      scapturingNotification->NotifyCompleteBatchScapturing();
    else if (outcome == Outcome::deckError)
      scapturingNotification->NotifyScapturingErrorStop(OX_CAPTURING_ERROR_DECK_STOPPED);
  } catch (...) {
  }
}
