// How zelto's captures end, and what they say: from every place the tape
// may stand, on a deck another command takes, into a folder that cannot
// take the files, with splits by frames counted in a player's frames, and
// after a capture killed in the middle of a file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/CaptureJournal.h"
#include "app/ExitCode.h"
#include "platform/PlatformExtras.h"
#include "tests/CaptureFilePlayback.h"
#include "tests/app/AppTestSupport.h"
#include "zelto/bridge/DriverInterfaces.h"

namespace {

using apptest::AppTest;
using apptest::Lines;
using apptest::Result;
using apptest::Contains;
using apptest::ChildZelto;
using namespace zelto::app;

// Scenes at 1-3 s and 5-7 s of a 20 s tape, 25 frames a second, standing
// at `position`.
std::string TwoScenes(double position, int videoSystem = 1) {
  return R"({"length": 20, "position": )" + std::to_string(position) +
         R"(, "scenes": [{"start": 1, "end": 3, "videoSystem": )" + std::to_string(videoSystem) +
         R"(}, {"start": 5, "end": 7, "videoSystem": )" + std::to_string(videoSystem) + "}]}";
}

std::vector<nlohmann::json> JsonLines(const std::string& out) {
  std::vector<nlohmann::json> events;
  for (const std::string& line : Lines(out)) events.push_back(nlohmann::json::parse(line));
  return events;
}

std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (entry.path().extension() == ".zlt") names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Captures run with the camcorder's clock ten times as fast: the 5 s a
// direct capture waits for a picture take half a second.
class CaptureEndingsTest : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    zelto::platform::SetTimeScaleForTesting(0.1);
  }
  void TearDown() override {
    zelto::platform::SetTimeScaleForTesting(1.0);
    AppTest::TearDown();
  }
  std::filesystem::path Out() const { return folder / "new" / "out"; }

  std::string DeckState() {
    return nlohmann::json::parse(Zelto({"status", "--json"}).out).at("deckState").at("name");
  }
};

