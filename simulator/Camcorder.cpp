#include "simulator/Camcorder.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/PlatformExtras.h"
#include "platform/ThreadGuard.h"
#include "simulator/Thumbnail.h"
#include "simulator/TransportStream.h"

namespace zelto::sim {

namespace {

std::int64_t WallNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

template <std::size_t N>
void CopyText(WCHAR (&to)[N], const std::string& utf8) {
  const std::wstring wide = zelto::platform::FromUtf8(utf8);
  const std::size_t n = std::min(wide.size(), N - 1);
  std::copy_n(wide.begin(), n, to);
  to[n] = 0;
}

// 0xHHMMSSFF: numeric order is tape order.
DWORD PackedTimeCode(std::uint32_t frames, unsigned framesPerSecond) {
  const auto r = TimeCodeRecord(frames, framesPerSecond);
  return static_cast<DWORD>(r.hours) << 24 | static_cast<DWORD>(r.minutes) << 16 |
         static_cast<DWORD>(r.seconds) << 8 | r.frames;
}

// "YYYY-MM-DDTHH:MM:SS" as seconds since 1970, the date taken as UTC; 0 for
// anything else.
LONGLONG RecordedAt(const std::string& date) {
  int y = 0;
  unsigned mo = 0, d = 0, h = 0, mi = 0, se = 0;
  char tail = 0;
  if (std::sscanf(date.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6) return 0;
  const std::chrono::year_month_day day{std::chrono::year{y}, std::chrono::month{mo}, std::chrono::day{d}};
  if (!day.ok() || h > 23 || mi > 59 || se > 59) return 0;
  const auto seconds = std::chrono::sys_days{day}.time_since_epoch() + std::chrono::hours{h} +
                       std::chrono::minutes{mi} + std::chrono::seconds{se};
  return std::chrono::duration_cast<std::chrono::seconds>(seconds).count();
}

}  // namespace

const DRIVER_EVENT_RECORD* EventRecord(DWORD code) {
  // The codes the camcorder uses have a fixed record each; any other code a
  // test posts gets one made on first use. Neither is ever freed.
  static const auto* common = [] {
    auto* records = new std::array<DRIVER_EVENT_RECORD, 64>();
    for (DWORD i = 0; i < records->size(); ++i) (*records)[i] = DRIVER_EVENT_RECORD{0, i};
    return records;
  }();
  if (code < common->size()) return &(*common)[code];
  static auto* lock = new std::mutex;
  static auto* others = new std::map<DWORD, std::unique_ptr<DRIVER_EVENT_RECORD>>;
  std::lock_guard guard(*lock);
  auto& record = (*others)[code];
  if (!record) record = std::make_unique<DRIVER_EVENT_RECORD>(DRIVER_EVENT_RECORD{0, code});
  return record.get();
}

Camcorder::Camcorder(CamcorderConfig config)
    : self_(NewOwner()), readOnly_(config.readOnlyState), model_(config.timing, config.mode) {
  model_.SetSelf(self_);
  message_ = RegisterWindowMessageW(DRIVER_EVENT_MESSAGE_NAME);
  const Tick now = Now();
  try {
    OpenState(config, now);
  } catch (...) {
    RetireOwner(self_);
    throw;
  }
  reported_.deck = model_.DeckState();
  reported_.media = model_.MediaInfo();
  reported_.mode = model_.CamcorderMode();
  reported_.streaming = model_.StreamingScene(now) != nullptr;
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!wake_) {
    RetireOwner(self_);
    throw std::runtime_error("Camcorder: no wake event");
  }
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Camcorder::ThreadMain, this, 0, nullptr));
  if (!thread_) {
    CloseHandle(wake_);
    RetireOwner(self_);
    throw std::runtime_error("Camcorder: no thread");
  }
}

