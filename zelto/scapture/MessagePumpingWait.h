// Waiting on the host's thread for a thread whose driver calls run there.
//
// On Windows the auto-capturing thread reaches a driver that is not
// free-threaded through proxies, and each proxy call is carried out on the
// host's thread, from that thread's message queue. A host thread that waits
// for the worker without dispatching its messages would wait for ever: the
// worker's abort, deck stop and final releases could not run. So the host's
// waits for the worker dispatch messages while they wait, as COM's own
// modal loop does; a host whose window procedures call into the device must
// expect to be re-entered from such a wait.
#pragma once

#include "platform/win32.h"

namespace zelto::scapture {

// Waits without time-out until `handle` is signalled, dispatching the
// calling thread's messages meanwhile. A WM_QUIT taken from the queue is
// posted again once the wait is over, so that the host's own loop still
// sees it.
void WaitPumpingMessages(HANDLE handle);

}  // namespace zelto::scapture
