#include "app/Session.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "app/CamcorderProbe.h"
#include "app/ExitCode.h"
#include "host/foundation/OxUnique.h"
#include "platform/PlatformExtras.h"
#include "platform/com.h"
#include "simulator/SimulatedDriver.h"
#include "zelto/device/ZeltoVideoDevice.h"

namespace zelto::app {

namespace {

std::string HexResult(HRESULT result) {
  std::ostringstream text;
  text << "0x" << std::hex << static_cast<unsigned long>(static_cast<std::uint32_t>(result));
  return text.str();
}

std::string UserNameForFolder() {
  const char* name = std::getenv("USER");
  if (name == nullptr || *name == '\0') name = std::getenv("USERNAME");
  std::string safe;
  for (const char* c = name; c != nullptr && *c != '\0'; ++c) {
    const unsigned char u = static_cast<unsigned char>(*c);
    safe += (std::isalnum(u) || *c == '-' || *c == '_' || *c == '.') ? *c : '_';
  }
  return safe.empty() ? "user" : safe;
}

}  // namespace

std::filesystem::path Session::DefaultDataFolder() {
  std::error_code ec;
  std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
  if (ec) temp = ".";
  return temp / ("zelto-" + UserNameForFolder());
}

Session::Session(SessionSettings settings) : settings(std::move(settings)) {}

Session::~Session() { Close(); }

int Session::SetUpHostSettings(std::string* error) {
  const std::filesystem::path folder = settings.global.dataFolder.value_or(DefaultDataFolder());
  dataFolder = folder;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) {
    *error = "cannot use the data folder " + folder.string() + (ec ? ": " + ec.message() : "");
    return kExitDeviceFailed;
  }
  const Orvex::OxString wide(zelto::platform::WidePath(std::filesystem::absolute(folder, ec)).c_str());
  Orvex::OxUnique& unique = Orvex::OxUnique::GetInstance();
  unique.SetMicDataBaseFolder(wide);
  unique.SetTempFolder(wide);
  return kExitOk;
}

int Session::RegisterSimulator(std::string* error) {
  zelto::sim::DriverConfig config;
  if (settings.global.cassette) {
    std::string problem;
    std::optional<zelto::sim::Cassette> cassette = zelto::sim::Cassette::Load(*settings.global.cassette, &problem);
    if (!cassette) {
      *error = "cassette " + settings.global.cassette->string() + ": " + problem;
      return kExitUsage;
    }
    config.camcorder.cassette = std::move(cassette);
  } else if (settings.freshCassette) {
    config.camcorder.cassette = settings.freshCassette;
  }

  if (settings.global.stateFile) {
    config.camcorder.stateFile = *settings.global.stateFile;
  } else if (!settings.freshCassette) {
    config.camcorder.stateFile = dataFolder / "simulator-state.json";
  }
  // A saved state would replace the cassette asked for: a new cassette
  // starts the saved state over.
  const bool chosenCassette = settings.global.cassette || settings.freshCassette;
  if (chosenCassette && config.camcorder.stateFile) {
    std::error_code ec;
    std::filesystem::remove(*config.camcorder.stateFile, ec);
  }
  if (chosenCassette) startCassette = config.camcorder.cassette;

  driver = std::make_unique<zelto::sim::SimulatedDriver>();
  HRESULT result = E_FAIL;
  try {
    result = driver->Register(config);
  } catch (const std::exception& e) {
    *error = std::string("the simulated camcorder did not start: ") + e.what();
    return kExitDeviceFailed;
  }
  if (FAILED(result)) {
    *error = "the simulated camcorder could not be registered (" + HexResult(result) + ")";
    return kExitDeviceFailed;
  }
  return kExitOk;
}

int Session::Open(std::string* error) {
  if (int code = SetUpHostSettings(error); code != kExitOk) return code;

  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(com)) {
    *error = "COM could not be initialised (" + HexResult(com) + ")";
    return kExitDeviceFailed;
  }
  comInitialised = true;

  if (Simulated()) {
    if (int code = RegisterSimulator(error); code != kExitOk) return code;
  }

  model = ProbeCamcorderModel();
  try {
    device = ZeltoVideoDeviceFactory::GetZeltoVideoDevice();
  } catch (const std::bad_alloc&) {
    device = nullptr;
  }
  if (device == nullptr) {
    *error = Simulated() ? "no camcorder found (the simulated camcorder did not answer)"
                         : "no camcorder found: is it connected and switched on?";
    return kExitNoCamcorder;
  }
  if (model.empty()) model = std::string(kModelPrefix) + "...";

  const auto videoSystem = static_cast<Orvex::_OxVideoSystem>(Orvex::OxUnique::GetInstance().GetAppVideoSystem());
  // No preview window: a command-line host shows no picture.
  if (!device->InitializeDevice(videoSystem, true, nullptr, nullptr, true, false)) {
    *error = "the camcorder " + model + " did not start (device initialisation failed)";
    return kExitDeviceFailed;
  }
  device->AddEventListener(feed.DeviceListener());
  device->AddEventListener(feed.SceneSearchListener());
  listening = true;
  return kExitOk;
}

void Session::Close() {
  if (device != nullptr) {
    // Terminating first ends the message receiver's thread, so no listener
    // call can still be running once the listeners are removed.
    device->TerminateDevice();
    if (listening) {
      device->RemoveEventListener(feed.DeviceListener());
      device->RemoveEventListener(feed.SceneSearchListener());
    }
    delete device;
    device = nullptr;
  }
  if (driver) {
    driver->Unregister();  // writes the state file a last time
    driver.reset();
  }
  if (comInitialised) {
    CoUninitialize();
    comInitialised = false;
  }
}

}  // namespace zelto::app
