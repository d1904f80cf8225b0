#include "app/Help.h"

#include <iomanip>
#include <sstream>

#include "app/DataFolder.h"
#include "app/DeckCommand.h"
#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"

#ifndef ZELTO_VERSION
#define ZELTO_VERSION "0.1"
#endif

namespace zelto::app {

namespace {

std::string DataFolderText() {
  const std::optional<std::filesystem::path> folder = DefaultDataFolder();
  if (!folder) return "(none: no home folder is set; give --data-folder)";
  return zelto::platform::Utf8FromPath(*folder);
}

std::string ExitCodes() {
  std::ostringstream text;
  text << "Exit status:\n";
  for (const ExitCodeMeaning& m : kExitCodeMeanings)
    text << "  " << std::left << std::setw(5) << static_cast<int>(m.code) << m.meaning << '\n';
  return text.str();
}

const char* const kMain = R"(zelto - controls a tape camcorder: deck, status and notifications

Usage: zelto [GLOBAL OPTIONS] COMMAND [ARGUMENTS]

Commands:
  status [--json]         deck state, media, mode, time code, tape position
  deck ACTION [--wait]    play, stop, pause, ff, rew, slow
  deck seek ATN [--wait]  wind to an absolute track number, play its scene
  watch [--seconds N]     print device notifications as they arrive
  capture direct --to DIR capture what the tape plays into files
  capture batch --to DIR --name BASE SECTION...
                          capture sections of the tape, one file each
  capture tape --to DIR   capture the whole cassette, one file a scene
  record FILE             record a transport stream onto the tape
  scan [--contact-sheet PNG]
                          find every scene's picture; store it in the
                          cassette memory
  mic [--json]            the cassette memory: title, text, scenes
  mic text TEXT           set the tape text
  mic picture SCENE PNG   write a scene's stored picture
  demo                    a short tour: the deck, then a capture of two scenes
  verify FILE...          inspect transport stream files for tape damage
  help [COMMAND]          this text, or a command's

A camcorder does one job at a time: capture, scan, record and the demo on a
shared camcorder. Another job on the same camcorder is refused at once (exit
13), naming the job and its process. status, watch, mic and the deck's
buttons work meanwhile; a job whose deck a button took ends with exit 14.

Global options (before or after the command):
  --driver simulated|system
                     simulated (default): the built-in simulated camcorder;
                     system: the camcorder driver installed on this computer
  --state-file FILE  where the simulated camcorder keeps its tape (default:
                     simulator-state.json in the data folder); every zelto
                     that names the same file works the same camcorder
  --cassette FILE    put this cassette (JSON) into the simulated camcorder
  --reset            replace a damaged state file with a fresh camcorder
  --data-folder DIR  cassette memory, temporary files and the default state
                     file (default: see Files); made private when missing;
                     a link or someone else's folder is refused (exit 7)
  --version          print the version and exit
  -h, --help         print help and exit

Examples:
  zelto status
  zelto deck play --wait
  zelto deck seek 29100 --wait --timeout 60
  zelto watch --seconds 30
  zelto --cassette tape.json status --json

)";

const char* const kEnvironment = R"(
Environment:
  ZELTO_TIME_SCALE  the simulated camcorder's clock: 0.1 runs it ten times
                    as fast (every wait of the library shrinks alike);
                    a number above zero, or exit 2
  ZELTO_SIM_THREADING
                    free (default): the simulated camcorder's objects take
                    calls from any thread; apartment: they stay on zelto's
                    main thread, which carries out the other threads' calls
                    while it waits (anything else: exit 2)
  NO_COLOR          no colour, even on a terminal
  XDG_STATE_HOME    (Linux) where the default data folder goes
  LOCALAPPDATA      (Windows) where the default data folder goes

Files:
  data folder       )";

const char* const kStatus = R"(Usage: zelto status [--json]

Shows the camcorder, its deck state, the cassette (media), the camcorder's
mode, the time code under the head and, with the simulated camcorder, where
the tape stands: the absolute track number (ATN) and the tape counter.

Options:
  --json  one JSON object on one line (fields in the README, "version": 1)

Examples:
  zelto status
  zelto status --json
)";

