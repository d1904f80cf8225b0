#pragma once

#include "host/foundation/OxGeometry.h"
