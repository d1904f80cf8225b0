#include "app/Commands.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "app/CaptureCommand.h"
#include "app/CaptureReport.h"
#include "app/CommandLine.h"
#include "app/DeckCommand.h"
#include "app/DemoCommand.h"
#include "app/ExitCode.h"
#include "app/Interrupt.h"
#include "app/MicCommand.h"
#include "app/RecordCommand.h"
#include "app/ScanCommand.h"
#include "app/Session.h"
#include "app/StatusCommand.h"
#include "app/VerifyCommand.h"
#include "app/WatchCommand.h"

namespace zelto::app {

namespace {

std::mutex hookLock;
std::function<void(Session&)>& OpenedHook() {
  static std::function<void(Session&)> hook;
  return hook;
}

// The words a job is named by to whoever finds the camcorder busy; empty
// for the commands that share the camcorder (status, watch, mic, the deck's
// buttons).
std::string JobName(const Options& options) {
  switch (options.command) {
    case CommandKind::Capture:
      switch (options.capture.kind) {
        case CaptureOptions::Kind::Direct: return "zelto capture direct";
        case CaptureOptions::Kind::Batch: return "zelto capture batch";
        case CaptureOptions::Kind::Tape: return "zelto capture tape";
      }
      return "zelto capture";
    case CommandKind::Record:
    case CommandKind::Scan:
    case CommandKind::Demo: return std::string("zelto ") + CommandWord(options.command);
    case CommandKind::Status:
    case CommandKind::Deck:
    case CommandKind::Watch:
    case CommandKind::Mic:
    case CommandKind::Verify: return "";
  }
  return "";
}

int RunParsed(const Options& options, Console& console) {
  SessionSettings settings;
  settings.global = options.global;
  settings.job = JobName(options);
  settings.onlyReads = OnlyReads(options);
  if (options.command == CommandKind::Demo && options.global.driver == DriverKind::Simulated)
    settings.freshCassette = DemoCassette();

  Session session(settings);
  std::string error;
  if (const int code = session.Open(&error); code != kExitOk) {
    console.Error(error);
    return code;
  }
  {
    std::function<void(Session&)> hook;
    {
      std::lock_guard<std::mutex> guard(hookLock);
      hook = OpenedHook();
    }
    if (hook) hook(session);
  }
  int code = kExitUsage;
  switch (options.command) {
    case CommandKind::Status: code = RunStatus(session, options.status, console); break;
    case CommandKind::Deck: code = RunDeck(session, options.deck, console); break;
    case CommandKind::Watch: code = RunWatch(session, options.watch, console); break;
    case CommandKind::Capture: code = RunCapture(session, options.capture, console); break;
    case CommandKind::Record: code = RunRecord(session, options.record, console); break;
    case CommandKind::Scan: code = RunScan(session, options.scan, console); break;
    case CommandKind::Mic: code = RunMic(session, options.mic, console); break;
    case CommandKind::Demo: code = RunDemo(session, console); break;
    case CommandKind::Verify: break;  // run without a camcorder, above
  }
  // A change the simulated camcorder could not keep was undone there: the
  // command did not do what it said.
  if (const std::string problem = session.StateProblem(); code == kExitOk && !problem.empty()) {
    console.Error("the camcorder's state was not kept: " + problem);
    return kExitStateFile;
  }
  return code;
}

}  // namespace

void SetSessionOpenedHookForTesting(std::function<void(Session&)> hook) {
  std::lock_guard<std::mutex> guard(hookLock);
  OpenedHook() = std::move(hook);
}

int RunCommandLine(const std::vector<std::string>& args, Console& console) {
  const ParseOutcome parsed = ParseCommandLine(args, console.Out(), console.Err());
  int code = parsed.exitCode;
  // A script that asked for JSON reads its answer there, even when the
  // command line could not be read.
  if (!parsed.error.empty() && std::find(args.begin() + (args.empty() ? 0 : 1), args.end(), "--json") != args.end())
    CaptureReport(console, true).ErrorEvent(code, parsed.error);
  if (parsed.options) {
    try {
      // Files only: no camcorder, no data folder.
      code = parsed.options->command == CommandKind::Verify ? RunVerify(parsed.options->verify, console)
                                                             : RunParsed(*parsed.options, console);
    } catch (const std::exception& e) {
      // The session has been taken down on the way out.
      console.Error(std::string("unexpected failure: ") + e.what());
      code = kExitDeviceFailed;
    }
  }
  // The commands report an interruption as Ctrl-C's; SIGTERM has a status
  // of its own.
  if (code == kExitInterrupted) code = Interrupt::ExitCode();
  // Whatever the command did, output that did not reach its reader is a
  // failure a script must see.
  console.Out().flush();
  if (console.OutputFailed()) {
    console.Error("the output could not be written (closed pipe or full disk)");
    return kExitOutputFailed;
  }
  return code;
}

}  // namespace zelto::app
