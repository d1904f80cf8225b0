// The model text of the camcorder the device library will choose: the first
// unit, over the driver's classes in their order, whose model text begins
// with "HXQ-ZL". The library does not report it, so the host asks the driver.
#pragma once

#include <string>

namespace zelto::app {

inline constexpr const char* kModelPrefix = "HXQ-ZL";

// UTF-8 model text, or empty when no driver answers or no unit matches.
// COM must be initialised on the calling thread.
std::string ProbeCamcorderModel();

}  // namespace zelto::app