// Each capture from each place the tape may stand: its status, the words
// that say how it ended (the closing line, or the error line when it did
// not succeed), and what a refused one leaves: no folder, a tape that never
// moved.
TEST_F(CaptureEndingsTest, FromWhereTheTapeStands) {
  struct Case {
    const char* name;
    std::string tape;
    std::vector<std::string> capture;
    int code;
    std::string says;
    std::size_t files;
  };
  const std::vector<std::string> direct{"capture", "direct"};
  const Case cases[] = {
      {"direct, start of a scene", TwoScenes(1), direct, kExitOk,
       "captured 0:00:04.0 of tape in 1 file; the recording ended: no picture for 5 s of tape", 1},
      {"direct, mid-scene", TwoScenes(2), direct, kExitOk, "the recording ended: no picture for 5 s of tape", 1},
      {"direct, blank before a scene", TwoScenes(4), direct, kExitOk, "the recording ended", 1},
      {"direct, blank after the last scene", TwoScenes(9), direct, kExitNoRecording,
       "zelto: no recording found: no picture within 5 s of tape from the start", 0},
      {"direct, end of the tape", TwoScenes(20), direct, kExitRefused,
       "zelto: the tape stands at its end (ATN 6000; the tape is ATN 0 to 6000)", 0},
      {"direct, a scene to the tape's end", R"({"length": 8, "position": 6, "scenes": [{"start": 5, "end": 8}]})",
       direct, kExitOk, "captured 0:00:02.0 of tape in 1 file; the tape ended", 1},
      {"batch, from the end of the tape", TwoScenes(20), {"capture", "batch", "--name", "B", "scene:2"}, kExitOk,
       "captured 0:00:02.0 of tape in 1 file; every section captured", 1},
      {"batch, a section after the last scene", TwoScenes(2), {"capture", "batch", "--name", "B", "0:00:08-0:00:09"},
       kExitNoRecording, "no recording found at or after its start (the last scene ends at 0:00:07)", 0},
      {"batch, a section beyond the tape", TwoScenes(2), {"capture", "batch", "--name", "B", "0:00:30-0:00:31"},
       kExitRefused, "it begins beyond the end of the tape (0:00:00 to 0:00:20)", 0},
      {"tape, a blank cassette", R"({"length": 100, "position": 4})",
       {"capture", "tape", "--stream-timeout", "2000", "--poll", "250"}, kExitNoRecording,
       "zelto: no recording found: no picture for 2 s of tape from the start", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zelto::testing::RemoveFolder(folder / "new");
    std::vector<std::string> args{"--cassette", Cassette(c.tape)};
    args.insert(args.end(), c.capture.begin(), c.capture.end());
    args.insert(args.end(), {"--to", Out().string()});
    const Result r = Zelto(args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    const std::string& said = c.code == kExitOk ? r.out : r.err;
    EXPECT_TRUE(Contains(said, c.says)) << said;
    EXPECT_EQ(FilesIn(Out()).size(), c.files) << r.out;
    if (c.files == 0) {
      EXPECT_FALSE(std::filesystem::exists(folder / "new")) << "a folder it made and left empty stays";
    }
    if (c.code == kExitRefused) {
      EXPECT_TRUE(r.out.empty()) << r.out;
      EXPECT_EQ(DeckState(), "stop");
    }
  }
}

// A deck that leaves the capture's play without being asked: another
// command's button, an ejection, a seek, once the first file is reported.
// The capture says so, exits 14, and keeps its file, which the folder's
// list vouches for.
TEST_F(CaptureEndingsTest, ADeckAnotherCommandTakesEndsTheCaptureWithItsOwnStatus) {
  struct Case {
    const char* name;
    std::vector<std::string> capture;
    std::function<void(zelto::sim::SimulatedDriver&)> act;
    const char* says;
    const char* leftIn = nullptr;  // the deck's state after, where it is checked
  };
  const auto press = [](DWORD command) {
    return [command](zelto::sim::SimulatedDriver& d) { d.Panel().SendCommand(command); };
  };
  const std::vector<std::string> direct{"capture", "direct", "--to"};
  const std::vector<std::string> batch{"capture", "batch", "--name", "B", "scene:1", "scene:2", "--to"};
  const Case cases[] = {
      {"direct, stop", direct, press(DECK_COMMAND_STOP), "another command stopped the deck at ATN"},
      {"direct, pause", direct, press(DECK_COMMAND_PAUSE), "another command put the deck into pause", "pause"},
      {"direct, fast forward", direct, press(DECK_COMMAND_FAST_FORWARD), "another command put the deck into fast"},
      {"direct, a seek", direct, press(DECK_COMMAND_SEEK_ATN | 5000), "another command sent the deck to seek"},
      {"direct, ejected", direct, [](zelto::sim::SimulatedDriver& d) { d.Panel().Eject(); }, "the cassette was ejected"},
      {"batch, stop", batch, press(DECK_COMMAND_STOP), "another command stopped the deck at ATN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zelto::testing::RemoveFolder(folder / "new");
    std::vector<std::string> args{"--cassette", Cassette(TwoScenes(1))};
    args.insert(args.end(), c.capture.begin(), c.capture.end());
    args.push_back(Out().string());
    const Result r = ZeltoActingOn(args, "file-created", c.act);
    EXPECT_EQ(r.code, kExitTakenOver) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "zelto: the capture stopped: ")) << r.err;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    EXPECT_TRUE(Contains(r.err, "; 1 file kept")) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_FALSE(Contains(r.out, "; every section captured")) << r.out;
    EXPECT_EQ(FilesIn(Out()).size(), 1u);
    EXPECT_TRUE(CaptureJournal::Unfinished(Out()).empty());
    if (c.leftIn) {
      EXPECT_EQ(DeckState(), c.leftIn) << "left as the other command left it";
    }
  }
}

// A full disk names itself in every capture kind; the files written up to
// it are kept.
TEST_F(CaptureEndingsTest, AFullDiskIsSaidByItsName) {
  const std::vector<std::string> kinds[] = {
      {"capture", "direct"},
      {"capture", "batch", "--name", "B", "scene:1"},
      {"capture", "tape", "--stream-timeout", "3000"},
  };
  for (const std::vector<std::string>& kind : kinds) {
    SCOPED_TRACE(kind[1]);
    zelto::testing::RemoveFolder(folder / "new");
    std::vector<std::string> args{"--cassette", Cassette(TwoScenes(1))};
    args.insert(args.end(), kind.begin(), kind.end());
    args.insert(args.end(), {"--to", Out().string(), "--json"});
    SetSessionOpenedHookForTesting([](Session& session) { session.Simulator()->Panel().FillDiskAfter(1'000'000); });
    const Result r = Zelto(args);
    SetSessionOpenedHookForTesting(nullptr);
    EXPECT_EQ(r.code, kExitCaptureFailed) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "the disk is full; 1 file kept")) << r.err;
    const std::vector<nlohmann::json> events = JsonLines(r.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().at("result"), "failed");
    bool named = false;
    for (const nlohmann::json& e : events) named = named || (e.at("event") == "error" && e.at("reason") == "the disk is full");
    EXPECT_TRUE(named) << r.out;
  }
}

