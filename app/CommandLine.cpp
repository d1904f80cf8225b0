#include "app/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <tuple>
#include <utility>

#include "app/ExitCode.h"
#include "app/Help.h"
#include "app/Names.h"
#include "platform/PlatformExtras.h"
#include "simulator/Cassette.h"

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

const char* CommandWord(CommandKind command) {
  switch (command) {
    case CommandKind::Status: return "status";
    case CommandKind::Deck: return "deck";
    case CommandKind::Watch: return "watch";
    case CommandKind::Capture: return "capture";
    case CommandKind::Record: return "record";
    case CommandKind::Scan: return "scan";
    case CommandKind::Mic: return "mic";
    case CommandKind::Demo: return "demo";
    case CommandKind::Verify: return "verify";
  }
  return "?";
}

namespace {

// A path argument: UTF-8 text made a path by our own conversion (CLI11's
// would go through the ANSI code page on Windows).
template <typename Path>
CLI::Option* AddPathOption(CLI::App* app, const std::string& name, Path& path) {
  return app->add_option_function<std::string>(
      name, [&path](const std::string& text) { path = zelto::platform::PathFromUtf8(text); });
}

// The same for each of several paths.
CLI::Option* AddPathsOption(CLI::App* app, const std::string& name, std::vector<std::filesystem::path>& paths) {
  return app->add_option_function<std::vector<std::string>>(name, [&paths](const std::vector<std::string>& texts) {
    for (const std::string& text : texts) paths.push_back(zelto::platform::PathFromUtf8(text));
  });
}

// The seek command carries the track number in its low 28 bits: the
// longest tape's last track.
constexpr unsigned kLargestTrack = zelto::sim::kLongestTapeTracks;
// A whole-tape capture's poll, in ms: below this the deck gets hardly a
// moment to start playing before the run first checks that it does.
constexpr std::uint64_t kShortestPollMs = 100;
constexpr std::uint64_t kLongestPollMs = 10'000;
// How long the picture may stay away, in ms, before the run takes it for
// the end of the recordings: at least a second, at most an hour.
constexpr std::uint64_t kShortestStreamTimeoutMs = 1'000;
constexpr std::uint64_t kLongestStreamTimeoutMs = 3'600'000;
// Each pass reads the tape again from the capture's start: a handful is
// all worn tape rewards before it wears further.
constexpr std::uint64_t kMostRetries = 9;

constexpr CommandKind kCommands[] = {CommandKind::Status,  CommandKind::Deck, CommandKind::Watch,
                                     CommandKind::Capture, CommandKind::Record, CommandKind::Scan,
                                     CommandKind::Mic,     CommandKind::Demo, CommandKind::Verify};
constexpr DeckAction kActions[] = {DeckAction::Play,        DeckAction::Stop,   DeckAction::Pause,
                                   DeckAction::FastForward, DeckAction::Rewind, DeckAction::Slow,
                                   DeckAction::Seek};
// Options that take a value, so that the value is not read as the command,
// each with what its value is, for the message when it has none.
struct ValueOption {
  const char* name;
  const char* value;
};
constexpr ValueOption kValueOptions[] = {
    {"--driver", "simulated or system"},   {"--state-file", "a file"},
    {"--cassette", "a cassette file"},     {"--data-folder", "a folder"},
    {"--to", "a folder"},                  {"--name", "a base name"},
    {"--first", "a number"},               {"--split", "auto, size:MIB or frames:N"},
    {"--seconds", "a number of seconds"},  {"--timeout", "a number of seconds"},
    {"--margins", "FIRST,SECOND (seconds)"}, {"--contact-sheet", "a PNG file"},
    {"--stream-timeout", "a number of milliseconds"}, {"--poll", "a number of milliseconds"},
    {"--retry", "a number of passes"}};

// Flags: present or not, never given a value ("--wait=5" is a mistake).
constexpr const char* kFlags[] = {"--json", "--wait", "--next-free", "--direct", "--second", "--reset", "--no-pictures", "--keep-passes"};

const ValueOption* FindValueOption(const std::string& word) {
  for (const ValueOption& o : kValueOptions)
    if (word == o.name) return &o;
  return nullptr;
}

struct UsageError {
  std::string text;
};

std::string List(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
  return text;
}

std::string CommandList() {
  std::vector<std::string> words;
  for (CommandKind c : kCommands) words.push_back(CommandWord(c));
  words.push_back("help");
  return List(words);
}

// The first word that is neither an option nor an option's value.
struct Scan {
  std::string command;
  std::string firstArgument;  // the word after the command
  // What is wrong with an option's value: "--to needs a folder" where it has
  // none, "--wait takes no value" where a flag was given one.
  std::string valueProblem;
  bool help = false;
  bool version = false;
};

Scan ScanWords(const std::vector<std::string>& args) {
  Scan scan;
  bool afterCommand = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") break;  // the rest are the command's words, never options
    if (arg == "-h" || arg == "--help") {
      scan.help = true;
    } else if (arg == "--version") {
      scan.version = true;
    } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
      if (const ValueOption* option = FindValueOption(arg)) {
        // The last word, or another option, is no value: the option has none.
        const bool hasValue = i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0;
        if (hasValue) ++i;
        else if (scan.valueProblem.empty()) scan.valueProblem = arg + " needs " + option->value;
      }
      const std::string flag = arg.substr(0, arg.find('='));
      const bool known = std::any_of(std::begin(kFlags), std::end(kFlags), [&](const char* f) { return flag == f; });
      if (known && flag != arg && scan.valueProblem.empty()) scan.valueProblem = flag + " takes no value";
    } else if (!afterCommand) {
      scan.command = arg;
      afterCommand = true;
    } else if (scan.firstArgument.empty()) {
      scan.firstArgument = arg;
    }
  }
  return scan;
}

