// A tape time code: hours, minutes, seconds, frames, and the frame rate they
// count in (0 when unknown).
//
// A time code built empty or from the driver's record has an unknown frame
// rate; Reset takes the rate from the host settings (25 when the application's
// video system is non-zero, else 30). Comparison orders by the four fields
// and ignores the frame rate and the no-time-code mark.
#pragma once

#include <compare>

#include "host/foundation/OxString.h"
#include "host/foundation/TimeCodeRecord.h"

namespace Orvex {

class OxTimeCode {
public:
  OxTimeCode();
  OxTimeCode(const OxTimeCode& other);
  // Takes the four fields as they stand and the record's no-time-code mark.
  explicit OxTimeCode(const __MIDL___MIDL_itf_plgdefs_0000_0001& record);
  virtual ~OxTimeCode();
  OxTimeCode& operator=(const OxTimeCode& other);

  // 00:00:00:00 in the application's frame rate.
  void Reset();
  // 00:00:00:00, frame rate unknown.
  void ResetNoFrameRate();
  // Copies every field, frame rate and mark included.
  void SetTimeCode(const OxTimeCode& other);
  // From exactly eight digits HHMMSSFF. Minutes and seconds must be below 60
  // and, when the frame rate is known, frames below it. On success the
  // no-time-code mark is cleared; on failure nothing changes.
  bool SetTimeCode(const wchar_t* hhmmssff);

  int GetHours() const { return hours; }
  int GetMinutes() const { return minutes; }
  int GetSeconds() const { return seconds; }
  int GetFrames() const { return frames; }
  int GetFrameRate() const { return frameRate; }
  // Whether the record this came from said the tape had no time code.
  bool IsNoTimeCode() const { return noTimeCode; }

  // "HH:MM:SS:FF".
  OxString ToString() const;

  bool operator==(const OxTimeCode& other) const;
  std::strong_ordering operator<=>(const OxTimeCode& other) const;

private:
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  int frames = 0;
  int frameRate = 0;
  bool noTimeCode = false;
};

}  // namespace Orvex
