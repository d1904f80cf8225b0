// A single-threaded apartment as Windows keeps one, for the fake driver, so
// that the tests hold the library to the rules a driver that is not
// free-threaded imposes there:
// - a thread other than the owner that obtains a fake's interface (as
//   unmarshalling does) gets a proxy bound to that thread;
// - a proxy's calls run on the owner's thread, from its message queue, so
//   only while the owner dispatches messages; a call the owner leaves
//   unserved for the call limit is given up and counted;
// - a proxy called from any thread but its own answers RPC_E_WRONG_THREAD,
//   and is counted;
// - a proxy's last Release is a call to the owner as well.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "tests/device/DeviceTestSupport.h"

namespace scaptest {

class FakeApartment final : public devtest::Apartment {
public:
  // On the thread that is to own the apartment.
  explicit FakeApartment(std::chrono::milliseconds callLimit = std::chrono::seconds(10));
  ~FakeApartment();
  FakeApartment(const FakeApartment&) = delete;
  FakeApartment& operator=(const FakeApartment&) = delete;

  bool OnOwnerThread() const override { return GetCurrentThreadId() == owner; }
  HRESULT HandOutProxy(REFIID iid, IUnknown* object, void** out) override;

  // Runs `body` on the owner's thread: at once there, otherwise from its
  // queue, waiting at most the call limit.
  HRESULT Call(const std::function<HRESULT()>& body);
  // A proxy for `object` (whose reference it takes over) bound to `thread`.
  HRESULT Wrap(REFIID iid, IUnknown* object, DWORD thread, void** out);
  // Counts a call from a thread the proxy does not belong to.
  bool WrongThread(DWORD bound) {
    if (GetCurrentThreadId() == bound) return false;
    ++wrongThreadCalls;
    return true;
  }

  // Unmarshalling fails: another thread gets no interface at all.
  std::atomic<bool> refuseUnmarshal{false};
  std::atomic<int> wrongThreadCalls{0};
  std::atomic<int> unservedCalls{0};
  std::atomic<int> proxiesMade{0};
  std::atomic<int> liveProxies{0};

private:
  struct Task;
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  DWORD owner;
  std::chrono::milliseconds limit;
  HWND window = nullptr;
};

// Waits on the owner's thread, dispatching its messages, until `done` holds
// or the long wait is over; `wake` (may be null) is signalled whenever
// `done` may have changed.
bool PumpUntil(const std::function<bool()>& done, HANDLE wake);

}  // namespace scaptest
