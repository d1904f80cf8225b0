// Counts the live references of every object the simulated driver hands out,
// per kind of object and in total, so that a test can show that a client
// released exactly what it was given. An object whose count reaches zero is
// finished but its memory is kept for a while: a further Release on it is
// recorded as an over-release instead of touching freed memory.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com.h"

namespace zelto::sim {

enum class ObjectKind {
  ClassFactory,
  ClassEnumerator,
  UnitCollection,
  UnitEnumerator,
  Unit,
  SmartControl,
};
inline constexpr std::size_t kObjectKindCount = 6;
const char* ObjectKindName(ObjectKind kind);

class AuditedObject;

class ReferenceAudit {
 public:
  struct Counts {
    long liveObjects = 0;
    long liveReferences = 0;
    long created = 0;
    long overReleases = 0;
  };

  ReferenceAudit() = default;
  ~ReferenceAudit();
  ReferenceAudit(const ReferenceAudit&) = delete;
  ReferenceAudit& operator=(const ReferenceAudit&) = delete;

  Counts Of(ObjectKind kind) const;
  long LiveReferences() const;
  long LiveObjects() const;
  long OverReleases() const;
  // One line per kind with anything to say; empty when all is balanced.
  std::string Report() const;

 private:
  friend class AuditedObject;
  static constexpr std::size_t kQuarantine = 4096;

  mutable std::mutex lock_;
  std::array<Counts, kObjectKindCount> counts_{};
  std::deque<AuditedObject*> finished_;  // owned; deleted oldest first
};

// The reference count of a driver object, kept under the audit's lock. A
// concrete object derives from its interfaces and from this, and forwards
// AddRef and Release here.
class AuditedObject {
 public:
  AuditedObject(const AuditedObject&) = delete;
  AuditedObject& operator=(const AuditedObject&) = delete;

 protected:
  AuditedObject(std::shared_ptr<ReferenceAudit> audit, ObjectKind kind);
  virtual ~AuditedObject() = default;

  ULONG AddReference();
  ULONG ReleaseReference();
  // Runs once, when the last reference goes: drop what the object holds.
  virtual void Finish() {}

 private:
  friend class ReferenceAudit;
  std::shared_ptr<ReferenceAudit> audit_;  // held while the object lives
  ReferenceAudit* const auditor_;          // still valid for a late Release
  const ObjectKind kind_;
  ULONG references_ = 1;
};

}  // namespace zelto::sim