const char* const kDeck = R"(Usage: zelto deck ACTION [--wait] [--timeout SECONDS]
       zelto deck seek ATN [--wait] [--timeout SECONDS]

Actions:
  play   play the tape
  stop   stop the tape; a seek under way is ended first, and a record
         pause is ended as the library ends a recording
  pause  pause, or play on from a pause
  ff     wind forward; while playing, play at the fastest forward speed
  rew    wind back; while playing, play at the fastest reverse speed
  slow   play at the slowest forward speed
  seek   wind to an absolute track number (ATN, decimal: 010 is ten) and
         play the scene found there; on blank tape the search goes on to
         the next scene; with none after it, "no scene found"

A button the deck does not take in its present state is refused (exit 5),
and so are play and slow at the end of the tape. A button pressed while a
job (capture, scan, record, demo) uses the camcorder takes the deck from
it: the job ends (exit 14). So does a wait of another zelto deck: a --wait
that another command's button ended says so, and which (exit 14).

Options:
  --wait             return once the deck has got there: the state reached;
                     for ff and rew, the wind ended; for seek, the scene
                     found or not
  --timeout SECONDS  how long --wait waits at most )";

// After the defaults of --timeout, which come from the command itself.
const char* const kDeckAfterTimeout = R"(

Examples:
  zelto deck play
  zelto deck rew --wait
  zelto deck seek 29100 --wait
)";

const char* const kWatch = R"(Usage: zelto watch [--seconds N]

Prints the device's notifications as they arrive, one line each, with the
time of day and what the notification announced (the deck state and time
code it reported). Ends after N seconds, or at Ctrl-C or SIGTERM (exit 0
either way).
Deck commands given meanwhile by another zelto on the same state file show
here.

Options:
  --seconds N  stop after N seconds

Examples:
  zelto watch
  zelto watch --seconds 60 > events.log
)";

const char* const kCapture = R"(Usage: zelto capture direct --to DIR [--name BASE] [--split RULE] [--seconds N]
       zelto capture batch --to DIR --name BASE [--first N] [--split RULE]
                           [--retry N [--keep-passes]] SECTION...
       zelto capture tape --to DIR [--name BASE] [--split RULE]
                          [--stream-timeout MS] [--poll MS]
                          [--retry N [--keep-passes]]

direct: plays the tape from where it stands and captures into DIR/BASE-01.zlt,
BASE-02.zlt, ... until N seconds of tape are captured, the recording ends (no
picture for 5 s of tape, from the start or after the picture), the tape ends,
or Ctrl-C. From the end of the tape it is refused (exit 5); with no picture
at all it ends "no recording found" (exit 12).
batch: captures each SECTION into its own file, DIR/BASE-NNN-01.zlt with NNN
counting from --first (default 1); past 999 the numbers wrap as the library
writes them (1000 is 001).
tape: the camcorder rewinds the cassette, plays it and captures every scene
into its own file, DIR/BASE-001-01.zlt, BASE-002-01.zlt, ... (a split file
takes the next number), until no picture has come for --stream-timeout.

