#include "app/Session.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "app/CamcorderProbe.h"
#include "app/DataFolder.h"
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

// ZELTO_SIM_THREADING: where the simulated driver's objects live. False
// with *error set when the variable holds neither mode.
bool SimulatorThreading(bool* apartment, std::string* error) {
  const char* value = std::getenv("ZELTO_SIM_THREADING");
  const std::string mode = value ? value : "";
  *apartment = mode == "apartment";
  if (mode.empty() || mode == "free" || mode == "apartment") return true;
  *error = "ZELTO_SIM_THREADING is '" + mode + "'; it takes apartment or free (unset: free)";
  return false;
}

}  // namespace

bool OnlyReads(const Options& options) {
  switch (options.command) {
    case CommandKind::Status:
    case CommandKind::Watch:
      return true;
    case CommandKind::Mic:
      return options.mic.action != MicOptions::Action::Text;
    default:
      return false;
  }
}

Session::Session(SessionSettings settings) : settings(std::move(settings)) {}

Session::~Session() { Close(); }

int Session::SetUpHostSettings(std::string* error) {
  const bool isDefault = !settings.global.dataFolder;
  const std::optional<std::filesystem::path> folder = isDefault ? DefaultDataFolder() : settings.global.dataFolder;
  if (!folder) {
    *error = "no data folder: no home folder is set; give one with --data-folder";
    return kExitStateFile;
  }
  if (std::string problem = PrepareDataFolder(*folder, isDefault); !problem.empty()) {
    *error = problem;
    return kExitStateFile;
  }
  dataFolder = *folder;
  std::error_code ec;
  const Orvex::OxString wide(zelto::platform::WidePath(std::filesystem::absolute(dataFolder, ec)).c_str());
  Orvex::OxUnique& unique = Orvex::OxUnique::GetInstance();
  unique.SetMicDataBaseFolder(wide);
  unique.SetTempFolder(wide);
  return kExitOk;
}

