// One interface on its way from the thread that owns it to another thread:
// the owner marshals it into a stream and signals; the receiver waits and
// unmarshals, which releases the stream. Each Marshal serves one Unmarshal.
//
// A marshal that nobody unmarshals holds a reference to the interface (and,
// on Windows, keeps the object's stub in its owner's apartment). None is
// left behind: Discard releases one at once (the hand-over's failure paths
// call it on the owner's thread), a Marshal over one releases it first, and
// the destructor, which runs at library unload, releases whatever is still
// there.
#pragma once

#include <atomic>

#include "platform/com.h"

class MarshalStream {
public:
  MarshalStream();
  // Releases a marshal that was never unmarshalled, then closes the event.
  virtual ~MarshalStream();
  MarshalStream(const MarshalStream&) = delete;
  MarshalStream& operator=(const MarshalStream&) = delete;

  // On the owning thread. False leaves the ready event as it was.
  bool Marshal(REFIID iid, IUnknown* object);
  // On the receiving thread, inside its apartment; waits without time-out
  // for a Marshal.
  bool Unmarshal(REFIID iid, void** out);
  // On the owning thread: releases a marshal nobody is going to unmarshal
  // and takes back its signal. Does nothing when none is waiting.
  void Discard();
  // Whether a marshal is waiting for its Unmarshal.
  bool IsPending() const { return stream.load() != nullptr; }

private:
  static void release(IStream* marshalled);

  std::atomic<IStream*> stream;
  HANDLE readyEvent;
};
