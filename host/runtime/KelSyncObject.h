// The lockable base of event sources and listeners, and of the lock classes.
// The lock is re-entrant for the thread that holds it: a safe source's
// AddEventListener takes it and then calls HasEventListener, which takes it
// again.
#pragma once

#include <mutex>

class KelSyncObject {
public:
  KelSyncObject() = default;
  // A copy gets a lock of its own; a lock is never shared or transferred.
  KelSyncObject(const KelSyncObject&) noexcept {}
  KelSyncObject& operator=(const KelSyncObject&) noexcept { return *this; }
  virtual ~KelSyncObject() = default;

  // Const so that read-only operations of a guarded object can still lock it.
  virtual void lock() const { mutex.lock(); }
  virtual void unlock() const { mutex.unlock(); }
  virtual bool tryLock() const { return mutex.try_lock(); }

private:
  mutable std::recursive_mutex mutex;
};
