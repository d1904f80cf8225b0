// The message window: its thread and loop, and how driver events are
// dispatched to the device at once or through the window's own queue.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "tests/EscapedExceptionCheck.h"
#include "tests/device/DeviceTestSupport.h"
#include "zelto/events/VideoCapturingMessageReceiver.h"
#include "zelto/events/ZeltoMessages.h"
#include "zelto/events/ZeltoVideoDeviceMessageReceiver.h"

using namespace devtest;
using namespace Orvex;

namespace {

// A window of the test thread's own, to catch what the dispatch re-posts.
class CatcherWindow {
public:
  CatcherWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXW);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kName;
    RegisterClassExW(&windowClass);
    window = CreateWindowExW(0, kName, nullptr, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  }
  ~CatcherWindow() {
    DestroyWindow(window);
    UnregisterClassW(kName, GetModuleHandleW(nullptr));
  }
  // The re-posted events, as (code, argument) pairs.
  std::vector<std::pair<WPARAM, LPARAM>> Take() {
    std::vector<std::pair<WPARAM, LPARAM>> taken;
    MSG message;
    const UINT deferred = zelto::DeferredEventMessage();
    while (PeekMessageW(&message, window, deferred, deferred, PM_REMOVE))
      taken.emplace_back(message.wParam, message.lParam);
    return taken;
  }
  HWND window;

private:
  static constexpr const wchar_t* kName = L"DeviceTestsCatcher";
};

class MessageReceiverTest : public DeviceTestBase {
protected:
  void SetUp() override {
    DeviceTestBase::SetUp();
    device = MakeDevice(driver);
    ASSERT_TRUE(Initialize(*device));
    device->AddEventListener(&heard);
    catcher = std::make_unique<CatcherWindow>();
    ASSERT_NE(catcher->window, nullptr);
  }
  void TearDown() override {
    catcher.reset();
    if (device) device->RemoveEventListener(&heard);
    device.reset();
    DeviceTestBase::TearDown();
  }

  void Deferred(WPARAM code, LPARAM argument) {
    ZeltoVideoDeviceMessageReceiver::dispatchDeferredEvent(code, argument, device.get());
  }
  std::vector<std::pair<WPARAM, LPARAM>> Dispatched(DWORD code, LPARAM argument) {
    ZeltoVideoDeviceMessageReceiver::dispatchDeviceEvent(catcher->window, code, argument, device.get());
    return catcher->Take();
  }

  FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device;
  Recorder<_OxVideoDeviceNotification> heard;
  std::unique_ptr<CatcherWindow> catcher;
};

TEST_F(MessageReceiverTest, StateEventsAreRepostedAndHandledOnlyFromTheQueue) {
  heard.Clear();
  const int before = driver.StatusCalls();
  const auto reposted = Dispatched(DRIVER_EVENT_DECK_STATE, 99);
  EXPECT_EQ(driver.StatusCalls(), before) << "nothing is asked during the event's own dispatch";
  EXPECT_EQ(heard.Count(), 0u);
  ASSERT_EQ(reposted.size(), 1u);
  EXPECT_EQ(reposted[0], (std::pair<WPARAM, LPARAM>{29, 0}));

  const int deckBefore = driver.statusCalls[DECK_STATUS_DECK_STATE];
  Deferred(reposted[0].first, reposted[0].second);
  EXPECT_EQ(driver.statusCalls[DECK_STATUS_DECK_STATE], deckBefore + 1);
  EXPECT_EQ(heard.Events(), std::vector<_OxVideoDeviceNotification>{OX_NOTIFY_DEVICE_STATE});
}