// Refusals a script reads: each with its status, the error line, and with
// --json an error event of the same words, before anything moves.
TEST_F(CaptureEndingsTest, RefusalsSayWhyInJsonToo) {
  ASSERT_EQ(Zelto({"--cassette", Cassette(TwoScenes(2)), "status"}).code, kExitOk);
  std::filesystem::create_directories(folder / "a-file-here");
  std::ofstream(folder / "a-file-here" / "x") << "x";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const Case cases[] = {
      {{"capture", "direct", "--to", Out().string(), "--name", ""}, kExitUsage, "the base name is empty"},
      {{"capture", "batch", "--to", Out().string(), "--name", "", "scene:1"}, kExitUsage, "the base name is empty"},
      {{"capture", "tape", "--to", Out().string(), "--name", ""}, kExitUsage, "the base name is empty"},
      {{"capture", "direct", "--to", (folder / "a-file-here" / "x").string()}, kExitUsage, "is not a folder"},
      {{"capture", "direct", "--to", (folder / "a-file-here" / "x" / "y").string()}, kExitUsage,
       "cannot make the capture folder"},
      {{"capture", "batch", "--to", Out().string(), "--name", "B", "0:01:00-0:01:10"}, kExitRefused,
       "beyond the end of the tape"},
      // What the command line parser refuses is an event too.
      {{"capture", "batch", "--to", Out().string(), "--name", "B", "--split", "often", "scene:1"}, kExitUsage,
       "--split 'often' is none of"},
      {{"capture", "direct", "--to", Out().string(), "--fast"}, kExitUsage, "has no option --fast"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    SCOPED_TRACE(args[1] + " " + c.says);
    const Result r = Zelto(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    const std::vector<nlohmann::json> events = JsonLines(r.out);
    ASSERT_EQ(events.size(), 1u) << r.out;
    EXPECT_EQ(events[0].at("event"), "error");
    EXPECT_EQ(r.err.rfind("zelto: " + events[0].at("reason").get<std::string>(), 0), 0u) << r.err;
    EXPECT_EQ(events[0].at("status"), c.code);
    EXPECT_FALSE(std::filesystem::exists(folder / "new"));
  }
  // Options given empty are refused by the command line, not taken as unset.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"capture", "batch", "--to", Out().string(), "--name", "B", "--first", "", "scene:1"},
        std::vector<std::string>{"capture", "direct", "--to", Out().string(), "--seconds", ""}}) {
    const Result r = Zelto(args);
    EXPECT_EQ(r.code, kExitUsage) << args[4];
    EXPECT_TRUE(Contains(r.err, "is not a whole number") || Contains(r.err, "is not a number of seconds")) << r.err;
  }
}

