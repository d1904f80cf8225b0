// On Windows the system's clock is the process clock; it cannot be scaled.
#include "platform/PlatformExtras.h"

namespace zelto::platform {

double TimeScale() { return 1.0; }

void SetTimeScaleForTesting(double) {}

}  // namespace zelto::platform
