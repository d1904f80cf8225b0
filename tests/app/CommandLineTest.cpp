// The command line, the names shown for the device's values and the deck
// buttons' expected outcomes: no camcorder needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "app/CommandLine.h"
#include "app/DeckButtons.h"
#include "app/ExitCode.h"
#include "app/Names.h"

using namespace zelto::app;
using namespace Orvex;

namespace {

struct Parsed {
  ParseOutcome outcome;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "zelto");
  std::ostringstream out;
  std::ostringstream err;
  Parsed parsed{ParseCommandLine(args, out, err), "", ""};
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(CommandLineTest, UsageErrorsExitTwoWithOneLineThatNamesTheMistake) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
      {{}, "no command given"},
      {{"fly"}, "unknown command 'fly'"},
      {{"deck"}, "action"},
      {{"deck", "jump"}, "unknown deck action 'jump'"},
      {{"deck", "seek"}, "seek needs an absolute track number"},
      {{"deck", "play", "12"}, "'play' takes no track number"},
      {{"deck", "seek", "-1"}, ""},
      {{"deck", "seek", "268435456"}, "ATN 268435456 is out of range (0 to 268435455)"},
      {{"deck", "seek", "12abc"}, "ATN '12abc' is not a number"},
      {{"deck", "seek", "0x10"}, "ATN '0x10' is not a number"},
      {{"deck", "seek", "99999999999999999999999"}, "out of range"},
      {{"deck", "play", "--timeout", "0"}, "--timeout 0 is out of range"},
      {{"deck", "play", "--timeout", "soon"}, "--timeout 'soon' is not a number"},
      {{"watch", "--seconds", "-3"}, ""},
      {{"status", "--driver", "usb"}, "usb"},
      {{"--driver", "system", "--state-file", "s.json", "status"}, "need the simulated driver"},
      {{"--driver", "system", "--reset", "status"}, "need the simulated driver"},
      {{"status", "--unknown"}, "--unknown"},
      {{"help", "fly"}, "no help on 'fly'"},
      {{"capture", "tape", "--to", "t", "--poll", "50"}, "--poll 50 is out of range (100 to 10000)"},
      {{"capture", "tape", "--to", "t", "--poll", "0.5"}, "--poll '0.5' is not a whole number from 100 to 10000"},
      {{"capture", "batch", "--to", "t", "--name", "B", "--retry", "-1", "scene:1"},
       "--retry '-1' is not a whole number from 0 to"},
      {{"capture", "tape", "--to", "t", "--stream-timeout", "999"}, "--stream-timeout 999 is out of range (1000 to"},
      {{"capture", "tape", "--to", "t", "--stream-timeout", "2000", "--poll", "3000"}, "shorter than --poll 3000"},
      {{"capture", "tape", "--to", "t", "scene:1"}, "a tape capture takes no sections"},
      {{"capture", "tape", "--to", "t", "--first", "2"}, "--first is for a batch capture"},
      {{"capture", "tape", "--to", "t", "--seconds", "2"}, "--seconds is for a direct capture"},
      {{"capture", "direct", "--to", "t", "--poll", "500"}, "--poll is for a tape capture"},
      {{"capture", "batch", "--to", "t", "--name", "B", "--stream-timeout", "5000", "scene:1"},
       "--stream-timeout is for a tape capture"},
      {{"capture", "disc", "--to", "t"}, "the captures are direct, batch, tape"},
  };
  for (const auto& [args, says] : wrong) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    const Parsed parsed = Parse(args);
    EXPECT_FALSE(parsed.outcome.options) << joined;
    EXPECT_EQ(parsed.outcome.exitCode, kExitUsage) << joined;
    EXPECT_TRUE(parsed.out.empty()) << joined;
    EXPECT_EQ(parsed.err.rfind("zelto: ", 0), 0u) << joined << parsed.err;
    EXPECT_NE(parsed.err.find(says), std::string::npos) << joined << parsed.err;
    EXPECT_EQ(std::count(parsed.err.begin(), parsed.err.end(), '\n'), 1) << joined << parsed.err;
  }
}

