#pragma once

#include "host/devevents/EventNotifications.h"
