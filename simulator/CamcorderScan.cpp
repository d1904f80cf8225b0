// The camcorder's tape scan: its start and stop, and its pictures and end
// as events.
#include "simulator/Camcorder.h"

#include "simulator/Thumbnail.h"

namespace zelto::sim {

HRESULT Camcorder::StartScan(DWORD flags) {
  // The one way of scanning there is: the whole tape, with thumbnails.
  constexpr DWORD kWholeTapeWithThumbnails = 0x301;
  if (flags != kWholeTapeWithThumbnails) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  const HRESULT hr = ChangeLocked([&](Tick now) { return model_.StartScan(now); });
  if (FAILED(hr)) ScanRefusedLocked();
  return hr;
}

void Camcorder::ScanRefused() {
  std::lock_guard guard(lock_);
  if (!removed_) ScanRefusedLocked();
}

void Camcorder::ScanRefusedLocked() {
  // A scan already running goes on, and ends by itself.
  if (model_.Scanning()) return;
  // Nothing started: the scan fails at once, so that a caller that looks
  // only at events hears of it.
  QueueLocked(DRIVER_EVENT_SCAN_ERROR, 0, Now());
}

HRESULT Camcorder::StopScan() {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick now) {
    model_.StopScan(now);
    return S_OK;
  });
}

void Camcorder::StallScanAfter(unsigned thumbnails) {
  std::lock_guard guard(lock_);
  model_.StallScanAfter(thumbnails);
}

bool Camcorder::Scanning() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.Scanning();
}

void Camcorder::ReportScanNotesLocked(const std::vector<DeckModel::ScanNote>& notes, Tick now) {
  const Cassette* cassette = model_.LoadedCassette();
  for (const DeckModel::ScanNote& note : notes) {
    switch (note.kind) {
      case DeckModel::ScanNote::Kind::Thumbnail: {
        if (!cassette || note.sceneIndex >= cassette->scenes.size()) break;
        const Scene& scene = cassette->scenes[note.sceneIndex];
        const PictureContent picture{static_cast<unsigned>(note.sceneIndex + 1), scene.FrameAt(note.track),
                                     scene.FramesPerSecond()};
        // A cassette without memory has no records: its thumbnails carry no key.
        const std::uint32_t key = cassette->hasMemory ? scene.memoryKey : 0;
        // A scene recorded from a file shows that file's picture, not the camera's.
        const Orvex::_THUMBNAIL_DATA* record =
            scene.content ? RecordedThumbnailRecord(scene, note.track, key) : ThumbnailRecord(picture, key);
        QueueLocked(DRIVER_EVENT_THUMBNAIL, reinterpret_cast<LPARAM>(record), now);
        break;
      }
      case DeckModel::ScanNote::Kind::Complete:
        QueueLocked(DRIVER_EVENT_SCAN_COMPLETE, 0, now);
        break;
      case DeckModel::ScanNote::Kind::Error:
        QueueLocked(DRIVER_EVENT_SCAN_ERROR, 0, now);
        break;
    }
  }
}

}  // namespace zelto::sim