// Whatever is wrong, the one line is in this command's own words, never the
// parser's, and names the word at fault.
TEST(CommandLineTest, MistakesTheParserFindsReadAsOurOwnWords) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
      {{"--state-file"}, "--state-file needs a file"},
      {{"status", "--state-file"}, "--state-file needs a file"},
      {{"--state-file", "--reset", "status"}, "--state-file needs a file"},
      {{"--data-folder"}, "--data-folder needs a folder"},
      {{"capture", "direct", "--to"}, "--to needs a folder"},
      {{"record", "f.m2t", "--margins"}, "--margins needs FIRST,SECOND (seconds)"},
      {{"scan", "--contact-sheet"}, "--contact-sheet needs a PNG file"},
      {{"deck"}, "deck needs an action: play, stop, pause, ff, rew, slow, seek"},
      {{"record"}, "record needs the FILE to record"},
      {{"capture"}, "capture needs a kind: direct, batch or tape"},
      {{"capture", "direct"}, "capture direct needs --to DIR, the folder of the files"},
      {{"status", "--bogus"}, "'status' has no option --bogus"},
      {{"status", "--bogus=3"}, "'status' has no option --bogus"},
      {{"deck", "play", "--json"}, "'deck' has no option --json"},
      {{"status", "extra"}, "'status' does not take 'extra'"},
      {{"deck", "seek", "10", "20"}, "'deck' does not take '20'"},
      {{"record", "a.m2t", "b.m2t"}, "'record' does not take 'b.m2t'"},
      {{"status", "--json=yes"}, "--json takes no value"},
      {{"deck", "play", "--timeout", "1", "--timeout", "2"}, "--timeout is given more than once"},
      {{"--state-file", "a", "status", "--state-file", "b"}, "--state-file is given more than once"},
      {{"deck", "play", "--wait=5"}, "--wait takes no value"},
      {{"--driver", "usb", "status"}, "--driver takes simulated or system, not 'usb'"},
      {{"--cassette", "/nonexistent/tape.json", "status"}, "--cassette /nonexistent/tape.json: no such file"},
  };
  for (const auto& [args, says] : wrong) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    const Parsed parsed = Parse(args);
    EXPECT_FALSE(parsed.outcome.options) << joined;
    EXPECT_EQ(parsed.outcome.exitCode, kExitUsage) << joined;
    EXPECT_EQ(parsed.err, "zelto: " + says + " (see zelto help)\n") << joined;
  }
}

TEST(CommandLineTest, HelpFitsEightyColumnsAndSaysWhatAScriptNeeds) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"help"}, {"-h"}, {"deck", "--help"}, {"help", "deck"}, {"status", "-h"},
           {"watch", "--help"}, {"demo", "--help"}, {"capture", "--help"}}) {
    const Parsed parsed = Parse(args);
    EXPECT_FALSE(parsed.outcome.options);
    EXPECT_EQ(parsed.outcome.exitCode, kExitOk);
    EXPECT_NE(parsed.out.find("Usage: zelto"), std::string::npos) << args[0];
    EXPECT_NE(parsed.out.find("Examples:"), std::string::npos) << args[0];
    EXPECT_TRUE(parsed.err.empty());
    std::istringstream lines(parsed.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  }
  // The main text lists every exit code, the environment and the default folder.
  const std::string main = Parse({"--help"}).out;
  for (const ExitCodeMeaning& m : kExitCodeMeanings)
    EXPECT_NE(main.find("  " + std::to_string(static_cast<int>(m.code)) + " "), std::string::npos) << m.meaning;
  for (const char* name : {"ZELTO_TIME_SCALE", "ZELTO_SIM_THREADING", "NO_COLOR", "data folder", "simulator-state.json"})
    EXPECT_NE(main.find(name), std::string::npos) << name;

  const Parsed version = Parse({"status", "--version"});
  EXPECT_EQ(version.outcome.exitCode, kExitOk);
  EXPECT_EQ(version.out.rfind("zelto 0.", 0), 0u) << version.out;
}

