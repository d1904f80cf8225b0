// Finding, building and taking down the device against the simulated
// driver: which unit the factory binds, a driver call failing at every step
// of the way in, termination under a flood of events, a second device in the
// same process, and a listener on the message window's thread that
// terminates or deletes the device.
#include <atomic>
#include <functional>
#include <new>
#include <thread>

#include "tests/e2e/E2eSupport.h"

using namespace Orvex;
using namespace zelto::sim;
using e2e::CamcorderTest;

namespace {

class DiscoveryE2e : public CamcorderTest {
protected:
  DiscoveryE2e() { openInSetUp = false; }

  // Starts a driver of another shape, after checking that the last one got
  // every reference back.
  void Reregister(const DriverConfig& next) {
    ASSERT_EQ(driver.Unregister(), S_OK);
    ASSERT_EQ(driver.Audit().LiveReferences(), 0) << driver.Audit().Report();
    ASSERT_EQ(driver.Audit().OverReleases(), 0) << driver.Audit().Report();
    ASSERT_EQ(driver.Register(next), S_OK);
  }

  static UnitConfig Unit(const wchar_t* model, const wchar_t* label, bool propertiesFail = false) {
    UnitConfig u;
    u.modelText = model;
    u.label = label;
    u.propertiesFail = propertiesFail;
    return u;
  }
};

TEST_F(DiscoveryE2e, TheFirstUnitWithTheExactModelPrefixIsBound) {
  DriverConfig shape = e2e::LongTapeConfig();
  shape.classes[0].units = {Unit(L"HXQ-Z", L"short"), Unit(L"hxq-zl5", L"lower case"),
                            Unit(L"HXQ-ZM5", L"other model"), Unit(L"HXQ-ZL", L"exact"),
                            Unit(L"HXQ-ZL9", L"later")};
  ASSERT_NO_FATAL_FAILURE(Reregister(shape));
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(Panel().BoundUnits(), std::vector<std::wstring>{L"exact"});
  EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_STOP);
  CloseAll();

  shape.classes[0].units.erase(shape.classes[0].units.begin() + 3, shape.classes[0].units.end());
  ASSERT_NO_FATAL_FAILURE(Reregister(shape));
  EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr);
}

// The match sits in a later class, behind a class that is listed but not
// registered, one that cannot enumerate and one whose first unit cannot be
// read (which hides the matching unit behind it).
TEST_F(DiscoveryE2e, ASecondClassIsSearchedWhenTheFirstYieldNothing) {
  DriverConfig shape = e2e::LongTapeConfig();
  DriverClassConfig missing;
  missing.clsid = zelto::driver::DriverGuid(0x62);
  missing.registered = false;
  DriverClassConfig failing;
  failing.clsid = zelto::driver::DriverGuid(0x63);
  failing.enumFails = true;
  DriverClassConfig unreadable;
  unreadable.clsid = zelto::driver::DriverGuid(0x64);
  unreadable.units = {Unit(L"HXQ-ZL1", L"unreadable", true), Unit(L"HXQ-ZL1", L"hidden")};
  DriverClassConfig good;
  good.clsid = zelto::driver::DriverGuid(0x65);
  good.streamTypes = {STREAMTYPE_VIDEOSYSTEM1};
  good.units = {Unit(L"HXQ-ZL2", L"second class")};
  shape.classes = {missing, failing, unreadable, good};
  ASSERT_NO_FATAL_FAILURE(Reregister(shape));

  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(Panel().BoundUnits(), std::vector<std::wstring>{L"second class"});
}