Camcorder::~Camcorder() {
  // The capture's thread looks at the camcorder: it goes first, outside the lock.
  std::shared_ptr<CaptureSession> capture;
  {
    std::lock_guard guard(lock_);
    capture = std::move(session_);
  }
  capture.reset();
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  SetEvent(wake_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(wake_);
  // Whatever this camcorder was sending has stopped, for any other here.
  RetireOwner(self_);
}

Tick Camcorder::Now() const { return static_cast<Tick>(GetTickCount64()); }

void Camcorder::OpenState(const CamcorderConfig& config, Tick now) {
  if (!config.stateFile) {
    if (config.cassette) model_.Insert(*config.cassette, now, true);
    return;
  }
  stateFile_.emplace(*config.stateFile, readOnly_ ? StateFile::Access::ReadOnly : StateFile::Access::ReadWrite);
  StateFile::Lock lock(*stateFile_);
  bool restored = false;
  try {
    if (std::optional<std::string> text = stateFile_->ReadIfChanged()) {
      std::string problem;
      restored = RestoreLocked(*text, now, nullptr, &problem);
      if (!restored)
        throw StateFileError(StateFileError::Kind::Damaged,
                             stateFile_->Name() + ": the state in it is damaged (" + problem + ")");
    }
  } catch (const StateFileError& e) {
    if (e.kind() != StateFileError::Kind::Damaged || !config.replaceDamagedState || readOnly_) throw;
  }
  if ((!restored || config.insertCassette) && config.cassette) model_.Insert(*config.cassette, now, true);
  // What ended before this camcorder was there is no news to its windows.
  model_.TakeTransmitEnds();
  model_.TakeScanNotes();
  // Saved at once: a file that cannot be written is found out before any
  // command is taken.
  if (!readOnly_) WriteLocked(now);
}

bool Camcorder::RestoreLocked(const std::string& text, Tick now, bool* orphaned, std::string* problem) {
  return model_.Restore(
      text, now, WallNowMs(), platform::TimeScale(), [this](const Owner& owner) { return GoneLocked(owner); },
      orphaned, problem);
}

std::string Camcorder::SaveText(Tick now) const { return model_.Save(now, WallNowMs()); }

void Camcorder::WriteLocked(Tick now) {
  stateFile_->Write(SaveText(now));
  lastSave_ = now;
}

bool Camcorder::GoneLocked(const Owner& owner) const { return !(owner == self_) && !OwnerAlive(owner); }

bool Camcorder::PullLocked(Tick now) {
  std::optional<std::string> text = stateFile_->ReadIfChanged();
  const std::optional<Owner> owner = model_.TransmitOwner();
  const bool ownerGone = model_.Transmit() == DeckModel::TransmitState::Started && owner && GoneLocked(*owner);
  // Gone since this camcorder last read the state: the state as it was
  // saved last tells where the data stopped.
  if (!text && ownerGone) text = stateFile_->ReadAgain();
  bool orphaned = false;
  if (text) {
    std::string problem;
    if (!RestoreLocked(*text, now, &orphaned, &problem)) {
      stateProblem_ = stateFile_->Name() + ": another program wrote a state that cannot be read (" + problem + ")";
      return false;
    }
  } else if (ownerGone) {
    // No state left to tell: the data stops here.
    model_.OrphanTransmit(now);
    orphaned = true;
  }
  if (text || orphaned) ReportLocked(now);
  return orphaned;
}

void Camcorder::PollStateLocked(Tick now) {
  if (!stateFile_ || now < nextStatePoll_) return;
  // Real time, whatever the clock scale: how soon another process's change
  // shows here.
  constexpr double kStatePollMs = 250;
  // How often, in real time, a program sending a transmit saves the state
  // while it runs: what another program finds recorded should this one end
  // without a word.
  constexpr double kTransmitHoldMs = 1000;
  const double scale = platform::TimeScale();
  nextStatePoll_ = now + std::max<Tick>(1, static_cast<Tick>(kStatePollMs / scale));
  try {
    StateFile::Lock lock(*stateFile_);
    bool save = PullLocked(now);
    const std::optional<Owner> owner = model_.TransmitOwner();
    if (model_.Transmit() == DeckModel::TransmitState::Started && owner == self_ &&
        now - lastSave_ >= static_cast<Tick>(kTransmitHoldMs / scale))
      save = true;
    if (save && !readOnly_) WriteLocked(now);
  } catch (const StateFileError& e) {
    stateProblem_ = e.what();
  }
}

HRESULT Camcorder::ChangeLocked(const std::function<HRESULT(Tick)>& change) {
  const Tick now = Now();
  AdvanceLocked(now);
  HRESULT hr = S_OK;
  if (!stateFile_) {
    hr = change(now);
  } else {
    try {
      StateFile::Lock lock(*stateFile_);
      const bool settled = PullLocked(now);
      const DeckModel before = model_;
      hr = change(now);
      // Read-only, the change stays in this program.
      if ((SUCCEEDED(hr) || settled) && !readOnly_) {
        try {
          WriteLocked(now);
        } catch (const StateFileError&) {
          model_ = before;
          throw;
        }
      }
    } catch (const StateFileError& e) {
      stateProblem_ = e.what();
      return kErrorStateNotSaved;
    }
  }
  if (SUCCEEDED(hr)) {
    ReportLocked(now);
    Wake();  // the thread plans its sleep anew
  }
  return hr;
}

void Camcorder::Change(const std::function<void(Tick)>& change) {
  std::lock_guard guard(lock_);
  ChangeLocked([&](Tick now) {
    change(now);
    return S_OK;
  });
}

std::string Camcorder::StateProblem() const {
  std::lock_guard guard(lock_);
  return stateProblem_;
}

void Camcorder::CloseStateFile() {
  std::lock_guard guard(lock_);
  stateFile_.reset();
}

unsigned WINAPI Camcorder::ThreadMain(void* self) {
  auto* camcorder = static_cast<Camcorder*>(self);
  zelto::platform::GuardThread("camcorder", [camcorder] { camcorder->Run(); },
                               [camcorder] { camcorder->FailThread(); });
  return 0;
}

void Camcorder::FailThread() {
  std::vector<HWND> windows;
  {
    std::lock_guard guard(lock_);
    if (removed_) return;  // already gone, and said so
    removed_ = true;
    if (session_) session_->Abandon();
    for (const Advice& a : advices_) windows.push_back(a.window);
  }
  std::lock_guard posting(postLock_);
  for (HWND w : windows)
    PostMessageW(w, message_, reinterpret_cast<WPARAM>(EventRecord(DRIVER_EVENT_DEVICE_ERROR)),
                 DRIVER_ERROR_DEVICE_REMOVED);
}

void Camcorder::Run() {
  {
    // Recorded here, under the lock, because the thread may queue events
    // before the constructor that started it has gone on.
    std::lock_guard guard(lock_);
    threadId_ = GetCurrentThreadId();
  }
  std::vector<Pending> due;
  std::vector<HWND> windows;
  for (;;) {
    DWORD timeout = INFINITE;
    // Taken before the window list is let go: an unadvise that removes a
    // window from it then waits for this batch (see AwaitPosting).
    std::unique_lock posting(postLock_, std::defer_lock);
    {
      std::lock_guard guard(lock_);
      if (stopping_) return;
      if (std::exchange(breakThread_, false)) throw std::runtime_error("the camcorder's model failed (a panel fault)");
      ++wakeups_;
      const Tick now = Now();
      AdvanceLocked(now);
      PollStateLocked(now);
      due.clear();
      while (!queue_.empty() && queue_.begin()->first <= now) {
        due.push_back(queue_.begin()->second);
        queue_.erase(queue_.begin());
      }
      windows.clear();
      for (const Advice& a : advices_) windows.push_back(a.window);
      std::optional<Tick> next = model_.NextTransition();
      if (!queue_.empty() && (!next || queue_.begin()->first < *next)) next = queue_.begin()->first;
      if (stateFile_ && (!next || nextStatePoll_ < *next)) next = nextStatePoll_;
      if (next) timeout = static_cast<DWORD>(std::clamp<Tick>(*next - now, 0, 0x7FFFFFFF));
      if (!due.empty()) posting.lock();
    }
    // Posting never blocks and never calls the client; only the post lock
    // is held while it happens.
    std::uint64_t posted = 0, failed = 0;
    for (const Pending& p : due) {
      for (HWND w : windows) {
        if (p.only && p.only != w) continue;
        if (PostMessageW(w, message_, reinterpret_cast<WPARAM>(p.record), p.argument))
          ++posted;
        else
          ++failed;
      }
    }
    if (!due.empty()) {
      posting.unlock();
      std::lock_guard guard(lock_);
      posted_ += posted;
      postFailures_ += failed;
    }
    if (timeout != 0) WaitForSingleObject(wake_, timeout);
  }
}

void Camcorder::Wake() { SetEvent(wake_); }

void Camcorder::AdvanceLocked(Tick now) {
  for (;;) {
    const std::optional<Tick> next = model_.NextTransition();
    if (!next || *next > now) break;
    model_.Advance(*next);
    ReportLocked(*next);
  }
  model_.Advance(now);
}

void Camcorder::ReportLocked(Tick at) {
  ReportNotesLocked(at);
  if (removed_) return;  // an unplugged camcorder tells nothing
  const Tick now = Now();
  // The stream ends before the deck reports the state that ended it, and
  // starts after: a client that sees "stopped" knows the stream is off.
  const Scene* scene = model_.StreamingScene(at);
  if (!scene && reported_.streaming) {
    reported_.streaming = false;
    QueueLocked(DRIVER_EVENT_STREAMING, 0, now);
  }
  if (const MediaInfoCode media = model_.MediaInfo(); media != reported_.media) {
    reported_.media = media;
    QueueLocked(DRIVER_EVENT_MEDIA_INFO, media, now);
  }
  if (const CamcorderModeCode mode = model_.CamcorderMode(); mode != reported_.mode) {
    reported_.mode = mode;
    QueueLocked(DRIVER_EVENT_CAMCORDER_MODE, mode, now);
  }
  if (const DeckStateCode deck = model_.DeckState(); deck != reported_.deck) {
    reported_.deck = deck;
    QueueLocked(DRIVER_EVENT_DECK_STATE, deck, now);
  }
  if (scene) {
    // The picture format comes before the stream that carries it.
    const int system = scene->videoSystem != 0 ? 1 : 0;
    if (system != reported_.videoSystem) {
      reported_.videoSystem = system;
      QueueLocked(DRIVER_EVENT_VIDEO_SYSTEM, system, now);
    }
    const int wide = scene->wide ? 1 : 0;
    if (wide != reported_.wide) {
      reported_.wide = wide;
      QueueLocked(DRIVER_EVENT_DISPLAY_SIZE, wide, now);
    }
  }
  if (scene && !reported_.streaming) {
    reported_.streaming = true;
    QueueLocked(DRIVER_EVENT_STREAMING, 1, now);
  }
}

void Camcorder::ReportNotesLocked(Tick) {
  const std::vector<bool> ends = model_.TakeTransmitEnds();
  const std::vector<DeckModel::ScanNote> notes = model_.TakeScanNotes();
  if (removed_) return;
  const Tick now = Now();
  for (bool complete : ends)
    QueueLocked(complete ? DRIVER_EVENT_RECORDING_COMPLETE : DRIVER_EVENT_RECORDING_ERROR, 0, now);
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

void Camcorder::QueueLocked(DWORD code, LPARAM argument, Tick now, HWND only) {
  Tick due = now;
  for (auto it = eventRules_.begin(); it != eventRules_.end();) {
    if (it->code && *it->code != code) {
      ++it;
      continue;
    }
    if (!it->drop) {
      due += it->delayMs;
      ++it;
      continue;
    }
    if (it->count == 1) {
      eventRules_.erase(it);
    } else if (it->count > 1) {
      --it->count;
    }
    return;  // dropped
  }
  QueueRawLocked(EventRecord(code), argument, due, only);
}

void Camcorder::QueueRawLocked(const DRIVER_EVENT_RECORD* record, LPARAM argument, Tick due, HWND only) {
  queue_.emplace(due, Pending{record, argument, only});
  // The thread looks at the queue after advancing anyway; anyone else wakes it.
  if (wake_ && GetCurrentThreadId() != threadId_) Wake();
}

// --- Driver calls -----------------------------------------------------------

HRESULT Camcorder::SendCommand(DWORD command) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick now) { return model_.Command(command, now); });
}

