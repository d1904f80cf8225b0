#include "zelto/deck/ZeltoEvent.h"

ZeltoEvent::ZeltoEvent(bool manualReset, bool initiallySignalled)
    : handle(CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, nullptr)) {}

ZeltoEvent::~ZeltoEvent() {
  if (handle) CloseHandle(handle);
}

BOOL ZeltoEvent::Set() { return SetEvent(handle); }

BOOL ZeltoEvent::Reset() { return ResetEvent(handle); }