// Every call searches again: two calls give two devices on the one
// camcorder; an unplugged camcorder is not found until it is back.
TEST_F(DiscoveryE2e, EachCallSearchesAgainAndAnUnpluggedCamcorderIsNotFound) {
  std::unique_ptr<ZeltoVideoDevice> first(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  std::unique_ptr<ZeltoVideoDevice> second(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(Panel().BoundUnits().size(), 2u);
  EXPECT_EQ(driver.Audit().Of(ObjectKind::SmartControl).liveObjects, 2);
  first.reset();
  second.reset();
  EXPECT_EQ(ClientReferences(), 0);

  Panel().RemoveDevice();
  EXPECT_EQ(ZeltoVideoDeviceFactory::GetZeltoVideoDevice(), nullptr);
  Panel().ReconnectDevice();
  ASSERT_NO_FATAL_FAILURE(Open());
}

class FaultsE2e : public CamcorderTest {
protected:
  FaultsE2e() { openInSetUp = false; }
};

// The nth call of each driver method fails, for n = 1, 2, ... until a run no
// longer reaches it. Whatever fails, the host gets a null device, a false
// initialisation or a working device, and once it has terminated and deleted
// it, the driver holds no reference, no advised window, and the window class
// is free for the next run.
TEST_F(FaultsE2e, ADriverCallFailingAtAnyStepLeavesNothingBehind) {
  enum class Outcome { NoDevice, Throws, InitFails, Works };
  struct Case {
    Method method;
    Outcome outcome;
  };
  const Case cases[] = {
      {Method::CreateClassEnumerator, Outcome::NoDevice}, {Method::GetDriverClasses, Outcome::Throws},
      {Method::CreateUnitCollection, Outcome::NoDevice},  {Method::EnumUnits, Outcome::NoDevice},
      {Method::NextUnit, Outcome::NoDevice},              {Method::QueryUnitProperties, Outcome::NoDevice},
      {Method::GetStringProperty, Outcome::NoDevice},     {Method::BindToObject, Outcome::NoDevice},
      {Method::QueryDeckControl, Outcome::InitFails},     {Method::AdviseWindow, Outcome::InitFails},
      {Method::GetStatus, Outcome::Works},                {Method::UnadviseWindow, Outcome::Works},
  };
  for (const Case& c : cases) {
    for (unsigned nth = 1;; ++nth) {
      SCOPED_TRACE(std::string(MethodName(c.method)) + " call " + std::to_string(nth));
      const unsigned before = Panel().CallCount(c.method);
      Panel().FailCall(c.method, nth, E_FAIL);

      Outcome outcome = Outcome::Works;
      try {
        std::unique_ptr<ZeltoVideoDevice> d(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
        if (!d) {
          outcome = Outcome::NoDevice;
        } else if (!Initialize(*d)) {
          outcome = Outcome::InitFails;
          EXPECT_EQ(d->GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
          EXPECT_FALSE(d->StartSeekATN(1));
        } else {
          d->TerminateDevice();
        }
      } catch (const std::bad_alloc&) {
        outcome = Outcome::Throws;
      }
      Panel().ClearCallFaults();
      const bool reached = Panel().CallCount(c.method) - before >= nth;

      EXPECT_EQ(ClientReferences(), 0) << driver.Audit().Report();
      EXPECT_EQ(driver.Audit().OverReleases(), 0) << driver.Audit().Report();
      EXPECT_EQ(Panel().AdvisedWindows(), 0u);
      if (!reached) {
        EXPECT_EQ(outcome, Outcome::Works);
        EXPECT_GT(nth, 1u) << "the method is never called on the way in";
        break;
      }
      EXPECT_EQ(outcome, c.outcome);
      ASSERT_LT(nth, 50u) << "the method is called without end";
    }
  }
  ASSERT_NO_FATAL_FAILURE(Open());
  device->DeckPlay();
  EXPECT_EQ(Panel().Mode(), TransportMode::Play);
}

// The camcorder floods the window with events while the host terminates,
// with a scene search playing, so that handlers are inside the deck (in its
// scene-search listeners) when the deck is taken down: once TerminateDevice
// returns, no handler reads the driver and no listener hears anything. (Run
// under the sanitizers, this also shows that no handler touches a component
// while or after it is deleted.)
TEST_F(FaultsE2e, TerminateWhileTheCamcorderFloodsTheWindow) {
  const DWORD codes[] = {DRIVER_EVENT_DECK_STATE,   DRIVER_EVENT_CAMCORDER_MODE, DRIVER_EVENT_MEDIA_INFO,
                         DRIVER_EVENT_VIDEO_SYSTEM, DRIVER_EVENT_DISPLAY_SIZE,   DRIVER_EVENT_STREAMING,
                         DRIVER_EVENT_DEVICE_ERROR, DRIVER_EVENT_FILE_CREATED,   0};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_NO_FATAL_FAILURE(Open());
    // Just ahead in the long scene under the head: it plays for minutes.
    ASSERT_TRUE(device->StartSeekATN(Panel().Track() + kTracksPerSecond / 2));
    ASSERT_GE(scenes.WaitFor(scenes.Count(), [](const auto&) { return true; }), 0);
    const std::size_t initial = heard.Count();

    std::atomic<bool> stop{false};
    std::thread flooder([&] {
      // Each burst once the camcorder has handed the last one to the
      // window, so that its own queue stays bounded; the window's fills up.
      const std::uint64_t burst = 200 * std::size(codes);
      while (!stop.load()) {
        const std::uint64_t target = Panel().EventsPosted() + Panel().PostFailures() + burst;
        for (int i = 0; i < 200; ++i)
          for (DWORD code : codes) Panel().PostEvent(code, 1);
        while (!stop.load() && Panel().EventsPosted() + Panel().PostFailures() < target) std::this_thread::yield();
      }
    });

    ASSERT_GE(heard.WaitFor(initial + 100, [](const auto&) { return true; }), 0);
    device->TerminateDevice();
    const unsigned asked = Panel().CallCount(Method::GetStatus);
    const std::size_t count = heard.Count();
    EXPECT_EQ(Panel().AdvisedWindows(), 0u);
    stop = true;
    flooder.join();
    EXPECT_EQ(Panel().CallCount(Method::GetStatus), asked);
    EXPECT_EQ(heard.Count(), count);
    CloseAll();
    EXPECT_EQ(ClientReferences(), 0) << driver.Audit().Report();
  }
}

// A second device while the first holds the message window's class: it is
// made, but cannot initialise, and costs the first nothing. Once the first
// is gone, a new device initialises and hears the driver.
TEST_F(FaultsE2e, ASecondDeviceCannotInitialiseWhileTheFirstHoldsTheWindow) {
  ASSERT_NO_FATAL_FAILURE(Open());
  others.emplace_back(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  ASSERT_NE(others.back(), nullptr);
  EXPECT_FALSE(Initialize(*others.back()));
  EXPECT_EQ(driver.Audit().Of(ObjectKind::SmartControl).liveObjects, 1) << "the failed device let its driver go";
  EXPECT_EQ(Panel().AdvisedWindows(), 1u);

  std::size_t from = heard.Count();
  device->DeckPlay();
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_PLAY; }), 0);

  ASSERT_NO_FATAL_FAILURE(Open());  // the first and the second go, a third comes
  from = heard.Count();
  device->DeckStop();
  ASSERT_GE(WaitForEvent(from, OX_NOTIFY_DEVICE_STATE, [](long s) { return s == DECK_STATE_STOP; }), 0);
}

// Runs its action in the first call it gets on another thread than the
// host's, that is on the message window's.
template <typename T>
class ActOnWindowThread : public KelSafeEventListener<T> {
public:
  ActOnWindowThread(DWORD host, std::function<void()> action) : host(host), action(std::move(action)) {}
  ~ActOnWindowThread() override { CloseHandle(done); }
  void OnEvent(const T&) override {
    if (GetCurrentThreadId() == host || acted.exchange(true)) return;
    action();
    SetEvent(done);
  }
  // Until the action is done and the call has returned (the listener's own
  // lock is free again), so that the listener may then be destroyed.
  bool WaitDone() {
    if (WaitForSingleObject(done, 30000) != WAIT_OBJECT_0) return false;
    KelMonitor returned(*this);
    return true;
  }

private:
  const DWORD host;
  const std::function<void()> action;
  std::atomic<bool> acted{false};
  const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

// A listener on the message window's thread terminates the device, or deletes
// it, from a device notification or from a scene-search event (which the
// deck raises inside its refresh). Nothing deadlocks, the driver is let go
// before the call returns, the listeners after it in a pass whose source is
// gone are not called, and another device initialises at once. A device only
// terminated there is deleted later on the host's thread. (Under the
// sanitizers: nothing of the device is touched once it is gone.)
TEST_F(FaultsE2e, AListenerOnTheWindowThreadMayTerminateOrDeleteTheDevice) {
  struct Round {
    const char* what;
    bool sceneSearch;
    bool deleteThere;
  };
  const Round rounds[] = {{"device notification deletes", false, true},
                          {"scene search deletes", true, true},
                          {"device notification terminates", false, false},
                          {"scene search terminates", true, false}};
  for (const Round& r : rounds) {
    SCOPED_TRACE(r.what);
    ASSERT_NO_FATAL_FAILURE(Open());
    ZeltoVideoDevice* const target = r.deleteThere ? device.release() : device.get();
    const auto act = [&] {
      if (r.deleteThere)
        delete target;
      else
        target->TerminateDevice();
    };
    ActOnWindowThread<_OxVideoDeviceNotification> onDevice(hostThread, act);
    ActOnWindowThread<OxSceneSearchEvent> onScene(hostThread, act);
    e2e::DeviceRecorder deviceAfter;
    e2e::SceneRecorder sceneAfter;
    bool done;
    if (r.sceneSearch) {
      target->AddEventListener(&onScene);
      target->AddEventListener(&sceneAfter);
      // Just ahead in the long scene under the head: found within moments.
      ASSERT_TRUE(target->StartSeekATN(Panel().Track() + kTracksPerSecond / 2));
      done = onScene.WaitDone();
    } else {
      target->AddEventListener(&onDevice);
      target->AddEventListener(&deviceAfter);
      Panel().PostEvent(DRIVER_EVENT_DECK_STATE, 0);
      done = onDevice.WaitDone();
    }
    ASSERT_TRUE(done) << "the listener never came back";

    EXPECT_EQ(Panel().AdvisedWindows(), 0u);
    EXPECT_EQ(ClientReferences(), 0) << driver.Audit().Report();
    if (r.deleteThere || r.sceneSearch) {
      EXPECT_EQ(deviceAfter.Count() + sceneAfter.Count(), 0u);
    }
    if (!r.deleteThere) {
      EXPECT_EQ(device->GetDeviceState(), OX_DEVICE_STATE_UNKNOWN);
      EXPECT_FALSE(device->StartSeekATN(1));
      device->RemoveEventListener(&onDevice);
      device->RemoveEventListener(&deviceAfter);
    }
    others.emplace_back(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
    ASSERT_NE(others.back(), nullptr);
    EXPECT_TRUE(Initialize(*others.back())) << "the window class is still taken";
    CloseAll();
    EXPECT_EQ(ClientReferences(), 0) << driver.Audit().Report();
  }
}

}  // namespace
