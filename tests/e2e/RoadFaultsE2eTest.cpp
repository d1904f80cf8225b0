// Each road run through the library with every driver call it makes failing
// in turn. The table comes from the road itself: a clean run counts its
// calls of each method, then each call is failed once, and from then on.
// Whatever fails, the call that starts the road returns within its bound,
// the host hears one end and nothing after it, the device runs the road
// again cleanly, and once it is gone the driver holds no reference.
//
// The normal suite fails the first call of each method; with
// ZELTO_FULL_FAULT_SWEEP set, every call the clean run made.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "host/devevents/OxScanningEvent.h"
#include "tests/e2e/E2eSupport.h"

namespace {

using namespace Orvex;
using zelto::sim::FaultRepeat;
using zelto::sim::Method;
using zelto::sim::MethodName;
using ScanRecorder = e2e::Recorder<OxScanningEvent>;

// What a start call may take, however its driver calls fail.
constexpr auto kStartBound = std::chrono::seconds(5);

struct Fault {
  Method method;
  unsigned nth;
  FaultRepeat repeat;
};

std::string Describe(const Fault& f) {
  return std::string(MethodName(f.method)) + " call " + std::to_string(f.nth) +
         (f.repeat == FaultRepeat::Once ? ", once" : ", from then on");
}

bool FullSweep() { return std::getenv("ZELTO_FULL_FAULT_SWEEP") != nullptr; }

// Every method with the calls a clean run made of it: each call (the first
// alone in the reduced table), failed once and from then on.
std::vector<Fault> Table(const std::map<Method, unsigned>& calls, bool full) {
  std::vector<Fault> table;
  for (const auto& [method, count] : calls)
    for (unsigned nth = 1; nth <= (full ? count : std::min(count, 1u)); ++nth)
      for (FaultRepeat repeat : {FaultRepeat::Once, FaultRepeat::FromThenOn})
        table.push_back(Fault{method, nth, repeat});
  return table;
}

class RoadFaultsE2e : public e2e::CamcorderTest {
protected:
  RoadFaultsE2e() {
    config.camcorder.cassette = e2e::Tape(20, 8, {e2e::SceneAt(1, 3), e2e::SceneAt(5, 7), e2e::SceneAt(10, 12)});
    config.camcorder.cassette->text = "before";
    timeScale = 0.25;
  }
  void SetUp() override {
    e2e::CamcorderTest::SetUp();
    if (device) device->AddEventListener(&scanning);
  }
  void TearDown() override {
    if (device) device->RemoveEventListener(&scanning);
    e2e::CamcorderTest::TearDown();
  }

  // A road: the methods it may call, and one run of it. `clean` says no
  // fault is set; a run checks what it must, whatever failed.
  struct Road {
    std::vector<Method> methods;
    std::function<void(bool clean)> run;
  };

  // The clean run's table, each case run and then the road run clean on
  // the same device; the driver is audited with the device gone. The
  // number of cases, for the record.
  std::size_t Sweep(const Road& road) {
    std::map<Method, unsigned> before;
    for (Method m : road.methods) before[m] = Panel().CallCount(m);
    road.run(true);
    std::map<Method, unsigned> calls;
    for (Method m : road.methods)
      if (const unsigned n = Panel().CallCount(m) - before[m]; n > 0) calls[m] = n;
    EXPECT_FALSE(calls.empty()) << "the road calls none of its methods";
    const std::vector<Fault> table = Table(calls, FullSweep());
    for (const Fault& f : table) {
      SCOPED_TRACE(Describe(f));
      Panel().FailCall(f.method, f.nth, E_FAIL, f.repeat);
      road.run(false);
      Panel().ClearCallFaults();
      road.run(true);
      CloseAll();
      EXPECT_EQ(ClientReferences(), 0) << driver.Audit().Report();
      EXPECT_EQ(driver.Audit().OverReleases(), 0) << driver.Audit().Report();
      EXPECT_EQ(Panel().AdvisedWindows(), 0u);
      Open();
      device->AddEventListener(&scanning);
      if (::testing::Test::HasFatalFailure()) break;
    }
    std::printf("[ sweep    ] %zu cases (%s table)\n", table.size(), FullSweep() ? "full" : "reduced");
    return table.size();
  }

  template <typename F>
  static std::chrono::steady_clock::duration Timed(F&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::steady_clock::now() - start;
  }

  static bool IsEnd(const ScanRecorder::Entry& e) {
    return e.value.GetEventID() == OX_SCANNING_COMPLETE || e.value.GetEventID() == OX_SCANNING_ERROR_STOP;
  }

  ScanRecorder scanning;
};

// The host starts a scan and stops it once it has heard the end; a clean
// scan completes. Each end is the only one, and the last thing heard.
TEST_F(RoadFaultsE2e, AScanEndsOnceWhicheverCallFails) {
  std::size_t endsSoFar = 0;
  const Road road{{Method::StartScan, Method::StopScan, Method::SendCommand, Method::GetStatus},
                  [&](bool clean) {
                    const std::size_t from = scanning.Count();
                    for (std::size_t i = endsSoFar; i < from; ++i)
                      EXPECT_FALSE(IsEnd(scanning.Entries()[i])) << "an end heard after the last road's end";
                    EXPECT_LT(Timed([&] { device->StartScanning(); }), kStartBound);
                    const long end = scanning.WaitFor(from, IsEnd);
                    ASSERT_GE(end, 0) << "the scan never ended";
                    if (clean) {
                      EXPECT_EQ(scanning.Entries()[static_cast<std::size_t>(end)].value.GetEventID(),
                                OX_SCANNING_COMPLETE);
                    }
                    EXPECT_LT(Timed([&] { device->StopScanning(); }), kStartBound);
                    // The stop repeats the completion to the host itself; nothing else ends the scan.
                    std::size_t ends = 0;
                    const auto entries = scanning.Entries();
                    for (std::size_t i = from; i < entries.size(); ++i) ends += IsEnd(entries[i]) ? 1 : 0;
                    EXPECT_LE(ends, 2u);
                    endsSoFar = entries.size();
                  }};
  EXPECT_GT(Sweep(road), 0u);
}

}  // namespace
