// The words in which stream reports are written for a person, shared by
// every report that lists damaged stretches.
#pragma once

#include <cstdint>
#include <string>

#include "streamcheck/StreamReport.h"

namespace zelto::streamcheck {

// "1 packet", "3 packets".
std::string CountText(std::uint64_t n, const char* one, const char* many);
// Where a stretch lies: "bytes 1880-2067", or "at byte 1880" for a point.
std::string PlaceText(std::uint64_t firstByte, std::uint64_t endByte);
// What a stretch held: "3 packets lost, 1 packet flagged".
std::string StretchText(const DamagedStretch& stretch);

}  // namespace zelto::streamcheck
