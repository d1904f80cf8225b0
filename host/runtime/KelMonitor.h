// Scoped lock over a KelSyncObject: locked on construction, released when the
// monitor is destroyed (also while an exception unwinds).
#pragma once

#include "host/runtime/KelSyncObject.h"

class KelMonitor {
public:
  explicit KelMonitor(const KelSyncObject& object) : object(&object) { object.lock(); }
  // A null object makes a monitor that guards nothing.
  explicit KelMonitor(const KelSyncObject* object) : object(object) {
    if (object) object->lock();
  }
  ~KelMonitor() {
    if (object) object->unlock();
  }
  KelMonitor(const KelMonitor&) = delete;
  KelMonitor& operator=(const KelMonitor&) = delete;

private:
  const KelSyncObject* object;
};
