// Stand-alone re-entrant locks. Both are KelSyncObjects, so a KelMonitor can
// hold either; they differ only in name, kept for the callers that expect one
// or the other.
#pragma once

#include "host/runtime/KelSyncObject.h"

class KelMutex : public KelSyncObject {
public:
  KelMutex() = default;
  ~KelMutex() override = default;
  KelMutex(const KelMutex&) = delete;
  KelMutex& operator=(const KelMutex&) = delete;
};

class KelCriticalSection : public KelSyncObject {
public:
  KelCriticalSection() = default;
  ~KelCriticalSection() override = default;
  KelCriticalSection(const KelCriticalSection&) = delete;
  KelCriticalSection& operator=(const KelCriticalSection&) = delete;
};