SECTION is scene:K (the K-th scene of the simulated camcorder's tape) or
IN-OUT, each a tape position H:MM:SS[.cc] or a recorded time code
HH:MM:SS:FF. The camcorder captures a section from IN to the end of the
recording it starts in.

Options:
  --to DIR       the folder of the files (made when missing)
  --name BASE    the files' base name (direct: default Clip; tape: Tape)
  --split RULE   auto (default: at 4.2 GB off NTFS), size:MIB, frames:N;
                 the camcorder splits at whole MiB: for frames:N zelto says
                 how many frames each part holds at the tape's frame rate
  --seconds N    direct: stop after N seconds of tape
  --stream-timeout MS
                 tape: how long (ms, 1000 to 3600000; default 30000) the
                 picture may stay away before the recordings count as ended;
                 longer than the blank tape between two scenes
  --poll MS      tape: how often the camcorder is looked at (ms, 100 to
                 10000; default 500); at most --stream-timeout
  --next-free    when a file of that name exists: batch, the first free
                 --first; direct and tape, BASE-2, BASE-3, ... (without it:
                 exit 9)
  --json         one JSON object per event and progress tick (README)

A file is never overwritten. A folder that takes no files (permission
denied, the disk is full) is refused before the deck moves (exit 2). Ctrl-C
stops the capture the way the library stops it and keeps every file (exit
130); a capture that stops on an error (the disk is full, the camcorder
removed, a stalled deck) keeps its files (exit 10); so does one whose deck
another command takes: a stop, a button, an ejection (exit 14). A
write-protected cassette is refused for a tape capture (exit 5): the
camcorder would end it at once. Each file the camcorder has closed is listed
with its size in DIR/.zelto-captures; a capture into DIR names any file of
an earlier one that was left unfinished (the program killed while writing).

Each file is inspected for tape damage as zelto verify does, while the
capture goes on: the summary says of each its packets, those lost and
flagged, each damaged stretch (bytes and the tape's time code) and each
damaged picture; with --json each file's "inspection". A capture that
completed but found damage exits 15.

--retry N (batch and tape): a damaged file that begins a section (batch)
or a scene (tape, found by its first picture's time code on the simulated
camcorder's tape) is read again, up to N more times while damage remains,
each pass from that start to a second past the last damage, and the file is
assembled from the passes: a packet any pass read well takes the place of
one lost or flagged. The file is replaced only by a complete assembly.
Direct captures refuse --retry (exit 2). The report says which stretches
each pass repaired and what is still damaged (--json: a "retry" event per
file); the status is 0 when every file ends whole, 15 when damage remains.
Passes lie beside the file as FILE.pass2, FILE.pass3, ... and are removed
at the end unless --keep-passes. Ctrl-C during a retry keeps the file as
captured (exit 130).

Examples:
  zelto capture direct --to clips --seconds 30
  zelto capture batch --to tapes --name Holiday scene:1 scene:3
  zelto capture batch --to tapes --name Holiday 0:01:00-0:02:30 --next-free
  zelto capture batch --to tapes --name Holiday --retry 2 scene:3
  zelto capture tape --to tapes --name Holiday
  zelto capture tape --to tapes --name Holiday --retry 2
)";

const char* const kRecord = R"(Usage: zelto record FILE [--margins FIRST,SECOND] [--direct]

Records FILE, an MPEG transport stream (a capture file, say), onto the tape
where it stands: the deck goes to record pause, settles for 5 s, records,
and the data follows; the camcorder ends the recording with the file. A
file that cannot be read, or is not a transport stream, is refused before
the deck is touched (exit 2); a write-protected cassette too (exit 5).

Options:
  --margins FIRST,SECOND  seconds of blank picture recorded before and after
                          the file (default 0,0; hundredths are kept)
  --direct                the deck is already recording: send the data only
                          (refused when the deck is not recording)

At the very end of the tape nothing can be recorded: refused at once, with
the tape's range (exit 5). Ctrl-C stops the recording; what reached the
tape stays there (exit 130). A recording that runs into the end of the
tape, or that the camcorder stops on an error (the camcorder removed),
exits 11 and says why; one whose deck another command takes (a button
pressed in another terminal, the cassette ejected) exits 14.

Examples:
  zelto record clips/Clip-01.zlt
  zelto record title.m2t --margins 1,2
)";

const char* const kScan = R"(Usage: zelto scan [--contact-sheet PNG]

Runs the tape through the camcorder at search speed (it rewinds first) so
that it finds every scene and sends its pictures (one or two a scene),
shows each scene as the tape passes it, and when the scan ends stores the
pictures in the cassette memory (see zelto mic). Ctrl-C cancels the scan
and keeps the pictures of the scenes it reached, those shown (exit 130); a
scan whose deck another command takes (a button pressed in another
terminal, the cassette ejected) exits 14; one the camcorder stops on an
error exits 11.

Options:
  --contact-sheet PNG  then write one image of every scene: its picture,
                       number, time codes and length; a scene whose latest
                       capture found tape damage is framed in red and says
                       "damaged" (see zelto mic). The file is made
                       before the tape moves: exit 9 when PNG exists (it
                       is never overwritten), 2 when it cannot be made

Examples:
  zelto scan
  zelto scan --contact-sheet tape.png
)";

const char* const kMic = R"(Usage: zelto mic [--json]
       zelto mic text TEXT
       zelto mic picture SCENE OUT.png [--second]

