// Human-readable names of the values the device reports. Every function
// answers for any value, listed or not, so a newer driver never breaks the
// output: an unlisted value reads "<kind> <number>".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/devevents/OxCapturingEvent.h"
#include "host/devevents/OxRecordingEvent.h"
#include "host/devevents/OxScanningEvent.h"
#include "host/devevents/OxScapturingEvent.h"
#include "host/devevents/OxSceneSearchEvent.h"
#include "host/foundation/OxDeviceTypes.h"
#include "host/foundation/OxTimeCode.h"

namespace zelto::app {

std::string DeviceStateName(Orvex::_OxVideoDeviceState state);
std::string MediaInfoName(Orvex::_OxMediaInfo media);
std::string CamcorderModeName(Orvex::_OxCamcorderMode mode);
std::string AspectRatioName(Orvex::_OxAspectRatio ratio);
std::string NotificationName(Orvex::_OxVideoDeviceNotification notification);
std::string SceneSearchEventName(Orvex::_OxSceneSearchEventID id);
std::string RecordingEventName(Orvex::_OxRecordingEventID id);
std::string ScanningEventName(Orvex::_OxScanningEventID id);
std::string ScapturingEventName(Orvex::_OxScapturingEventID id);
// Why a capture stopped, as a phrase: "the disk is full".
std::string CapturingErrorName(Orvex::_OxCapturingErrorID error);
// A path as UTF-8 text, for output on every platform.
std::string PathText(const std::filesystem::path& path);
// "HH:MM:SS:FF", or "--:--:--:--" where the tape carries no time code.
std::string TimeCodeText(const Orvex::OxTimeCode& timeCode);
// The tape counter at an absolute track number: time from the start of the
// tape, "H:MM:SS".
std::string TapeCounterText(std::uint32_t track);

}  // namespace zelto::app
