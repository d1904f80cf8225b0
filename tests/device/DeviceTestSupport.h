// Shared helpers of the device library's unit tests: COM on the test thread,
// a private settings folder, and listeners that tests can wait on.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "host/foundation/OxUnique.h"
#include "host/kel/KelSafeEventListener.h"
#include "platform/PlatformExtras.h"
#include "platform/com.h"
#include "tests/device/FakeDriver.h"
#include "zelto/device/ZeltoVideoDevice.h"
#include "tests/TestFolder.h"

namespace devtest {

constexpr auto kLongWait = std::chrono::seconds(20);

// Records every event it hears, and the thread it heard it on.
template <typename T>
class Recorder : public KelSafeEventListener<T> {
public:
  void OnEvent(const T& event) override {
    std::lock_guard<std::mutex> guard(mutex);
    events.push_back(event);
    threads.push_back(GetCurrentThreadId());
    changed.notify_all();
  }
  std::vector<T> Events() {
    std::lock_guard<std::mutex> guard(mutex);
    return events;
  }
  std::vector<DWORD> Threads() {
    std::lock_guard<std::mutex> guard(mutex);
    return threads;
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(mutex);
    return events.size();
  }
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = kLongWait) {
    std::unique_lock<std::mutex> guard(mutex);
    return changed.wait_for(guard, timeout, [&] { return events.size() >= count; });
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(mutex);
    events.clear();
    threads.clear();
  }

private:
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<T> events;
  std::vector<DWORD> threads;
};

// Each test gets COM on its thread and folders of its own for the
// cassette-memory database and temporary files.
class DeviceTestBase : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    // Named after the test: ctest runs tests in parallel processes, whose
    // thread identifiers may coincide.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = zelto::testing::TestFolder(std::string("zelto-device-") + info->test_suite_name() + "-" + info->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder / "db");
    std::filesystem::create_directories(folder / "tmp");
    Orvex::OxUnique::GetInstance().SetMicDataBaseFolder(Orvex::OxString(WideOf(folder / "db").c_str()));
    Orvex::OxUnique::GetInstance().SetTempFolder(Orvex::OxString(WideOf(folder / "tmp").c_str()));
  }
  void TearDown() override {
    Orvex::OxUnique::GetInstance().ResetToDefaults();
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
    CoUninitialize();
  }

  static std::wstring WideOf(const std::filesystem::path& path) { return zelto::platform::WidePath(path); }

  // A device bound to the driver through a unit that lives only for the call.
  static std::unique_ptr<ZeltoVideoDevice> MakeDevice(FakeDriver& driver) {
    FakeUnit unit(L"HXQ-ZL10", &driver);
    ConnectedZeltoVideoDevice connected;
    connected.SetUnit(&unit);
    return std::make_unique<ZeltoVideoDevice>(connected);
  }

  static bool Initialize(ZeltoVideoDevice& device) {
    return device.InitializeDevice(Orvex::OX_VIDEO_SYSTEM_0, true, nullptr, nullptr, false, true);
  }

  std::filesystem::path folder;
};

}  // namespace devtest