The cassette memory, as the cassette-memory database in the data folder
holds it for the cassette in the camcorder: its title, text and cleaning
mark, and a record per scene (start and end time codes, length, recording
date, flag, note, and how many pictures zelto scan has stored). The
captured column says what the latest capture that held the scene found:
whole, damaged, or - where none did (a capture file is matched to scenes
by the time codes its pictures carry).

  text TEXT      set the tape text (quote it), in the cassette's memory and
                 the database; refused on a write-protected cassette or one
                 without memory (exit 5); several zelto at once take turns,
                 the last text stands
  picture SCENE  write scene SCENE's picture (1 is the first scene) as a
                 PNG; --second for its second picture; never overwrites
                 (exit 9 when the file exists, 2 when it cannot be made)

Options:
  --json  one JSON object: "version": 1, title, text, cleaning, scenes
          (scene, id, recorded, start, end, lengthMs, flag, note, pictures,
          damage: null, or the latest capture's file, when it was checked,
          the time codes it held, packets lost and flagged, damaged
          pictures and the damaged stretches' time codes)

Examples:
  zelto mic
  zelto mic text "Summer 2025"
  zelto mic text -- "-5 dB on the left"  (after --, nothing is an option)
  zelto mic picture 2 scene2.png
)";

const char* const kDemo = R"(Usage: zelto demo

A tour on a fresh demo cassette of three short scenes: status, rewind, play,
a seek to the second scene, stop, then a batch capture of the first two
scenes into a new folder under the data folder (demo-captures/), whose files
it lists with the tape damage in them: the demo cassette is worn for half a
second in its second scene, which the capture reads again and mends
(--retry 2, see zelto help capture). Each step waits for the camcorder's
notifications, so the tour also runs with ZELTO_TIME_SCALE set. With
--state-file the tour uses that camcorder and its tape as they are.

Examples:
  zelto demo
  ZELTO_TIME_SCALE=0.1 zelto demo
)";

const char* const kVerify = R"(Usage: zelto verify [--json] [--no-pictures] FILE...

Reads each FILE, an MPEG transport stream (a capture file, say), from start
to end and reports the tape damage in it: its packets, the packets lost
(gaps in each stream's continuity counter), the packets flagged as
uncorrected by the camcorder (transport error indicator), sync lost and the
bytes outside packets, and each damaged stretch as a byte range with the
stream's time there (HH:MM:SS:FF once the pictures tell the frame rate,
else HH:MM:SS.mmm). It then decodes the pictures and names each one the
decoder found damaged. No camcorder is needed.

A lost packet lies somewhere between its stream's packets either side: its
stretch covers the bytes between them ("at byte N" where they are
neighbours). Bytes inside a packet that is no longer whole show as the bytes
after that packet.

Options:
  --json         one JSON object per file ("event": "file", or "error" for
                 a file that was not inspected), then a "summary" (README)
  --no-pictures  account for the packets only, without decoding (faster)

Exit status: 0 when every file is whole, 15 when damage was found in any,
2 when a file is missing, cannot be read or is no transport stream (the
other files are still inspected).

Examples:
  zelto verify clips/Clip-01.zlt
  zelto verify --json tapes/*.zlt > damage.json
)";

}  // namespace

std::string HelpText(const std::string& command) {
  if (command.empty() || command == "help")
    return std::string(kMain) + ExitCodes() + kEnvironment + DataFolderText() + "\n";
  if (command == "status") return kStatus;
  if (command == "deck") {
    const auto seconds = [](DeckAction action) {
      return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(DefaultDeckTimeout(action)).count());
    };
    return std::string(kDeck) + "(default " + seconds(DeckAction::Play) + "; seek, ff and\n                     rew " +
           seconds(DeckAction::Seek) + ")" + kDeckAfterTimeout;
  }
  if (command == "watch") return kWatch;
  if (command == "capture") return kCapture;
  if (command == "record") return kRecord;
  if (command == "scan") return kScan;
  if (command == "mic") return kMic;
  if (command == "demo") return kDemo;
  if (command == "verify") return kVerify;
  return {};
}

std::string VersionText() { return std::string("zelto ") + ZELTO_VERSION + "\n"; }

}  // namespace zelto::app
