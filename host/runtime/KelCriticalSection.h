#pragma once

#include "host/runtime/KelMutex.h"
