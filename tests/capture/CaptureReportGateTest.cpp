// Which capture a driver's report belongs to, and the end's wait for a
// report being told.
#include "zelto/capture/CaptureReportGate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

using zelto::capture::CaptureReportGate;

namespace {

constexpr auto kLong = std::chrono::seconds(20);

// A telling of the gate's current capture, held open on a thread of its own
// until Release.
class TellingElsewhere {
 public:
  explicit TellingElsewhere(const std::shared_ptr<CaptureReportGate>& gate)
      : teller(std::async(std::launch::async, [this, gate, capture = gate->Current()] {
          const CaptureReportGate::Telling telling = CaptureReportGate::Open(gate, capture);
          opened.set_value();
          release.get_future().wait_for(kLong);
        })) {}
  ~TellingElsewhere() { Release(); }
  bool Opened() { return opened.get_future().wait_for(kLong) == std::future_status::ready; }
  void Release() {
    if (released) return;
    released = true;
    release.set_value();
    teller.get();
  }

 private:
  std::promise<void> opened, release;
  bool released = false;
  std::future<void> teller;
};

TEST(CaptureReportGateTest, AReportIsToldOnlyWhileItsCaptureLasts) {
  const auto gate = std::make_shared<CaptureReportGate>();
  gate->Change(2);
  const CaptureReportGate::Capture first = gate->Current();
  EXPECT_TRUE(CaptureReportGate::Open(gate, first));

  gate->Change(2);  // the same mode again: another capture
  EXPECT_FALSE(CaptureReportGate::Open(gate, first));
  const CaptureReportGate::Capture second = gate->Current();
  gate->Renew(1);  // not the mode there is: nothing changes
  EXPECT_TRUE(CaptureReportGate::Open(gate, second));
  gate->Renew(2);
  EXPECT_FALSE(CaptureReportGate::Open(gate, second));
  EXPECT_EQ(gate->Mode(), 2);
}

// A report arriving belongs to the capture last witnessed through the
// window; where an announcement could not be posted, to the current one.
TEST(CaptureReportGateTest, AReportArrivingBelongsToTheCaptureLastAnnouncedBeforeIt) {
  const auto gate = std::make_shared<CaptureReportGate>();
  std::vector<std::uint64_t> announced;
  bool queueFull = false;
  gate->SetHerald([&](CaptureReportGate::Capture capture) {
    if (queueFull) return false;
    announced.push_back(capture.number);
    return true;
  });
  gate->Change(2);
  const CaptureReportGate::Capture first = gate->Current();
  gate->Witness(first);
  gate->Change(3);
  const CaptureReportGate::Capture second = gate->Current();
  EXPECT_EQ(announced, (std::vector<std::uint64_t>{first.number, second.number}));
  EXPECT_FALSE(gate->IsCurrent(gate->OfArrival())) << "queued before the second's announcement";
  gate->Witness(second);
  EXPECT_TRUE(gate->IsCurrent(gate->OfArrival()));

  queueFull = true;
  gate->Change(2);
  EXPECT_TRUE(gate->IsCurrent(gate->OfArrival())) << "unannounced: every report would be lost";
  queueFull = false;
  gate->Renew(2);
  EXPECT_FALSE(gate->IsCurrent(gate->OfArrival()));
  gate->Witness(gate->Current());
  EXPECT_TRUE(gate->IsCurrent(gate->OfArrival()));
}

TEST(CaptureReportGateTest, AnEndWaitsForATellingOnAnotherThreadButNotForItsOwn) {
  const auto gate = std::make_shared<CaptureReportGate>();
  gate->Change(2);
  TellingElsewhere teller(gate);
  ASSERT_TRUE(teller.Opened());
  std::future<void> end = std::async(std::launch::async, [&] { gate->Change(0); });
  EXPECT_EQ(end.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  teller.Release();
  EXPECT_EQ(end.wait_for(kLong), std::future_status::ready);

  // A listener that ends the capture from inside its own telling.
  gate->Change(2);
  const auto started = std::chrono::steady_clock::now();
  {
    const CaptureReportGate::Telling telling = CaptureReportGate::Open(gate, gate->Current());
    ASSERT_TRUE(telling);
    gate->Change(0);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, CaptureReportGate::kTellingWait / 2);
}

// A telling that never closes delays the end by a bounded wait, no more.
TEST(CaptureReportGateTest, AnEndWaitsForAStuckTellingOnlySoLong) {
  const auto gate = std::make_shared<CaptureReportGate>();
  gate->Change(2);
  TellingElsewhere teller(gate);
  ASSERT_TRUE(teller.Opened());
  const auto started = std::chrono::steady_clock::now();
  gate->Change(0);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, CaptureReportGate::kTellingWait - std::chrono::milliseconds(50));
  EXPECT_LT(waited, kLong);
}

}  // namespace
