// The device as a host drives it, against the simulated camcorder registered
// as the system's driver: the fixture registers the driver, obtains the
// device through the factory and initialises it; after every test it
// terminates and deletes whatever devices exist, unregisters the driver and
// requires that every reference the driver handed out came back exactly once.
// The same tests run natively and, cross-built, under Wine.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/foundation/OxUnique.h"
#include "host/kel/KelSafeEventListener.h"
#include "platform/PlatformExtras.h"
#include "platform/com.h"
#include "simulator/SimulatedDriver.h"
#include "zelto/device/ZeltoVideoDevice.h"
#include "tests/TestFolder.h"

namespace e2e {

// Generous real-time limit for anything a test waits for.
constexpr auto kPatience = std::chrono::seconds(30);

// One heard event, with the thread it arrived on and whatever the test asked
// to note at that moment (read without calling the device's getters, which
// would refresh the deck themselves).
template <typename T>
struct Heard {
  T value;
  DWORD thread;
  long note;
};

template <typename T>
class Recorder : public KelSafeEventListener<T> {
public:
  using Entry = Heard<T>;

  // Called on the notifying thread with the event; its result is kept.
  void NoteWith(std::function<long(const T&)> noteFunction) {
    std::lock_guard<std::mutex> guard(mutex);
    note = std::move(noteFunction);
  }
  void OnEvent(const T& event) override {
    std::function<long(const T&)> noteFunction;
    {
      std::lock_guard<std::mutex> guard(mutex);
      noteFunction = note;
    }
    const long noted = noteFunction ? noteFunction(event) : 0;
    HANDLE wakeHandle = nullptr;
    {
      std::lock_guard<std::mutex> guard(mutex);
      entries.push_back(Entry{event, GetCurrentThreadId(), noted});
      wakeHandle = wake;
    }
    changed.notify_all();
    if (wakeHandle) SetEvent(wakeHandle);
  }
  // Also signals this event (may be null) whenever an event is heard, for a
  // thread that waits on its message queue as well.
  void WakeOnEvent(HANDLE handle) {
    std::lock_guard<std::mutex> guard(mutex);
    wake = handle;
  }
  std::vector<Entry> Entries() {
    std::lock_guard<std::mutex> guard(mutex);
    return entries;
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(mutex);
    return entries.size();
  }
  // Waits for an entry at or after index `from` that satisfies `match`; its
  // index, or -1 after the time-out.
  long WaitFor(std::size_t from, const std::function<bool(const Entry&)>& match) {
    std::unique_lock<std::mutex> guard(mutex);
    long found = -1;
    changed.wait_for(guard, kPatience, [&] {
      for (std::size_t i = from; i < entries.size(); ++i) {
        if (match(entries[i])) {
          found = static_cast<long>(i);
          return true;
        }
      }
      return false;
    });
    return found;
  }

private:
  std::mutex mutex;
  std::condition_variable changed;
  std::function<long(const T&)> note;
  std::vector<Entry> entries;
  HANDLE wake = nullptr;
};

using DeviceRecorder = Recorder<Orvex::_OxVideoDeviceNotification>;
using SceneRecorder = Recorder<Orvex::OxSceneSearchEvent>;

// Tapes measured in seconds of tape (300 tracks each).
inline zelto::sim::Scene SceneAt(double start, double end, bool wide = true, int videoSystem = 1) {
  zelto::sim::Scene s;
  s.startTrack = static_cast<std::uint32_t>(start * zelto::sim::kTracksPerSecond);
  s.endTrack = static_cast<std::uint32_t>(end * zelto::sim::kTracksPerSecond);
  s.recorded = "2025-07-12T10:14:03";
  s.wide = wide;
  s.videoSystem = videoSystem;
  return s;
}

inline zelto::sim::Cassette Tape(double length, double position, std::vector<zelto::sim::Scene> scenes) {
  zelto::sim::Cassette c;
  c.lengthTracks = static_cast<std::uint32_t>(length * zelto::sim::kTracksPerSecond);
  c.positionTrack = static_cast<std::uint32_t>(position * zelto::sim::kTracksPerSecond);
  c.scenes = std::move(scenes);
  return c;
}

// Mechanics quick enough that no test waits long for a load, eject or seek.
inline zelto::sim::TransportTiming QuickTiming() {
  zelto::sim::TransportTiming t;
  t.loadMs = 150;
  t.ejectMs = 150;
  t.seekSettleMs = 60;
  t.modeSwitchMs = 80;
  return t;
}

// A long tape standing in its middle: no transport reaches an end of it
// while a test looks.
inline zelto::sim::DriverConfig LongTapeConfig() {
  zelto::sim::DriverConfig config;
  config.camcorder.cassette = Tape(3600, 1800, {SceneAt(1, 94.6), SceneAt(1700, 2500)});
  config.camcorder.timing = QuickTiming();
  return config;
}

class CamcorderTest : public ::testing::Test {
protected:
  // What a test may change, in its constructor.
  zelto::sim::DriverConfig config = LongTapeConfig();
  bool openInSetUp = true;
  // Speeds the process clock natively (no effect on Windows); 1 is real time.
  double timeScale = 1.0;

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    comReady = true;
    zelto::platform::SetTimeScaleForTesting(timeScale);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = zelto::testing::TestFolder(std::string("zelto-e2e-") + info->test_suite_name() + "-" + info->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder / "db");
    std::filesystem::create_directories(folder / "tmp");
    Orvex::OxUnique::GetInstance().SetMicDataBaseFolder(
        Orvex::OxString(zelto::platform::WidePath(folder / "db").c_str()));
    Orvex::OxUnique::GetInstance().SetTempFolder(Orvex::OxString(zelto::platform::WidePath(folder / "tmp").c_str()));