// A foreign file of the capture's form dropped into the folder while it
// runs is not the capture's; in a pipe a capture of a few seconds shows
// its progress; and it stops close to the seconds asked for, saying how
// much it captured. The command stops on the progress it hears: on a
// clock ten times as fast, a loaded machine's lag in hearing it is ten
// times as much tape, so this capture runs at half speed. The foreign file
// is numbered well clear of the run of parts the capture makes.
TEST_F(CaptureEndingsTest, APipeSeesProgressAndTheFilesListedAreTheCapturesOwn) {
  zelto::platform::SetTimeScaleForTesting(0.5);
  const Result r = ZeltoActingOn({"--cassette", Cassette(R"({"length": 60, "scenes": [{"start": 0, "end": 50}]})"),
                                  "capture", "direct", "--to", Out().string(), "--split", "size:4", "--seconds", "12"},
                                 "Clip-02.zlt", [&](zelto::sim::SimulatedDriver&) {
                                   std::ofstream(Out() / "Clip-12.zlt") << "not a capture";
                                 });
  ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "  progress: ")) << r.out;
  EXPECT_FALSE(Contains(r.out, "Clip-12.zlt")) << r.out;
  EXPECT_TRUE(Contains(r.out, "5 files in ")) << r.out;
  EXPECT_TRUE(Contains(r.out, "Clip-05.zlt")) << r.out;
  EXPECT_TRUE(Contains(r.out, "; the 0:00:12.0 asked for were captured")) << r.out;
  double seconds = 0;
  for (const std::string& name : FilesIn(Out()))
    if (name != "Clip-12.zlt") seconds += static_cast<double>(std::filesystem::file_size(Out() / name)) / 1.59e6;
  EXPECT_GE(seconds, 11.9);
  EXPECT_LT(seconds, 13.0) << "it stops close to the seconds asked for";
  char said[64];
  std::snprintf(said, sizeof said, "captured 0:00:%04.1f of tape in 5 files", seconds);
  EXPECT_TRUE(Contains(r.out, said)) << said << "\n" << r.out;
}

#if ZELTO_SIM_HAVE_FFMPEG
using zelto::testing::FramesIn;

// Splits by frames on tapes of either frame rate: every part but the last
// holds the frames the command said it would, the nearest the camcorder's
// whole-MiB parts come to what was asked.
TEST_F(CaptureEndingsTest, SplitsByFramesHoldWhatTheCommandSays) {
  struct Case {
    int videoSystem;
    const char* split;
    int frames;  // in each whole part
    const char* says;
  };
  const Case cases[] = {
      {1, "frames:25", 32, "each part holds 32 frames (1.28 s) at 25 frames/s, not 25"},
      {1, "frames:50", 49, "each part holds 49 frames (1.96 s) at 25 frames/s, not 50"},
      {0, "frames:25", 19, "each part holds 19 frames (0.63 s) at 30 frames/s, not 25"},
      {0, "frames:90", 98, "each part holds 98 frames (3.27 s) at 30 frames/s, not 90"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.split) + " at video system " + std::to_string(c.videoSystem));
    zelto::testing::RemoveFolder(folder / "new");
    const Result r = Zelto({"--cassette",
                            Cassette(R"({"length": 20, "position": 1, "scenes": [{"start": 1, "end": 8, "videoSystem": )" +
                                     std::to_string(c.videoSystem) + "}]}"),
                            "capture", "direct", "--to", Out().string(), "--split", c.split});
    ASSERT_EQ(r.code, kExitOk) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, c.says)) << r.out;
    const std::vector<std::string> parts = FilesIn(Out());
    ASSERT_GE(parts.size(), 2u) << r.out;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) EXPECT_EQ(FramesIn(Out() / parts[i]), c.frames) << parts[i];
  }
}
#endif

