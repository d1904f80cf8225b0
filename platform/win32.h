// The Win32 subset the library calls. On Windows these are the system's own;
// elsewhere they are ours, with the same semantics (see platform/posix/).
#pragma once

#ifdef _WIN32
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#  include <process.h>
#else
#  include "platform/posix/win32_types.h"
#  include "platform/posix/kernel.h"
#  include "platform/posix/user.h"
#endif

#include "platform/PlatformExtras.h"
