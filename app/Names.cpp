#include "app/Names.h"

#include <cstdio>

#include "platform/PlatformExtras.h"
#include "simulator/Cassette.h"

namespace zelto::app {

namespace {

std::string Unlisted(const char* kind, int value) { return std::string(kind) + " " + std::to_string(value); }

}  // namespace

std::string DeviceStateName(Orvex::_OxVideoDeviceState state) {
  using namespace Orvex;
  switch (state) {
    case OX_DEVICE_STATE_UNKNOWN: return "unknown";
    case OX_DEVICE_STATE_PLAY: return "play";
    case OX_DEVICE_STATE_PAUSE: return "pause";
    case OX_DEVICE_STATE_STOP: return "stop";
    case OX_DEVICE_STATE_RECORD: return "record";
    case OX_DEVICE_STATE_RECORD_PAUSE: return "record or record pause";  // the library reads both as 5
    case OX_DEVICE_STATE_REWIND: return "rewind";
    case OX_DEVICE_STATE_FAST_FORWARD: return "fast forward";
    case OX_DEVICE_STATE_PLAY_FASTEST_FORWARD: return "play fastest forward";
    case OX_DEVICE_STATE_PLAY_SLOWEST_FORWARD: return "play slowest forward";
    case OX_DEVICE_STATE_PLAY_FASTEST_REVERSE: return "play fastest reverse";
    case OX_DEVICE_STATE_PLAY_SLOWEST_REVERSE: return "play slowest reverse";
    case OX_DEVICE_STATE_WINDING: return "winding";
    case OX_DEVICE_STATE_LOADING: return "loading";
    case OX_DEVICE_STATE_STALLED: return "stalled";
  }
  return Unlisted("state", static_cast<int>(state));
}

std::string MediaInfoName(Orvex::_OxMediaInfo media) {
  using namespace Orvex;
  switch (media) {
    case OX_MEDIA_NONE: return "no cassette";
    case OX_MEDIA_RECORDABLE: return "recordable";
    case OX_MEDIA_WRITE_PROTECTED: return "write-protected";
    case OX_MEDIA_NO_MEMORY: return "no cassette memory";
  }
  return Unlisted("media", static_cast<int>(media));
}

std::string CamcorderModeName(Orvex::_OxCamcorderMode mode) {
  using namespace Orvex;
  switch (mode) {
    case OX_CAMCORDER_MODE_UNKNOWN: return "unknown";
    case OX_CAMCORDER_MODE_DECK: return "deck";
    case OX_CAMCORDER_MODE_CAMERA: return "camera";
  }
  return Unlisted("mode", static_cast<int>(mode));
}

std::string AspectRatioName(Orvex::_OxAspectRatio ratio) {
  using namespace Orvex;
  switch (ratio) {
    case OX_ASPECT_UNKNOWN: return "unknown";
    case OX_ASPECT_NORMAL: return "4:3";
    case OX_ASPECT_WIDE: return "16:9";
  }
  return Unlisted("aspect", static_cast<int>(ratio));
}

std::string NotificationName(Orvex::_OxVideoDeviceNotification notification) {
  using namespace Orvex;
  switch (notification) {
    case OX_NOTIFY_DEVICE_STATE: return "deck state";
    case OX_NOTIFY_MEDIA_INFO: return "media";
    case OX_NOTIFY_CAMCORDER_MODE: return "camcorder mode";
    case OX_NOTIFY_STREAMING_ON: return "stream on";
    case OX_NOTIFY_STREAMING_OFF: return "stream off";
    case OX_NOTIFY_VIDEO_SYSTEM_0: return "video system 0 (30 frames/s)";
    case OX_NOTIFY_VIDEO_SYSTEM_OTHER: return "video system 1 (25 frames/s)";
    case OX_NOTIFY_RESERVED: break;
    case OX_NOTIFY_DISPLAY_SIZE: return "display size";
  }
  return Unlisted("notification", static_cast<int>(notification));
}

std::string SceneSearchEventName(Orvex::_OxSceneSearchEventID id) {
  using namespace Orvex;
  switch (id) {
    case OX_SCENE_SEARCH_COMPLETE: return "scene found, playing";
    case OX_SCENE_PLAYING_COMPLETE: return "scene playing ended";
  }
  return Unlisted("scene search", static_cast<int>(id));
}

std::string RecordingEventName(Orvex::_OxRecordingEventID id) {
  using namespace Orvex;
  switch (id) {
    case OX_RECORDING_START: return "the deck records";
    case OX_RECORDING_DATA_START: return "data flows to the camcorder";
    case OX_RECORDING_COMPLETE_SECTION: return "item recorded";
    case OX_RECORDING_COMPLETE: return "recording complete";
    case OX_RECORDING_ERROR_STOP: return "recording stopped on an error";
  }
  return Unlisted("recording event", static_cast<int>(id));
}

std::string ScanningEventName(Orvex::_OxScanningEventID id) {
  using namespace Orvex;
  switch (id) {
    case OX_SCANNING_START: return "scan started";
    case OX_SCANNING_COMPLETE: return "scan complete";
    case OX_SCANNING_CANCEL: return "scan cancelled";
    case OX_SCANNING_ERROR_STOP: return "scan stopped on an error";
  }
  return Unlisted("scan event", static_cast<int>(id));
}

std::string ScapturingEventName(Orvex::_OxScapturingEventID id) {
  using namespace Orvex;
  switch (id) {
    case OX_SCAPTURING_CREATE_FILE: return "file created";
    case OX_SCAPTURING_COMPLETE_SETUP: return "set up";
    case OX_SCAPTURING_COMPLETE: return "whole-tape capture complete";
    case OX_SCAPTURING_ERROR_STOP: return "whole-tape capture stopped on an error";
  }
  return Unlisted("whole-tape capture event", static_cast<int>(id));
}

std::string CapturingErrorName(Orvex::_OxCapturingErrorID error) {
  using namespace Orvex;
  switch (error) {
    case OX_CAPTURING_ERROR_NONE: return "no error";
    case OX_CAPTURING_ERROR_UNKNOWN: return "an error the camcorder did not name";
    case OX_CAPTURING_ERROR_DISK_FULL: return "the disk is full";
    case OX_CAPTURING_ERROR_FILE_WRITE: return "a capture file could not be written";
    case OX_CAPTURING_ERROR_DEVICE_REMOVED: return "the camcorder was removed";
    case OX_CAPTURING_ERROR_TAPE_EJECTED: return "the cassette was ejected";
    case OX_CAPTURING_ERROR_NO_STREAM: return "the camcorder sent no picture";
    case OX_CAPTURING_ERROR_DECK_STOPPED: return "the deck stopped under the capture";
  }
  return Unlisted("capture error", static_cast<int>(error));
}

std::string TimeCodeText(const Orvex::OxTimeCode& timeCode) {
  if (timeCode.IsNoTimeCode()) return "--:--:--:--";
  return zelto::platform::ToUtf8(timeCode.ToString().GetStdString());
}

std::string TapeCounterText(std::uint32_t track) {
  const std::uint32_t seconds = track / zelto::sim::kTracksPerSecond;
  char text[32];
  std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string PathText(const std::filesystem::path& path) { return zelto::platform::Utf8FromPath(path); }

}  // namespace zelto::app
