#include "zelto/scapture/MessagePumpingWait.h"

namespace zelto::scapture {

void WaitPumpingMessages(HANDLE handle) {
  bool quit = false;
  int quitCode = 0;
  for (;;) {
    const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
    if (result == WAIT_OBJECT_0) break;
    if (result != WAIT_OBJECT_0 + 1) {
      // The queue cannot be waited on: a plain wait is all that is left.
      WaitForSingleObject(handle, INFINITE);
      break;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (quit) PostQuitMessage(quitCode);
}

}  // namespace zelto::scapture
