// What the capture tests share: an initialised device on the fake driver,
// a capture folder of the test's own that the host settings name, a faster
// process clock for the product's own pauses, and ways to make the files the
// driver would write and to post its events.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"
#include "tests/device/DeviceTestSupport.h"

namespace capturetest {

// The stream rate the library assumes: one second of tape in a file.
constexpr std::uintmax_t kSecond = 1590000;
// The process clock runs this much faster (POSIX only; Windows keeps 1).
constexpr double kTimeScale = 0.05;
// A known difference: Windows's GetTickCount moves in steps (of about 16
// ms), so a pause measured with it may seem that much shorter than it was.
#ifdef _WIN32
constexpr DWORD kTickSlack = 20;
#else
constexpr DWORD kTickSlack = 0;
#endif

class CaptureTest : public devtest::DeviceTestBase {
protected:
  void SetUp() override {
    DeviceTestBase::SetUp();
    savedScale = zelto::platform::TimeScale();
    zelto::platform::SetTimeScaleForTesting(kTimeScale);
    captureFolder = folder / "capture";
    std::filesystem::create_directories(captureFolder);
    Orvex::OxUnique::GetInstance().SetCaptureFolder(CaptureFolder());
  }
  void TearDown() override {
    if (device) {
      device->TerminateDevice();
      device.reset();
    }
    zelto::platform::SetTimeScaleForTesting(savedScale);
    DeviceTestBase::TearDown();
  }

  // An initialised device with listeners for capture and device events;
  // the receive component's calls at construction are taken from the log.
  void Start() {
    device = MakeDevice(driver);
    ASSERT_TRUE(Initialize(*device));
    driver.streamReceive.log.Take();
    device->AddEventListener(&capturing);
    device->AddEventListener(&notified);
  }

  // A wait of `milliseconds` of real time, on the process clock.
  static DWORD RealTime(DWORD milliseconds) {
    return static_cast<DWORD>(milliseconds / zelto::platform::TimeScale());
  }

  Orvex::OxString CaptureFolder() const { return Orvex::OxString(WideOf(captureFolder).c_str()); }
  // The folder's path as the library writes it, a backslash, and the name.
  std::wstring InCaptureFolder(const std::wstring& name) const { return WideOf(captureFolder) + L"\\" + name; }

  // A file of `bytes` bytes in the capture folder, as the driver leaves it.
  void WriteFile(const std::wstring& name, std::uintmax_t bytes) {
    const std::filesystem::path path = captureFolder / zelto::platform::NativePath(name);
    { std::ofstream create(path, std::ios::binary); }
    std::filesystem::resize_file(path, bytes);
  }

  // Posts a driver event and waits until the capturing listener has heard
  // `expected` events in all.
  void PostAndHear(DWORD code, std::size_t expected, LPARAM argument = 0) {
    ASSERT_TRUE(driver.Post(code, argument)) << code;
    ASSERT_TRUE(capturing.WaitForCount(expected)) << "event " << code << " not heard";
  }

  // Posts a driver event, then a streaming event behind it, and waits until
  // the device's listener has heard that: the first event has then been
  // handled, whether or not the host heard of it.
  void PostAndSettle(DWORD code, LPARAM argument = 0) {
    const std::size_t before = notified.Count();
    ASSERT_TRUE(driver.Post(code, argument)) << code;
    ASSERT_TRUE(driver.Post(DRIVER_EVENT_STREAMING, 1));
    ASSERT_TRUE(notified.WaitForCount(before + 1));
  }

  std::vector<Orvex::_OxCapturingEventID> Ids() {
    std::vector<Orvex::_OxCapturingEventID> ids;
    for (const Orvex::OxCapturingEvent& event : capturing.Events()) ids.push_back(event.GetEventID());
    return ids;
  }

  double savedScale = 1.0;
  std::filesystem::path captureFolder;
  devtest::FakeDriver driver;
  std::unique_ptr<ZeltoVideoDevice> device;
  devtest::Recorder<Orvex::OxCapturingEvent> capturing;
  devtest::Recorder<Orvex::_OxVideoDeviceNotification> notified;
};

// Holds the device's message window inside a listener of its own, so that
// what the driver posts meanwhile waits in the window's queue until
// Release: a loaded machine, made certain. The hold is a streaming report.
class HeldWindow : public KelSafeEventListener<Orvex::_OxVideoDeviceNotification> {
public:
  HeldWindow(ZeltoVideoDevice& device, devtest::FakeDriver& driver) : device(device) {
    device.AddEventListener(this);
    EXPECT_TRUE(driver.Post(DRIVER_EVENT_STREAMING, 1));
    EXPECT_EQ(held.get_future().wait_for(devtest::kLongWait), std::future_status::ready) << "the window was not held";
  }
  ~HeldWindow() override {
    Release();
    device.RemoveEventListener(this);
  }
  void Release() {
    if (!released.exchange(true)) release.set_value();
  }
  void OnEvent(const Orvex::_OxVideoDeviceNotification& event) override {
    if (event != Orvex::OX_NOTIFY_STREAMING_ON || entered.exchange(true)) return;
    held.set_value();
    whenReleased.wait_for(devtest::kLongWait);
  }

private:
  ZeltoVideoDevice& device;
  std::promise<void> held;
  std::promise<void> release;
  std::shared_future<void> whenReleased = release.get_future().share();
  std::atomic<bool> entered{false};
  std::atomic<bool> released{false};
};

// Hours, minutes, seconds and frames of a time code.
inline std::vector<int> Fields(const Orvex::OxTimeCode& t) {
  return {t.GetHours(), t.GetMinutes(), t.GetSeconds(), t.GetFrames()};
}

}  // namespace capturetest