    ASSERT_EQ(driver.Register(config), S_OK);
    hostThread = GetCurrentThreadId();
    // What the camcorder reports at the moment a notification is heard.
    heard.NoteWith([this](const Orvex::_OxVideoDeviceNotification& value) -> long {
      switch (value) {
        case Orvex::OX_NOTIFY_DEVICE_STATE:
          return Panel().DeckState();
        case Orvex::OX_NOTIFY_MEDIA_INFO:
          return Panel().MediaInfo();
        case Orvex::OX_NOTIFY_CAMCORDER_MODE:
          return Panel().CamcorderMode();
        case Orvex::OX_NOTIFY_DISPLAY_SIZE:
          return device ? device->GetAspectRatio() : -1;
        default:
          return static_cast<long>(Panel().Mode());
      }
    });
    scenes.NoteWith([this](const Orvex::OxSceneSearchEvent&) -> long { return static_cast<long>(Panel().Track()); });
    if (openInSetUp) {
      ASSERT_NO_FATAL_FAILURE(Open());
    }
  }

  void TearDown() override {
    CloseAll();
    if (driver.Registered()) {
      EXPECT_EQ(driver.Unregister(), S_OK);
      EXPECT_EQ(driver.Audit().LiveReferences(), 0) << driver.Audit().Report();
      EXPECT_EQ(driver.Audit().OverReleases(), 0) << driver.Audit().Report();
      EXPECT_EQ(driver.Panel().AdvisedWindows(), 0u);
    }
    zelto::platform::SetTimeScaleForTesting(1.0);
    Orvex::OxUnique::GetInstance().ResetToDefaults();
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
    if (comReady) CoUninitialize();
  }

  // The device through the factory, initialised, with the recorders listening.
  void Open() {
    CloseAll();
    device.reset(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
    ASSERT_NE(device, nullptr);
    device->AddEventListener(&heard);
    ASSERT_TRUE(Initialize(*device));
    // Scene-search listeners go to the deck, which exists only from now on.
    device->AddEventListener(&scenes);
  }

  static bool Initialize(ZeltoVideoDevice& d) {
    return d.InitializeDevice(Orvex::OX_VIDEO_SYSTEM_1, true, nullptr, nullptr, false, true);
  }

  // Terminates and deletes every device the test made.
  void CloseAll() {
    for (auto& extra : others) extra->TerminateDevice();
    others.clear();
    if (device) {
      device->TerminateDevice();
      device->RemoveEventListener(&heard);
      device->RemoveEventListener(&scenes);
      device.reset();
    }
  }

  // References still held on driver objects other than the registered class
  // objects, which COM keeps until the driver unregisters.
  long ClientReferences() const {
    long live = 0;
    for (std::size_t k = 0; k < zelto::sim::kObjectKindCount; ++k) {
      const auto kind = static_cast<zelto::sim::ObjectKind>(k);
      if (kind != zelto::sim::ObjectKind::ClassFactory) live += driver.Audit().Of(kind).liveReferences;
    }
    return live;
  }

  zelto::sim::Camcorder& Panel() { return driver.Panel(); }

  // Waits for a device notification of `value` heard on another thread than
  // the host's (so raised by a driver event), after entry `from`, whose note
  // satisfies `noted` when given. Its index, or -1.
  long WaitForEvent(std::size_t from, Orvex::_OxVideoDeviceNotification value,
                    const std::function<bool(long)>& noted = nullptr) {
    const DWORD host = hostThread;
    return heard.WaitFor(from, [&](const DeviceRecorder::Entry& e) {
      return e.value == value && e.thread != host && (!noted || noted(e.note));
    });
  }

  zelto::sim::SimulatedDriver driver;
  DeviceRecorder heard;
  SceneRecorder scenes;
  std::unique_ptr<ZeltoVideoDevice> device;
  std::vector<std::unique_ptr<ZeltoVideoDevice>> others;
  DWORD hostThread = 0;
  std::filesystem::path folder;

private:
  bool comReady = false;
};

}  // namespace e2e
