// Scapturing: a whole cassette captured by an auto-capturing run (see
// zelto/scapture/ZeltoVideoDeviceAutoCapturing.h), set up, started, stopped
// and watched from here.
//
// How the runs are kept. Every run object stays in scapturingRuns until it
// has finished and been joined, whether autoCapturingThread still tracks it
// or not; only then is it let go, and never on its own thread. So a run
// never outlives this component, its notification source or the device:
// - a removed device (NotifyDeviceRemoved) stops tracking the run and
//   abandons it: it ends at its next wait, aborting and stopping the deck,
//   without a report of its own (the host has heard error 4);
// - the destructor, and the device's TerminateDevice before it takes its
//   message receiver down, stop every run and wait for all of them;
// - a new start waits for every earlier run first, so that no run takes the
//   driver interfaces marshalled for the next, and does nothing at all while
//   a run is still going (a second StartScapturing leaves the first run
//   alone).
// Waits on the thread that started the runs (the host's) dispatch its
// messages; see zelto/scapture/MessagePumpingWait.h. A wait for a run on
// that run's own thread (a listener of its final report) cannot be made:
// the run is left to finish and is let go by a later wait. When this
// component is destroyed from such a listener, which is not supported, the
// run is handed to a process-wide list and let go by a later wait of any
// component.
//
// autoCapturingThread and scapturingRuns are read and written under
// scapturingLock, so that the message receiver's ChangeStreaming and
// NotifyDeviceRemoved never reach a run that another thread is letting go.
#include <algorithm>

#include "host/foundation/OxFolder.h"
#include "zelto/bridge/ZeltoVideoDeviceSmartControlSingleton.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"
#include "zelto/scapture/ZeltoVideoDeviceAutoCapturing.h"

using namespace Orvex;

namespace {

using Run = std::shared_ptr<ZeltoVideoDeviceAutoCapturing>;

struct LeftRuns {
  std::mutex lock;
  std::vector<Run> runs;
};

// Never destroyed: a run left here may still be going at exit.
LeftRuns& leftRuns() {
  static LeftRuns* instance = new LeftRuns;
  return *instance;
}

// Lets go of the runs in `runs` that have finished, unless the caller is
// one of them; returns them.
std::vector<Run> takeFinished(std::vector<Run>& runs) {
  std::vector<Run> finished;
  for (auto it = runs.begin(); it != runs.end();) {
    if ((*it)->IsFinished() && !(*it)->OnRunThread()) {
      finished.push_back(std::move(*it));
      it = runs.erase(it);
    } else {
      ++it;
    }
  }
  return finished;
}

void reapLeftRuns() {
  std::vector<Run> finished;
  {
    LeftRuns& left = leftRuns();
    std::lock_guard<std::mutex> guard(left.lock);
    finished = takeFinished(left.runs);
  }
  for (const Run& run : finished) run->WaitUntilFinished();
}

}  // namespace

void ZeltoVideoDeviceReceive::SetupScapturing(_OxBatchCapturingParam param) {
  captureGate->Change(modeScapturing);
  directParam.folderPath = param.folderPath;
  directParam.firstFileNumber = param.firstFileNumber;
  directParam.fileBaseName = param.fileBaseName;
  directParam.splitSizeMegabytes = param.splitSizeMegabytes;
  directParam.splitDurationFrames = param.splitDurationFrames;
  directParam.splitExtra = param.splitExtra;
  directParam.splitKind = param.splitKind;
  directParam.splitFlag = param.splitFlag;
  scapturingNotification.NotifyCompleteScapturingSetup();
}

bool ZeltoVideoDeviceReceive::readyForScapturing() {
  {
    std::lock_guard<std::mutex> guard(scapturingLock);
    const ZeltoVideoDeviceAutoCapturing* tracked = autoCapturingThread.load();
    if (tracked && !tracked->IsEnding() && !tracked->OnRunThread()) return false;
  }
  finishScapturingRuns(false);
  return true;
}

// The smart control is in position 0 already; a failure here takes it back,
// so that nothing stays marshalled for a run that does not start.
void ZeltoVideoDeviceReceive::StartScapturing() {
  ZeltoVideoDeviceSmartControlSingleton& handOver = *ZeltoVideoDeviceSmartControlSingleton::GetInstance();
  // A new run: what the driver reported before it is not the run's.
  captureGate->Renew(modeScapturing);
  filesCreated.store(0);
  if (!handOver.GetReceiveStream().Marshal(IID_IStreamReceive, receiveInterface.Get())) {
    handOver.GetSmartControlStream().Discard();
    return;
  }
  scapturingNames.SetBaseName(directParam.fileBaseName);
  scapturingNames.ResetCounters();

  Run run;
  try {
    run = std::make_shared<ZeltoVideoDeviceAutoCapturing>(&scapturingNotification);
    run->SetCapturingParam(directParam);
    std::lock_guard<std::mutex> guard(scapturingLock);
    scapturingRuns.push_back(run);
    autoCapturingThread.store(run.get());
  } catch (const std::bad_alloc&) {
    run.reset();
  }
  if (run && run->Start()) return;

  handOver.GetSmartControlStream().Discard();
  handOver.GetReceiveStream().Discard();
  if (!run) return;
  std::lock_guard<std::mutex> guard(scapturingLock);
  if (autoCapturingThread.load() == run.get()) autoCapturingThread.store(nullptr);
  scapturingRuns.erase(std::remove(scapturingRuns.begin(), scapturingRuns.end(), run), scapturingRuns.end());
}

