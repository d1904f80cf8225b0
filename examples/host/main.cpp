// A host of the Zelto device library, as small as it gets: find the
// camcorder, listen to it, play the tape for a moment, stop it, and print
// each deck notification on the way.
//
//   zelto-host-example              the camcorder the system's driver finds
//   zelto-host-example --simulated  the simulated camcorder (Zelto::simulator),
//                                   as a host's own tests would use it
//
// Exit status: 0 done, 1 no camcorder or the deck did not answer, 2 usage.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "host/foundation/OxUnique.h"
#include "platform/com.h"
#include "zelto/device/ZeltoVideoDevice.h"
#ifdef HOST_EXAMPLE_SIMULATOR
#  include "simulator/SimulatedDriver.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using Orvex::_OxVideoDeviceNotification;
using Orvex::_OxVideoDeviceState;

// Notifications arrive on the device's own thread, while the host may only
// call the device from the thread that made it: the listener just queues
// them, and that thread reads the device in answer.
class NotificationQueue : public KelSafeEventListener<_OxVideoDeviceNotification> {
public:
  void OnEvent(const _OxVideoDeviceNotification& notification) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      queue.push_back(notification);
    }
    arrived.notify_one();
  }

  // The oldest notification not yet taken; none once the deadline passes.
  std::optional<_OxVideoDeviceNotification> Next(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!arrived.wait_until(lock, deadline, [this] { return !queue.empty(); })) return std::nullopt;
    const _OxVideoDeviceNotification next = queue.front();
    queue.pop_front();
    return next;
  }

private:
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<_OxVideoDeviceNotification> queue;
};

const char* StateName(_OxVideoDeviceState state) {
  switch (state) {
    case Orvex::OX_DEVICE_STATE_PLAY: return "play";
    case Orvex::OX_DEVICE_STATE_PAUSE: return "pause";
    case Orvex::OX_DEVICE_STATE_STOP: return "stop";
    case Orvex::OX_DEVICE_STATE_REWIND: return "rewind";
    case Orvex::OX_DEVICE_STATE_FAST_FORWARD: return "fast forward";
    case Orvex::OX_DEVICE_STATE_LOADING: return "loading";
    default: return "other";
  }
}

std::string TimeCode(const ZeltoVideoDevice& device) {
  const Orvex::OxTimeCode timeCode = device.GetTimecode();
  if (timeCode.IsNoTimeCode()) return "--:--:--:--";  // blank tape
  return zelto::platform::ToUtf8(timeCode.ToString().GetStdString());
}

const char* NotificationName(_OxVideoDeviceNotification notification) {
  switch (notification) {
    case Orvex::OX_NOTIFY_DEVICE_STATE: return "deck state";
    case Orvex::OX_NOTIFY_MEDIA_INFO: return "media";
    case Orvex::OX_NOTIFY_CAMCORDER_MODE: return "camcorder mode";
    case Orvex::OX_NOTIFY_DISPLAY_SIZE: return "display size";
    default: return "other";
  }
}

// Prints each notification as it arrives until one announces the deck state
// `wanted`; false when none has within 30 seconds.
bool WaitForDeck(ZeltoVideoDevice& device, NotificationQueue& notifications, _OxVideoDeviceState wanted) {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
  for (;;) {
    const std::optional<_OxVideoDeviceNotification> next = notifications.Next(deadline);
    if (!next) {
      std::fprintf(stderr, "the deck did not report %s (it is in %s)\n", StateName(wanted),
                   StateName(device.GetDeviceState()));
      return false;
    }
    if (*next != Orvex::OX_NOTIFY_DEVICE_STATE) {
      std::printf("notification: %s\n", NotificationName(*next));
      continue;
    }
    const _OxVideoDeviceState state = device.GetDeviceState();
    std::printf("notification: deck state %s at %s\n", StateName(state), TimeCode(device).c_str());
    if (state == wanted) return true;
  }
}

// Plays for a moment and stops: what any host does once it holds a device.
int PlayAndStop(ZeltoVideoDevice& device, NotificationQueue& notifications) {
  std::printf("deck: %s at %s\n", StateName(device.GetDeviceState()), TimeCode(device).c_str());
  device.DeckPlay();
  if (!WaitForDeck(device, notifications, Orvex::OX_DEVICE_STATE_PLAY)) return 1;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  device.DeckStop();
  if (!WaitForDeck(device, notifications, Orvex::OX_DEVICE_STATE_STOP)) return 1;
  std::printf("deck: %s at %s\n", StateName(device.GetDeviceState()), TimeCode(device).c_str());
  return 0;
}

// From the factory to a device taken down again. The caller has initialised
// COM on this thread, which the device's driver interfaces then live on.
int RunDevice() {
  NotificationQueue notifications;  // outlives the device it listens to
  std::unique_ptr<ZeltoVideoDevice> device;
  try {
    device.reset(ZeltoVideoDeviceFactory::GetZeltoVideoDevice());
  } catch (const std::bad_alloc&) {
    // The driver could not list its classes: as good as no camcorder.
  }
  if (!device) {
    std::fprintf(stderr, "no camcorder found\n");
    return 1;
  }
  device->AddEventListener(&notifications);
  const auto videoSystem = static_cast<Orvex::_OxVideoSystem>(Orvex::OxUnique::GetInstance().GetAppVideoSystem());
  // No preview window: this host shows no picture.
  int status = 1;
  if (device->InitializeDevice(videoSystem, true, nullptr, nullptr, true, false)) {
    status = PlayAndStop(*device, notifications);
  } else {
    std::fprintf(stderr, "the camcorder did not start\n");
  }
  // Terminating ends the thread that calls the listener, so nothing can be
  // calling it once it is removed.
  device->TerminateDevice();
  device->RemoveEventListener(&notifications);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const bool simulated = argc == 2 && std::string_view(argv[1]) == "--simulated";
  if (argc > 2 || (argc == 2 && !simulated)) {
    std::fprintf(stderr, "usage: %s [--simulated]\n", argv[0]);
    return 2;
  }

  // The device keeps its cassette-memory database and temporary files where
  // the host settings say: here, a folder of this program's own.
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "zelto-host-example";
  std::filesystem::create_directories(folder, error);
  const Orvex::OxString wideFolder(zelto::platform::WidePath(folder).c_str());
  Orvex::OxUnique::GetInstance().SetMicDataBaseFolder(wideFolder);
  Orvex::OxUnique::GetInstance().SetTempFolder(wideFolder);

  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::fprintf(stderr, "COM could not be initialised\n");
    return 1;
  }
  int status = 1;
  if (simulated) {
#ifdef HOST_EXAMPLE_SIMULATOR
    // Registered in this process, the simulated camcorder is what the
    // factory finds: no hardware, no system driver.
    zelto::sim::SimulatedDriver driver;
    if (SUCCEEDED(driver.Register())) {
      std::printf("simulated camcorder registered\n");
      status = RunDevice();
      driver.Unregister();
    } else {
      std::fprintf(stderr, "the simulated camcorder could not be registered\n");
    }
#else
    std::fprintf(stderr, "built without Zelto::simulator (find_package(Zelto COMPONENTS simulator))\n");
    status = 2;
#endif
  } else {
    status = RunDevice();
  }
  CoUninitialize();
  return status;
}
