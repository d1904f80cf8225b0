#include "host/devevents/OxReadingMicEvent.h"
