// The wait core: one waiter record on the waiting thread's stack, linked into
// every object it waits on. A signal hands an auto-reset object to exactly
// one waiter by a compare-and-swap on the waiter's state, under the object's
// lock, so a timed-out or already satisfied waiter never consumes anything.
#include "platform/posix/KernelObjects.h"
#include "platform/posix/ProcessClock.h"
#include "platform/posix/kernel.h"

#include <algorithm>

namespace zelto::platform::detail {

namespace {
constexpr int kWaiting = -1;
}  // namespace

struct Waiter {
  Parker parker;
  std::atomic<int> state{kWaiting};  // kWaiting, the satisfying index, or kWaitTimedOut
  bool waitAll = false;
  std::atomic<bool> poked{false};  // wait-all: some object changed, look again
};

void Waitable::LinkLocked(WaitBlock* block) {
  block->prev = tail_;
  block->next = nullptr;
  if (tail_) tail_->next = block;
  else head_ = block;
  tail_ = block;
  block->linked = true;
}

void Waitable::UnlinkLocked(WaitBlock* block) {
  if (block->prev) block->prev->next = block->next;
  else head_ = block->next;
  if (block->next) block->next->prev = block->prev;
  else tail_ = block->prev;
  block->prev = block->next = nullptr;
  block->linked = false;
}

void Waitable::SignalLocked(Wakeups& wakeups) {
  signalled_ = true;
  // The waiter's record stays valid while we hold the lock: it must take this
  // lock to unlink itself before it may return, unless we claim it, and then
  // it waits for our unpark.
  for (WaitBlock* block = head_; block && signalled_;) {
    WaitBlock* next = block->next;
    Waiter* waiter = block->waiter;
    if (waiter->waitAll) {
      waiter->poked.store(true, std::memory_order_release);
      waiter->parker.Unpark();
    } else {
      // Unlinked before the claim is published: a claimed waiter leaves
      // without taking this lock again (a second sleep on the lock would
      // double the hand-off's latency). A waiter whose claim fails checks its
      // links under the lock, so unlinking it here is harmless.
      UnlinkLocked(block);
      int expected = kWaiting;
      if (waiter->state.compare_exchange_strong(expected, block->index, std::memory_order_acq_rel)) {
        ConsumeLocked();
        wakeups.Add(&waiter->parker);
      }
    }
    block = next;
  }
}

void ThreadObject::Finish(DWORD exitCode) {
  exitCode_.store(exitCode, std::memory_order_release);
  Wakeups wakeups;
  std::lock_guard<std::mutex> guard(lock());
  SignalLocked(wakeups);
}

namespace {

class LockSet {
 public:
  LockSet(Waitable* const* objects, int count) {
    std::copy(objects, objects + count, distinct_);
    std::sort(distinct_, distinct_ + count);
    count_ = static_cast<int>(std::unique(distinct_, distinct_ + count) - distinct_);
  }
  int size() const { return count_; }
  Waitable* operator[](int i) const { return distinct_[i]; }
  // Address order: two waiters on overlapping sets cannot deadlock.
  void LockAll() {
    for (int i = 0; i < count_; ++i) distinct_[i]->lock().lock();
  }
  void UnlockAll() {
    for (int i = count_; i-- > 0;) distinct_[i]->lock().unlock();
  }

