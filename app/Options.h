// What a command line asks for, once parsed.
#pragma once

#include <filesystem>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelto::app {

enum class DriverKind { Simulated, System };

enum class CommandKind { Status, Deck, Watch, Capture, Record, Scan, Mic, Demo, Verify };

// The words of the command line, in the order help lists them.
const char* CommandWord(CommandKind command);

enum class DeckAction { Play, Stop, Pause, FastForward, Rewind, Slow, Seek };

struct GlobalOptions {
  DriverKind driver = DriverKind::Simulated;
  std::optional<std::filesystem::path> stateFile;   // the simulator's; default in the data folder
  std::optional<std::filesystem::path> cassette;    // a cassette file for the simulator
  std::optional<std::filesystem::path> dataFolder;  // cassette-memory database and temporary files
  bool resetState = false;                          // replace a damaged state file
};

struct StatusOptions {
  bool json = false;
};

struct DeckOptions {
  DeckAction action = DeckAction::Stop;
  unsigned track = 0;  // absolute track number, for a seek
  bool wait = false;
  std::optional<double> timeoutSeconds;  // default depends on the action
};

// How capture files are split: the library's split kinds.
struct SplitRule {
  enum class Kind { Automatic = 0, BySize = 1, ByDuration = 2 };
  Kind kind = Kind::Automatic;
  std::uint64_t megabytes = 0;  // BySize
  std::uint32_t frames = 0;     // ByDuration
};

// A tape capture's stream time-out unless told: longer than the blank
// stretches a camcorder's owner leaves between recordings.
inline constexpr std::uint32_t kTapeStreamTimeoutMs = 30'000;

struct CaptureOptions {
  enum class Kind { Direct, Batch, Tape };
  Kind kind = Kind::Direct;
  std::filesystem::path folder;
  std::string name;  // base name of the files
  int first = 1;     // batch: number of the first section's file
  SplitRule split;
  std::optional<double> seconds;  // direct: seconds of tape to capture
  bool nextFree = false;
  bool json = false;
  std::vector<std::string> sections;  // batch, as written: resolved against the tape
  // Tape: the host settings the library's whole-tape run reads, in ms of
  // the camcorder's clock; none: kTapeStreamTimeoutMs, the host's poll.
  std::optional<std::uint32_t> streamTimeoutMs;
  std::optional<std::uint32_t> pollMs;
  // Batch and tape: how many more times a damaged stretch is read, and
  // whether the files of those reads stay once the capture is assembled.
  unsigned retries = 0;
  bool keepPasses = false;
};

// Recording a file onto the tape where it stands. Margins are tape the
// camcorder records before and after the file, in hundredths of a second
// (the unit the recording items and the camcorder's transmit share).
struct RecordOptions {
  std::filesystem::path file;
  std::uint32_t firstMargin = 0;
  std::uint32_t secondMargin = 0;
  bool direct = false;  // the deck is already recording: send the data only
};

struct ScanOptions {
  std::optional<std::filesystem::path> contactSheet;  // a PNG to write
};

struct MicOptions {
  enum class Action { Show, Text, Picture };
  Action action = Action::Show;
  bool json = false;
  std::string text;             // Text
  unsigned scene = 0;           // Picture: 1 is the first scene
  bool second = false;          // Picture: the scene's second picture
  std::filesystem::path output;  // Picture: the PNG to write
};

// Inspecting transport stream files for tape damage.
struct VerifyOptions {
  std::vector<std::filesystem::path> files;
  bool json = false;
  bool pictures = true;  // decode the video too
};

struct WatchOptions {
  std::optional<double> seconds;  // none: until interrupted
};

struct Options {
  GlobalOptions global;
  CommandKind command = CommandKind::Status;
  StatusOptions status;
  DeckOptions deck;
  WatchOptions watch;
  CaptureOptions capture;
  RecordOptions record;
  ScanOptions scan;
  MicOptions mic;
  VerifyOptions verify;
};

// The word the command line uses for an action ("ff", "seek", ...).
const char* DeckActionWord(DeckAction action);

}  // namespace zelto::app