HRESULT Camcorder::GetStatus(DWORD kind, DWORD* value) {
  if (!value) return E_POINTER;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  AdvanceLocked(Now());
  switch (kind) {
    case DECK_STATUS_DECK_STATE:
      *value = model_.DeckState();
      return S_OK;
    case DECK_STATUS_MEDIA_INFO:
      *value = model_.MediaInfo();
      return S_OK;
    case DECK_STATUS_CAMCORDER_MODE:
      *value = model_.CamcorderMode();
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

HRESULT Camcorder::GetTimeCode(__MIDL___MIDL_itf_plgdefs_0000_0001* timeCode) {
  if (!timeCode) return E_POINTER;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  const Tick now = Now();
  AdvanceLocked(now);
  if (model_.CamcorderMode() != CAMCORDER_MODE_DECK) return kErrorWrongMode;
  const auto record = model_.TimeCode(now);
  if (!record) return kErrorNotReady;
  *timeCode = *record;
  return S_OK;
}

HRESULT Camcorder::SetRecordMode(BOOL record) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) {
    if (model_.CamcorderMode() != CAMCORDER_MODE_DECK) return kErrorWrongMode;
    model_.SetRecordInput(record != FALSE);
    return S_OK;
  });
}

HRESULT Camcorder::Advise(HWND window, DWORD* cookie, const void* owner) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!window || !IsWindow(window)) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  const Tick now = Now();
  AdvanceLocked(now);
  if (++lastCookie_ == 0) ++lastCookie_;  // 0 means "not advised" to the client
  advices_.push_back(Advice{lastCookie_, window, owner});
  *cookie = lastCookie_;
  // A window advised while the camcorder streams hears so, with the
  // picture's format first, as every other window heard it: a client that
  // hears nothing knows there is no picture.
  if (const Scene* scene = model_.StreamingScene(now); scene && reported_.streaming) {
    QueueLocked(DRIVER_EVENT_VIDEO_SYSTEM, scene->videoSystem != 0 ? 1 : 0, now, window);
    QueueLocked(DRIVER_EVENT_DISPLAY_SIZE, scene->wide ? 1 : 0, now, window);
    QueueLocked(DRIVER_EVENT_STREAMING, 1, now, window);
  }
  return S_OK;
}