 private:
  Waitable* distinct_[MAXIMUM_WAIT_OBJECTS];
  int count_ = 0;
};

bool Expired(std::int64_t deadlineNs) { return deadlineNs >= 0 && RealNsUntil(deadlineNs) == 0; }

// Sleeps until unparked or the deadline; false once the deadline has passed.
bool ParkUntil(Parker& parker, std::int64_t deadlineNs) {
  if (deadlineNs < 0) {
    parker.Park(-1);
    return true;
  }
  std::int64_t realNs = RealNsUntil(deadlineNs);
  if (realNs == 0) return false;
  parker.Park(realNs);
  return true;
}

int WaitAny(Waitable* const* objects, int count, std::int64_t deadlineNs) {
  LockSet locks(objects, count);
  locks.LockAll();
  for (int i = 0; i < count; ++i) {
    if (objects[i]->IsSignalledLocked()) {
      objects[i]->ConsumeLocked();
      locks.UnlockAll();
      return i;
    }
  }
  if (Expired(deadlineNs)) {
    locks.UnlockAll();
    return kWaitTimedOut;
  }
  Waiter waiter;
  WaitBlock blocks[MAXIMUM_WAIT_OBJECTS];
  // In index order, so that a duplicated object answers with its lowest index.
  for (int i = 0; i < count; ++i) {
    blocks[i].waiter = &waiter;
    blocks[i].index = i;
    objects[i]->LinkLocked(&blocks[i]);
  }
  locks.UnlockAll();

  int result;
  bool woken = false;
  for (;;) {
    result = waiter.state.load(std::memory_order_acquire);
    if (result != kWaiting) break;
    const std::int64_t realNs = deadlineNs < 0 ? -1 : RealNsUntil(deadlineNs);
    if (realNs == 0) {
      int expected = kWaiting;
      result = waiter.state.compare_exchange_strong(expected, kWaitTimedOut, std::memory_order_acq_rel)
                   ? kWaitTimedOut
                   : expected;  // a signal claimed us first
      break;
    }
    if (waiter.parker.Park(realNs)) woken = true;
  }
  // The signaler that claimed us unparks us exactly once; wait for that, so
  // that it never touches this record after we have returned.
  if (result != kWaitTimedOut && !woken) waiter.parker.Park(-1);
  for (int i = 0; i < count; ++i) {
    if (i == result) continue;  // unlinked by the signaler
    std::lock_guard<std::mutex> guard(objects[i]->lock());
    if (blocks[i].linked) objects[i]->UnlinkLocked(&blocks[i]);
  }
  return result;
}

int WaitAll(Waitable* const* objects, int count, std::int64_t deadlineNs) {
  LockSet locks(objects, count);
  Waiter waiter;
  waiter.waitAll = true;
  WaitBlock blocks[MAXIMUM_WAIT_OBJECTS];
  bool linked = false;
  auto unlinkAll = [&] {
    if (!linked) return;
    for (int i = 0; i < locks.size(); ++i) locks[i]->UnlinkLocked(&blocks[i]);
  };
  for (;;) {
    locks.LockAll();
    bool all = true;
    for (int i = 0; i < locks.size() && all; ++i) all = locks[i]->IsSignalledLocked();
    if (all) {
      for (int i = 0; i < locks.size(); ++i) locks[i]->ConsumeLocked();
      unlinkAll();
      locks.UnlockAll();
      return 0;
    }
    if (Expired(deadlineNs)) {
      unlinkAll();
      locks.UnlockAll();
      return kWaitTimedOut;
    }
    if (!linked) {
      for (int i = 0; i < locks.size(); ++i) {
        blocks[i].waiter = &waiter;
        blocks[i].index = i;
        locks[i]->LinkLocked(&blocks[i]);
      }
      linked = true;
    }
    waiter.poked.store(false, std::memory_order_relaxed);
    locks.UnlockAll();
    while (!waiter.poked.load(std::memory_order_acquire)) {
      if (!ParkUntil(waiter.parker, deadlineNs)) break;
    }
  }
}

}  // namespace

int WaitForObjects(Waitable* const* objects, int count, bool waitAll, std::int64_t deadlineNs) {
  return waitAll ? WaitAll(objects, count, deadlineNs) : WaitAny(objects, count, deadlineNs);
}

}  // namespace zelto::platform::detail

using namespace zelto::platform::detail;

bool zelto::platform::detail::ResolveWaitHandles(const HANDLE* handles, DWORD count, bool waitAll,
                                                 Ref<KernelObject>* refs, Waitable** objects) {
  for (DWORD i = 0; i < count; ++i) {
    if (handles[i] == INVALID_HANDLE_VALUE) {
      objects[i] = ProcessObject();
      continue;
    }
    refs[i] = LookupHandle(handles[i]);
    if (!refs[i]) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    objects[i] = static_cast<Waitable*>(refs[i].get());
  }
  if (waitAll) {
    for (DWORD i = 0; i < count; ++i) {
      for (DWORD j = i + 1; j < count; ++j) {
        if (objects[i] == objects[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return false;
        }
      }
    }
  }
  return true;
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::int64_t deadline = DeadlineAfterMs(milliseconds);
  // The references keep every object alive even if its handle is closed meanwhile.
  Ref<KernelObject> refs[MAXIMUM_WAIT_OBJECTS];
  Waitable* objects[MAXIMUM_WAIT_OBJECTS];
  if (!ResolveWaitHandles(handles, count, waitAll != FALSE, refs, objects)) return WAIT_FAILED;
  int result = WaitForObjects(objects, static_cast<int>(count), waitAll != FALSE, deadline);
  return result == kWaitTimedOut ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<DWORD>(result);
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}
