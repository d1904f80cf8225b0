// A single-threaded apartment as Windows keeps one for objects that are not
// free-threaded:
// - another thread reaches an object only through a proxy, bound to the
//   thread that unmarshalled it (or was handed it);
// - a proxy's calls run on the owner's thread, from its message queue, so
//   only while the owner dispatches messages; a call left unserved for the
//   call limit is given up (RPC_E_SERVERCALL_RETRYLATER) and counted, so a
//   deadlock shows as a failure instead of a hang;
// - a proxy called from any thread but its own answers RPC_E_WRONG_THREAD,
//   and is counted;
// - a proxy's last Release is a call to the owner as well;
// - once the owner's thread has ended, calls answer RPC_E_DISCONNECTED.
// Proxies exist for the interfaces another thread needs for a whole-cassette
// capture (smart control, deck control, stream receive); any other is
// refused with E_NOINTERFACE, as COM refuses an interface without a
// registered proxy.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/com.h"
#include "platform/win32.h"

namespace zelto::sim {

struct ApartmentCounters {
  std::atomic<int> wrongThreadCalls{0};
  std::atomic<int> unservedCalls{0};
  std::atomic<int> proxiesMade{0};
  std::atomic<int> liveProxies{0};
};

class Apartment : public std::enable_shared_from_this<Apartment> {
 public:
  static constexpr std::chrono::milliseconds kDefaultCallLimit{20000};

  // On the thread that is to own the apartment; Close there too.
  static std::shared_ptr<Apartment> Make(std::chrono::milliseconds callLimit = kDefaultCallLimit);
  // The calling thread's apartment, made on first use and closed when the
  // thread ends.
  static std::shared_ptr<Apartment> OfThisThread();
  // Every apartment's counters together.
  static const ApartmentCounters& Totals();

  ~Apartment();
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

  DWORD Owner() const { return owner_; }
  bool OnOwnerThread() const { return GetCurrentThreadId() == owner_; }
  // On the owner's thread: calls still queued and calls to come answer
  // RPC_E_DISCONNECTED.
  void Close();

  // Runs `body` on the owner's thread: at once there, otherwise from its
  // queue, waiting at most the call limit.
  HRESULT Call(const std::function<HRESULT()>& body);
  // A proxy for `object` (whose reference it takes over) bound to `thread`;
  // a thread of 0 binds it to the first thread other than the owner that
  // uses it (the one that unmarshals it, see NewApartmentMarshaler).
  HRESULT Wrap(REFIID iid, IUnknown* object, DWORD thread, void** out);
  // Releases a reference to an object of the apartment on its owner's
  // thread (or here, once the owner is gone).
  void ReleaseOnOwner(IUnknown* object);
  // Counts a call from a thread the proxy does not belong to.
  bool WrongThread(DWORD bound);

  ApartmentCounters counters;

 private:
  struct Task;
  explicit Apartment(std::chrono::milliseconds callLimit);
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  DWORD owner_;
  std::chrono::milliseconds limit_;
  std::atomic<HWND> window_{nullptr};
};

// The IMarshal of an object that lives in `apartment`, aggregated into
// `outer`: marshalling hands the other thread a proxy rather than the
// object. It rides on the free-threaded marshaller, which carries the proxy
// itself; the proxy binds to the thread that unmarshals it. Returns the
// inner IUnknown with one reference, or null.
IUnknown* NewApartmentMarshaler(IUnknown* outer, std::shared_ptr<Apartment> apartment);

}  // namespace zelto::sim
