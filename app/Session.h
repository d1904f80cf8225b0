// One run's hold on the camcorder: COM on the calling thread, the host
// settings, the simulated driver when asked for, the device from the
// factory, initialised, with a notification feed attached. The destructor
// takes everything down in reverse order, whatever Open reached.
//
// Thread-bound: open, use and destroy on one thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/NotificationFeed.h"
#include "app/Options.h"
#include "simulator/Cassette.h"

class ZeltoVideoDevice;

namespace zelto::sim {
class SimulatedDriver;
}

namespace zelto::app {

struct SessionSettings {
  GlobalOptions global;
  // The demo's fresh cassette: used unless --cassette names one, and then
  // no state file is read or written unless --state-file names one.
  std::optional<zelto::sim::Cassette> freshCassette;
};

class Session {
public:
  explicit Session(SessionSettings settings);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // kExitOk, or the exit code with *error saying why.
  int Open(std::string* error);

  ZeltoVideoDevice& Device() { return *device; }
  NotificationFeed& Feed() { return feed; }
  // The camcorder's model text, "HXQ-ZL..." when the driver did not say.
  const std::string& Model() const { return model; }
  bool Simulated() const { return settings.global.driver == DriverKind::Simulated; }
  // The cassette the simulated camcorder started with, when this run chose it.
  const std::optional<zelto::sim::Cassette>& StartCassette() const { return startCassette; }
  // The simulated driver after Open, null with the system's.
  zelto::sim::SimulatedDriver* Simulator() { return driver.get(); }

  // The folder the host settings point at when --data-folder is not given:
  // one per user under the temporary directory. The simulated camcorder
  // keeps its state there too unless --state-file says otherwise.
  static std::filesystem::path DefaultDataFolder();

private:
  int SetUpHostSettings(std::string* error);
  int RegisterSimulator(std::string* error);
  void Close();

  SessionSettings settings;
  std::filesystem::path dataFolder;
  NotificationFeed feed;
  bool comInitialised = false;
  std::unique_ptr<zelto::sim::SimulatedDriver> driver;
  ZeltoVideoDevice* device = nullptr;
  bool listening = false;
  std::string model;
  std::optional<zelto::sim::Cassette> startCassette;
};

}  // namespace zelto::app
