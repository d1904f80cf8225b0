#include "zelto/bridge/MarshalStream.h"

MarshalStream::MarshalStream() : stream(nullptr), readyEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

MarshalStream::~MarshalStream() {
  release(stream.exchange(nullptr));
  if (readyEvent) CloseHandle(readyEvent);
}

bool MarshalStream::Marshal(REFIID iid, IUnknown* object) {
  IStream* marshalled = nullptr;
  if (FAILED(CoMarshalInterThreadInterfaceInStream(iid, object, &marshalled))) return false;
  release(stream.exchange(marshalled));
  SetEvent(readyEvent);
  return true;
}

bool MarshalStream::Unmarshal(REFIID iid, void** out) {
  WaitForSingleObject(readyEvent, INFINITE);
  IStream* marshalled = stream.exchange(nullptr);
  if (!marshalled) return false;
  return SUCCEEDED(CoGetInterfaceAndReleaseStream(marshalled, iid, out));
}

void MarshalStream::Discard() {
  IStream* marshalled = stream.exchange(nullptr);
  if (!marshalled) return;
  ResetEvent(readyEvent);
  release(marshalled);
}

// The marshalled reference first (it needs the stream's data), then the
// stream itself. Where COM has already let the owner's apartment go, the
// first call fails and only the stream's memory is returned.
void MarshalStream::release(IStream* marshalled) {
  if (!marshalled) return;
  LARGE_INTEGER start{};
  marshalled->Seek(start, STREAM_SEEK_SET, nullptr);
  CoReleaseMarshalData(marshalled);
  marshalled->Release();
}
