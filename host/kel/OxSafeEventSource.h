// The host's name for a safe event source; it adds nothing.
#pragma once

#include "host/kel/KelSafeEventSource.h"

namespace Orvex {

template <typename T>
class OxSafeEventSource : public KelSafeEventSource<T> {
public:
  OxSafeEventSource() = default;
  OxSafeEventSource(const OxSafeEventSource&) = default;
  OxSafeEventSource& operator=(const OxSafeEventSource&) = default;
  ~OxSafeEventSource() override = default;
};

}  // namespace Orvex
