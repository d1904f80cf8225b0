#include "host/foundation/OxTimeCode.h"

#include "host/foundation/OxUnique.h"

namespace Orvex {

OxTimeCode::OxTimeCode() = default;
OxTimeCode::OxTimeCode(const OxTimeCode& other) = default;
OxTimeCode::OxTimeCode(const __MIDL___MIDL_itf_plgdefs_0000_0001& record)
    : hours(record.hours),
      minutes(record.minutes),
      seconds(record.seconds),
      frames(record.frames),
      noTimeCode((record.flags & kTimeCodeRecordNoTimeCode) != 0) {}
OxTimeCode::~OxTimeCode() = default;
OxTimeCode& OxTimeCode::operator=(const OxTimeCode& other) = default;

void OxTimeCode::Reset() {
  ResetNoFrameRate();
  frameRate = OxUnique::GetInstance().GetAppVideoSystem() != 0 ? 25 : 30;
}

void OxTimeCode::ResetNoFrameRate() { *this = OxTimeCode(); }

void OxTimeCode::SetTimeCode(const OxTimeCode& other) { *this = other; }

bool OxTimeCode::SetTimeCode(const wchar_t* text) {
  if (!text) return false;
  int digits[8];
  for (int i = 0; i < 8; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    digits[i] = text[i] - L'0';
  }
  if (text[8] != 0) return false;
  const int h = digits[0] * 10 + digits[1];
  const int m = digits[2] * 10 + digits[3];
  const int s = digits[4] * 10 + digits[5];
  const int f = digits[6] * 10 + digits[7];
  if (m >= 60 || s >= 60) return false;
  if (frameRate > 0 && f >= frameRate) return false;
  hours = h;
  minutes = m;
  seconds = s;
  frames = f;
  noTimeCode = false;
  return true;
}

OxString OxTimeCode::ToString() const {
  OxString out;
  out.Format(L"%02d:%02d:%02d:%02d", hours, minutes, seconds, frames);
  return out;
}

bool OxTimeCode::operator==(const OxTimeCode& other) const { return (*this <=> other) == 0; }

std::strong_ordering OxTimeCode::operator<=>(const OxTimeCode& other) const {
  if (auto c = hours <=> other.hours; c != 0) return c;
  if (auto c = minutes <=> other.minutes; c != 0) return c;
  if (auto c = seconds <=> other.seconds; c != 0) return c;
  return frames <=> other.frames;
}

}  // namespace Orvex
