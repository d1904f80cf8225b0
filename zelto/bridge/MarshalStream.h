// One interface on its way from the thread that owns it to another thread:
// the owner marshals it into a stream and signals; the receiver waits and
// unmarshals, which releases the stream. Each Marshal serves one Unmarshal.
#pragma once

#include "platform/com.h"

class MarshalStream {
public:
  MarshalStream();
  virtual ~MarshalStream();
  MarshalStream(const MarshalStream&) = delete;
  MarshalStream& operator=(const MarshalStream&) = delete;

  // On the owning thread. False leaves the ready event as it was.
  bool Marshal(REFIID iid, IUnknown* object);
  // On the receiving thread, inside its apartment; waits without time-out
  // for a Marshal.
  bool Unmarshal(REFIID iid, void** out);

private:
  IStream* stream;
  HANDLE readyEvent;
};
