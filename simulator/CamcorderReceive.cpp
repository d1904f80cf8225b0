// The camcorder's receiving: what a capture is told, the capture itself,
// and the disk faults it meets.
#include "simulator/Camcorder.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/PlatformExtras.h"

namespace zelto::sim {

HRESULT Camcorder::SetCaptureFolder(const WCHAR* path) {
  if (!path || !*path) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  capture_.folder = zelto::platform::NativePath(path);
  return S_OK;
}

HRESULT Camcorder::SetCaptureFileName(const WCHAR* pattern, DWORD) {
  if (!pattern) return E_POINTER;
  std::optional<CaptureFileName> name = CaptureFileName::Parse(pattern);
  if (!name) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  capture_.directName = std::move(name);
  return S_OK;
}

HRESULT Camcorder::SetCaptureOptions(DWORD flags) {
  if (flags & ~static_cast<DWORD>(CAPTURE_OPTIONS_KNOWN)) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  capture_.options = flags;
  return S_OK;
}

HRESULT Camcorder::SetMaxCaptureFileSize(ULONGLONG bytes) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  capture_.maxFileSize = bytes;
  return S_OK;
}

HRESULT Camcorder::SetStreamTypes(const GUID_LIST* types) {
  if (!types || (types->count != 0 && !types->guids)) return E_POINTER;
  std::vector<GUID> list(types->guids, types->guids + types->count);
  for (const GUID& type : list)
    if (!IsEqualGUID(type, STREAMTYPE_VIDEOSYSTEM0) && !IsEqualGUID(type, STREAMTYPE_VIDEOSYSTEM1)) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  streamTypes_ = std::move(list);
  return S_OK;
}

std::vector<GUID> Camcorder::StreamTypes() const {
  std::lock_guard guard(lock_);
  return streamTypes_;
}

HRESULT Camcorder::ClearBatch() {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  capture_.sections.clear();
  return S_OK;
}

HRESULT Camcorder::AddBatchItem(DWORD inPoint, const WCHAR* pattern, DWORD) {
  if (!pattern) return E_POINTER;
  std::optional<CaptureFileName> name = CaptureFileName::Parse(pattern);
  if (!name) return E_INVALIDARG;
  // The in-point counts hundredths of a second of tape: three tracks each.
  const std::uint64_t track = static_cast<std::uint64_t>(inPoint) * kTracksPerSecond / 100;
  if (track > kLongestTapeTracks) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  capture_.sections.push_back(CaptureSettings::Section{static_cast<std::uint32_t>(track), std::move(*name)});
  return S_OK;
}

HRESULT Camcorder::StartDirectCapture() { return StartCapture(CaptureSession::Kind::Direct); }

HRESULT Camcorder::StartBatchCapture() { return StartCapture(CaptureSession::Kind::Batch); }

HRESULT Camcorder::AbortCapture() { return EndCapture(); }

// A driver's stop returns once its files are closed: what the head had
// played by then is written first. Bounded, so that a stuck disk cannot hold
// the host for good.
HRESULT Camcorder::ReceiveStop() {
  constexpr DWORD kClosingWaitMs = 60000;
  const HRESULT hr = EndCapture();
  if (SUCCEEDED(hr)) AwaitCaptureEnd(kClosingWaitMs);
  return hr;
}

HRESULT Camcorder::StopBatchCapture() { return EndCapture(CaptureSession::Kind::Batch); }

HRESULT Camcorder::StartCapture(CaptureSession::Kind kind) {
  std::unique_lock guard(lock_);
  const HRESULT hr = StartCaptureLocked(kind, guard);
  if (FAILED(hr) && hr != kErrorDeviceRemoved) CaptureRefusedLocked();
  return hr;
}

