#include "simulator/ReferenceAudit.h"

#include <vector>

namespace zelto::sim {

const char* ObjectKindName(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::ClassFactory:
      return "class factory";
    case ObjectKind::ClassEnumerator:
      return "driver class enumerator";
    case ObjectKind::UnitCollection:
      return "unit collection";
    case ObjectKind::UnitEnumerator:
      return "unit enumerator";
    case ObjectKind::Unit:
      return "unit";
    case ObjectKind::SmartControl:
      return "smart control";
  }
  return "?";
}

ReferenceAudit::~ReferenceAudit() {
  for (AuditedObject* object : finished_) delete object;
}

ReferenceAudit::Counts ReferenceAudit::Of(ObjectKind kind) const {
  std::lock_guard guard(lock_);
  return counts_[static_cast<std::size_t>(kind)];
}

long ReferenceAudit::LiveReferences() const {
  std::lock_guard guard(lock_);
  long total = 0;
  for (const Counts& c : counts_) total += c.liveReferences;
  return total;
}

long ReferenceAudit::LiveObjects() const {
  std::lock_guard guard(lock_);
  long total = 0;
  for (const Counts& c : counts_) total += c.liveObjects;
  return total;
}

long ReferenceAudit::OverReleases() const {
  std::lock_guard guard(lock_);
  long total = 0;
  for (const Counts& c : counts_) total += c.overReleases;
  return total;
}

std::string ReferenceAudit::Report() const {
  std::lock_guard guard(lock_);
  std::string text;
  for (std::size_t i = 0; i < kObjectKindCount; ++i) {
    const Counts& c = counts_[i];
    if (c.liveReferences == 0 && c.overReleases == 0) continue;
    text += ObjectKindName(static_cast<ObjectKind>(i));
    text += ": " + std::to_string(c.liveReferences) + " live references on " + std::to_string(c.liveObjects) +
            " objects, " + std::to_string(c.overReleases) + " over-releases\n";
  }
  return text;
}

AuditedObject::AuditedObject(std::shared_ptr<ReferenceAudit> audit, ObjectKind kind)
    : audit_(std::move(audit)), auditor_(audit_.get()), kind_(kind) {
  std::lock_guard guard(auditor_->lock_);
  auto& c = auditor_->counts_[static_cast<std::size_t>(kind_)];
  ++c.created;
  ++c.liveObjects;
  ++c.liveReferences;
}

ULONG AuditedObject::AddReference() {
  std::lock_guard guard(auditor_->lock_);
  auto& c = auditor_->counts_[static_cast<std::size_t>(kind_)];
  if (references_ == 0) {
    // Reviving a finished object is as wrong as releasing it once more.
    ++c.overReleases;
    return 0;
  }
  ++c.liveReferences;
  return ++references_;
}

ULONG AuditedObject::ReleaseReference() {
  std::shared_ptr<ReferenceAudit> keep;
  ULONG left = 0;
  {
    std::lock_guard guard(auditor_->lock_);
    auto& c = auditor_->counts_[static_cast<std::size_t>(kind_)];
    if (references_ == 0) {
      ++c.overReleases;
      return 0;
    }
    --c.liveReferences;
    left = --references_;
    if (left == 0) --c.liveObjects;
  }
  if (left != 0) return left;

  Finish();
  keep = std::move(audit_);
  std::vector<AuditedObject*> expired;
  {
    std::lock_guard guard(keep->lock_);
    keep->finished_.push_back(this);
    while (keep->finished_.size() > ReferenceAudit::kQuarantine) {
      expired.push_back(keep->finished_.front());
      keep->finished_.pop_front();
    }
  }
  for (AuditedObject* object : expired) delete object;
  // Dropping `keep` may end the audit and with it this object: touch nothing
  // of this object after here.
  return 0;
}

}  // namespace zelto::sim