#ifndef _WIN32
// A real zelto killed (SIGKILL) while the camcorder writes its third part:
// the next capture into the folder says which file was left unfinished,
// and only that one; the two closed before are listed whole.
TEST_F(CaptureEndingsTest, AFileCutShortByAKillIsToldUnfinished) {
  ASSERT_EQ(Zelto({"--cassette", Cassette(R"({"length": 120, "scenes": [{"start": 0, "end": 100}]})"), "status"}).code,
            kExitOk);
  const std::string out = Out().string();
  // A part takes 0.66 s: the kill comes well inside the third.
  ChildZelto job(folder, {"capture", "direct", "--to", out, "--split", "size:1", "--json"}, {"ZELTO_TIME_SCALE=1"});
  ASSERT_TRUE(job.WaitFor("Clip-03.zlt")) << job.Output();
  job.Kill();
  EXPECT_EQ(job.Finish(), -1) << job.Output();

  const Result next = Zelto({"deck", "stop"});
  ASSERT_EQ(next.code, kExitOk) << next.err;
  const Result again = Zelto({"capture", "direct", "--to", out, "--next-free", "--seconds", "1"});
  EXPECT_EQ(again.code, kExitOk) << again.err;
  std::vector<std::string> notes;
  for (const std::string& said : Lines(again.out))
    if (Contains(said, "left unfinished")) notes.push_back(said);
  EXPECT_EQ(notes, (std::vector<std::string>{"Clip-03.zlt in this folder was left unfinished by an earlier capture"}))
      << again.out;
  EXPECT_EQ(CaptureJournal::Unfinished(Out()), (std::vector<std::string>{"Clip-03.zlt"}));
}

// A folder the user may not write in is refused before the deck moves,
// with the reason's name. Root writes anywhere: then the capture runs as
// nobody.
TEST_F(CaptureEndingsTest, AFolderThatTakesNoFilesIsRefusedBeforeTheDeckMoves) {
  ASSERT_EQ(Zelto({"--cassette", Cassette(TwoScenes(2)), "status"}).code, kExitOk);
  const std::filesystem::path locked = folder / "locked";
  std::filesystem::create_directories(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                           std::filesystem::perms::group_read | std::filesystem::perms::others_read |
                                           std::filesystem::perms::group_exec | std::filesystem::perms::others_exec);
  const bool root = geteuid() == 0;
  if (root) {
    for (const char* name : {"", "state.json", "state.json.lock", "state.json.job", "state.json.deck"})
      if (std::filesystem::exists(folder / name)) std::filesystem::permissions(folder / name, std::filesystem::perms::all);
  }
  const std::string data = (folder / (root ? "nobody-data" : "data")).string();
  const std::string state = (folder / "state.json").string();
  for (const std::filesystem::path& to : {locked, locked / "inner"}) {
    SCOPED_TRACE(to.string());
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      dup2(pipeEnds[1], 2);
      close(pipeEnds[0]);
      if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
      execl(ZELTO_PROGRAM, ZELTO_PROGRAM, "--data-folder", data.c_str(), "--state-file", state.c_str(), "capture",
            "direct", "--to", to.string().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeEnds[1]);
    FILE* err = fdopen(pipeEnds[0], "r");
    std::string said;
    char line[1024];
    while (fgets(line, sizeof line, err) != nullptr) said += line;
    fclose(err);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), kExitUsage) << said;
    EXPECT_TRUE(Contains(said, "permission denied")) << said;
    EXPECT_TRUE(std::filesystem::is_empty(locked));
  }
  EXPECT_EQ(DeckState(), "stop");
  EXPECT_EQ(nlohmann::json::parse(Zelto({"status", "--json"}).out).at("tape").at("atn"), 600) << "never moved";
}
#endif

}  // namespace
