// The simulated camcorder's state file as the commands use it: a command
// that only reads never writes it, one that would change the camcorder says
// plainly why it cannot, --reset replaces only a damaged state of ours, a
// clock scale the camcorder cannot run at is refused before anything
// starts, and a recording killed midway leaves a deck the next commands use.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"
#include "tests/app/AppTestSupport.h"

using namespace apptest;
using namespace zelto::app;

namespace {

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

// Scenes at 1-20 s and 30-60 s of a two-minute tape.
constexpr const char* kShortTape = R"({"length": 120, "position": 5, "scenes": [
    {"start": 1, "end": 20, "timeCode": "00:00:00:00"}, {"start": 30, "end": 60, "timeCode": "00:10:00:00"}]})";

class StateFileCommandsTest : public AppTest {};

}  // namespace

TEST_F(StateFileCommandsTest, EachKindOfStateFileWithEachKindOfCommand) {
  using std::filesystem::perms;
  ASSERT_EQ(Zelto({"--cassette", Cassette(kShortTape), "status"}).code, kExitOk);
  const std::string ours = ReadFile(folder / "state.json");
  const perms writable = perms::owner_read | perms::owner_write | perms::group_read;
  const perms readOnly = perms::owner_read | perms::group_read | perms::others_read;
  enum class Answer { Ok, ReadOnly, NotOurs, Damaged };
  struct Kind {
    const char* name;
    std::string content;
    perms mode;
    Answer reading;   // what a command that only reads answers
    Answer changing;  // and one that changes the camcorder
    Answer resetting;  // and --reset
  };
  const Kind kinds[] = {
      {"ours", ours, writable, Answer::Ok, Answer::Ok, Answer::Ok},
      {"read-only", ours, readOnly, Answer::Ok, Answer::ReadOnly, Answer::ReadOnly},
      {"foreign", "Dear camcorder,\n", writable, Answer::NotOurs, Answer::NotOurs, Answer::NotOurs},
      {"empty", "", writable, Answer::Damaged, Answer::Damaged, Answer::Ok},
      {"cut-short", ours.substr(0, ours.size() / 2), writable, Answer::Damaged, Answer::Damaged, Answer::Ok},
  };
  struct Command {
    std::vector<std::string> args;
    bool reads;
    bool resets;
  };
  const Command commands[] = {
      {{"status"}, true, false},
      {{"mic"}, true, false},
      {{"watch", "--seconds", "0.2"}, true, false},
      {{"deck", "play"}, false, false},
      {{"--reset", "status"}, false, true},
  };
  for (const Kind& kind : kinds) {
    for (const Command& command : commands) {
      const std::string name = std::string(kind.name) + "-" + command.args.front() + ".json";
      SCOPED_TRACE(name);
      const std::filesystem::path file = folder / name;
      std::ofstream(file, std::ios::binary) << kind.content;
      std::filesystem::permissions(file, kind.mode);
      std::vector<std::string> args{"--state-file", file.string()};
      args.insert(args.end(), command.args.begin(), command.args.end());
      const Result r = Zelto(args, false);
      const Answer answer = command.resets ? kind.resetting : command.reads ? kind.reading : kind.changing;
      if (answer == Answer::Ok) {
        EXPECT_EQ(r.code, kExitOk) << r.err;
      } else {
        EXPECT_EQ(r.code, kExitStateFile);
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_TRUE(Contains(r.err, name)) << r.err;
      }
      const std::map<Answer, std::string> says = {
          {Answer::ReadOnly, "is read-only"}, {Answer::NotOurs, "not a state file"}, {Answer::Damaged, "--reset replaces it"}};
      if (says.count(answer)) {
        EXPECT_TRUE(Contains(r.err, says.at(answer))) << r.err;
      }
      // Read, refused or rewritten, the file keeps its mode; read or
      // refused, its bytes; and nothing is made beside it but to write it.
      EXPECT_EQ(std::filesystem::status(file).permissions() & perms::owner_write, kind.mode & perms::owner_write);
      const bool written = answer == Answer::Ok && !command.reads;
      if (!written) {
        EXPECT_EQ(ReadFile(file), kind.content);
      }
      if (command.reads || answer == Answer::NotOurs) {
        EXPECT_FALSE(std::filesystem::exists(file.string() + ".lock"));
      }
      std::filesystem::permissions(file, writable);
    }
  }
}