HRESULT Camcorder::StartCaptureLocked(CaptureSession::Kind kind, std::unique_lock<std::mutex>& guard) {
  if (removed_) return kErrorDeviceRemoved;
  // A capture that was ended is let finish closing its file first.
  if (session_ && !session_->Ending()) return kErrorBusy;
  if (capture_.folder.empty()) return E_UNEXPECTED;
  if (kind == CaptureSession::Kind::Direct && !capture_.directName) return E_UNEXPECTED;
  if (kind == CaptureSession::Kind::Batch && capture_.sections.empty()) return E_UNEXPECTED;
  std::shared_ptr<CaptureSession> finished = std::move(session_);
  guard.unlock();
  finished.reset();  // joined outside the lock: its thread looks at the camcorder
  guard.lock();
  if (removed_) return kErrorDeviceRemoved;
  if (session_) return kErrorBusy;  // another start came in between
  // Only what is played from now on goes into the files.
  model_.LogPlay(true, Now());
  try {
    session_ = std::make_shared<CaptureSession>(static_cast<CaptureDeck&>(*this), capture_, kind);
  } catch (const std::exception&) {
    model_.LogPlay(false, Now());
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void Camcorder::CaptureRefused() {
  std::lock_guard guard(lock_);
  if (!removed_) CaptureRefusedLocked();
}

void Camcorder::CaptureRefusedLocked() {
  // A capture already running goes on, and ends by itself.
  if (session_ && !session_->Ending()) return;
  QueueLocked(DRIVER_EVENT_DEVICE_ERROR, kErrorCaptureNotStarted, Now());
}

HRESULT Camcorder::EndCapture(std::optional<CaptureSession::Kind> only) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  if (session_ && (!only || session_->GetKind() == *only)) session_->End();
  return S_OK;
}

bool Camcorder::Capturing() const {
  std::lock_guard guard(lock_);
  return session_ && !session_->Finished();
}

bool Camcorder::AwaitCaptureEnd(DWORD timeoutMs) {
  std::shared_ptr<CaptureSession> session;
  {
    std::lock_guard guard(lock_);
    session = session_;
  }
  return !session || session->AwaitEnd(timeoutMs);
}

CaptureDeck::View Camcorder::Look() {
  std::lock_guard guard(lock_);
  const Tick now = Now();
  AdvanceLocked(now);
  View view;
  view.removed = removed_;
  view.mode = model_.Mode();
  view.track = model_.Track(now);
  view.cassette = model_.CurrentCassette(now);
  view.played = model_.TakePlayed(now);
  return view;
}

HRESULT Camcorder::Seek(std::uint32_t track) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  const HRESULT hr = ChangeLocked([&](Tick now) { return model_.Command(DECK_COMMAND_SEEK_ATN | track, now); });
  // What was played before the search belongs to no section.
  model_.TakePlayed(Now());
  return hr;
}

void Camcorder::Emit(DWORD code, LPARAM argument) {
  std::lock_guard guard(lock_);
  if (removed_) return;
  QueueLocked(code, argument, Now());
}

FileFaults Camcorder::NextFileFaults() {
  std::lock_guard guard(lock_);
  return diskFaults_.NextFile();
}

std::uint64_t Camcorder::DiskRoom(std::uint64_t wanted) {
  std::lock_guard guard(lock_);
  return diskFaults_.Take(wanted);
}

std::uint32_t Camcorder::DropoutPass(const Dropout& dropout) {
  std::lock_guard guard(lock_);
  // Kept with the tape, so that the next program's read is the next pass.
  std::uint32_t pass = dropout.passes;
  ChangeLocked([&](Tick) {
    pass = model_.TakeDropoutPass(dropout.startTrack);
    return S_OK;
  });
  return pass;
}

void Camcorder::FillDiskAfter(std::uint64_t bytes) {
  std::lock_guard guard(lock_);
  diskFaults_.FillAfter(bytes);
}

std::optional<std::uint64_t> Camcorder::DiskRoomLeft() const {
  std::lock_guard guard(lock_);
  return diskFaults_.RoomLeft();
}

void Camcorder::DelayFileAppearance(DWORD ms, unsigned count) {
  std::lock_guard guard(lock_);
  diskFaults_.DelayFiles(ms, count);
}

void Camcorder::HideFiles(unsigned count) {
  std::lock_guard guard(lock_);
  diskFaults_.HideFiles(count);
}

void Camcorder::ClearCaptureFaults() {
  std::lock_guard guard(lock_);
  diskFaults_.Clear();
}

}  // namespace zelto::sim
