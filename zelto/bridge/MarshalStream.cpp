#include "zelto/bridge/MarshalStream.h"

MarshalStream::MarshalStream() : stream(nullptr), readyEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

// The stream is not released here: an unmarshal always releases it, and a
// stream left behind by a failed hand-over belongs to the next Marshal.
MarshalStream::~MarshalStream() {
  if (readyEvent) CloseHandle(readyEvent);
}

bool MarshalStream::Marshal(REFIID iid, IUnknown* object) {
  IStream* marshalled = nullptr;
  if (FAILED(CoMarshalInterThreadInterfaceInStream(iid, object, &marshalled))) return false;
  stream = marshalled;
  SetEvent(readyEvent);
  return true;
}

bool MarshalStream::Unmarshal(REFIID iid, void** out) {
  WaitForSingleObject(readyEvent, INFINITE);
  IStream* marshalled = stream;
  stream = nullptr;
  return SUCCEEDED(CoGetInterfaceAndReleaseStream(marshalled, iid, out));
}
