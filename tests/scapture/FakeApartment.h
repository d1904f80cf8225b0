// The fake driver's objects kept in an apartment as Windows keeps a driver
// that is not free-threaded: the simulator's apartment (its proxies, the
// owner's queue, the counted breaches of the rules), handed out whenever a
// thread other than the owner obtains a fake's interface, as unmarshalling
// does.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "simulator/Apartment.h"
#include "tests/device/DeviceTestSupport.h"

namespace scaptest {

class FakeApartment final : public devtest::Apartment {
public:
  // On the thread that is to own the apartment.
  explicit FakeApartment(std::chrono::milliseconds callLimit = std::chrono::seconds(10))
      : core(zelto::sim::Apartment::Make(callLimit)) {}
  ~FakeApartment() { core->Close(); }
  FakeApartment(const FakeApartment&) = delete;
  FakeApartment& operator=(const FakeApartment&) = delete;

  bool OnOwnerThread() const override { return core->OnOwnerThread(); }
  HRESULT HandOutProxy(REFIID iid, IUnknown* object, void** out) override;

  // Unmarshalling fails: another thread gets no interface at all.
  std::atomic<bool> refuseUnmarshal{false};

  std::shared_ptr<zelto::sim::Apartment> core;
  std::atomic<int>& wrongThreadCalls = core->counters.wrongThreadCalls;
  std::atomic<int>& unservedCalls = core->counters.unservedCalls;
  std::atomic<int>& proxiesMade = core->counters.proxiesMade;
  std::atomic<int>& liveProxies = core->counters.liveProxies;
};

// Waits on the owner's thread, dispatching its messages, until `done` holds
// or the long wait is over; `wake` (may be null) is signalled whenever
// `done` may have changed.
bool PumpUntil(const std::function<bool()>& done, HANDLE wake);

}  // namespace scaptest
