// The length between two tape marks as a time code.
#pragma once

#include "host/foundation/OxDeviceTypes.h"
#include "host/foundation/OxTimeCode.h"

namespace zelto::cassette {

// Whole seconds only (frames 0); an end before the start wraps around in
// 32-bit milliseconds.
Orvex::OxTimeCode ItemDuration(const Orvex::_OxMarkPosition& start, const Orvex::_OxMarkPosition& end);

}  // namespace zelto::cassette
