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

#include "app/JobLock.h"
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
  // A job ("zelto capture direct"): the session holds the camcorder for it
  // from before the camcorder starts until everything is taken down, and a
  // camcorder another job holds is refused. Empty: not a job.
  std::string job;
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

  // kExitOk, or the exit code with *error saying why: kExitBusy when the
  // session is a job, or puts a cassette in, and another job holds the
  // camcorder.
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
  // Whether the simulated camcorder's disk is made full (its fault panel
  // stands in for the disk); none with the system's driver.
  std::optional<bool> SimulatedDiskFull();
  // Why the simulated camcorder's state could not be saved lately; empty
  // when all is well (and always with the system's driver).
  std::string StateProblem();

  // The camcorder's job file and press log (after Open); none for the
  // demo's tape of its own, which nobody else can reach.
  const std::optional<CamcorderFiles>& JobFiles() const { return jobFiles; }
  // For a job: which other command took the deck since the job began (a
  // deck button pressed in another process); none while nobody has, and
  // always for a session that is not a job. Cheap and never blocks: call
  // it at every progress tick and whenever the deck does what the job did
  // not ask.
  std::optional<DeckTakeover> DeckTaken() { return jobLock ? jobLock->Taken() : std::nullopt; }

private:
  int SetUpHostSettings(std::string* error);
  int RegisterSimulator(std::string* error);
  int TakeCamcorder(std::string* error);
  // The simulated camcorder's state file; none for the demo's own tape.
  std::optional<std::filesystem::path> StateFile() const;
  void Close();

  SessionSettings settings;
  std::filesystem::path dataFolder;
  NotificationFeed feed;
  bool comInitialised = false;
  std::unique_ptr<zelto::sim::SimulatedDriver> driver;
  ZeltoVideoDevice* device = nullptr;
  bool listening = false;
  std::string model;
  std::optional<CamcorderFiles> jobFiles;
  std::unique_ptr<JobLock> jobLock;
};

}  // namespace zelto::app