// A window's queue takes at most 10,000 posted messages (Windows' quota, and
// ours). Where the re-post finds it full, the event is handled at once: a
// state change dropped there would never be heard.
TEST_F(MessageReceiverTest, AnEventTheFullQueueRefusesIsHandledAtOnce) {
  int posted = 0;
  while (posted < 20000 && PostMessageW(catcher->window, WM_USER, 0, 0)) ++posted;
  if (posted == 20000) GTEST_SKIP() << "this system's message queue takes more than 20,000 posts";
  heard.Clear();
  const int deckBefore = driver.statusCalls[DECK_STATUS_DECK_STATE];
  const auto reposted = Dispatched(DRIVER_EVENT_DECK_STATE, 0);
  EXPECT_EQ(driver.statusCalls[DECK_STATUS_DECK_STATE], deckBefore + 1);
  EXPECT_EQ(heard.Events(), std::vector<_OxVideoDeviceNotification>{OX_NOTIFY_DEVICE_STATE});
  EXPECT_TRUE(reposted.empty()) << "handled, not queued as well";
  MSG message;
  while (PeekMessageW(&message, catcher->window, 0, 0, PM_REMOVE)) {
  }
}

TEST_F(MessageReceiverTest, RepostTableKeepsOrDropsTheArgument) {
  const std::pair<DWORD, LPARAM> zeroed[] = {{2, 0}, {29, 0}, {30, 0}, {31, 0}};
  for (const auto& [code, expected] : zeroed)
    EXPECT_EQ(Dispatched(code, 5), (std::vector<std::pair<WPARAM, LPARAM>>{{code, expected}})) << code;
  for (DWORD code : {5u, 7u, 8u, 9u, 10u, 11u, 18u, 24u, 32u})
    EXPECT_EQ(Dispatched(code, 5), (std::vector<std::pair<WPARAM, LPARAM>>{{code, 5}})) << code;
  heard.Clear();
  const int before = driver.StatusCalls();
  for (DWORD code : {0u, 1u, 6u, 12u, 13u, 14u, 15u, 16u, 17u, 22u, 26u, 33u, 1000u}) {
    EXPECT_TRUE(Dispatched(code, 5).empty()) << code;
    Deferred(code, 5);
  }
  EXPECT_TRUE(Dispatched(DRIVER_EVENT_FILE_COMPLETE, 0).empty()) << "a null file record is ignored";
  EXPECT_EQ(heard.Count(), 0u);
  EXPECT_EQ(driver.StatusCalls(), before);
}

TEST_F(MessageReceiverTest, DeferredEventsMapTheirArguments) {
  heard.Clear();
  for (const auto& [code, argument] : std::vector<std::pair<WPARAM, LPARAM>>{{10, 5}, {10, 0}, {32, 7}, {32, 0}})
    Deferred(code, argument);
  for (const auto& [argument, aspect] : {std::pair{0, OX_ASPECT_NORMAL}, {1, OX_ASPECT_WIDE}, {2, OX_ASPECT_NORMAL}}) {
    Deferred(11, argument);
    EXPECT_EQ(device->GetAspectRatio(), aspect) << argument;
  }
  Deferred(30, 0);
  Deferred(31, 0);
  EXPECT_EQ(heard.Events(),
            (std::vector<_OxVideoDeviceNotification>{
                OX_NOTIFY_VIDEO_SYSTEM_OTHER, OX_NOTIFY_VIDEO_SYSTEM_0, OX_NOTIFY_STREAMING_ON, OX_NOTIFY_STREAMING_OFF,
                OX_NOTIFY_DISPLAY_SIZE, OX_NOTIFY_DISPLAY_SIZE, OX_NOTIFY_DISPLAY_SIZE, OX_NOTIFY_CAMCORDER_MODE,
                OX_NOTIFY_MEDIA_INFO}));
}

// ---- The window and its thread on their own ----

std::atomic<int> dispatched{0};
HANDLE proceed = nullptr;
HANDLE entered = nullptr;

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    if (++dispatched == 1) {
      SetEvent(entered);
      WaitForSingleObject(proceed, INFINITE);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A host listener that throws while the window's thread handles a driver
// event loses that one notification; the thread goes on to the next.
TEST_F(MessageReceiverTest, AListenerThatThrowsOnTheWindowsThreadLosesOnlyThatEvent) {
  struct Thrower : KelSafeEventListener<_OxVideoDeviceNotification> {
    void OnEvent(const _OxVideoDeviceNotification& event) override {
      if (event == OX_NOTIFY_MEDIA_INFO) throw std::logic_error("host listener failed");
    }
  } thrower;
  device->AddEventListener(&thrower);
  heard.Clear();
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_MEDIA_INFO));
  ASSERT_TRUE(driver.Post(DRIVER_EVENT_CAMCORDER_MODE));
  ASSERT_TRUE(heard.WaitForCount(2)) << "the window's thread is still there";
  device->RemoveEventListener(&thrower);
  EXPECT_EQ(heard.Events().back(), OX_NOTIFY_CAMCORDER_MODE);
  zelto::testing::ExpectEscapedExceptions(1);
}

