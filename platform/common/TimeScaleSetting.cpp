// ZELTO_TIME_SCALE as text: read in one place, so that the clock and the
// command that refuses a wrong value agree on what is wrong.
#include "platform/PlatformExtras.h"

#include <cmath>
#include <cstdlib>

namespace zelto::platform {

std::optional<double> ParseTimeScale(const char* text) {
  if (text == nullptr || *text == '\0') return 1.0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0) return std::nullopt;
  return value;
}

std::string TimeScaleProblem() {
  const char* text = std::getenv("ZELTO_TIME_SCALE");
  if (ParseTimeScale(text)) return {};
  return std::string("ZELTO_TIME_SCALE is '") + text +
         "'; it takes a number above zero, the camcorder's clock against real time (0.01: a hundred "
         "times as fast; unset: 1)";
}

}  // namespace zelto::platform
