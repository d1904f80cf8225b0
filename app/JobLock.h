// A camcorder does one job at a time (a capture, a scan, a recording, the
// demo on a shared camcorder), across every process that works it. The job
// holds an operating-system lock on the camcorder's job file, which dies
// with its process (kill -9 frees the camcorder at once), and writes into
// it which job and process it is: "job WORDS", "process PID", "since
// SECONDS" (seconds since 1970), for a person and for the refusal a second
// job gets.
//
// Deck buttons pressed from another zelto are never refused (a person must
// be able to stop a runaway job), but each is first noted in the
// camcorder's press log, "pressed PID WORDS", a line a press. A job, or a
// deck command waiting for its own button, reads the lines added since it
// began and so learns that another command took the deck, and which. The
// log is a file of its own, only ever appended to (and started again when
// it grows large), so that a reader's place in it stays valid while jobs
// come and go.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace zelto::app {

// The two files of one camcorder, beside its state file (or, for the
// system's driver, in the data folder).
struct CamcorderFiles {
  std::filesystem::path job;      // the lock and the holder's text
  std::filesystem::path presses;  // the press log
  // "<base>.job" and "<base>.deck".
  static CamcorderFiles Beside(const std::filesystem::path& base);
};

// The job that holds a camcorder, as its file says.
struct JobHolder {
  std::string job;                       // "zelto capture direct"; empty when the file does not say yet
  std::optional<std::uint64_t> process;  // its process id
  std::optional<std::int64_t> since;     // when it began, seconds since 1970
};

// "zelto capture direct (process 4242)"
std::string JobText(const JobHolder& holder);
// "the camcorder is busy: zelto capture direct (process 4242) is using it
// since 10:41:07; wait for it or stop it with zelto deck stop", with what
// is refused meanwhile before the advice when given.
std::string BusyText(const JobHolder& holder, const std::string& refused = "");

// A deck button another process pressed.
struct DeckTakeover {
  std::uint64_t process = 0;
  std::string command;  // "zelto deck stop"
  // "zelto deck stop (process 4343)"
  std::string Text() const;
};

// This process's id, as the files write it.
std::uint64_t CurrentProcessId();

// The deck buttons pressed by other processes since it was made: what a
// job or a waiting deck command reads to learn that another command took
// the deck. Thread-bound.
class DeckPressWatch {
public:
  // From the end of the log as it is now. A log that cannot be opened (a
  // folder gone) is a watch that never sees a press.
  explicit DeckPressWatch(const std::filesystem::path& log);
  ~DeckPressWatch();
  DeckPressWatch(const DeckPressWatch&) = delete;
  DeckPressWatch& operator=(const DeckPressWatch&) = delete;

  // The first press by another process since the watch began, or none.
  // Cheap and never blocks: a read of what was added to the log since the
  // last call. Once a press is seen it stays the answer.
  std::optional<DeckTakeover> Taken();

private:
  std::intptr_t handle;   // a file descriptor, or a Windows handle; -1: none
  std::uint64_t seen = 0;  // how far the log has been read
  std::string partial;     // the start of a line still being written
  std::optional<DeckTakeover> taken;
};

class JobLock {
public:
  enum class Outcome {
    Taken,     // this process has the camcorder
    Busy,      // another job has it: *holder says which
    Unusable,  // the job file cannot be used: *error says why
  };

  // Takes the camcorder for `job` ("zelto capture direct") without waiting:
  // another job's camcorder is refused at once.
  static Outcome Take(const CamcorderFiles& files, const std::string& job, std::unique_ptr<JobLock>* lock,
                      JobHolder* holder, std::string* error);
  // Lets the camcorder go.
  ~JobLock();
  JobLock(const JobLock&) = delete;
  JobLock& operator=(const JobLock&) = delete;

  // Which other command took the deck since the job began: a button pressed
  // by `zelto deck` in another process. Cheap, never blocks: call it at
  // every progress tick and whenever the deck does what the job did not ask.
  std::optional<DeckTakeover> Taken() { return presses.Taken(); }

private:
  JobLock(std::intptr_t handle, const std::filesystem::path& log);
  std::intptr_t handle;
  DeckPressWatch presses;
};

// zelto deck: notes in the log that this process presses `command` ("zelto
// deck stop"), before it presses it. False with *error when the log cannot
// be written.
bool NoteDeckPress(const CamcorderFiles& files, const std::string& command, std::string* error);

// The job holding the camcorder, read from its job file; none when no live
// process holds it.
std::optional<JobHolder> ReadJobHolder(const CamcorderFiles& files);

}  // namespace zelto::app
