// Shared between the POSIX COM sources; not part of the platform API.
#pragma once

#include <cstdint>

#include "platform/posix/com_types.h"

namespace zelto::platform::com {

// The apartment of the calling thread: its own for a single-threaded one, the
// process's multi-threaded apartment when it joined it or when it never
// initialised COM while that apartment exists; 0 when there is none.
std::uint64_t CurrentApartment();

// A new empty memory stream holding one reference, or null when out of memory.
IStream* NewMemoryStream();

}  // namespace zelto::platform::com
