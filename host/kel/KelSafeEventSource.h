// An event source whose list is read and changed only under its own lock
// (re-entrant), and whose NotifyEvent calls listeners without that lock:
//
// - NotifyEvent copies the list under the lock and then calls each listener
//   of the copy in order: a KelSafeEventListener through HandleEvent (under
//   the listener's own lock), any other listener through OnEvent.
// - So a listener may add or remove listeners, or notify this source again,
//   from inside OnEvent. Changes take effect from the next pass: a listener
//   added during a pass misses the current event; one removed during a pass
//   still gets it if it was in the copy.
// - A listener removed while a pass runs on another thread may still be called
//   by that pass. RemoveEventListenerAndWait removes it and waits until such
//   passes have ended, after which the listener may be destroyed. Do not call
//   it while holding a lock that a listener of this source takes.
// - A listener may destroy the source (by deleting the object that owns it):
//   the pass under way then calls no further listener and ends without
//   touching the source.
// - Copies hold the same listener pointers in the same order and a lock of
//   their own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/kel/KelEventSource.h"
#include "host/kel/KelNotificationPasses.h"
#include "host/kel/KelSafeEventListener.h"
#include "host/runtime/KelMonitor.h"
#include "host/runtime/KelSyncObject.h"

template <typename T>
class KelSafeEventSource : public KelEventSource<T>, public virtual KelSyncObject {
public:
  using Listener = KelEventListener<T>;

  KelSafeEventSource() = default;
  // A copy has passes of its own: it starts with none.
  KelSafeEventSource(const KelSafeEventSource& other) : KelSyncObject(), KelEventSource<T>() {
    this->listeners = other.Snapshot();
  }
  KelSafeEventSource& operator=(const KelSafeEventSource& other) {
    if (this != &other) {
      // Never hold both locks: two threads assigning in opposite directions
      // would deadlock.
      std::vector<Listener*> copy = other.Snapshot();
      KelMonitor monitor(*this);
      this->listeners.swap(copy);
    }
    return *this;
  }
  ~KelSafeEventSource() override { passes->Close(); }

  void AddEventListener(Listener* listener) override {
    KelMonitor monitor(*this);
    KelEventSource<T>::AddEventListener(listener);
  }

  void RemoveEventListener(Listener* listener) override {
    KelMonitor monitor(*this);
    KelEventSource<T>::RemoveEventListener(listener);
  }

  void RemoveAllEventListeners() override {
    KelMonitor monitor(*this);
    KelEventSource<T>::RemoveAllEventListeners();
  }

  std::uint32_t GetEventListenerCount() const override {
    KelMonitor monitor(*this);
    return KelEventSource<T>::GetEventListenerCount();
  }

  // The list is emptied under the lock; the objects are deleted after it is
  // released, since a listener's destructor may call back into this source.
  void DeleteAllEventListeners() override {
    std::vector<Listener*> doomed;
    {
      KelMonitor monitor(*this);
      doomed.swap(this->listeners);
    }
    for (Listener* listener : doomed) delete listener;
  }

  bool HasEventListener(Listener* listener) const override {
    KelMonitor monitor(*this);
    return KelEventSource<T>::HasEventListener(listener);
  }

  // Touches nothing of the source once the first listener has been called.
  void NotifyEvent(const T& event) override {
    std::vector<Listener*> copy;
    std::shared_ptr<KelNotificationPasses> book;
    std::uint64_t pass;
    {
      KelMonitor monitor(*this);
      copy = this->listeners;
      book = passes;
      pass = book->Begin();
    }
    PassEnd end{*book, pass};
    for (Listener* listener : copy) {
      if (book->Closed()) break;
      if (auto* safe = dynamic_cast<KelSafeEventListener<T>*>(listener))
        safe->HandleEvent(event);
      else
        listener->OnEvent(event);
    }
  }

  // Removes the listener, then waits until every notification pass that could
  // still call it has ended. Returns false without waiting when called from
  // inside a notification pass of this source on the calling thread (for
  // instance by a listener removing itself): the listener may then still be
  // running further up this thread's stack.
  bool RemoveEventListenerAndWait(Listener* listener) {
    std::shared_ptr<KelNotificationPasses> book;
    std::uint64_t upTo;
    {
      KelMonitor monitor(*this);
      KelEventSource<T>::RemoveEventListener(listener);
      book = passes;
      upTo = book->Last();
    }
    return book->WaitForPassesUpTo(upTo);
  }

private:
  struct PassEnd {
    KelNotificationPasses& passes;
    std::uint64_t number;
    ~PassEnd() { passes.End(number); }
  };

  std::vector<Listener*> Snapshot() const {
    KelMonitor monitor(*this);
    return this->listeners;
  }

  const std::shared_ptr<KelNotificationPasses> passes = std::make_shared<KelNotificationPasses>();
};
