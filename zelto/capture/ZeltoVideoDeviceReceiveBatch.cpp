// Batch capturing: a list of tape sections copied into files, one file
// (possibly in parts) per section, by the driver in one run.
#include <exception>

#include "host/foundation/OxFile.h"
#include "host/foundation/OxFolder.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"
#include "zelto/device/ZeltoVideoDevice.h"

using namespace Orvex;

namespace {

constexpr DWORD kStopPause = 2000;
// The stream rate the capture files are written at.
constexpr std::uint64_t kBytesPerSecond = 1590000;
constexpr std::uint32_t kMillisecondsPerHour = 3600000;
constexpr std::uint32_t kMillisecondsPerMinute = 60000;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;

}  // namespace

void ZeltoVideoDeviceReceive::SetBatchCapturingList(_OxBatchCapturingParam param,
                                                    const std::vector<_OxBatchCapturingItem>& items) {
  batchNames.ResetCounters();
  std::uint32_t hundredths = 0;
  for (const _OxBatchCapturingItem& item : items) hundredths += item.outPoint - item.inPoint;
  {
    std::lock_guard<std::mutex> guard(batchLock);
    batchParam = std::move(param);
    batchItems = items;
  }
  totalMilliseconds = 10u * hundredths;
}

void ZeltoVideoDeviceReceive::StartBatchCapturing() {
  receiveInterface->ClearBatch();
  prepareCapture(true);
  registerCaptureFiles(true);
  captureGate->Change(modeBatch);
  receiveInterface->StartBatch();
}

void ZeltoVideoDeviceReceive::StopBatchCapturing() {
  ownerDevice->DeckStop();
  receiveInterface->StopBatch();
  stopReceiving();
  captureGate->Change(modeIdle);
  Sleep(kStopPause);
}

bool ZeltoVideoDeviceReceive::CheckBatchCapturingParam() const { return true; }

void ZeltoVideoDeviceReceive::eraseBatchFiles(_OxCancelState) {}

std::size_t ZeltoVideoDeviceReceive::batchItemCount() const {
  std::lock_guard<std::mutex> guard(batchLock);
  return batchItems.size();
}

void ZeltoVideoDeviceReceive::NotifyBatchCaptureSearchIn() {
  searching.store(true);
  capturingNotification.NotifyBatchCaptureSearchIn();
}

void ZeltoVideoDeviceReceive::NotifyBatchCaptureSearchOut() {
  searching.store(false);
  batchNames.NextFile();
  batchNames.ResetPartNumber();
  capturingNotification.NotifyBatchCaptureSearchOut();
}

void ZeltoVideoDeviceReceive::NotifyCompleteSectionBatchCapturing() {
  capturedBytes.fetch_add(getSectionFileSize(batchNames.GetFileNumber(), batchNames.GetPartNumber()));

  const std::uint32_t done = sectionsCompleted.fetch_add(1) + 1;
  bool known = false;
  std::uint32_t sceneKey = 0;
  {
    std::lock_guard<std::mutex> guard(batchLock);
    if (done == batchItems.size()) batchFinished.store(true);
    // Unsigned: a count that has wrapped to 0 finds no item either.
    if (done - 1u < batchItems.size()) {
      known = true;
      sceneKey = batchItems[done - 1].sceneKey;
    }
  }
  if (known) ownerDevice->GetTapeInformation().UpdateRecInfo(static_cast<long>(sceneKey), true);

  capturingNotification.NotifyCompleteSectionBatchCapturing();
}

void ZeltoVideoDeviceReceive::NotifyCompleteBatchCapturing() {
  batchCompleteTold.store(true);
  capturingNotification.NotifyCompleteBatchCapturing();
}