std::string ActionList() {
  std::vector<std::string> words;
  for (DeckAction a : kActions) words.push_back(DeckActionWord(a));
  return List(words);
}

// What the parser found wrong, in our words. Words it does not know and
// options without values or with values they do not take are caught
// before and after it; what is left is an option given more than once.
std::string ParserMessage(const CLI::ParseError& error, const std::string& command) {
  const std::string text = error.what();
  const std::size_t dashes = text.find("--");
  const std::string option =
      dashes == std::string::npos ? std::string() : text.substr(dashes, text.find_first_of(" :=", dashes) - dashes);
  if (FindValueOption(option)) return option + " is given more than once";
  return "'" + command + "' cannot be read as it is written";
}

// A decimal track number: digits only, so "010" is ten, never eight.
unsigned ParseTrack(const std::string& text) {
  const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits) throw UsageError{"ATN '" + text + "' is not a number (a decimal track number)"};
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > kLargestTrack)
    throw UsageError{"ATN " + text + " is out of range (0 to " + std::to_string(kLargestTrack) + ")"};
  return static_cast<unsigned>(value);
}

// A whole number in a range, decimal digits only.
std::uint64_t ParseCount(const std::string& what, const std::string& text, std::uint64_t low, std::uint64_t high) {
  const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits)
    throw UsageError{what + " '" + text + "' is not a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high)};
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw UsageError{what + " " + text + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) +
                     ")"};
  return value;
}

// auto, size:MIB or frames:N.
SplitRule ParseSplit(const std::string& text) {
  SplitRule rule;
  if (text == "auto") return rule;
  const std::size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  const std::string value = colon == std::string::npos ? std::string() : text.substr(colon + 1);
  if (kind == "size" && colon != std::string::npos) {
    rule.kind = SplitRule::Kind::BySize;
    rule.megabytes = ParseCount("--split size", value, 1, 1u << 20);
  } else if (kind == "frames" && colon != std::string::npos) {
    rule.kind = SplitRule::Kind::ByDuration;
    rule.frames = static_cast<std::uint32_t>(ParseCount("--split frames", value, 1, 0x7FFFFFFF));
  } else {
    throw UsageError{"--split '" + text + "' is none of auto, size:MIB, frames:N"};
  }
  return rule;
}

double ParseSeconds(const std::string& option, const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error == std::errc::invalid_argument || end != text.data() + text.size() ||
      !std::isfinite(value))
    throw UsageError{option + " '" + text + "' is not a number of seconds"};
  if (error == std::errc::result_out_of_range || value <= 0 || value > 1e7)
    throw UsageError{option + " " + text + " is out of range (more than 0, at most 10000000 seconds)"};
  return value;
}

