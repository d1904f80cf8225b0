#include "app/Commands.h"

#include <exception>

#include "app/CommandLine.h"
#include "app/DeckCommand.h"
#include "app/DemoCommand.h"
#include "app/ExitCode.h"
#include "app/Session.h"
#include "app/StatusCommand.h"
#include "app/WatchCommand.h"

namespace zelto::app {

namespace {

int RunParsed(const Options& options, Console& console) {
  SessionSettings settings;
  settings.global = options.global;
  if (options.command == CommandKind::Demo && options.global.driver == DriverKind::Simulated)
    settings.freshCassette = DemoCassette();

  Session session(settings);
  std::string error;
  if (const int code = session.Open(&error); code != kExitOk) {
    console.Error(error);
    return code;
  }
  switch (options.command) {
    case CommandKind::Status: return RunStatus(session, options.status, console);
    case CommandKind::Deck: return RunDeck(session, options.deck, console);
    case CommandKind::Watch: return RunWatch(session, options.watch, console);
    case CommandKind::Demo: return RunDemo(session, console);
  }
  return kExitUsage;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, Console& console) {
  const ParseOutcome parsed = ParseCommandLine(args, console.Out(), console.Err());
  if (!parsed.options) return parsed.exitCode;
  try {
    return RunParsed(*parsed.options, console);
  } catch (const std::exception& e) {
    // The session has been taken down on the way out.
    console.Error(std::string("unexpected failure: ") + e.what());
    return kExitDeviceFailed;
  }
}

}  // namespace zelto::app