HRESULT Camcorder::Unadvise(DWORD cookie, const void* owner) {
  {
    std::lock_guard guard(lock_);
    const auto it = std::find_if(advices_.begin(), advices_.end(),
                                 [&](const Advice& a) { return a.cookie == cookie && a.owner == owner; });
    if (it == advices_.end()) return E_INVALIDARG;
    advices_.erase(it);
  }
  AwaitPosting();
  return S_OK;
}

void Camcorder::UnadviseAll(const void* owner) {
  {
    std::lock_guard guard(lock_);
    std::erase_if(advices_, [owner](const Advice& a) { return a.owner == owner; });
  }
  AwaitPosting();
}

void Camcorder::AwaitPosting() {
  // A batch the thread took before the window was removed may still be
  // going to it; once it is done, the window hears nothing more.
  std::lock_guard posting(postLock_);
}

void Camcorder::NoteBind(const std::wstring& unitLabel) {
  std::lock_guard guard(lock_);
  bound_.push_back(unitLabel);
}

// --- Receiving --------------------------------------------------------------

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
  std::shared_ptr<CaptureSession> finished;
  {
    std::lock_guard guard(lock_);
    if (removed_) return kErrorDeviceRemoved;
    // A capture that was ended is let finish closing its file first.
    if (session_ && !session_->Ending()) return kErrorBusy;
    if (capture_.folder.empty()) return E_UNEXPECTED;
    if (kind == CaptureSession::Kind::Direct && !capture_.directName) return E_UNEXPECTED;
    if (kind == CaptureSession::Kind::Batch && capture_.sections.empty()) return E_UNEXPECTED;
    finished = std::move(session_);
  }
  finished.reset();  // joined outside the lock: its thread looks at the camcorder
  std::lock_guard guard(lock_);
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
  FileFaults faults;
  if (hiddenFiles_ > 0) {
    --hiddenFiles_;
    faults.neverAppears = true;
  } else if (lateFiles_ > 0) {
    --lateFiles_;
    faults.appearAfterMs = lateFileMs_;
  }
  return faults;
}