// FIRST,SECOND in seconds of tape, to hundredths of a second.
std::pair<std::uint32_t, std::uint32_t> ParseMargins(const std::string& text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) throw UsageError{"--margins '" + text + "' is not FIRST,SECOND (seconds)"};
  const auto hundredths = [&](const std::string& part) {
    double value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || error != std::errc() || end != part.data() + part.size() || !std::isfinite(value))
      throw UsageError{"--margins '" + text + "': '" + part + "' is not a number of seconds"};
    if (value < 0 || value > 3600) throw UsageError{"--margins " + text + " is out of range (0 to 3600 seconds each)"};
    return static_cast<std::uint32_t>(std::lround(value * 100));
  };
  return {hundredths(text.substr(0, comma)), hundredths(text.substr(comma + 1))};
}

}  // namespace

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const auto usage = [&](const std::string& text) {
    err << "zelto: " << text << " (see zelto help)\n";
    return ParseOutcome{std::nullopt, kExitUsage, text};
  };

  const Scan scan = ScanWords(args);
  if (scan.version) {
    out << VersionText();
    return ParseOutcome{std::nullopt, kExitOk};
  }
  if (scan.help || scan.command == "help") {
    const std::string topic = scan.command == "help" ? scan.firstArgument : scan.command;
    const std::string text = HelpText(topic);
    if (text.empty()) return usage("no help on '" + topic + "'; the commands are " + CommandList());
    out << text;
    return ParseOutcome{std::nullopt, kExitOk};
  }
  if (!scan.valueProblem.empty()) return usage(scan.valueProblem);
  if (scan.command.empty()) return usage("no command given; the commands are " + CommandList());
  const auto known = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&](CommandKind c) { return scan.command == CommandWord(c); });
  if (known == std::end(kCommands))
    return usage("unknown command '" + scan.command + "'; the commands are " + CommandList());

  Options options;
  options.command = *known;
  std::string driver = "simulated";
  std::string action;
  std::string track;
  std::string timeout;
  std::string seconds;
  CLI::App app("zelto", "zelto");
  app.set_help_flag();  // help is ours, handled above
  // Words nobody takes are kept for our own message, not the parser's;
  // the subcommands inherit this.
  app.allow_extras();
  app.add_option("--driver", driver);
  AddPathOption(&app, "--state-file", options.global.stateFile);
  AddPathOption(&app, "--cassette", options.global.cassette);
  AddPathOption(&app, "--data-folder", options.global.dataFolder);
  app.add_flag("--reset", options.global.resetState);

  std::map<CommandKind, CLI::App*> commands;
  for (CommandKind c : kCommands) {
    CLI::App* sub = app.add_subcommand(CommandWord(c));
    sub->set_help_flag();
    sub->fallthrough();  // global options may also follow the command
    commands[c] = sub;
  }
  commands[CommandKind::Status]->add_flag("--json", options.status.json);
  CLI::App* deck = commands[CommandKind::Deck];
  deck->add_option("action", action);
  CLI::Option* trackOption = deck->add_option("ATN", track);
  deck->add_flag("--wait", options.deck.wait);
  deck->add_option("--timeout", timeout);
  commands[CommandKind::Watch]->add_option("--seconds", seconds);
  CLI::App* capture = commands[CommandKind::Capture];
  std::string captureKind;
  std::string first;
  std::string split = "auto";
  std::string captureSeconds;
  std::string streamTimeout;
  std::string poll;
  std::string retries;
  capture->add_option("kind", captureKind);
  AddPathOption(capture, "--to", options.capture.folder);
  CLI::Option* nameOption = capture->add_option("--name", options.capture.name);
  CLI::Option* firstOption = capture->add_option("--first", first);
  capture->add_option("--split", split);
  CLI::Option* secondsOption = capture->add_option("--seconds", captureSeconds);
  capture->add_option("--stream-timeout", streamTimeout);
  capture->add_option("--poll", poll);
  capture->add_flag("--next-free", options.capture.nextFree);
  capture->add_option("--retry", retries);
  capture->add_flag("--keep-passes", options.capture.keepPasses);
  capture->add_flag("--json", options.capture.json);
  capture->add_option("SECTION", options.capture.sections);
  CLI::App* record = commands[CommandKind::Record];
  std::string margins;
  AddPathOption(record, "FILE", options.record.file);
  record->add_option("--margins", margins);
  record->add_flag("--direct", options.record.direct);
  AddPathOption(commands[CommandKind::Scan], "--contact-sheet", options.scan.contactSheet);
  CLI::App* mic = commands[CommandKind::Mic];
  std::vector<std::string> micWords;
  mic->add_option("ACTION", micWords);
  mic->add_flag("--json", options.mic.json);
  mic->add_flag("--second", options.mic.second);
  CLI::App* verify = commands[CommandKind::Verify];
  bool noPictures = false;
  AddPathsOption(verify, "FILE", options.verify.files);
  verify->add_flag("--json", options.verify.json);
  verify->add_flag("--no-pictures", noPictures);

  // Words after "--" are never options (a tape text that begins with "-"):
  // the parser gets the words before it, and the command takes these below.
  const auto dashes = std::find(args.begin() + (args.empty() ? 0 : 1), args.end(), "--");
  const std::vector<std::string> trailing(dashes == args.end() ? args.end() : dashes + 1, args.end());
  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (auto arg = args.begin(); arg != dashes; ++arg) argv.push_back(arg->c_str());
  try {
    try {
      app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
      throw UsageError{ParserMessage(e, scan.command)};
    }
    if (const std::vector<std::string> extra = app.remaining(true); !extra.empty()) {
      const std::string& word = extra.front();
      if (word.rfind("-", 0) == 0 && word.size() > 1 && word.find_first_not_of("0123456789.", 1) != std::string::npos)
        throw UsageError{"'" + scan.command + "' has no option " + word.substr(0, word.find('='))};
      throw UsageError{"'" + scan.command + "' does not take '" + word + "'"};
    }
    if (!trailing.empty()) {
      if (options.command == CommandKind::Mic)
        micWords.insert(micWords.end(), trailing.begin(), trailing.end());
      else if (options.command == CommandKind::Verify)
        for (const std::string& word : trailing) options.verify.files.push_back(zelto::platform::PathFromUtf8(word));
      else if (options.command == CommandKind::Record && options.record.file.empty() && trailing.size() == 1)
        options.record.file = zelto::platform::PathFromUtf8(trailing.front());
      else
        throw UsageError{"'" + scan.command + "' does not take '" + trailing.back() + "'"};
    }
    if (driver != "simulated" && driver != "system")
      throw UsageError{"--driver takes simulated or system, not '" + driver + "'"};
    options.global.driver = driver == "system" ? DriverKind::System : DriverKind::Simulated;
    if (options.global.cassette && !std::filesystem::is_regular_file(*options.global.cassette))
      throw UsageError{"--cassette " + PathText(*options.global.cassette) + ": no such file"};
    if (options.command == CommandKind::Deck) {
      if (action.empty()) throw UsageError{"deck needs an action: " + ActionList()};
      const auto word = std::find_if(std::begin(kActions), std::end(kActions),
                                     [&](DeckAction a) { return action == DeckActionWord(a); });
      if (word == std::end(kActions))
        throw UsageError{"unknown deck action '" + action + "'; the actions are " + ActionList()};
      options.deck.action = *word;
      const bool seek = options.deck.action == DeckAction::Seek;
      if (seek && trackOption->count() == 0) throw UsageError{"seek needs an absolute track number (ATN)"};
      if (!seek && trackOption->count() != 0)
        throw UsageError{std::string("'") + DeckActionWord(options.deck.action) + "' takes no track number"};
      if (seek) options.deck.track = ParseTrack(track);
      if (!timeout.empty()) options.deck.timeoutSeconds = ParseSeconds("--timeout", timeout);
    }
    if (options.command == CommandKind::Watch && !seconds.empty())
      options.watch.seconds = ParseSeconds("--seconds", seconds);
    if (options.command == CommandKind::Capture) {
      CaptureOptions& c = options.capture;
      if (captureKind.empty()) throw UsageError{"capture needs a kind: direct, batch or tape"};
      if (c.folder.empty()) throw UsageError{"capture " + captureKind + " needs --to DIR, the folder of the files"};
      const bool tape = captureKind == "tape";
      if (!tape && !streamTimeout.empty()) throw UsageError{"--stream-timeout is for a tape capture"};
      if (!tape && !poll.empty()) throw UsageError{"--poll is for a tape capture"};
      if (captureKind == "direct") {
        c.kind = CaptureOptions::Kind::Direct;
        if (!c.sections.empty()) throw UsageError{"a direct capture takes no sections"};
        if (firstOption->count()) throw UsageError{"--first is for a batch capture"};
        if (secondsOption->count()) c.seconds = ParseSeconds("--seconds", captureSeconds);
        if (!nameOption->count()) c.name = "Clip";
        if (!retries.empty() || c.keepPasses)
          throw UsageError{"--retry and --keep-passes are for batch and tape captures: a direct capture "
                           "keeps no tape point to read a stretch again from"};
      } else if (captureKind == "batch") {
        c.kind = CaptureOptions::Kind::Batch;
        if (!nameOption->count()) throw UsageError{"a batch capture needs --name BASE"};
        if (c.sections.empty()) throw UsageError{"a batch capture needs at least one SECTION"};
        if (!captureSeconds.empty()) throw UsageError{"--seconds is for a direct capture"};
        if (firstOption->count()) c.first = static_cast<int>(ParseCount("--first", first, 0, 999999));
      } else if (tape) {
        c.kind = CaptureOptions::Kind::Tape;
        if (!c.sections.empty()) throw UsageError{"a tape capture takes no sections: it captures every scene"};
        if (firstOption->count()) throw UsageError{"--first is for a batch capture"};
        if (!captureSeconds.empty()) throw UsageError{"--seconds is for a direct capture"};
        if (!nameOption->count()) c.name = "Tape";
        if (!streamTimeout.empty())
          c.streamTimeoutMs = static_cast<std::uint32_t>(
              ParseCount("--stream-timeout", streamTimeout, kShortestStreamTimeoutMs, kLongestStreamTimeoutMs));
        if (!poll.empty())
          c.pollMs = static_cast<std::uint32_t>(ParseCount("--poll", poll, kShortestPollMs, kLongestPollMs));
        if (c.streamTimeoutMs && c.pollMs && *c.streamTimeoutMs < *c.pollMs)
          throw UsageError{"--stream-timeout " + streamTimeout + " is shorter than --poll " + poll +
                           "; the time-out is counted in polls"};
      } else {
        throw UsageError{"unknown capture '" + captureKind + "'; the captures are direct, batch, tape"};
      }
      c.split = ParseSplit(split);
      if (!retries.empty()) c.retries = static_cast<unsigned>(ParseCount("--retry", retries, 0, kMostRetries));
      if (c.keepPasses && c.retries == 0) throw UsageError{"--keep-passes needs --retry N (1 or more)"};
    }
    if (options.command == CommandKind::Verify) {
      if (options.verify.files.empty()) throw UsageError{"verify needs at least one FILE"};
      options.verify.pictures = !noPictures;
    }
    if (options.command == CommandKind::Record && options.record.file.empty())
      throw UsageError{"record needs the FILE to record"};
    if (options.command == CommandKind::Record && !margins.empty())
      std::tie(options.record.firstMargin, options.record.secondMargin) = ParseMargins(margins);
    if (options.command == CommandKind::Mic) {
      MicOptions& m = options.mic;
      const std::string word = micWords.empty() ? std::string() : micWords.front();
      if (word.empty()) {
        if (m.second) throw UsageError{"--second is for mic picture"};
      } else if (word == "text") {
        if (micWords.size() != 2) throw UsageError{"mic text takes the text as one argument (quote it)"};
        m.action = MicOptions::Action::Text;
        m.text = micWords[1];
      } else if (word == "picture") {
        if (micWords.size() != 3) throw UsageError{"mic picture needs SCENE and OUT.png"};
        m.action = MicOptions::Action::Picture;
        m.scene = static_cast<unsigned>(ParseCount("SCENE", micWords[1], 1, 100000));
        m.output = zelto::platform::PathFromUtf8(micWords[2]);
      } else {
        throw UsageError{"unknown mic action '" + word + "'; the actions are text, picture"};
      }
      if (m.json && m.action != MicOptions::Action::Show) throw UsageError{"--json is for the cassette memory listing"};
    }
    const bool simulated = options.global.driver == DriverKind::Simulated;
    if (!simulated && (options.global.stateFile || options.global.cassette || options.global.resetState))
      throw UsageError{"--state-file, --cassette and --reset need the simulated driver"};
  } catch (const UsageError& e) {
    return usage(e.text);
  }
  return ParseOutcome{options, kExitOk};
}

}  // namespace zelto::app
