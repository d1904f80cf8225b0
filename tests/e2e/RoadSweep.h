// The fault sweep over one road of the library, as a host drives it. The
// table comes from the road itself: a clean run counts its calls of each
// method, then each call is failed once, and from then on. After each case
// the road runs clean again on the same device, the device is closed, the
// driver must hold no reference and no window stays advised.
//
// The normal suite fails the first call of each method; with
// ZELTO_FULL_FAULT_SWEEP set, every call the clean run made.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/E2eSupport.h"

namespace e2e {

using zelto::sim::EventAction;
using zelto::sim::FaultRepeat;
using zelto::sim::Method;

// What a call that starts or ends a road may take, however its driver
// calls fail, beyond the waits it is written to make.
constexpr auto kCallBound = std::chrono::seconds(5);

struct CallFault {
  Method method;
  unsigned nth;
  FaultRepeat repeat;
};

inline std::string Describe(const CallFault& f) {
  return std::string(zelto::sim::MethodName(f.method)) + " call " + std::to_string(f.nth) +
         (f.repeat == FaultRepeat::Once ? ", once" : ", from then on");
}

inline bool FullSweep() { return std::getenv("ZELTO_FULL_FAULT_SWEEP") != nullptr; }

// Every method with the calls a clean run made of it: each call (the first
// alone in the reduced table), failed once and from then on.
inline std::vector<CallFault> CallTable(const std::map<Method, unsigned>& calls, bool full) {
  std::vector<CallFault> table;
  for (const auto& [method, count] : calls)
    for (unsigned nth = 1; nth <= (full ? count : std::min(count, 1u)); ++nth)
      for (FaultRepeat repeat : {FaultRepeat::Once, FaultRepeat::FromThenOn})
        table.push_back(CallFault{method, nth, repeat});
  return table;
}

// The camcorder taken away, or its cassette out, right after the nth event
// of a code that a clean run posted.
struct EventCase {
  DWORD code;
  unsigned nth;
};

inline std::string Describe(const EventCase& c, EventAction action) {
  return std::string(action == EventAction::Remove ? "removed" : "ejected") + " after event " +
         std::to_string(c.code) + " number " + std::to_string(c.nth);
}

// Every code the clean run posted: each of its events (the first and the
// last alone in the reduced table).
inline std::vector<EventCase> EventTable(const std::vector<DWORD>& log, bool full) {
  std::map<DWORD, unsigned> counts;
  for (DWORD code : log) ++counts[code];
  std::vector<EventCase> table;
  for (const auto& [code, count] : counts)
    for (unsigned nth = 1; nth <= count; ++nth)
      if (full || nth == 1 || nth == count) table.push_back(EventCase{code, nth});
  return table;
}

template <typename F>
std::chrono::steady_clock::duration Timed(F&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::steady_clock::now() - start;
}

inline std::vector<char> FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Waits on the host's thread, dispatching its messages (a driver kept in the
// host thread's apartment is served only so), until `done` holds or the
// limit is over; `wake` is signalled whenever `done` may have changed.
inline bool PumpUntil(const std::function<bool()>& done, HANDLE wake,
                      std::chrono::steady_clock::duration limit = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(1, &wake, FALSE, 200, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

class RoadSweepTest : public CamcorderTest {
protected:
  // Roads that ask for a clock faster than this are too slow to sweep at
  // real speed in the normal suite.
  static constexpr double kSlowestScaleAtRealSpeed = 0.1;
  bool listening = false;

  // A road: the methods it may call, and one run of it. `clean` says no
  // fault is set; a run checks what it must, whatever failed.
  struct Road {
    std::vector<Method> methods;
    std::function<void(bool clean)> run;
  };

  void SetUp() override {
    arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    heard.WakeOnEvent(arrived);
    CamcorderTest::SetUp();
    // A road whose own waits take minutes at real speed (Windows has no
    // sped-up clock) is swept there only when asked for in full.
    if (zelto::platform::TimeScale() > timeScale && timeScale < kSlowestScaleAtRealSpeed && !FullSweep())
      GTEST_SKIP() << "this road's waits run at real speed here; ZELTO_FULL_FAULT_SWEEP=1 sweeps it";
    if (device) {
      Listen();
      listening = true;
    }
  }
  void TearDown() override {
    if (device && listening) Unlisten();
    CamcorderTest::TearDown();
    heard.WakeOnEvent(nullptr);
    CloseHandle(arrived);
  }

  // The road's own listeners, on the device just opened, and off again.
  virtual void Listen() {}
  virtual void Unlisten() {}

  bool Await(const std::function<bool()>& done, std::chrono::steady_clock::duration limit = kPatience) {
    return PumpUntil(done, arrived, limit);
  }

  // The cassette put in afresh (the one in the camcorder taken out first),
  // standing where it begins. The library's deck takes its buttons once it
  // has heard the deck stopped; a camcorder taken away meanwhile never says
  // so, nor does a cassette taken out again at once (a sweep's case).
  void LoadCassette(const zelto::sim::Cassette& cassette) {
    if (Panel().Eject()) {
      ASSERT_TRUE(Await([&] { return !Panel().CurrentCassette(); }));
    }
    const std::size_t from = heard.Count();
    Panel().InsertCassette(cassette);
    ASSERT_TRUE(Await([&] {
      const auto entries = heard.Entries();
      for (std::size_t i = from; i < entries.size(); ++i)
        if (entries[i].value == Orvex::OX_NOTIFY_DEVICE_STATE && entries[i].thread != hostThread &&
            entries[i].note == DECK_STATE_STOP)
          return true;
      return Panel().Removed() || !Panel().CurrentCassette();
    })) << "the cassette never stood still";
  }

  // The clean run's table, each case run and then the road run clean on
  // the same device; the driver is audited with the device gone. The
  // number of cases, for the record.
  std::size_t Sweep(const Road& road) {
    const auto started = std::chrono::steady_clock::now();
    std::map<Method, unsigned> before;
    for (Method m : road.methods) before[m] = Panel().CallCount(m);
    road.run(true);
    std::map<Method, unsigned> calls;
    for (Method m : road.methods)
      if (const unsigned n = Panel().CallCount(m) - before[m]; n > 0) calls[m] = n;
    EXPECT_FALSE(calls.empty()) << "the road calls none of its methods";
    const std::vector<CallFault> table = CallTable(calls, FullSweep());
    for (const CallFault& f : table) {
      SCOPED_TRACE(Describe(f));
      Panel().FailCall(f.method, f.nth, E_FAIL, f.repeat);
      road.run(false);
      Panel().ClearCallFaults();
      road.run(true);
      if (!Reopen() || ::testing::Test::HasFatalFailure()) break;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[ sweep    ] %zu cases (%s table) in %.1f s\n", table.size(), FullSweep() ? "full" : "reduced",
                seconds);
    return table.size();
  }

  // The clean run's events, each case struck by `action` right after one of
  // them; then the camcorder is attached again, the device opened afresh
  // and the road run clean. The number of cases.
  std::size_t SweepEvents(const Road& road, EventAction action) {
    std::size_t cases = 0;
    SweepEventsInto(road, action, &cases);
    return cases;
  }
  void SweepEventsInto(const Road& road, EventAction action, std::size_t* cases) {
    const auto started = std::chrono::steady_clock::now();
    Panel().ClearPostedEventLog();
    road.run(true);
    const std::vector<EventCase> table = EventTable(Panel().PostedEventLog(), FullSweep());
    EXPECT_FALSE(table.empty()) << "the road posted no event";
    // An event the clean run posted as it was left (the deck settling) may
    // come after a faulted run is over, or not at all.
    std::size_t struck = 0;
    for (const EventCase& c : table) {
      SCOPED_TRACE(Describe(c, action));
      Panel().ActAfterEvent(c.code, c.nth, action);
      road.run(false);
      const bool taken = Panel().EventActionTaken();
      struck += taken ? 1 : 0;
      Panel().ClearEventAction();
      if (Panel().Removed()) Panel().ReconnectDevice();
      if (!Reopen() || ::testing::Test::HasFatalFailure()) break;
      // A cassette taken out is put back for the clean run, as a person
      // would, once it is out: while the deck ejects it, it is still there.
      if (taken && action == EventAction::Eject) {
        ASSERT_TRUE(Await([&] { return Panel().Mode() != zelto::sim::TransportMode::Ejecting; }))
            << "the cassette never came out";
      }
      if (!Panel().CurrentCassette() && config.camcorder.cassette) {
        ASSERT_NO_FATAL_FAILURE(LoadCassette(*config.camcorder.cassette));
      }
      road.run(true);
      if (!Reopen() || ::testing::Test::HasFatalFailure()) break;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[ sweep    ] %zu event cases (%s table), %zu struck, in %.1f s\n", table.size(),
                FullSweep() ? "full" : "reduced", struck, seconds);
    *cases = table.size();
  }

  // The disk full at points spread over what a clean run wrote: before its
  // first byte, at each quarter, and a packet short of all of it; then the
  // disk has room again and the road runs clean. The number of cases.
  std::size_t SweepDiskFull(const Road& road) {
    const auto started = std::chrono::steady_clock::now();
    constexpr std::uint64_t kMeasure = 1ull << 40;
    Panel().FillDiskAfter(kMeasure);
    road.run(true);
    const std::uint64_t written = kMeasure - Panel().DiskRoomLeft().value_or(kMeasure);
    Panel().ClearCaptureFaults();
    EXPECT_GT(written, zelto::sim::kPacketBytes) << "the clean run wrote nothing";
    if (written <= zelto::sim::kPacketBytes) return 0;
    const std::vector<std::uint64_t> table{0, written / 4, written / 2, written / 4 * 3,
                                           written - zelto::sim::kPacketBytes};
    for (const std::uint64_t room : table) {
      SCOPED_TRACE("the disk full after " + std::to_string(room) + " of " + std::to_string(written) + " bytes");
      Panel().FillDiskAfter(room);
      road.run(false);
      Panel().ClearCaptureFaults();
      road.run(true);
      if (!Reopen() || ::testing::Test::HasFatalFailure()) break;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[ sweep    ] %zu disk-full cases in %.1f s\n", table.size(), seconds);
    return table.size();
  }

  // Whether the disk filled in this run: a file then ends where it did.
  bool DiskFilled() { return Panel().DiskRoomLeft() == std::uint64_t{0}; }

  // Closes the device, audits the driver, and opens it again.
  bool Reopen() {
    Unlisten();
    CloseAll();
    EXPECT_EQ(ClientReferences(), 0) << driver.Audit().Report();
    EXPECT_EQ(driver.Audit().OverReleases(), 0) << driver.Audit().Report();
    EXPECT_EQ(Panel().AdvisedWindows(), 0u);
    Open();
    if (!device) return false;
    Listen();
    return true;
  }

  HANDLE arrived = nullptr;
};

}  // namespace e2e
