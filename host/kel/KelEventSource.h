// A typed event source: a list of listener pointers (not owned) in the order
// they were added, each at most once. This plain source takes no lock and
// walks its live list while notifying, so a listener must not change this
// source's list from inside OnEvent; use KelSafeEventSource for that.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/kel/KelEventListener.h"

template <typename T>
class KelEventSource {
public:
  using Listener = KelEventListener<T>;

  KelEventSource() = default;
  KelEventSource(const KelEventSource&) = default;
  KelEventSource& operator=(const KelEventSource&) = default;

  // Virtual operations in this order; derived sources override all of them.
  virtual ~KelEventSource() = default;

  // A null listener is ignored.
  virtual void AddEventListener(Listener* listener) {
    if (listener && !HasEventListener(listener)) listeners.push_back(listener);
  }

  virtual void RemoveEventListener(Listener* listener) {
    auto it = std::find(listeners.begin(), listeners.end(), listener);
    if (it != listeners.end()) listeners.erase(it);
  }

  virtual void RemoveAllEventListeners() { listeners.clear(); }

  virtual std::uint32_t GetEventListenerCount() const {
    return static_cast<std::uint32_t>(listeners.size());
  }

  // Deletes every listener object in the list and empties it. The only
  // operation that treats listeners as owned; nothing calls it implicitly.
  virtual void DeleteAllEventListeners() {
    std::vector<Listener*> doomed;
    doomed.swap(listeners);
    for (Listener* listener : doomed) delete listener;
  }

  virtual bool HasEventListener(Listener* listener) const {
    return std::find(listeners.begin(), listeners.end(), listener) != listeners.end();
  }

  virtual void NotifyEvent(const T& event) {
    // By index, so that a listener breaking the rule above can skip or repeat
    // a call but never walk an invalidated iterator.
    for (std::size_t i = 0; i < listeners.size(); ++i) listeners[i]->OnEvent(event);
  }

protected:
  std::vector<Listener*> listeners;
};