// The telling is held open, so that once the host's stop has returned no
// step of that batch reaches it.
void ZeltoVideoDeviceReceive::reportBatchStep(DWORD driverCode, CaptureReportGate::Capture capture) {
  const CaptureReportGate::Telling telling = CaptureReportGate::Open(captureGate, capture);
  if (!telling) return;
  switch (driverCode) {
    case DRIVER_EVENT_BATCH_COMPLETE: NotifyCompleteBatchCapturing(); break;
    case DRIVER_EVENT_SECTION_COMPLETE: NotifyCompleteSectionBatchCapturing(); break;
    case DRIVER_EVENT_SEARCH_IN: NotifyBatchCaptureSearchIn(); break;
    case DRIVER_EVENT_SEARCH_OUT: NotifyBatchCaptureSearchOut(); break;
    default: break;
  }
}

void ZeltoVideoDeviceReceive::NotifyCapturingErrorStop(_OxCapturingErrorID errorId) {
  capturingNotification.NotifyCapturingErrorStop(errorId);
}

// Parts are named from the section's pattern, which is safe to use as a
// format: the base name's '%' are doubled in it.
std::uint64_t ZeltoVideoDeviceReceive::getSectionFileSize(std::int32_t fileNumber, std::int32_t partCount) {
  OxString folder;
  {
    std::lock_guard<std::mutex> guard(batchLock);
    folder = batchParam.folderPath;
  }
  const OxString pattern = batchNames.MakeFilePattern(fileNumber);
  std::uint64_t total = 0;
  for (std::int32_t part = partCount; part >= 1; --part) {
    OxString name;
    name.Format(pattern.GetString(), static_cast<int>(part));
    // folder, a backslash and the name, as "%s\\%s" would give, without
    // formatting again for every part.
    OxString path = folder;
    path.Append(L"\\");
    path.Append(name);
    // One look a part: the size of a missing part is -1 and counts for
    // nothing, as a part GetFileAttributesW would not find.
    try {
      const std::int64_t size = OxFile(path).GetFileSize();
      if (size > 0) total += static_cast<std::uint64_t>(size);
    } catch (const std::exception&) {
      // A part that cannot be measured counts for nothing.
    }
  }
  return total;
}

// The section being written is measured with one part more than reported,
// to catch a part the driver has just opened; while the deck searches for
// the next in-point only completed sections count.
std::uint32_t ZeltoVideoDeviceReceive::getCapturedMilliseconds() {
  const std::uint64_t current = getSectionFileSize(batchNames.GetFileNumber(), batchNames.GetPartNumber() + 1);
  const std::uint64_t bytes = searching.load() ? capturedBytes.load() : capturedBytes.load() + current;
  return static_cast<std::uint32_t>((bytes / kBytesPerSecond + 1) * 1000 + 1);
}

OxTimeCode ZeltoVideoDeviceReceive::millisecondsToTimeCode(std::uint32_t milliseconds) {
  const std::uint32_t hours = milliseconds / kMillisecondsPerHour;
  const std::uint32_t rest = milliseconds % kMillisecondsPerHour;
  OxString text;
  text.Format(L"%02d%02d%02d%02d", static_cast<int>(hours), static_cast<int>(rest / kMillisecondsPerMinute),
              static_cast<int>(rest % kMillisecondsPerMinute / kMillisecondsPerSecond), 0);
  OxTimeCode timeCode;
  timeCode.SetTimeCode(text.GetString());
  return timeCode;
}

// Runs on the host's thread, which alone writes batchParam, batchItems and
// totalMilliseconds.
void ZeltoVideoDeviceReceive::GetBatchCapturingProgress(_OxBatchCapturingProgress& progress) {
  progress.filesDone = static_cast<std::uint32_t>(batchNames.GetFileCount());
  progress.itemCount = static_cast<std::uint32_t>(batchItems.size());
  const std::uint32_t milliseconds = getCapturedMilliseconds();
  progress.totalTime = millisecondsToTimeCode(totalMilliseconds);
  progress.capturedTime = millisecondsToTimeCode(milliseconds);
  progress.freeDiskSpace = OxFolder(batchParam.folderPath).GetFreeDiskSpace();
  // A zero total is exceeded by any captured time: 100, see the header.
  const std::uint32_t percent = totalMilliseconds == 0 ? 100u : milliseconds * 100u / totalMilliseconds;
  progress.percent = percent > 100u ? 100u : percent;
}