std::uint64_t Camcorder::DiskRoom(std::uint64_t wanted) {
  std::lock_guard guard(lock_);
  if (!diskRoom_) return wanted;
  const std::uint64_t room = std::min(wanted, *diskRoom_);
  *diskRoom_ -= room;
  return room;
}

void Camcorder::FillDiskAfter(std::uint64_t bytes) {
  std::lock_guard guard(lock_);
  diskRoom_ = bytes;
}

std::optional<std::uint64_t> Camcorder::DiskRoomLeft() const {
  std::lock_guard guard(lock_);
  return diskRoom_;
}

void Camcorder::DelayFileAppearance(DWORD ms, unsigned count) {
  std::lock_guard guard(lock_);
  lateFileMs_ = ms;
  lateFiles_ = count;
}

void Camcorder::HideFiles(unsigned count) {
  std::lock_guard guard(lock_);
  hiddenFiles_ = count;
}

void Camcorder::ClearCaptureFaults() {
  std::lock_guard guard(lock_);
  diskRoom_.reset();
  lateFiles_ = hiddenFiles_ = 0;
}

// --- Transmitting -----------------------------------------------------------

HRESULT Camcorder::SetTransmitFile(const WCHAR* path) {
  if (!path) return E_POINTER;
  std::optional<TransmitFile> file;
  if (*path) {
    // Kept absolute: the tape refers to it, and a capture in another program
    // (sharing the state file) reads it again.
    std::error_code error;
    const std::filesystem::path native = std::filesystem::absolute(zelto::platform::NativePath(path), error);
    if (error) return E_INVALIDARG;
    const std::optional<std::uint64_t> size = TransportStreamFileBytes(native, nullptr);
    if (!size) return E_INVALIDARG;
    file = TransmitFile{zelto::platform::Utf8FromPath(native), *size, std::nullopt};
  }
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  if (file && transmitBreak_) {
    // The fault: the file cannot be read (at all, or from some point on).
    const std::uint64_t readable = *std::exchange(transmitBreak_, std::nullopt);
    if (readable == 0) return static_cast<HRESULT>(0x8007001EL);  // a read fault
    file->readablePackets = readable;
  }
  transmitFile_ = std::move(file);
  return S_OK;
}

