// The camcorder's events: the windows advised, the queue the thread posts
// from, the posting itself, and the panel's event faults.
#include "simulator/Camcorder.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>

namespace zelto::sim {

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

std::optional<EventAction> Camcorder::PostDue(std::vector<Pending>& due, const std::vector<HWND>& windows,
                                              std::uint64_t* posted, std::uint64_t* failed) {
  for (std::size_t i = 0; i < due.size(); ++i) {
    const Pending& p = due[i];
    for (HWND w : windows) {
      if (p.only && p.only != w) continue;
      if (PostMessageW(w, message_, reinterpret_cast<WPARAM>(p.record), p.argument))
        ++*posted;
      else
        ++*failed;
    }
    if (!p.record) continue;
    if (const std::optional<EventAction> action = trigger_.Posted(p.record->code)) {
      due.erase(due.begin(), due.begin() + static_cast<std::ptrdiff_t>(i + 1));
      return action;
    }
  }
  due.clear();
  return std::nullopt;
}

void Camcorder::ActOn(EventAction action, std::vector<Pending> left) {
  if (action == EventAction::Remove) {
    // What was not sent yet is lost with the camcorder.
    RemoveDevice();
    return;
  }
  {
    // What happened before the cassette came out is still told, first.
    std::lock_guard guard(lock_);
    const Tick now = Now();
    for (const Pending& p : left) QueueRawLocked(p.record, p.argument, now, p.only);
  }
  Eject();
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

}  // namespace zelto::sim
