#include "simulator/Camcorder.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/ThreadGuard.h"

namespace zelto::sim {

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
    const bool anyDue = !due.empty();
    const std::optional<EventAction> action = PostDue(due, windows, &posted, &failed);
    if (anyDue) {
      posting.unlock();
      std::lock_guard guard(lock_);
      posted_ += posted;
      postFailures_ += failed;
    }
    if (action) {
      ActOn(*action, std::move(due));
      continue;  // what the action changed is due at once
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
  ReportTransmitEndsLocked(ends, now);
  ReportScanNotesLocked(notes, now);
}

std::uint64_t Camcorder::ThreadWakeups() const {
  std::lock_guard guard(lock_);
  return wakeups_;
}

void Camcorder::BreakThread() {
  std::lock_guard guard(lock_);
  breakThread_ = true;
  Wake();
}

}  // namespace zelto::sim
