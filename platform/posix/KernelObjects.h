// Kernel objects, the handle table and the wait core of the POSIX layer
// (internal). Every waitable object keeps a list of the waiters blocked on
// it; a waiter is a record on the waiting thread's stack, linked into every
// object it waits on.
#pragma once

#include "platform/posix/Futex.h"
#include "platform/posix/win32_types.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace zelto::platform::detail {

class KernelObject {
 public:
  enum class Kind { Event, Thread, Queue, Process };

  explicit KernelObject(Kind kind) : kind_(kind) {}
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  virtual ~KernelObject() = default;

  Kind kind() const { return kind_; }
  void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  const Kind kind_;
  std::atomic<long> refs_{1};
};

// A counted reference to a kernel object (or anything with AddRef/Release).
template <class T>
class Ref {
 public:
  Ref() = default;
  // Takes over a reference the caller already owns.
  static Ref Adopt(T* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  Ref(const Ref& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* release() { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

struct Waiter;

// Waiters to unpark once the signalled object's lock is released, so that a
// woken thread does not at once sleep again on that lock. Declare it before
// the lock guard: it unparks when it goes out of scope, after the unlock.
// This is safe because a waiter claimed by a signal waits for its unpark
// before it returns.
class Wakeups {
 public:
  Wakeups() = default;
  Wakeups(const Wakeups&) = delete;
  Wakeups& operator=(const Wakeups&) = delete;
  ~Wakeups() {
    for (int i = 0; i < count_ && i < kInline; ++i) inline_[i]->Unpark();
    for (Parker* parker : overflow_) parker->Unpark();
  }
  void Add(Parker* parker) {
    if (count_ < kInline) inline_[count_] = parker;
    else overflow_.push_back(parker);
    ++count_;
  }

 private:
  static constexpr int kInline = 4;
  Parker* inline_[kInline] = {};
  int count_ = 0;
  std::vector<Parker*> overflow_;
};

// One waiter's link in one object's list.
struct WaitBlock {
  Waiter* waiter = nullptr;
  int index = 0;
  bool linked = false;
  WaitBlock* prev = nullptr;
  WaitBlock* next = nullptr;
};

class Waitable : public KernelObject {
 public:
  Waitable(Kind kind, bool manualReset, bool signalled)
      : KernelObject(kind), manualReset_(manualReset), signalled_(signalled) {}

  std::mutex& lock() { return lock_; }

  // All of these need lock() held.
  bool IsSignalledLocked() const { return signalled_; }
  void ConsumeLocked() {
    if (!manualReset_) signalled_ = false;
  }
  void ResetLocked() { signalled_ = false; }
  // Sets the object and satisfies waiters: every waiter for a manual-reset
  // object, the first willing one for an auto-reset object (which the signal
  // then goes to). Waiters for all objects are told to look again at once;
  // satisfied waiters are woken through wakeups.
  void SignalLocked(Wakeups& wakeups);
  void LinkLocked(WaitBlock* block);
  void UnlinkLocked(WaitBlock* block);

 private:
  std::mutex lock_;
  const bool manualReset_;
  bool signalled_;
  WaitBlock* head_ = nullptr;
  WaitBlock* tail_ = nullptr;
};

class Event final : public Waitable {
 public:
  Event(bool manualReset, bool signalled) : Waitable(Kind::Event, manualReset, signalled) {}
};

// Signalled, for good, when its thread has ended.
class ThreadObject final : public Waitable {
 public:
  explicit ThreadObject(DWORD id) : Waitable(Kind::Thread, true, false), id_(id) {}
  DWORD id() const { return id_; }
  DWORD exitCode() const { return exitCode_.load(std::memory_order_acquire); }
  void Finish(DWORD exitCode);

 private:
  const DWORD id_;
  std::atomic<DWORD> exitCode_{STILL_ACTIVE};
};

// Result of WaitForObjects: an index, or one of these.
constexpr int kWaitTimedOut = -2;

// Waits on up to MAXIMUM_WAIT_OBJECTS objects (duplicates allowed) until
// one (waitAll false: the lowest signalled index) or all are signalled,
// consuming auto-reset signals only on success. deadlineNs is on the process
// clock, -1 for none.
int WaitForObjects(Waitable* const* objects, int count, bool waitAll, std::int64_t deadlineNs);

// Resolves the handles of a wait into objects held by refs; false (last error
// set) for a bad handle, or for a duplicate when waitAll.
bool ResolveWaitHandles(const HANDLE* handles, DWORD count, bool waitAll, Ref<KernelObject>* refs,
                        Waitable** objects);

// The handle table. Handles are counted references to objects.
HANDLE InsertHandle(KernelObject* object);  // takes over one reference; null if the table is full
Ref<KernelObject> LookupHandle(HANDLE handle);  // null for a bad handle (and for pseudo handles)
Ref<KernelObject> RemoveHandle(HANDLE handle);

// The object behind the current-process pseudo handle (INVALID_HANDLE_VALUE):
// waitable, never signalled while the process runs.
Waitable* ProcessObject();

}  // namespace zelto::platform::detail
