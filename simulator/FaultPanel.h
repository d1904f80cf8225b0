// Call faults: make the nth call of a driver method fail with a chosen
// result, once or from then on. Every driver method asks here first.
// Event faults: take the camcorder away or its cassette out right after the
// nth event of a code it posted, and a log of the codes posted.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/com.h"

namespace zelto::sim {

enum class Method {
  CreateClassEnumerator,  // IClassFactory::CreateInstance of the enumerator class
  CreateUnitCollection,   // IClassFactory::CreateInstance of a driver class
  GetDriverClasses,
  EnumUnits,
  NextUnit,
  QueryUnitProperties,    // QueryInterface of a unit for IUnitProperties
  GetStringProperty,
  BindToObject,
  QueryDeckControl,       // QueryInterface of the smart control for IDeckControl
  AdviseWindow,
  UnadviseWindow,
  SendCommand,
  GetStatus,
  GetTimeCode,
  SetRecordMode,
  QueryStreamReceive,     // QueryInterface of the smart control for IStreamReceive
  SetStreamTypes,
  StartCapture,           // IStreamReceive::StartDirect and StartBatch
  QueryTapeScan,          // QueryInterface of the smart control for ITapeScan
  QueryStreamTransmit,    // QueryInterface of the smart control for IStreamTransmit
  QueryPreviewControl,    // QueryInterface of the smart control for IPreviewControl
  QueryDecodeQuality,     // QueryInterface (of the preview) for IDecodeQuality
  QueryCassetteMemory,    // QueryInterface of the smart control for ICassetteMemory
  StartTransmit,          // IStreamTransmit::Start
  StartScan,              // ITapeScan::StartScan
  // The rest of each road's calls.
  ReceiveStop,            // IStreamReceive::Stop
  SetCaptureFolder,
  SetCaptureFileName,
  SetCaptureOptions,
  AbortCapture,
  SetMaxCaptureFileSize,
  ClearBatch,
  AddBatchItem,
  StopBatchCapture,
  SetTransmitFile,
  SetTransmitMargins,
  StopTransmit,
  StopScan,
  SetPreviewOwner,        // IPreviewControl::SetOwnerWindow
  SetPreviewRect,
  SetPreviewMode,
  SetPreviewVolume,
  SetDecodeQuality,       // IDecodeQuality::SetQuality
  GetMemoryHeader,        // ICassetteMemory::GetHeader
  GetMemoryRecord,
  SetMemoryRecordKey,
  SetMemoryText,
};
inline constexpr std::size_t kMethodCount = 47;
const char* MethodName(Method method);

enum class FaultRepeat { Once, FromThenOn };

class CallFaults {
 public:
  // The nth call from now (1 = the next one) fails with result.
  void Fail(Method method, unsigned nth, HRESULT result, FaultRepeat repeat);
  void Clear();
  // Counts the call; the failure to give, if one is due.
  std::optional<HRESULT> Check(Method method);
  unsigned Calls(Method method) const;

 private:
  struct Rule {
    Method method;
    unsigned callsLeft;  // calls to let through before failing
    HRESULT result;
    FaultRepeat repeat;
  };
  mutable std::mutex lock_;
  std::array<unsigned, kMethodCount> calls_{};
  std::vector<Rule> rules_;
};

// What befalls the camcorder right after an event it posted.
enum class EventAction { Remove, Eject };

class EventTrigger {
 public:
  // After the nth event of `code` from now (1 = the next one), once.
  void Arm(DWORD code, unsigned nth, EventAction action);
  void Disarm();
  // Whether the armed action has befallen since it was armed.
  bool Fired() const;
  // Logs a posted event; the action due right after it, if any.
  std::optional<EventAction> Posted(DWORD code);
  // The codes posted since the log was last cleared, in order.
  std::vector<DWORD> Log() const;
  void ClearLog();

 private:
  struct Armed {
    DWORD code;
    unsigned eventsLeft;  // to let through before acting
    EventAction action;
  };
  mutable std::mutex lock_;
  std::optional<Armed> armed_;
  bool fired_ = false;
  std::vector<DWORD> log_;
};

}  // namespace zelto::sim