void ZeltoVideoDeviceReceive::StopScapturing() {
  Run run;
  std::vector<Run> finished;
  {
    std::lock_guard<std::mutex> guard(scapturingLock);
    if (ZeltoVideoDeviceAutoCapturing* tracked = autoCapturingThread.exchange(nullptr)) {
      for (const Run& candidate : scapturingRuns)
        if (candidate.get() == tracked) run = candidate;
    }
    // Runs a removal left behind that have ended since.
    finished = takeFinished(scapturingRuns);
  }
  for (const Run& done : finished) done->WaitUntilFinished();
  if (run) {
    if (run->isAlive()) run->Stop();
    if (!run->WaitUntilFinished()) return;
    std::lock_guard<std::mutex> guard(scapturingLock);
    scapturingRuns.erase(std::remove(scapturingRuns.begin(), scapturingRuns.end(), run), scapturingRuns.end());
  }
  // A report of the run being told on the driver's thread is waited for;
  // later ones belong to no run and are not told.
  captureGate->Renew(modeScapturing);
}

bool ZeltoVideoDeviceReceive::scapturingRunUsesTape() const {
  std::lock_guard<std::mutex> guard(scapturingLock);
  return std::any_of(scapturingRuns.begin(), scapturingRuns.end(), [](const Run& run) { return !run->IsEnding(); });
}

void ZeltoVideoDeviceReceive::untrackScapturingRun() {
  std::lock_guard<std::mutex> guard(scapturingLock);
  if (ZeltoVideoDeviceAutoCapturing* tracked = autoCapturingThread.exchange(nullptr)) tracked->Abandon();
}

// Waits for every run but the caller's own; `stop` stops them first (and
// ends the tracking), otherwise they are expected to end by themselves.
void ZeltoVideoDeviceReceive::finishScapturingRuns(bool stop) {
  std::vector<Run> runs;
  {
    std::lock_guard<std::mutex> guard(scapturingLock);
    runs = scapturingRuns;
    if (stop) autoCapturingThread.store(nullptr);
  }
  std::vector<Run> finished;
  for (const Run& run : runs) {
    if (stop) run->Stop();
    if (run->WaitUntilFinished()) finished.push_back(run);
  }
  {
    std::lock_guard<std::mutex> guard(scapturingLock);
    for (const Run& run : finished) {
      if (autoCapturingThread.load() == run.get()) autoCapturingThread.store(nullptr);
      scapturingRuns.erase(std::remove(scapturingRuns.begin(), scapturingRuns.end(), run), scapturingRuns.end());
    }
  }
  reapLeftRuns();
}

void ZeltoVideoDeviceReceive::endScapturingRuns() {
  finishScapturingRuns(true);
  std::vector<Run> unfinished;
  {
    std::lock_guard<std::mutex> guard(scapturingLock);
    unfinished.swap(scapturingRuns);
  }
  if (unfinished.empty()) {
    // No run is left to take a marshal that a failed run never took.
    ZeltoVideoDeviceSmartControlSingleton& handOver = *ZeltoVideoDeviceSmartControlSingleton::GetInstance();
    handOver.GetSmartControlStream().Discard();
    handOver.GetReceiveStream().Discard();
    return;
  }
  LeftRuns& left = leftRuns();
  std::lock_guard<std::mutex> guard(left.lock);
  for (Run& run : unfinished) left.runs.push_back(std::move(run));
}

void ZeltoVideoDeviceReceive::ChangeStreaming(bool on) {
  std::lock_guard<std::mutex> guard(scapturingLock);
  ZeltoVideoDeviceAutoCapturing* tracked = autoCapturingThread.load();
  if (!tracked) return;
  if (on)
    tracked->StreamingOn();
  else
    tracked->StreamingOff();
}

void ZeltoVideoDeviceReceive::GetScapturingProgress(_OxScapturingProgress& progress) {
  progress.currentFile = scapturingNames.MakeFirstPartName();
  progress.freeDiskSpace = OxFolder(directParam.folderPath).GetFreeDiskSpace();
  progress.reserved1 = 0;
  progress.reserved2 = 0;
  progress.reserved3 = 0;
  progress.reserved4 = 0;
  bool tracked = false;
  std::uint64_t milliseconds = 0;
  {
    std::lock_guard<std::mutex> guard(scapturingLock);
    if (const ZeltoVideoDeviceAutoCapturing* run = autoCapturingThread.load()) {
      tracked = true;
      milliseconds = run->GetCapturedMilliseconds();
    }
  }
  if (tracked) progress.capturedTime = millisecondsToTimeCode(static_cast<std::uint32_t>(milliseconds));
}