TEST(CommandLineTest, OptionsReachTheirCommand) {
  // Global options both before and after the subcommand.
  Parsed p = Parse({"--driver", "system", "deck", "seek", "268435455", "--wait", "--timeout", "2.5"});
  ASSERT_TRUE(p.outcome.options) << p.err;
  EXPECT_EQ(Parse({"deck", "seek", "010"}).outcome.options->deck.track, 10u) << "decimal, not octal";
  ASSERT_TRUE(p.outcome.options) << p.err;
  const Options& deck = *p.outcome.options;
  EXPECT_EQ(deck.command, CommandKind::Deck);
  EXPECT_EQ(deck.global.driver, DriverKind::System);
  EXPECT_EQ(deck.deck.action, DeckAction::Seek);
  EXPECT_EQ(deck.deck.track, 0x0FFFFFFFu);
  EXPECT_TRUE(deck.deck.wait);
  ASSERT_TRUE(deck.deck.timeoutSeconds);
  EXPECT_DOUBLE_EQ(*deck.deck.timeoutSeconds, 2.5);

  p = Parse({"status", "--json", "--state-file", "here.json", "--data-folder", "data"});
  ASSERT_TRUE(p.outcome.options) << p.err;
  EXPECT_EQ(p.outcome.options->command, CommandKind::Status);
  EXPECT_TRUE(p.outcome.options->status.json);
  EXPECT_EQ(p.outcome.options->global.driver, DriverKind::Simulated);
  EXPECT_EQ(p.outcome.options->global.stateFile, std::filesystem::path("here.json"));
  EXPECT_EQ(p.outcome.options->global.dataFolder, std::filesystem::path("data"));
  EXPECT_FALSE(p.outcome.options->global.cassette);

  // The limits themselves are taken; the base name has a default.
  p = Parse({"capture", "tape", "--stream-timeout", "3600000", "--to", "t", "--poll", "100"});
  ASSERT_TRUE(p.outcome.options) << p.err;
  const CaptureOptions& tape = p.outcome.options->capture;
  EXPECT_EQ(tape.kind, CaptureOptions::Kind::Tape);
  EXPECT_EQ(tape.name, "Tape");
  EXPECT_EQ(tape.streamTimeoutMs, 3'600'000u);
  EXPECT_EQ(tape.pollMs, 100u);
  p = Parse({"capture", "tape", "--to", "t"});
  ASSERT_TRUE(p.outcome.options) << p.err;
  EXPECT_FALSE(p.outcome.options->capture.streamTimeoutMs) << "the host's default stays";
  EXPECT_FALSE(p.outcome.options->capture.pollMs);

  p = Parse({"deck", "rew"});
  ASSERT_TRUE(p.outcome.options);
  EXPECT_EQ(p.outcome.options->deck.action, DeckAction::Rewind);
  EXPECT_FALSE(p.outcome.options->deck.wait);
  EXPECT_FALSE(p.outcome.options->deck.timeoutSeconds);

  p = Parse({"watch"});
  ASSERT_TRUE(p.outcome.options);
  EXPECT_EQ(p.outcome.options->command, CommandKind::Watch);
  EXPECT_FALSE(p.outcome.options->watch.seconds);
}

// After "--" a word is the command's own, even one that looks like an option.
TEST(CommandLineTest, WordsAfterTwoDashesAreNeverOptions) {
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"mic", "text", "--", "-5 dB, --to the end"},
        std::vector<std::string>{"mic", "--", "text", "-5 dB, --to the end"},
        std::vector<std::string>{"--data-folder", "d", "mic", "text", "--", "-5 dB, --to the end"}}) {
    const Parsed p = Parse(words);
    ASSERT_TRUE(p.outcome.options) << p.err;
    EXPECT_EQ(p.outcome.options->mic.action, MicOptions::Action::Text);
    EXPECT_EQ(p.outcome.options->mic.text, "-5 dB, --to the end");
  }
  Parsed p = Parse({"record", "--margins", "1,2", "--", "-clip.ts"});
  ASSERT_TRUE(p.outcome.options) << p.err;
  EXPECT_EQ(p.outcome.options->record.file, std::filesystem::path("-clip.ts"));
  p = Parse({"status", "--", "--json"});
  EXPECT_EQ(p.outcome.exitCode, kExitUsage);
  EXPECT_EQ(p.err, "zelto: 'status' does not take '--json' (see zelto help)\n");
}

