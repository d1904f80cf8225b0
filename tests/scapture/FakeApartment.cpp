#include "tests/scapture/FakeApartment.h"

namespace scaptest {

HRESULT FakeApartment::HandOutProxy(REFIID iid, IUnknown* object, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (refuseUnmarshal.load()) return E_NOINTERFACE;
  object->AddRef();
  return core->Wrap(iid, object, GetCurrentThreadId(), out);
}

bool PumpUntil(const std::function<bool()>& done, HANDLE wake) {
  const auto deadline = std::chrono::steady_clock::now() + devtest::kLongWait;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(wake ? 1 : 0, wake ? &wake : nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

}  // namespace scaptest
