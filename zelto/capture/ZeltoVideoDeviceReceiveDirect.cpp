// Direct capturing: whatever the camcorder streams, from the start until the
// host ends it, into one run of numbered parts.
#include "host/foundation/OxFolder.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"

using namespace Orvex;

namespace {

constexpr DWORD kLastFileWait = 3000;

}  // namespace

void ZeltoVideoDeviceReceive::SetDirectCapturingStructure(const _OxDirectCapturingParam& param) {
  directNames.ResetCounters();
  directParam = param;
}

void ZeltoVideoDeviceReceive::StartDirectCapturing() {
  completionEvent.Reset();
  prepareCapture(false);
  registerCaptureFiles(false);
  captureGate->Change(modeDirect);
  receiveInterface->StartDirect();
}

void ZeltoVideoDeviceReceive::AbortCapturing() { receiveInterface->Abort(); }

// The event stays set from the first completed file of the capture on, so
// a split capture does not wait here for its last part.
void ZeltoVideoDeviceReceive::ExitDirectCapturing() {
  WaitForSingleObject(completionEvent.GetHandle(), kLastFileWait);
  stopReceiving();
  captureGate->Change(modeIdle);
}

bool ZeltoVideoDeviceReceive::CheckDirectCapturingParam() const { return true; }

void ZeltoVideoDeviceReceive::GetDirectCapturingProgress(_OxDirectCapturingProgress& progress) {
  progress.freeDiskSpace = OxFolder(directParam.folderPath).GetFreeDiskSpace();
  const OxString name = directNames.MakePartName();
  OxString path;
  path.Format(L"%s\\%s", directParam.folderPath.GetString(), name.GetString());
  for (int check = 0; check < fileChecks; ++check) {
    if (GetFileAttributesW(path.GetString()) != INVALID_FILE_ATTRIBUTES) {
      progress.currentFile = path;
      break;
    }
    Sleep(fileCheckPause);
  }
  progress.filesCreated = filesCreated.load();
  progress.reserved1 = 0;
  progress.reserved2 = 0;
}