HRESULT Camcorder::SetTransmitMargins(DWORD first, DWORD second) {
  // An hour either side is more than any tape needs.
  constexpr DWORD kMaxMargin = 360000;
  if (first > kMaxMargin || second > kMaxMargin) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  marginFirst_ = first;
  marginSecond_ = second;
  return S_OK;
}

HRESULT Camcorder::StartTransmit() {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  if (!transmitFile_) {
    // Nothing it could send (no file, or one it refused): the recording
    // fails at once, so that a caller that looks only at events hears of it.
    QueueLocked(DRIVER_EVENT_RECORDING_ERROR, 0, Now());
    return E_UNEXPECTED;
  }
  // Margins count hundredths of a second of the stream.
  auto packets = [](DWORD hundredths) {
    return std::uint64_t{hundredths} * kStreamBytesPerTrack * kTracksPerSecond / 100 / kPacketBytes;
  };
  DeckModel::TransmitSource source;
  source.file = transmitFile_->path;
  source.fileSize = transmitFile_->size;
  source.leadInPackets = packets(marginFirst_);
  source.leadOutPackets = packets(marginSecond_);
  source.readablePackets = transmitFile_->readablePackets;
  return ChangeLocked([&](Tick now) {
    if (model_.Transmit() == DeckModel::TransmitState::Started) return kErrorBusy;
    model_.StartTransmit(source, now);
    return S_OK;
  });
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
  transmitBreak_ = readablePackets;
}

DeckModel::TransmitState Camcorder::Transmit() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.Transmit();
}

// --- Preview ----------------------------------------------------------------

HRESULT Camcorder::ChangePreview(const std::function<void(PreviewSettings&)>& change) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) {
    PreviewSettings preview = model_.Preview();
    change(preview);
    model_.SetPreview(preview);
    return S_OK;
  });
}

HRESULT Camcorder::SetPreviewOwner(HWND window) {
  if (!window || !IsWindow(window)) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) { p.ownerWindow = reinterpret_cast<std::uintptr_t>(window); });
}

