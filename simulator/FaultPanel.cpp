#include "simulator/FaultPanel.h"

namespace zelto::sim {

const char* MethodName(Method method) {
  static constexpr const char* kNames[kMethodCount] = {
      "IClassFactory::CreateInstance(enumerator)",
      "IClassFactory::CreateInstance(unit collection)",
      "IDriverClassEnumerator::GetDriverClasses",
      "IUnitCollection::EnumUnits",
      "IEnumUnits::Next",
      "IUnitMoniker::QueryInterface(IUnitProperties)",
      "IUnitProperties::GetStringProperty",
      "IUnitMoniker::BindToObject",
      "ISmartControl::QueryInterface(IDeckControl)",
      "ISmartControl::AdviseWindow",
      "ISmartControl::UnadviseWindow",
      "IDeckControl::SendCommand",
      "IDeckControl::GetStatus",
      "IDeckControl::GetTimeCode",
      "IDeckControl::SetRecordMode",
      "ISmartControl::QueryInterface(IStreamReceive)",
      "IStreamReceive::SetStreamTypes",
      "IStreamReceive::StartDirect/StartBatch",
      "ISmartControl::QueryInterface(ITapeScan)",
      "ISmartControl::QueryInterface(IStreamTransmit)",
      "ISmartControl::QueryInterface(IPreviewControl)",
      "IPreviewControl::QueryInterface(IDecodeQuality)",
      "ISmartControl::QueryInterface(ICassetteMemory)",
      "IStreamTransmit::Start",
      "ITapeScan::StartScan",
      "IStreamReceive::Stop",
      "IStreamReceive::SetFolder",
      "IStreamReceive::SetFileName",
      "IStreamReceive::SetOptions",
      "IStreamReceive::Abort",
      "IStreamReceive::SetMaxFileSize",
      "IStreamReceive::ClearBatch",
      "IStreamReceive::AddBatchItem",
      "IStreamReceive::StopBatch",
      "IStreamTransmit::SetFile",
      "IStreamTransmit::SetMargins",
      "IStreamTransmit::Stop",
      "ITapeScan::StopScan",
      "IPreviewControl::SetOwnerWindow",
      "IPreviewControl::SetWindowRect",
      "IPreviewControl::SetMode",
      "IPreviewControl::SetVolume",
      "IDecodeQuality::SetQuality",
      "ICassetteMemory::GetHeader",
      "ICassetteMemory::GetRecord",
      "ICassetteMemory::SetRecordKey",
      "ICassetteMemory::SetText",
  };
  const auto index = static_cast<std::size_t>(method);
  return index < kMethodCount ? kNames[index] : "?";
}

void CallFaults::Fail(Method method, unsigned nth, HRESULT result, FaultRepeat repeat) {
  if (nth == 0 || static_cast<std::size_t>(method) >= kMethodCount) return;
  std::lock_guard guard(lock_);
  rules_.push_back(Rule{method, nth - 1, result, repeat});
}

void CallFaults::Clear() {
  std::lock_guard guard(lock_);
  rules_.clear();
}

std::optional<HRESULT> CallFaults::Check(Method method) {
  const auto index = static_cast<std::size_t>(method);
  if (index >= kMethodCount) return std::nullopt;
  std::lock_guard guard(lock_);
  ++calls_[index];
  std::optional<HRESULT> failure;
  for (auto it = rules_.begin(); it != rules_.end();) {
    if (it->method != method) {
      ++it;
      continue;
    }
    if (it->callsLeft > 0) {
      --it->callsLeft;
      ++it;
      continue;
    }
    if (!failure) failure = it->result;
    it = it->repeat == FaultRepeat::Once ? rules_.erase(it) : it + 1;
  }
  return failure;
}

unsigned CallFaults::Calls(Method method) const {
  const auto index = static_cast<std::size_t>(method);
  if (index >= kMethodCount) return 0;
  std::lock_guard guard(lock_);
  return calls_[index];
}

void EventTrigger::Arm(DWORD code, unsigned nth, EventAction action) {
  std::lock_guard guard(lock_);
  fired_ = false;
  armed_.reset();
  if (nth > 0) armed_ = Armed{code, nth - 1, action};
}

void EventTrigger::Disarm() {
  std::lock_guard guard(lock_);
  armed_.reset();
  fired_ = false;
}

bool EventTrigger::Fired() const {
  std::lock_guard guard(lock_);
  return fired_;
}

std::optional<EventAction> EventTrigger::Posted(DWORD code) {
  std::lock_guard guard(lock_);
  log_.push_back(code);
  if (!armed_ || armed_->code != code) return std::nullopt;
  if (armed_->eventsLeft > 0) {
    --armed_->eventsLeft;
    return std::nullopt;
  }
  const EventAction action = armed_->action;
  armed_.reset();
  fired_ = true;
  return action;
}

std::vector<DWORD> EventTrigger::Log() const {
  std::lock_guard guard(lock_);
  return log_;
}

void EventTrigger::ClearLog() {
  std::lock_guard guard(lock_);
  log_.clear();
}

}  // namespace zelto::sim
