#include "zelto/cassette/ItemDuration.h"

#include <cstdint>

using namespace Orvex;

namespace zelto::cassette {

OxTimeCode ItemDuration(const _OxMarkPosition& start, const _OxMarkPosition& end) {
  // Positions are hundredths of a second.
  const std::uint32_t d = end.positionTime * 10u - start.positionTime * 10u;
  const std::uint32_t hours = d / 3600000u;
  const std::uint32_t minutes = (d % 3600000u) / 60000u;
  const std::uint32_t seconds = (d % 60000u) / 1000u;
  OxString digits;
  digits.Format(L"%02d%02d%02d%02d", static_cast<int>(hours), static_cast<int>(minutes),
                static_cast<int>(seconds), 0);
  OxTimeCode timeCode;
  timeCode.SetTimeCode(digits.GetString());
  return timeCode;
}

}  // namespace zelto::cassette
