#include "app/CommandLine.h"

#include <CLI/CLI.hpp>
#include <map>

#include "app/ExitCode.h"

namespace zelto::app {

const char* DeckActionWord(DeckAction action) {
  switch (action) {
    case DeckAction::Play: return "play";
    case DeckAction::Stop: return "stop";
    case DeckAction::Pause: return "pause";
    case DeckAction::FastForward: return "ff";
    case DeckAction::Rewind: return "rew";
    case DeckAction::Slow: return "slow";
    case DeckAction::Seek: return "seek";
  }
  return "?";
}

namespace {

// The seek command carries the track number in its low 28 bits.
constexpr unsigned kLargestTrack = 0x0FFFFFFFu;

void AddGlobalOptions(CLI::App& app, GlobalOptions& global, std::string& driver) {
  app.add_option("--driver", driver,
                 "simulated (default): the built-in simulated camcorder; system: the driver installed here")
      ->check(CLI::IsMember({"simulated", "system"}));
  app.add_option("--state-file", global.stateFile,
                 "where the simulated camcorder keeps its tape between runs");
  app.add_option("--cassette", global.cassette, "put this cassette (JSON) into the simulated camcorder")
      ->check(CLI::ExistingFile);
  app.add_option("--data-folder", global.dataFolder,
                 "folder for the cassette-memory database and temporary files");
}

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  std::string driver = "simulated";
  std::string action;
  CLI::App app("Controls a tape camcorder: deck, status and notifications.", "zelto");
  app.require_subcommand(1);
  // One line on the error stream.
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("zelto: ") + e.what() + " (see --help)\n";
  });
  AddGlobalOptions(app, options.global, driver);

  CLI::App* status = app.add_subcommand("status", "show the camcorder's deck state, media, mode and time code");
  status->add_flag("--json", options.status.json, "print one JSON object");

  CLI::App* deck = app.add_subcommand("deck", "send a deck command");
  const std::map<std::string, DeckAction> actions{
      {"play", DeckAction::Play}, {"stop", DeckAction::Stop}, {"pause", DeckAction::Pause},
      {"ff", DeckAction::FastForward}, {"rew", DeckAction::Rewind}, {"slow", DeckAction::Slow},
      {"seek", DeckAction::Seek}};
  std::vector<std::string> words;
  for (const auto& [word, value] : actions) words.push_back(word);
  deck->add_option("action", action, "play|stop|pause|ff|rew|slow|seek")->required()->check(CLI::IsMember(words));
  CLI::Option* track = deck->add_option("ATN", options.deck.track, "absolute track number to seek to (seek only)")
                           ->check(CLI::Range(0u, kLargestTrack));
  deck->add_flag("--wait", options.deck.wait,
                 "return once the deck is in the state it was sent to (for seek: once the scene is found)");
  deck->add_option("--timeout", options.deck.timeoutSeconds, "seconds --wait waits at most")
      ->check(CLI::Range(0.001, 1e7));

  CLI::App* watch = app.add_subcommand("watch", "print device notifications as they arrive");
  watch->add_option("--seconds", options.watch.seconds, "stop after this many seconds (default: at Ctrl-C)")
      ->check(CLI::Range(0.001, 1e7));

  CLI::App* demo = app.add_subcommand("demo", "a short tour of the deck on a fresh cassette");

  // Global options may also follow the subcommand.
  for (CLI::App* sub : {status, deck, watch, demo}) sub->fallthrough();

  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
    options.global.driver = driver == "system" ? DriverKind::System : DriverKind::Simulated;
    if (deck->parsed()) options.deck.action = actions.at(action);
    if (deck->parsed()) {
      const bool seek = options.deck.action == DeckAction::Seek;
      if (seek && track->count() == 0) throw CLI::ValidationError("ATN", "seek needs an absolute track number");
      if (!seek && track->count() != 0)
        throw CLI::ValidationError("ATN", std::string("'") + DeckActionWord(options.deck.action) +
                                               "' takes no track number");
    }
    const bool simulated = options.global.driver == DriverKind::Simulated;
    if (!simulated && (options.global.stateFile || options.global.cassette))
      throw CLI::ValidationError("--driver", "--state-file and --cassette need the simulated driver");
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return ParseOutcome{std::nullopt, code == 0 ? static_cast<int>(kExitOk) : static_cast<int>(kExitUsage)};
  }

  if (status->parsed()) options.command = CommandKind::Status;
  else if (deck->parsed()) options.command = CommandKind::Deck;
  else if (watch->parsed()) options.command = CommandKind::Watch;
  else options.command = CommandKind::Demo;
  return ParseOutcome{options, kExitOk};
}

}  // namespace zelto::app