int Session::RegisterSimulator(std::string* error) {
  zelto::sim::DriverConfig config;
  // apartment: the driver's objects stay on this thread, and the library's
  // scapturing thread reaches them through calls this thread dispatches
  // while it waits for events.
  if (!SimulatorThreading(&config.apartmentThreaded, error)) return kExitUsage;
  std::optional<zelto::sim::Cassette> asked;
  if (settings.global.cassette) {
    std::string problem;
    asked = zelto::sim::Cassette::Load(*settings.global.cassette, &problem);
    if (!asked) {
      *error = "cassette " + zelto::platform::Utf8FromPath(*settings.global.cassette) + ": " + problem;
      return kExitUsage;
    }
  }
  if (const std::optional<std::filesystem::path> stateFile = StateFile(); !stateFile) {
    config.camcorder.cassette = asked ? asked : settings.freshCassette;
  } else {
    config.camcorder.stateFile = *stateFile;
    if (asked) {
      config.camcorder.cassette = asked;
      config.camcorder.insertCassette = true;
    }
  }
  config.camcorder.replaceDamagedState = settings.global.resetState;
  config.camcorder.readOnlyState = settings.onlyReads && !asked && !settings.global.resetState;

  driver = std::make_unique<zelto::sim::SimulatedDriver>();
  HRESULT result = E_FAIL;
  try {
    result = driver->Register(config);
  } catch (const zelto::sim::StateFileError& e) {
    *error = std::string("state file ") + e.what();
    if (e.kind() == zelto::sim::StateFileError::Kind::Damaged)
      *error += "; --reset replaces it with a fresh camcorder";
    if (e.kind() == zelto::sim::StateFileError::Kind::ReadOnly)
      *error += " (status, watch and mic still read it)";
    return kExitStateFile;
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

std::optional<std::filesystem::path> Session::StateFile() const {
  // The demo's tape lives in this run alone unless a state file is named;
  // everything else works the camcorder of a state file, shared with every
  // zelto that names it.
  if (settings.freshCassette && !settings.global.stateFile) return std::nullopt;
  return settings.global.stateFile.value_or(dataFolder / "simulator-state.json");
}

int Session::TakeCamcorder(std::string* error) {
  if (Simulated()) {
    if (const std::optional<std::filesystem::path> stateFile = StateFile()) jobFiles = CamcorderFiles::Beside(*stateFile);
  } else {
    jobFiles = CamcorderFiles::Beside(dataFolder / "camcorder");
  }
  // A cassette put in changes the tape under a job as surely as a job does.
  const bool inserts = Simulated() && settings.global.cassette && jobFiles;
  if (!jobFiles || (settings.job.empty() && !inserts)) return kExitOk;
  JobHolder holder;
  switch (JobLock::Take(*jobFiles, settings.job.empty() ? "zelto --cassette" : settings.job, &jobLock, &holder, error)) {
    case JobLock::Outcome::Taken: return kExitOk;
    case JobLock::Outcome::Busy:
      *error = BusyText(holder, settings.job.empty() ? "no cassette can be put in meanwhile" : "");
      return kExitBusy;
    case JobLock::Outcome::Unusable: return kExitStateFile;
  }
  return kExitStateFile;
}

std::optional<zelto::sim::Cassette> Session::CurrentCassette() {
  if (!driver || !driver->Registered()) return std::nullopt;
  return driver->Panel().CurrentCassette();
}

std::optional<TapePosition> Session::Position() {
  const std::optional<zelto::sim::Cassette> cassette = CurrentCassette();
  if (!cassette) return std::nullopt;
  // The cassette's position is where the head stood when it was read.
  return TapePosition{cassette->positionTrack, cassette->lengthTracks};
}

std::optional<bool> Session::SeekUnderWay() {
  if (!driver || !driver->Registered()) return std::nullopt;
  const zelto::sim::TransportMode mode = driver->Panel().Mode();
  return mode == zelto::sim::TransportMode::SeekWinding || mode == zelto::sim::TransportMode::SeekSettling;
}

std::optional<bool> Session::RecordingUnderWay() {
  if (!driver || !driver->Registered()) return std::nullopt;
  return driver->Panel().Mode() == zelto::sim::TransportMode::Record;
}

std::optional<zelto::sim::PreviewSettings> Session::Preview() {
  if (!driver || !driver->Registered()) return std::nullopt;
  return driver->Panel().Preview();
}

std::optional<bool> Session::SimulatedDiskFull() {
  if (!driver || !driver->Registered()) return std::nullopt;
  const std::optional<std::uint64_t> room = driver->Panel().DiskRoomLeft();
  return room && *room < 1'590'000;  // not a second of tape
}

std::string Session::StateProblem() {
  if (!driver || !driver->Registered()) return {};
  return driver->Panel().StateProblem();
}

int Session::Open(std::string* error) {
  // The clock runs at the speed asked for, or not at all.
  if (std::string problem = zelto::platform::TimeScaleProblem(); !problem.empty()) {
    *error = problem;
    return kExitUsage;
  }
  if (int code = SetUpHostSettings(error); code != kExitOk) return code;

  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(com)) {
    *error = "COM could not be initialised (" + HexResult(com) + ")";
    return kExitDeviceFailed;
  }
  comInitialised = true;

  // Before the camcorder starts: a second job must not move anything.
  if (int code = TakeCamcorder(error); code != kExitOk) return code;
  if (Simulated()) {
    if (int code = RegisterSimulator(error); code != kExitOk) return code;
  }
  // The cassette is in; only a job keeps the camcorder.
  if (settings.job.empty()) jobLock.reset();

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
  feed.Attach(device);
  device->AddEventListener(feed.DeviceListener());
  device->AddEventListener(feed.SceneSearchListener());
  device->AddEventListener(feed.CapturingListener());
  device->AddEventListener(feed.RecordingListener());
  device->AddEventListener(feed.ScanningListener());
  device->AddEventListener(feed.ScapturingListener());
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
      device->RemoveEventListener(feed.CapturingListener());
      device->RemoveEventListener(feed.RecordingListener());
      device->RemoveEventListener(feed.ScanningListener());
      device->RemoveEventListener(feed.ScapturingListener());
    }
    feed.Attach(nullptr);
    delete device;
    device = nullptr;
  }
  if (driver) {
    driver->Unregister();
    driver.reset();
  }
  if (comInitialised) {
    CoUninitialize();
    comInitialised = false;
  }
  // Only once the camcorder is taken down may another job begin.
  jobLock.reset();
}

}  // namespace zelto::app