TEST(VideoCapturingMessageReceiverTest, StopEndsTheLoopAfterTheMessageBeingDispatched) {
  dispatched = 0;
  entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  proceed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    VideoCapturingMessageReceiver receiver;
    HWND window = receiver.Create(&CountingProcedure, L"DeviceTestsCounting");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(receiver.Create(&CountingProcedure, L"DeviceTestsCounting"), nullptr) << "a window exists already";
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(PostMessageW(window, WM_APP, 0, 0));
    ASSERT_EQ(WaitForSingleObject(entered, 20000), WAIT_OBJECT_0);
    receiver.SignalStop();
    SetEvent(proceed);
  }  // joins the thread
  EXPECT_EQ(dispatched, 1);
  CloseHandle(entered);
  CloseHandle(proceed);

  // The class went with the receiver; a null procedure is refused.
  VideoCapturingMessageReceiver again;
  EXPECT_EQ(again.Create(nullptr, L"DeviceTestsCounting"), nullptr);
  EXPECT_NE(again.Create(&CountingProcedure, L"DeviceTestsCounting"), nullptr);
  VideoCapturingMessageReceiver taken;
  EXPECT_EQ(taken.Create(&CountingProcedure, L"DeviceTestsCounting"), nullptr) << "the class name is taken";
}

// ---- Handed over from inside its own dispatch ----

struct HandedOverOwner {
  VideoCapturingMessageReceiver receiver;
  HANDLE deleted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~HandedOverOwner() { SetEvent(deleted); }
};

constexpr const wchar_t* kHandOverClass = L"DeviceTestsHandOver";
HandedOverOwner* handedOver = nullptr;
std::atomic<bool> windowGoneAtOnce{false}, classFreeAtOnce{false}, dispatchOver{false}, deletedAfterDispatch{false};

LRESULT CALLBACK HandingOverProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_APP) return DefWindowProcW(window, message, wParam, lParam);
  HandedOverOwner* owner = handedOver;
  owner->receiver.HandOver([owner] {
    deletedAfterDispatch = dispatchOver.load();
    delete owner;
  });
  windowGoneAtOnce = !IsWindow(window);
  // Registered as the receiver registers it: a global class of the module.
  WNDCLASSEXW again{};
  again.cbSize = sizeof(WNDCLASSEXW);
  again.style = CS_GLOBALCLASS;
  again.lpfnWndProc = DefWindowProcW;
  again.hInstance = zelto::ModuleInstance();
  again.lpszClassName = kHandOverClass;
  classFreeAtOnce = RegisterClassExW(&again) != 0;
  UnregisterClassW(kHandOverClass, zelto::ModuleInstance());
  dispatchOver = true;
  return 0;
}

// An owner let go from inside its window's dispatch cannot wait for the
// window's thread: the window and the class name are free when HandOver
// returns, and the thread deletes the owner once that dispatch is over.
TEST(VideoCapturingMessageReceiverTest, HandedOverFromItsOwnDispatchItIsDeletedByItsThread) {
  handedOver = new HandedOverOwner;
  const HANDLE deleted = handedOver->deleted;
  const HWND window = handedOver->receiver.Create(&HandingOverProcedure, kHandOverClass);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(handedOver->receiver.OnWindowThread());
  ASSERT_TRUE(PostMessageW(window, WM_APP, 0, 0));
  ASSERT_EQ(WaitForSingleObject(deleted, 20000), WAIT_OBJECT_0);
  EXPECT_TRUE(windowGoneAtOnce);
  EXPECT_TRUE(classFreeAtOnce);
  EXPECT_TRUE(deletedAfterDispatch);
  CloseHandle(deleted);
}

}  // namespace
