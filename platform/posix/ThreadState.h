// Per-thread bookkeeping shared by the kernel and window halves (internal).
#pragma once

#include "platform/posix/win32_types.h"

namespace zelto::platform::detail {

// A fresh thread id, for a thread about to be started.
DWORD NewThreadId();
// Gives the calling thread the id chosen for it before it started.
void AdoptThreadId(DWORD id);

// Runs on a thread's way out, before its handle is signalled (or from a
// thread-local destructor for threads started by other means): destroys the
// thread's windows and retires its message queue. Safe to call twice.
void EndThreadMessaging();

}  // namespace zelto::platform::detail