TEST_F(StateFileCommandsTest, AClockScaleTheCamcorderCannotRunAtIsRefused) {
  struct Case {
    const char* value;  // null: unset
    bool taken;
  };
  const Case cases[] = {{"0", false},    {"-1", false},   {"nan", false}, {"inf", false}, {"fast", false},
                        {"0.5x", false}, {" ", false},    {"1e-400", false}, {nullptr, true}, {"", true},
                        {"1", true},     {"0.25", true}, {"2", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    SetVariable("ZELTO_TIME_SCALE", c.value);
    const Result r = Zelto({"status"});
    SetVariable("ZELTO_TIME_SCALE", nullptr);
    if (c.taken) {
      EXPECT_EQ(r.code, kExitOk) << r.err;
      continue;
    }
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_TRUE(Contains(r.err, std::string("ZELTO_TIME_SCALE is '") + c.value + "'")) << r.err;
    EXPECT_TRUE(Contains(r.err, "a number above zero")) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "data")) << "refused before anything starts";
  }
}

#ifndef _WIN32
// A zelto record killed (SIGKILL) while the data flows: the camcorder finds
// the data stopped where that program last saved the state, every program
// sees the same deck in record pause, deck stop ends it, and the next
// recording is taken.
TEST_F(StateFileCommandsTest, ARecordingKilledMidwayLeavesADeckTheNextCommandsUse) {
  struct Scale {
    Scale() { zelto::platform::SetTimeScaleForTesting(0.05); }
    ~Scale() { zelto::platform::SetTimeScaleForTesting(1.0); }
  } scale;
  // An hour of blank tape, and two seconds of stream.
  ASSERT_EQ(Zelto({"--cassette", Cassette(R"({"length": 3600})"), "status"}).code, kExitOk);
  const std::string clip = (folder / "clip.m2t").string();
  {
    std::ofstream out(clip, std::ios::binary);
    std::string packet(188, '\xFF');
    packet[0] = '\x47';
    for (int i = 0; i < 16900; ++i) out << packet;
  }

  // Ten minutes of lead-in, at twenty times real speed: half a minute of
  // data flowing, longer than the test takes.
  ChildZelto record(folder, {"record", clip, "--margins", "600,0"}, {"ZELTO_TIME_SCALE=0.05"});
  ASSERT_TRUE(record.Started());
  ASSERT_TRUE(record.WaitFor("data flows")) << record.Output();
  record.Signal(SIGKILL);
  ASSERT_EQ(record.Finish(), -1);

  // Every look finds the same: the data stopped where it stopped.
  const Result first = Zelto({"status"});
  const Result second = Zelto({"status"});
  ASSERT_EQ(first.code, kExitOk) << first.err;
  EXPECT_TRUE(Contains(first.out, "record or record pause")) << first.out;
  EXPECT_EQ(first.out, second.out);

  const Result stop = Zelto({"deck", "stop", "--wait"});
  ASSERT_EQ(stop.code, kExitOk) << stop.err;
  EXPECT_TRUE(Contains(stop.out, "record pause")) << stop.out;
  const Result stopped = Zelto({"status"});
  EXPECT_TRUE(Contains(stopped.out, "deck state   stop")) << stopped.out;
  EXPECT_EQ(Lines(stopped.out).at(5), Lines(first.out).at(5)) << "the tape where the data stopped";

  const Result again = Zelto({"record", clip});
  EXPECT_EQ(again.code, kExitOk) << again.err << again.out;
}
#endif
