// Tape scanning: the driver runs the tape, finds the scenes and sends a
// thumbnail for each; when the scan ends the pictures go into the cassette
// memory, up to two per scene.
#include <vector>

#include "zelto/capture/ThumbnailBitmap.h"
#include "zelto/capture/ZeltoVideoDeviceReceive.h"
#include "zelto/device/ZeltoVideoDevice.h"

using namespace Orvex;

namespace {

// The driver's scan flags: find scenes and send their thumbnails.
constexpr DWORD kScanFlags = 0x301;

// Holds a critical section for a scope, and leaves it when an exception
// passes through.
class CriticalSectionGuard {
public:
  explicit CriticalSectionGuard(CRITICAL_SECTION& section) : section(section) { EnterCriticalSection(&section); }
  ~CriticalSectionGuard() { LeaveCriticalSection(&section); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
  CRITICAL_SECTION& section;
};

// The cassette memory gets the whole stored picture: header, colour table
// and pixels.
OxBitmap pictureOf(const std::vector<std::uint8_t>& stored) {
  OxBitmap picture;
  picture.SetBitmap(stored.data(), static_cast<std::uint32_t>(stored.size()));
  return picture;
}

}  // namespace

void ZeltoVideoDeviceReceive::SetScanningParam(_OxScanningParam) {}

void ZeltoVideoDeviceReceive::StartScanning() {
  if (!tapeScanInterface) return;
  scanCancelled.store(false);
  scanEndHeard.store(false);
  scanEndedByRemoval.store(false);
  scanning.store(true);
  tapeScanInterface->StartScan(kScanFlags);
  scanningNotification.NotifyScanningEvent(OX_SCANNING_START);
}

void ZeltoVideoDeviceReceive::StopScanning() { endScanning(OX_SCANNING_COMPLETE); }

void ZeltoVideoDeviceReceive::CancelScanning() {
  scanCancelled.store(true);
  endScanning(OX_SCANNING_CANCEL);
}

// Runs on the host's thread, whose listeners may not end the device from
// inside its own call: the host hears the end before the receiver and the
// deck are stopped.
void ZeltoVideoDeviceReceive::endScanning(_OxScanningEventID event) {
  scanning.store(false);
  if (tapeScanInterface) tapeScanInterface->StopScan();
  mergeThumbnails();
  scanningNotification.NotifyScanningEvent(event);
  stopReceiving();
  captureGate->Change(modeIdle);
  ownerDevice->DeckStop();
}

// The copy is made before the lock is taken, which only the insert holds
// here; a merge holds it only while it takes the store.
void ZeltoVideoDeviceReceive::NotifyGotThumbnail(const _THUMBNAIL_DATA* thumbnail) {
  if (!thumbnail) return;
  const std::size_t length = zelto::capture::PackedBitmapLength(thumbnail->dibPointer);
  if (length == 0) return;
  std::vector<std::uint8_t> copy(thumbnail->dibPointer, thumbnail->dibPointer + length);
  CriticalSectionGuard guard(thumbnailLock);
  thumbnailStore.emplace(thumbnail->sceneKey, std::move(copy));
}

// The driver's end of a scan whose end the removal told already (a driver
// may post it after the removal) is not told twice.
void ZeltoVideoDeviceReceive::NotifyScanTapeErrorStop() {
  if (scanEndedByRemoval.load()) return;
  scanEndHeard.store(true);
  if (!scanCancelled.load()) scanningNotification.NotifyScanningEvent(OX_SCANNING_ERROR_STOP);
}

void ZeltoVideoDeviceReceive::NotifyScanTapeCompleted() {
  if (scanEndedByRemoval.load()) return;
  scanEndHeard.store(true);
  scanningNotification.NotifyScanningEvent(OX_SCANNING_COMPLETE);
}

// The host has heard the scan end already if the driver ended it before the
// camcorder went: a removal then ends nothing more. (All three run on the
// message receiver's thread.)
void ZeltoVideoDeviceReceive::notifyScanDeviceRemoved() {
  if (scanning.exchange(false) && !scanCancelled.load() && !scanEndHeard.exchange(true)) {
    scanEndedByRemoval.store(true);
    scanningNotification.NotifyScanningEvent(OX_SCANNING_ERROR_STOP);
  }
}

void ZeltoVideoDeviceReceive::notifyScanRefused() { scanningNotification.NotifyScanningEvent(OX_SCANNING_ERROR_STOP); }

// What really runs, not the capture mode alone: the mode stays "scapturing"
// after a whole-cassette set-up and after its run has ended.
bool ZeltoVideoDeviceReceive::isBusy() const {
  if (scanning.load()) return true;
  const std::int32_t mode = captureGate->Mode();
  return mode == modeScapturing ? scapturingRunUsesTape() : mode != modeIdle;
}

// The store is taken whole under thumbnailLock, by swap, and merged from
// there, where no other thread can reach it: thumbnails that arrive
// meanwhile go into the emptied store and wait for the next merge, and the
// message receiver's thread never waits for the cassette memory. A merge
// that fails puts what it took back ahead of what came meanwhile, so that
// nothing is lost and each key keeps its arrival order.
void ZeltoVideoDeviceReceive::mergeThumbnails() {
  ThumbnailStore taken;
  {
    CriticalSectionGuard guard(thumbnailLock);
    taken.swap(thumbnailStore);
  }
  try {
    mergeIntoCassetteMemory(taken);
  } catch (...) {
    CriticalSectionGuard guard(thumbnailLock);
    // Equal keys from the source go after those already there.
    taken.merge(thumbnailStore);
    thumbnailStore.swap(taken);
    throw;
  }
}

// A scene's first picture from its first thumbnail, its second from the
// second, each only while the scene has none; more thumbnails of a scene,
// and thumbnails of no scene, are dropped with the store.
void ZeltoVideoDeviceReceive::mergeIntoCassetteMemory(const ThumbnailStore& store) {
  std::vector<_OxMICRecInfo> records;
  const long count = ownerDevice->GetMICRecInfoCount();
  if (count > 0) records.reserve(static_cast<std::size_t>(count));
  ownerDevice->GetMICRecInfo(records);
  MemoryInCassette& mic = ownerDevice->GetTapeInformation();

  for (const _OxMICRecInfo& record : records) {
    const std::uint32_t key = static_cast<std::uint32_t>(record.id);
    auto entry = store.find(key);
    if (entry == store.end()) continue;
    if (record.firstPicture.GetBitmapSize() == 0) {
      OxBitmap picture = pictureOf(entry->second);
      mic.SetRecInfoPicture(record.id, picture, true);
    }
    if (record.secondPicture.GetBitmapSize() == 0) {
      ++entry;
      if (entry != store.end() && entry->first == key) {
        OxBitmap picture = pictureOf(entry->second);
        mic.SetRecInfoSecondPicture(record.id, picture, true);
      }
    }
  }
}
