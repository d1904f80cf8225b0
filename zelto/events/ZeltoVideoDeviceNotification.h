// The device's own event source: what changed on the device, as an
// _OxVideoDeviceNotification value.
#pragma once

#include "host/foundation/OxDeviceTypes.h"
#include "host/kel/KelSafeEventSource.h"

class ZeltoVideoDeviceNotification : public KelSafeEventSource<Orvex::_OxVideoDeviceNotification> {};
