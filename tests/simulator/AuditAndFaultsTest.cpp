// The reference audit and the call faults, and calls from two threads at
// once while the camcorder's own thread posts events.
#include <atomic>

#include "tests/simulator/SimTestSupport.h"

using namespace zelto::sim;
using namespace sim_test;

namespace {

class AuditAndFaults : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    ASSERT_EQ(driver.Register(QuickConfig()), S_OK);
  }
  void TearDown() override {
    driver.Unregister();
    ComTest::TearDown();
  }
  SimulatedDriver driver;
};

}  // namespace

TEST_F(AuditAndFaults, AuditCountsEveryKindAndCatchesALeak) {
  const auto registered = driver.Audit().Of(ObjectKind::ClassFactory);
  EXPECT_EQ(registered.liveReferences, 2) << "enumerator class and one driver class, held by COM";
  ISmartControl* control = nullptr;
  ASSERT_EQ(BindFirstUnit(&control), S_OK);
  IDeckControl* deck = nullptr;
  ASSERT_EQ(control->QueryInterface(IID_IDeckControl, reinterpret_cast<void**>(&deck)), S_OK);
  EXPECT_EQ(driver.Audit().Of(ObjectKind::SmartControl).liveReferences, 2);
  EXPECT_EQ(driver.Audit().Of(ObjectKind::Unit).liveObjects, 0) << "the walk released its unit";
  EXPECT_EQ(driver.Audit().Of(ObjectKind::ClassEnumerator).created, 1);
  control->Release();
  // The deck reference is "forgotten": the audit shows exactly it.
  driver.Unregister();
  EXPECT_EQ(driver.Audit().LiveReferences(), 1);
  EXPECT_EQ(driver.Audit().Of(ObjectKind::SmartControl).liveReferences, 1);
  EXPECT_NE(driver.Audit().Report().find("smart control: 1 live"), std::string::npos) << driver.Audit().Report();
  deck->Release();
  EXPECT_EQ(driver.Audit().LiveReferences(), 0);
  EXPECT_EQ(driver.Audit().LiveObjects(), 0);
  EXPECT_EQ(driver.Audit().Report(), "");
}

TEST_F(AuditAndFaults, OverReleaseIsRecordedNotACrash) {
  ISmartControl* control = nullptr;
  ASSERT_EQ(BindFirstUnit(&control), S_OK);
  EXPECT_EQ(control->Release(), 0u);
  EXPECT_EQ(driver.Audit().OverReleases(), 0);
  EXPECT_EQ(control->Release(), 0u);  // once too often
  EXPECT_EQ(control->AddRef(), 0u);   // and revived
  EXPECT_EQ(driver.Audit().Of(ObjectKind::SmartControl).overReleases, 2);
  EXPECT_EQ(driver.Audit().LiveReferences(), 2) << "only the registered class objects";
  EXPECT_NE(driver.Audit().Report().find("over-release"), std::string::npos);
}

TEST_F(AuditAndFaults, NthCallFailsOnceOrFromThenOn) {
  ISmartControl* raw = nullptr;
  ASSERT_EQ(BindFirstUnit(&raw), S_OK);
  Ref<ISmartControl> control;
  control.p = raw;
  Ref<IDeckControl> deck;
  ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
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
  deck->SendCommand(DECK_COMMAND_STOP);

  panel.FailCall(Method::QueryDeckControl, 1, E_NOINTERFACE);
  Ref<IDeckControl> refused;
  EXPECT_EQ(control->QueryInterface(IID_IDeckControl, refused.OutVoid()), E_NOINTERFACE);
  EXPECT_EQ(refused.p, nullptr);

  // Discovery methods fail the same way, out-parameters cleared.
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
  deck.Reset();
  control.Reset();
  EXPECT_EQ(driver.Audit().OverReleases(), 0);
}

TEST_F(AuditAndFaults, HostAndWorkerThreadsCallWhileEventsArePosted) {
  EventWindow events;
  Ref<ISmartControl> control;
  ASSERT_EQ(BindFirstUnit(control.Out()), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(control->AdviseWindow(events.Handle(), &cookie), S_OK);
  // The worker gets the control as a client would: marshalled to its thread.
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_ISmartControl, control.p, &stream), S_OK);
  std::atomic<int> workerFailures{0};
  std::atomic<bool> stop{false};
  struct Work {
    IStream* stream;
    std::atomic<int>* failures;
    std::atomic<bool>* stop;
  } work{stream, &workerFailures, &stop};
  HANDLE worker = reinterpret_cast<HANDLE>(_beginthreadex(
      nullptr, 0,
      [](void* raw) -> unsigned {
        auto* w = static_cast<Work*>(raw);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        IDeckControl* deck = nullptr;
        if (FAILED(CoGetInterfaceAndReleaseStream(w->stream, IID_IDeckControl, reinterpret_cast<void**>(&deck)))) {
          ++*w->failures;
        } else {
          while (!w->stop->load()) {
            DWORD value = 0;
            __MIDL___MIDL_itf_plgdefs_0000_0001 tc{};
            if (FAILED(deck->GetStatus(DECK_STATUS_DECK_STATE, &value)) || value > DECK_STATE_STALLED)
              ++*w->failures;
            if (FAILED(deck->GetTimeCode(&tc))) ++*w->failures;
          }
          deck->Release();
        }
        CoUninitialize();
        return 0;
      },
      &work, 0, nullptr));
  ASSERT_NE(worker, nullptr);
  Ref<IDeckControl> deck;
  ASSERT_EQ(control->QueryInterface(IID_IDeckControl, deck.OutVoid()), S_OK);
  for (int round = 0; round < 20; ++round) {
    const std::size_t from = events.Count();
    ASSERT_EQ(deck->SendCommand(round % 2 ? DECK_COMMAND_FAST_FORWARD : DECK_COMMAND_PLAY_FASTEST_REVERSE), S_OK);
    ASSERT_TRUE(events.WaitFor(DRIVER_EVENT_DECK_STATE,
                               round % 2 ? DECK_STATE_FAST_FORWARD : DECK_STATE_PLAY_FASTEST_REVERSE, from));
  }
  deck->SendCommand(DECK_COMMAND_STOP);
  stop = true;
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  EXPECT_EQ(workerFailures.load(), 0);
  EXPECT_EQ(control->UnadviseWindow(cookie), S_OK);
  deck.Reset();
  control.Reset();
  EXPECT_EQ(driver.Audit().Of(ObjectKind::SmartControl).liveReferences, 0) << driver.Audit().Report();
}