HRESULT Camcorder::SetPreviewRect(const RECT* rect) {
  if (!rect) return E_POINTER;
  if (rect->right < rect->left || rect->bottom < rect->top) return E_INVALIDARG;
  const RECT r = *rect;
  return ChangePreview([&](PreviewSettings& p) { p.rect = r; });
}

HRESULT Camcorder::SetPreviewMode(DWORD mode) {
  if (mode != 0 && mode != 2 && mode != 3) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) { p.mode = mode; });
}

HRESULT Camcorder::SetPreviewVolume(DWORD level) {
  if (level > 100) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) { p.volume = level; });
}

HRESULT Camcorder::SetDecodeQuality(DWORD code, BOOL deinterlace) {
  // The decoder's three settings: 1 fastest, 3 balanced, 7 best.
  if (code != 1 && code != 3 && code != 7) return E_INVALIDARG;
  return ChangePreview([&](PreviewSettings& p) {
    p.quality = code;
    p.deinterlace = deinterlace != FALSE;
  });
}

PreviewSettings Camcorder::Preview() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.Preview();
}

// --- Scanning ---------------------------------------------------------------

HRESULT Camcorder::StartScan(DWORD flags) {
  // The one way of scanning there is: the whole tape, with thumbnails.
  constexpr DWORD kWholeTapeWithThumbnails = 0x301;
  if (flags != kWholeTapeWithThumbnails) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick now) { return model_.StartScan(now); });
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

// --- Cassette memory --------------------------------------------------------

HRESULT Camcorder::GetMemoryHeader(CASSETTE_MEMORY_HEADER* header) {
  if (!header) return E_POINTER;
  *header = CASSETTE_MEMORY_HEADER{};
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  AdvanceLocked(Now());
  const Cassette* cassette = model_.MemoryCassette();
  if (!cassette) return S_FALSE;
  header->sequence = model_.MemorySequence();
  header->recordCount = static_cast<DWORD>(cassette->scenes.size());
  header->cleaning = cassette->cleaning ? TRUE : FALSE;
  CopyText(header->identity, cassette->identity);
  CopyText(header->title, cassette->title);
  CopyText(header->text, cassette->text);
  return S_OK;
}

HRESULT Camcorder::GetMemoryRecord(DWORD sequence, DWORD index, CASSETTE_MEMORY_RECORD* record) {
  if (!record) return E_POINTER;
  *record = CASSETTE_MEMORY_RECORD{};
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  AdvanceLocked(Now());
  const Cassette* cassette = model_.MemoryCassette();
  if (!cassette) return kErrorNotReady;
  if (sequence != model_.MemorySequence()) return CASSETTE_MEMORY_E_CHANGED;
  if (index >= cassette->scenes.size()) return E_INVALIDARG;
  const Scene& scene = cassette->scenes[index];
  record->key = scene.memoryKey;
  record->startTimeCode = PackedTimeCode(scene.startFrame, scene.FramesPerSecond());
  record->endTimeCode = PackedTimeCode(scene.FrameAt(scene.endTrack), scene.FramesPerSecond());
  record->durationMs = static_cast<DWORD>(std::uint64_t{scene.endTrack - scene.startTrack} * 1000 / kTracksPerSecond);
  record->recordedAt = RecordedAt(scene.recorded);
  CopyText(record->text, scene.note);
  return S_OK;
}

HRESULT Camcorder::SetMemoryRecordKey(DWORD sequence, DWORD index, DWORD key) {
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) { return model_.SetMemoryKey(sequence, index, key); });
}

HRESULT Camcorder::SetMemoryText(const WCHAR* text) {
  if (!text) return E_POINTER;
  std::wstring wide(text);
  wide.resize(std::min<std::size_t>(wide.size(), CASSETTE_MEMORY_TEXT_CHARS - 1));
  std::lock_guard guard(lock_);
  if (removed_) return kErrorDeviceRemoved;
  return ChangeLocked([&](Tick) { return model_.SetMemoryText(zelto::platform::ToUtf8(wide)); });
}

// --- Control panel ----------------------------------------------------------

void Camcorder::InsertCassette(Cassette cassette) {
  Change([&](Tick now) { model_.Insert(std::move(cassette), now); });
}

