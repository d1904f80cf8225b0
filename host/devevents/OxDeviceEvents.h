// Everything the host event library offers, in one include.
#pragma once

#include "host/devevents/EventNotifications.h"
#include "host/devevents/OxReadingMicEvent.h"
