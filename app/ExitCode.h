// What the zelto program tells its caller through its exit status. Scripts
// rely on these numbers: never renumber one, only add.
#pragma once

namespace zelto::app {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,          // the command line (or a file it names) is wrong
  kExitNoCamcorder = 3,    // no camcorder was found
  kExitDeviceFailed = 4,   // the device would not start or failed while working
  kExitRefused = 5,        // the camcorder will not take this command now
  kExitTimedOut = 6,       // a wait ran out of time before the deck got there
  kExitStateFile = 7,      // the state file or the data folder cannot be used
  kExitOutputFailed = 8,   // standard output could not be written
  kExitWouldOverwrite = 9,  // a capture file of that name exists already
  kExitCaptureFailed = 10,  // a capture stopped on an error (its files are kept)
  kExitRecordFailed = 11,   // a recording or a scan stopped on an error
  kExitNoRecording = 12,    // a capture found no recording on the tape to capture
  kExitBusy = 13,           // another zelto job has the camcorder (capture, scan, record, demo)
  kExitTakenOver = 14,      // another command took the deck and ended this job (its files are kept)
  kExitDamaged = 15,        // tape damage found in a file: by verify, or by a capture that completed
  kExitInterrupted = 130,  // Ctrl-C (the shell's 128 + SIGINT)
  kExitTerminated = 143,   // SIGTERM (128 + SIGTERM), or the console closing on Windows
};

struct ExitCodeMeaning {
  ExitCode code;
  const char* meaning;
};

// Every exit code with a line saying what it means, for the help text.
inline constexpr ExitCodeMeaning kExitCodeMeanings[] = {
    {kExitOk, "success"},
    {kExitUsage, "the command line, or a file it names, is wrong"},
    {kExitNoCamcorder, "no camcorder found"},
    {kExitDeviceFailed, "the camcorder would not start or failed while working"},
    {kExitRefused, "the camcorder will not take the command now (state, tape)"},
    {kExitTimedOut, "--wait ran out of time before the deck got there"},
    {kExitStateFile, "the state file or the data folder cannot be used"},
    {kExitOutputFailed, "the output could not be written (disk full, pipe closed)"},
    {kExitWouldOverwrite, "a capture would overwrite a file (see --next-free)"},
    {kExitCaptureFailed, "a capture stopped on an error; its files are kept"},
    {kExitRecordFailed, "a recording or a tape scan stopped on an error"},
    {kExitNoRecording, "a capture found no recording on the tape"},
    {kExitBusy, "another zelto job is using the camcorder"},
    {kExitTakenOver, "another command took the deck and ended the job"},
    {kExitDamaged, "tape damage found in a file (verify, or a completed capture)"},
    {kExitInterrupted, "interrupted by Ctrl-C"},
    {kExitTerminated, "ended by SIGTERM (or the console closing)"},
};

}  // namespace zelto::app