TEST(NamesTest, EveryValueHasItsOwnNameAndStrangersStillRead) {
  std::set<std::string> states;
  for (int v : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15})
    states.insert(DeviceStateName(static_cast<_OxVideoDeviceState>(v)));
  EXPECT_EQ(states.size(), 15u);
  EXPECT_EQ(DeviceStateName(OX_DEVICE_STATE_FAST_FORWARD), "fast forward");
  EXPECT_EQ(DeviceStateName(static_cast<_OxVideoDeviceState>(14)), "state 14");
  EXPECT_EQ(MediaInfoName(OX_MEDIA_WRITE_PROTECTED), "write-protected");
  EXPECT_EQ(MediaInfoName(static_cast<_OxMediaInfo>(9)), "media 9");
  EXPECT_EQ(CamcorderModeName(OX_CAMCORDER_MODE_CAMERA), "camera");
  EXPECT_EQ(CamcorderModeName(static_cast<_OxCamcorderMode>(-1)), "mode -1");
  EXPECT_EQ(NotificationName(OX_NOTIFY_STREAMING_OFF), "stream off");
  EXPECT_EQ(NotificationName(OX_NOTIFY_RESERVED), "notification 7");
  EXPECT_EQ(SceneSearchEventName(static_cast<_OxSceneSearchEventID>(2)), "scene search 2");
}

TEST(NamesTest, TimeCodeShowsDashesWhereTheTapeHasNone) {
  __MIDL___MIDL_itf_plgdefs_0000_0001 record{1, 2, 3, 4, 0};
  EXPECT_EQ(TimeCodeText(OxTimeCode(record)), "01:02:03:04");
  record.flags = kTimeCodeRecordNoTimeCode;
  EXPECT_EQ(TimeCodeText(OxTimeCode(record)), "--:--:--:--");
}

TEST(DeckButtonsTest, RefusalsSayWhy) {
  EXPECT_EQ(DeckRefusal(DeckAction::Play, OX_DEVICE_STATE_STOP, OX_MEDIA_RECORDABLE, OX_CAMCORDER_MODE_DECK), "");
  EXPECT_NE(DeckRefusal(DeckAction::Play, OX_DEVICE_STATE_UNKNOWN, OX_MEDIA_NONE, OX_CAMCORDER_MODE_DECK)
                .find("no cassette"),
            std::string::npos);
  EXPECT_NE(DeckRefusal(DeckAction::Seek, OX_DEVICE_STATE_UNKNOWN, OX_MEDIA_RECORDABLE, OX_CAMCORDER_MODE_CAMERA)
                .find("camera mode"),
            std::string::npos);
  EXPECT_NE(DeckRefusal(DeckAction::Pause, OX_DEVICE_STATE_STOP, OX_MEDIA_RECORDABLE, OX_CAMCORDER_MODE_DECK)
                .find("'pause'"),
            std::string::npos);
  // A seek is taken while the deck winds to an earlier seek's track, but not while recording.
  EXPECT_EQ(DeckRefusal(DeckAction::Seek, OX_DEVICE_STATE_UNKNOWN, OX_MEDIA_NO_MEMORY, OX_CAMCORDER_MODE_DECK), "");
  EXPECT_NE(
      DeckRefusal(DeckAction::Seek, OX_DEVICE_STATE_RECORD_PAUSE, OX_MEDIA_RECORDABLE, OX_CAMCORDER_MODE_DECK), "");
}

}  // namespace
