// The host's enumerations and records for a video device: deck state, media
// and camcorder mode, device notifications, and the records that capture,
// scan, whole-cassette capture, recording and cassette-memory operations
// exchange with the device library.
//
// Members marked "host value" are the host's own; the device library copies
// them with the record and never reads them.
//
// The enumerations here and in the event headers have int beneath them: a
// host may hand any int across the library's boundary, and the library
// reads one it does not know as unknown. Without a fixed type, a value
// outside the enumerators' range would not be a value of the type at all.
#pragma once

#include <cstdint>

#include "host/foundation/OxBitmap.h"
#include "host/foundation/OxString.h"
#include "host/foundation/OxTimeCode.h"

namespace Orvex {

enum _OxVideoDeviceState : int {
  OX_DEVICE_STATE_UNKNOWN = 0,
  OX_DEVICE_STATE_PLAY = 1,
  OX_DEVICE_STATE_PAUSE = 2,
  OX_DEVICE_STATE_STOP = 3,
  OX_DEVICE_STATE_RECORD = 4,
  OX_DEVICE_STATE_RECORD_PAUSE = 5,
  OX_DEVICE_STATE_REWIND = 6,
  OX_DEVICE_STATE_FAST_FORWARD = 7,
  OX_DEVICE_STATE_PLAY_FASTEST_FORWARD = 8,
  OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD = 9,
  OX_DEVICE_STATE_PLAY_FASTEST_REVERSE = 10,
  OX_DEVICE_STATE_PLAY_SLOWEST_REVERSE = 11,
  OX_DEVICE_STATE_WINDING = 12,
  OX_DEVICE_STATE_LOADING = 13,
  OX_DEVICE_STATE_STALLED = 15
};

enum _OxMediaInfo : int {
  OX_MEDIA_NONE = 0,
  OX_MEDIA_RECORDABLE = 1,
  OX_MEDIA_WRITE_PROTECTED = 2,
  OX_MEDIA_NO_MEMORY = 3
};

enum _OxCamcorderMode : int { OX_CAMCORDER_MODE_UNKNOWN = 0, OX_CAMCORDER_MODE_DECK = 1, OX_CAMCORDER_MODE_CAMERA = 2 };

// What changed on the device; listeners read the new data through the
// device's getters. 7 is never raised.
enum _OxVideoDeviceNotification : int {
  OX_NOTIFY_DEVICE_STATE = 0,
  OX_NOTIFY_MEDIA_INFO = 1,
  OX_NOTIFY_CAMCORDER_MODE = 2,
  OX_NOTIFY_STREAMING_ON = 3,
  OX_NOTIFY_STREAMING_OFF = 4,
  OX_NOTIFY_VIDEO_SYSTEM_0 = 5,
  OX_NOTIFY_VIDEO_SYSTEM_OTHER = 6,
  OX_NOTIFY_RESERVED = 7,
  OX_NOTIFY_DISPLAY_SIZE = 8
};

// 0: 30 frames per second; any other value: 25.
enum _OxVideoSystem : int { OX_VIDEO_SYSTEM_0 = 0, OX_VIDEO_SYSTEM_1 = 1 };

enum _OxAspectRatio : int { OX_ASPECT_UNKNOWN = 0, OX_ASPECT_NORMAL = 1, OX_ASPECT_WIDE = 2 };

enum _OxVideoResolution : int {
  OX_RESOLUTION_DEFAULT = 0,
  OX_RESOLUTION_LOW = 1,
  OX_RESOLUTION_MIDDLE = 2,
  OX_RESOLUTION_HIGH = 3
};

enum _OxCancelState : int { OX_CANCEL_KEEP_FILES = 0, OX_CANCEL_ERASE_FILES = 1 };

struct _OxBatchCapturingParam {
  OxString folderPath;
  std::int32_t firstFileNumber = 0;
  OxString fileBaseName;
  std::uint32_t hostValue1 = 0;
  std::uint32_t hostValue2 = 0;
  bool hostFlag1 = false;
  alignas(8) std::uint64_t splitSizeMegabytes = 0;
  std::uint32_t splitDurationFrames = 0;
  std::uint32_t splitExtra = 0;  // the value after splitDurationFrames
  std::int32_t splitKind = 0;    // 0 automatic, 1 by size, 2 by duration
  bool hostFlag2 = false;
  bool splitFlag = false;  // the second of the three flags after splitKind
  bool hostFlag3 = false;
  std::uint32_t hostValue3 = 0;
};

// Tape positions in hundredths of a second.
struct _OxBatchCapturingItem {
  std::uint32_t inPoint = 0;
  std::uint32_t outPoint = 0;
  std::uint32_t hostValue = 0;
  std::uint32_t sceneKey = 0;
};

struct _OxBatchCapturingProgress {
  std::uint32_t filesDone = 0;
  std::uint32_t itemCount = 0;
  OxTimeCode capturedTime;
  OxTimeCode totalTime;
  alignas(8) std::uint64_t freeDiskSpace = 0;
  std::uint32_t percent = 0;
};

struct _OxDirectCapturingParam {
  OxString folderPath;
  std::uint32_t hostValue1 = 0;
  std::int32_t firstFileNumber = 0;
  OxString fileBaseName;
  std::uint32_t hostValue2 = 0;
  std::uint32_t hostValue3 = 0;
  bool hostFlag1 = false;
  alignas(8) std::uint64_t splitSizeMegabytes = 0;
  std::uint32_t splitDurationFrames = 0;
  std::uint32_t splitExtra = 0;
  std::int32_t splitKind = 0;
  bool splitFlag = false;
};

struct _OxDirectCapturingProgress {
  OxString currentFile;
  alignas(8) std::uint64_t freeDiskSpace = 0;
  std::uint32_t filesCreated = 0;
  std::uint32_t hostValue = 0;
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
};

struct _OxScanningParam {
  std::uint32_t hostValue1 = 0;
  std::uint32_t hostValue2 = 0;
  std::uint32_t hostValue3 = 0;
};

// A packed device-independent bitmap (header, then the bits) for one scene.
struct _THUMBNAIL_DATA {
  const std::uint8_t* dibPointer = nullptr;
  std::uint32_t sceneKey = 0;
};

struct _OxScapturingProgress {
  OxString currentFile;
  alignas(8) std::uint64_t freeDiskSpace = 0;
  std::uint32_t hostValue1 = 0;
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
  std::uint32_t hostValue2 = 0;
  std::uint32_t reserved3 = 0;
  std::uint32_t reserved4 = 0;
  OxTimeCode capturedTime;
};

struct _OxRecordingItem {
  OxString path;
  std::int32_t start = 0;
  std::int32_t end = 0;
  std::uint32_t hostValue1 = 0;
  std::uint32_t hostValue2 = 0;
  std::uint32_t hostValue3 = 0;
  bool hostFlag1 = false;
  bool hostFlag2 = false;
  std::uint32_t hostValue4 = 0;
  std::uint32_t hostValue5 = 0;
  bool hostFlag3 = false;
  bool hostFlag4 = false;
  std::uint32_t hostValue6 = 0;
  std::uint32_t hostValue7 = 0;
};

struct _OxRecordingProgress {
  std::uint32_t hostValues[28] = {};
  std::uint32_t recordTime = 0;
};

// One recorded scene of the cassette memory.
struct _OxMICRecInfo {
  std::int32_t id = 0;
  alignas(8) std::int64_t recordedAt = 0;
  std::uint32_t startTimeCode = 0;
  std::uint32_t endTimeCode = 0;
  std::uint32_t duration = 0;
  OxBitmap firstPicture;
  OxBitmap secondPicture;
  bool flag = false;
  OxString text;
};

// A mark on the tape; positionTime is in hundredths of a second.
struct _OxMarkPosition {
  OxString name;
  OxString comment;
  OxTimeCode timeCode;
  std::uint32_t positionTime = 0;
  std::uint32_t hostValue = 0;
};

}  // namespace Orvex
