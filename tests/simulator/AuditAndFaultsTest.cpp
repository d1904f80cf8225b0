// The reference audit and the call faults, and calls from two threads at
// once while the camcorder's own thread posts events.
#include <atomic>
#include <thread>

#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

class AuditAndFaults : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    ASSERT_EQ(driver.Register(QuickConfig()), S_OK);
    ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
  }
  void TearDown() override {
    deck.Reset();
    control.Reset();
    driver.Unregister();
    ComTest::TearDown();
  }
  SimulatedDriver driver;
  Ref<ISmartControl> control;
  Ref<IDeckControl> deck;
};

}  // namespace

TEST_F(AuditAndFaults, AuditCountsEveryKindAndCatchesLeaksAndOverReleases) {
  const ReferenceAudit& audit = driver.Audit();
  EXPECT_EQ(audit.Of(ObjectKind::ClassFactory).liveReferences, 2) << "enumerator class and one driver class";
  EXPECT_EQ(audit.Of(ObjectKind::SmartControl).liveReferences, 2);
  EXPECT_EQ(audit.Of(ObjectKind::Unit).liveObjects, 0) << "the walk released its unit";
  EXPECT_EQ(audit.Of(ObjectKind::ClassEnumerator).created, 1);
  // The deck reference is "forgotten": the audit shows exactly it.
  control.Reset();
  driver.Unregister();
  EXPECT_EQ(audit.LiveReferences(), 1);
  EXPECT_NE(audit.Report().find("smart control: 1 live"), std::string::npos) << audit.Report();
  IDeckControl* last = deck.p;
  deck.p = nullptr;
  EXPECT_EQ(last->Release(), 0u);
  EXPECT_EQ(audit.LiveReferences(), 0);
  EXPECT_EQ(audit.LiveObjects(), 0);
  EXPECT_EQ(audit.Report(), "");
  // Released once too often, then revived: recorded, not a crash.
  EXPECT_EQ(last->Release(), 0u);
  EXPECT_EQ(last->AddRef(), 0u);
  EXPECT_EQ(audit.Of(ObjectKind::SmartControl).overReleases, 2);
  EXPECT_NE(audit.Report().find("over-release"), std::string::npos);
}

TEST_F(AuditAndFaults, NthCallFailsOnceOrFromThenOn) {
  Camcorder& panel = driver.Panel();
  const unsigned before = panel.CallCount(Method::GetStatus);
  panel.FailCall(Method::GetStatus, 2, E_UNEXPECTED);
  DWORD value = 0;
  EXPECT_EQ(deck->GetStatus(DECK_STATUS_DECK_STATE, &value), S_OK);
  EXPECT_EQ(deck->GetStatus(DECK_STATUS_DECK_STATE, &value), E_UNEXPECTED);
  EXPECT_EQ(deck->GetStatus(DECK_STATUS_DECK_STATE, &value), S_OK) << "once only";
  EXPECT_EQ(panel.CallCount(Method::GetStatus), before + 3);

  panel.FailCall(Method::SendCommand, 1, E_ABORT, FaultRepeat::FromThenOn);
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), E_ABORT);
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), E_ABORT);
  EXPECT_EQ(panel.Mode(), TransportMode::Stop) << "a failed call does nothing";
  panel.ClearCallFaults();
  EXPECT_EQ(deck->SendCommand(DECK_COMMAND_PLAY), S_OK);

  // Every failure clears the out-parameter.
  panel.FailCall(Method::QueryDeckControl, 1, E_NOINTERFACE);
  Ref<IDeckControl> refused;
  EXPECT_EQ(control->QueryInterface(IID_IDeckControl, refused.OutVoid()), E_NOINTERFACE);
  EXPECT_EQ(refused.p, nullptr);
  panel.FailCall(Method::CreateClassEnumerator, 1, E_OUTOFMEMORY);
  EXPECT_TRUE(ListUnits().empty());
  panel.FailCall(Method::QueryUnitProperties, 1, E_FAIL);
  EXPECT_EQ(ListUnits(), (std::vector<std::wstring>{L"?"}));
  panel.FailCall(Method::NextUnit, 1, E_FAIL);
  EXPECT_TRUE(ListUnits().empty());
  panel.FailCall(Method::BindToObject, 1, E_ACCESSDENIED);
  Ref<ISmartControl> none;
  EXPECT_EQ(BindFirstUnit(none.Out()), E_ACCESSDENIED);
  EXPECT_EQ(none.p, nullptr);
  EXPECT_EQ(ListUnits().size(), 1u);
  EXPECT_EQ(driver.Audit().OverReleases(), 0);
}

TEST_F(AuditAndFaults, HostAndWorkerThreadsCallWhileEventsArePosted) {
  EventWindow events;
  DWORD cookie = 0;
  ASSERT_EQ(control->AdviseWindow(events.Handle(), &cookie), S_OK);
  // The worker gets the control as a client would: marshalled to its thread.
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_ISmartControl, control.p, &stream), S_OK);
  std::atomic<int> failures{0};
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IDeckControl* mine = nullptr;
    if (FAILED(CoGetInterfaceAndReleaseStream(stream, IID_IDeckControl, reinterpret_cast<void**>(&mine)))) {
      ++failures;
    } else {
      while (!stop.load()) {
        DWORD value = 0;
        TimeCode tc{};
        if (FAILED(mine->GetStatus(DECK_STATUS_DECK_STATE, &value)) || value > DECK_STATE_STALLED) ++failures;
        if (FAILED(mine->GetTimeCode(&tc))) ++failures;
      }
      mine->Release();
    }
    CoUninitialize();
  });
  for (int round = 0; round < 20 && !HasFailure(); ++round) {  // no early return: the worker must be joined
    const std::size_t from = events.Count();
    const bool odd = round % 2;
    EXPECT_EQ(deck->SendCommand(odd ? DECK_COMMAND_FAST_FORWARD : DECK_COMMAND_PLAY_FASTEST_REVERSE), S_OK);
    EXPECT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE,
                               odd ? DECK_STATE_FAST_FORWARD : DECK_STATE_PLAY_FASTEST_REVERSE, from));
  }
  stop = true;
  worker.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(control->UnadviseWindow(cookie), S_OK);
  deck.Reset();
  control.Reset();
  EXPECT_EQ(driver.Audit().Of(ObjectKind::SmartControl).liveReferences, 0) << driver.Audit().Report();
}