bool Camcorder::Eject() {
  bool ejecting = false;
  Change([&](Tick now) { ejecting = model_.Eject(now); });
  return ejecting;
}

void Camcorder::SetWriteProtected(bool on) {
  Change([&](Tick now) { model_.SetWriteProtected(on, now); });
}

void Camcorder::SetCamcorderMode(CamcorderModeCode mode) {
  Change([&](Tick now) { model_.SwitchCamcorderMode(mode, now); });
}

void Camcorder::StallTransport(bool on) {
  Change([&](Tick now) { model_.SetStalled(on, now); });
}

void Camcorder::RemoveDevice() {
  std::lock_guard guard(lock_);
  if (removed_) return;
  const Tick now = Now();
  AdvanceLocked(now);
  QueueLocked(DRIVER_EVENT_DEVICE_ERROR, DRIVER_ERROR_DEVICE_REMOVED, now);
  // A scan under way stops with an error, and so does a recording from the
  // computer: its stream is gone.
  ChangeLocked([&](Tick at) {
    model_.FailScan();
    model_.LoseTransmit(at);
    return S_OK;
  });
  removed_ = true;
  if (session_) session_->Abandon();
  Wake();
}

void Camcorder::BreakThread() {
  std::lock_guard guard(lock_);
  breakThread_ = true;
  Wake();
}

void Camcorder::ReconnectDevice() {
  std::lock_guard guard(lock_);
  if (!removed_) return;
  removed_ = false;
  const Tick now = Now();
  AdvanceLocked(now);
  ReportLocked(now);
  Wake();
}

bool Camcorder::Removed() const {
  std::lock_guard guard(lock_);
  return removed_;
}

void Camcorder::DelayEvents(DWORD milliseconds, std::optional<DWORD> code) {
  std::lock_guard guard(lock_);
  eventRules_.push_back(EventRule{code, false, milliseconds, 0});
}

void Camcorder::DropEvents(std::optional<DWORD> code, unsigned count) {
  std::lock_guard guard(lock_);
  eventRules_.push_back(EventRule{code, true, 0, count});
}

void Camcorder::ClearEventFaults() {
  std::lock_guard guard(lock_);
  eventRules_.clear();
}

void Camcorder::PostEvent(DWORD code, LPARAM argument) { PostEventRecord(EventRecord(code), argument); }

void Camcorder::PostEventRecord(const DRIVER_EVENT_RECORD* record, LPARAM argument) {
  std::lock_guard guard(lock_);
  QueueRawLocked(record, argument, Now());
  Wake();
}

// --- Observations -----------------------------------------------------------

DeckStateCode Camcorder::DeckState() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.DeckState();
}

MediaInfoCode Camcorder::MediaInfo() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.MediaInfo();
}

CamcorderModeCode Camcorder::CamcorderMode() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.CamcorderMode();
}

TransportMode Camcorder::Mode() {
  std::lock_guard guard(lock_);
  AdvanceLocked(Now());
  return model_.Mode();
}

std::uint32_t Camcorder::Track() {
  std::lock_guard guard(lock_);
  const Tick now = Now();
  AdvanceLocked(now);
  return model_.Track(now);
}

std::optional<Cassette> Camcorder::CurrentCassette() {
  std::lock_guard guard(lock_);
  const Tick now = Now();
  AdvanceLocked(now);
  return model_.CurrentCassette(now);
}

bool Camcorder::RecordInput() {
  std::lock_guard guard(lock_);
  return model_.RecordInput();
}

std::size_t Camcorder::AdvisedWindows() const {
  std::lock_guard guard(lock_);
  return advices_.size();
}

std::uint64_t Camcorder::EventsPosted() const {
  std::lock_guard guard(lock_);
  return posted_;
}

std::uint64_t Camcorder::PostFailures() const {
  std::lock_guard guard(lock_);
  return postFailures_;
}

std::uint64_t Camcorder::ThreadWakeups() const {
  std::lock_guard guard(lock_);
  return wakeups_;
}

std::vector<std::wstring> Camcorder::BoundUnits() const {
  std::lock_guard guard(lock_);
  return bound_;
}

}  // namespace zelto::sim
