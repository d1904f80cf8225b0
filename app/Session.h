// One run's hold on the camcorder: COM on the calling thread, the host
// settings, the simulated driver when asked for, the device from the
// factory, initialised, with a notification feed attached. The destructor
// takes everything down in reverse order, whatever Open reached.
//
// Thread-bound: open, use and destroy on one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/NotificationFeed.h"
#include "app/Options.h"
#include "simulator/Cassette.h"
#include "simulator/DeckModel.h"

class ZeltoVideoDevice;

namespace zelto::sim {
class SimulatedDriver;
}

namespace zelto::app {

struct SessionSettings {
  GlobalOptions global;
  // The demo's fresh cassette: used unless --cassette or --state-file names
  // a camcorder's tape; no state file is then read or written.
  std::optional<zelto::sim::Cassette> freshCassette;
  // The command only reads the camcorder: the simulated camcorder's state
  // file is then only read (never made, locked for writing or written), so
  // that it works on a read-only file or folder and a full disk. --cassette
  // and --reset change the camcorder all the same.
  bool onlyReads = false;
};

// Whether a command only reads the camcorder (status, watch, the cassette
// memory shown or a picture of it written elsewhere).
bool OnlyReads(const Options& options);

// Where the simulated camcorder's head stands, in absolute tracks.
struct TapePosition {
  std::uint32_t track = 0;
  std::uint32_t lengthTracks = 0;
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
  // The data folder the host settings point at (after Open).
  const std::filesystem::path& DataFolder() const { return dataFolder; }
  // The cassette in the simulated camcorder now; none with the system's
  // driver or an empty slot.
  std::optional<zelto::sim::Cassette> CurrentCassette();
  // The simulated driver after Open, null with the system's.
  zelto::sim::SimulatedDriver* Simulator() { return driver.get(); }
  // The simulated camcorder's tape position; none with the system's driver
  // (the library does not report one) or without a cassette.
  std::optional<TapePosition> Position();
  // Whether the deck is winding to a seek's track (which the library reads
  // as an unknown state); none where the driver does not tell (the system's).
  std::optional<bool> SeekUnderWay();
  // Whether the deck is recording, not paused in record (the library reads
  // both as record pause); none where the driver does not tell (the system's).
  std::optional<bool> RecordingUnderWay();
  // What the simulated camcorder's preview was last told, by this program
  // or another on its state file; none with the system's driver.
  std::optional<zelto::sim::PreviewSettings> Preview();
  // Why the simulated camcorder's state could not be saved lately; empty
  // when all is well (and always with the system's driver).
  std::string StateProblem();

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
};

}  // namespace zelto::app
