// A listener that serialises its own event handling: safe sources call
// HandleEvent, which runs OnEvent under the listener's own lock, so two
// notifications raised on different threads reach it one after the other.
#pragma once

#include "host/kel/KelEventListener.h"
#include "host/runtime/KelMonitor.h"
#include "host/runtime/KelSyncObject.h"

template <typename T>
class KelSafeEventListener : public KelEventListener<T>, public virtual KelSyncObject {
public:
  ~KelSafeEventListener() override = default;
  void OnEvent(const T& event) override = 0;
  virtual void HandleEvent(const T& event) {
    KelMonitor monitor(*this);
    this->OnEvent(event);
  }
};
