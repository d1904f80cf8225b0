// The COM subset the library and the simulated driver call. On Windows this is
// the system's COM; elsewhere it is ours (platform/posix/com_*.h).
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#  include <objbase.h>
#  include <unknwn.h>
#  include <objidl.h>
#  include "platform/windows/com_hooks.h"
#else
#  include "platform/posix/com_types.h"
#  include "platform/posix/com_api.h"
#endif
