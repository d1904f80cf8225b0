// One job at a time on a camcorder, across processes: the second job is
// refused before anything moves, the commands that share the camcorder
// still work, a deck button from another terminal is noted for the job it
// takes the deck from, a signal ends a job with its own status, and
// writers of the cassette memory take turns.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <ctime>
#include <fstream>
#include <set>

#include "app/ExitCode.h"
#include "app/JobLock.h"
#include "tests/app/AppTestSupport.h"

using namespace apptest;
using namespace zelto::app;

namespace {

#ifndef _WIN32


// An hour of tape with one long scene: every job keeps going for minutes.
constexpr const char* kLongTape =
    R"({"length": 3600, "position": 0, "scenes": [{"start": 1, "end": 3500, "timeCode": "00:00:00:00"}]})";

class JobsTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ASSERT_EQ(Zelto({"--cassette", Cassette(kLongTape), "status"}).code, kExitOk);
  }

  // A transport stream of 188-byte packets: ten seconds of tape.
  std::string StreamFile() {
    const std::filesystem::path file = folder / "clip.zlt";
    std::ofstream out(file, std::ios::binary);
    std::string packet(188, '\0');
    packet[0] = 0x47;
    for (int i = 0; i < 1'590'000 * 10 / 188; ++i) out << packet;
    return file.string();
  }

  std::string Out(const std::string& name) const { return (folder / name).string(); }

  CamcorderFiles Files() const { return CamcorderFiles::Beside(folder / "state.json"); }
};

struct Second {
  std::vector<std::string> args;
  int code;  // kExitBusy: refused, naming the first job
};

struct Pairing {
  std::vector<std::string> first;
  std::string started;  // what the first job prints once it holds the camcorder
  std::string name;     // what a refusal calls it
  std::vector<Second> seconds;
};

TEST_F(JobsTest, ASecondJobIsRefusedAtOnceWhileTheCommandsThatShareTheCamcorderWork) {
  const std::string clip = StreamFile();
  const std::vector<Pairing> pairings = {
      {{"capture", "direct", "--to", Out("a"), "--seconds", "3000"}, "start:", "zelto capture direct",
       {{{"capture", "direct", "--to", Out("b")}, kExitBusy},
        {{"scan"}, kExitBusy},
        {{"--cassette", Cassette(kLongTape, "other.json"), "status"}, kExitBusy},
        {{"status"}, kExitOk},
        {{"mic"}, kExitOk}}},
      {{"capture", "batch", "--to", Out("c"), "--name", "B", "scene:1"}, "start:", "zelto capture batch",
       {{{"record", clip}, kExitBusy}, {{"watch", "--seconds", "1"}, kExitOk}}},
      {{"capture", "tape", "--to", Out("d")}, "start:", "zelto capture tape",
       {{{"capture", "batch", "--to", Out("e"), "--name", "B", "scene:1"}, kExitBusy},
        {{"mic", "text", "during a capture"}, kExitOk}}},
      {{"scan"}, "scanning the tape", "zelto scan",
       {{{"capture", "tape", "--to", Out("f")}, kExitBusy}, {{"demo"}, kExitBusy}}},
      {{"record", clip}, "recording ", "zelto record", {{{"scan"}, kExitBusy}, {{"status", "--json"}, kExitOk}}},
      {{"demo"}, "find the camcorder", "zelto demo",
       {{{"capture", "direct", "--to", Out("g")}, kExitBusy}, {{"mic", "--json"}, kExitOk}}},
  };
  for (const Pairing& p : pairings) {
    SCOPED_TRACE(p.name);
    ChildZelto first(folder, p.first);
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(first.WaitFor(p.started)) << first.Output();
    for (const Second& second : p.seconds) {
      const Result result = Zelto(second.args);
      SCOPED_TRACE(second.args.front());
      EXPECT_EQ(result.code, second.code) << result.out << result.err;
      if (second.code == kExitBusy) {
        EXPECT_TRUE(Contains(result.err, "the camcorder is busy: " + p.name + " (process " +
                                             std::to_string(first.Pid()) + ") is using it since "))
            << result.err;
        EXPECT_TRUE(result.out.empty()) << "refused before anything happened: " << result.out;
      }
      // status says which job holds the camcorder.
      if (second.args.front() == "status" && second.args.size() == 2) {
        const nlohmann::json job = nlohmann::json::parse(result.out).at("job");
        EXPECT_EQ(job.at("command"), p.name) << result.out;
        EXPECT_EQ(job.at("process"), first.Pid()) << result.out;
      } else if (second.args.front() == "status") {
        EXPECT_TRUE(Contains(result.out, "job          " + p.name + " (process " + std::to_string(first.Pid()) +
                                             ") is using the camcorder"))
            << result.out;
      }
    }
    first.Signal(SIGINT);
    EXPECT_EQ(first.Finish(), kExitInterrupted) << first.Output();
  }
  // Every job gone, the camcorder takes a job again (the demo's last wind
  // stopped first).
  const Result stop = Zelto({"deck", "stop", "--wait"});
  EXPECT_EQ(stop.code, kExitOk) << stop.err;
  const Result again = Zelto({"capture", "direct", "--to", Out("h"), "--seconds", "1"});
  EXPECT_EQ(again.code, kExitOk) << again.err;
}

TEST_F(JobsTest, AJobKilledOutrightFreesTheCamcorderAtOnce) {
  ChildZelto first(folder, {"capture", "direct", "--to", Out("a"), "--seconds", "3000"});
  ASSERT_TRUE(first.WaitFor("file-created")) << first.Output();
  first.Signal(SIGKILL);
  EXPECT_EQ(first.Finish(), -1);
  const Result next = Zelto({"capture", "direct", "--to", Out("b"), "--seconds", "1"});
  EXPECT_EQ(next.code, kExitOk) << next.err;
}

TEST_F(JobsTest, ASignalEndsAJobWithItsOwnStatusAndSaysWhich) {
  const struct {
    int signal;
    int code;
    const char* message;
  } cases[] = {
      {SIGINT, kExitInterrupted, "stopped by Ctrl-C; 1 file kept"},
      {SIGTERM, kExitTerminated, "stopped by SIGTERM; 1 file kept"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ChildZelto job(folder, {"capture", "direct", "--to", Out(std::to_string(c.signal)), "--seconds", "3000"});
    ASSERT_TRUE(job.WaitFor("file-created")) << job.Output();
    job.Signal(c.signal);
    EXPECT_EQ(job.Finish(), c.code) << job.Output();
    EXPECT_TRUE(Contains(job.Output(), c.message)) << job.Output();
  }
}

// What a job asks at each tick: whether a deck button pressed in another
// process took its deck, and which.
TEST_F(JobsTest, AJobLearnsWhichCommandInAnotherProcessTookTheDeck) {
  std::unique_ptr<JobLock> job;
  JobHolder holder;
  std::string error;
  ASSERT_EQ(JobLock::Take(Files(), "zelto capture direct", &job, &holder, &error), JobLock::Outcome::Taken) << error;
  EXPECT_FALSE(job->Taken());
  // This process's own presses are the job's own.
  ASSERT_TRUE(NoteDeckPress(Files(), "zelto deck play", &error)) << error;
  EXPECT_FALSE(job->Taken());

  // A second job in this process is refused too, told whose the camcorder is.
  std::unique_ptr<JobLock> second;
  EXPECT_EQ(JobLock::Take(Files(), "zelto scan", &second, &holder, &error), JobLock::Outcome::Busy);
  EXPECT_EQ(holder.job, "zelto capture direct");
  EXPECT_EQ(holder.process, CurrentProcessId());
  ASSERT_TRUE(holder.since);
  EXPECT_LE(std::abs(*holder.since - static_cast<std::int64_t>(std::time(nullptr))), 5);

  ChildZelto stop(folder, {"deck", "stop"});
  EXPECT_EQ(stop.Finish(), kExitOk) << stop.Output();
  EXPECT_TRUE(Contains(stop.Output(), "taking the deck from zelto capture direct (process " +
                                          std::to_string(CurrentProcessId()) + ")"))
      << stop.Output();
  const std::optional<DeckTakeover> taken = job->Taken();
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->process, static_cast<std::uint64_t>(stop.Pid()));
  EXPECT_EQ(taken->command, "zelto deck stop");
  EXPECT_EQ(taken->Text(), "zelto deck stop (process " + std::to_string(stop.Pid()) + ")");

  // The next job hears only of presses made after it began, even where the
  // press log started again in between.
  job.reset();
  EXPECT_FALSE(ReadJobHolder(Files())) << "nobody holds the camcorder";
  ASSERT_EQ(JobLock::Take(Files(), "zelto scan", &job, &holder, &error), JobLock::Outcome::Taken) << error;
  EXPECT_FALSE(job->Taken());
  // The job has read a long log (its own presses) to its end; the next
  // press starts the log again, shorter than where the job had read to.
  while (std::filesystem::file_size(Files().presses) <= 64 * 1024)
    ASSERT_TRUE(NoteDeckPress(Files(), "zelto deck pause", &error));
  EXPECT_FALSE(job->Taken());
  ChildZelto play(folder, {"deck", "ff"});
  EXPECT_EQ(play.Finish(), kExitOk) << play.Output();
  ASSERT_TRUE(job->Taken());
  EXPECT_EQ(job->Taken()->command, "zelto deck ff");
}

// Every job that loses its deck to a button pressed in another terminal
// ends with status 14, naming the command that took it, and keeps what it
// made. (A recording deck takes no button: a recording is stopped by its
// own command.)
TEST_F(JobsTest, AJobWhoseDeckAnotherTerminalTakesEndsNamingTheCommand) {
  const struct {
    std::vector<std::string> job;
    std::string running;  // printed once the deck works for the job
    std::string says;
  } cases[] = {
      {{"capture", "direct", "--to", Out("d"), "--seconds", "3000"}, "file-created", "1 file kept"},
      {{"capture", "batch", "--to", Out("b"), "--name", "B", "scene:1"}, "file-created", "1 file kept"},
      {{"capture", "tape", "--to", Out("t")}, "file-created", "1 file kept"},
      {{"scan"}, "scene 1 ", "the pictures it found are kept"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.job[0] + (c.job.size() > 1 ? " " + c.job[1] : ""));
    ChildZelto job(folder, c.job);
    ASSERT_TRUE(job.WaitFor(c.running)) << job.Output();
    const Result stop = Zelto({"deck", "stop"});
    EXPECT_EQ(stop.code, kExitOk) << stop.err;
    EXPECT_EQ(job.Finish(), kExitTakenOver) << job.Output();
    EXPECT_TRUE(Contains(job.Output(), "the deck was taken by zelto deck stop (process " +
                                           std::to_string(CurrentProcessId()) + ")"))
        << job.Output();
    EXPECT_TRUE(Contains(job.Output(), c.says)) << job.Output();
  }
}

TEST_F(JobsTest, TheDemoEndsWhenAnotherTerminalTakesItsDeck) {
  ChildZelto demo(folder, {"demo"});
  ASSERT_TRUE(demo.WaitFor("rewind to the start")) << demo.Output();
  const Result stop = Zelto({"deck", "stop"});
  EXPECT_EQ(stop.code, kExitOk) << stop.err;
  EXPECT_TRUE(Contains(stop.out, "taking the deck from zelto demo (process " + std::to_string(demo.Pid()) + ")"))
      << stop.out;
  EXPECT_EQ(demo.Finish(), kExitTakenOver) << demo.Output();
  EXPECT_TRUE(Contains(demo.Output(), "demo stopped: another command took the deck: zelto deck stop (process "))
      << demo.Output();
}

TEST_F(JobsTest, ASeekStoppedFromAnotherTerminalSaysSo) {
  ChildZelto watch(folder, {"watch", "--seconds", "120"});
  ASSERT_TRUE(watch.WaitFor("watching")) << watch.Output();
  ChildZelto seek(folder, {"deck", "seek", "900000", "--wait"});
  ASSERT_TRUE(watch.WaitFor("deck state: unknown")) << watch.Output();  // winding to the track
  const Result stop = Zelto({"deck", "stop"});
  EXPECT_EQ(stop.code, kExitOk) << stop.err;
  EXPECT_EQ(seek.Finish(), kExitTakenOver) << seek.Output();
  EXPECT_TRUE(Contains(seek.Output(), "the seek to ATN 900000 was stopped by another command, zelto deck stop (process "))
      << seek.Output();
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Finish(), kExitOk);
}

TEST_F(JobsTest, FourTextsWrittenAtOnceEachTakeTheirTurn) {
  std::vector<std::unique_ptr<ChildZelto>> writers;
  std::set<std::string> texts;
  for (int i = 1; i <= 4; ++i) {
    texts.insert("text " + std::to_string(i));
    writers.push_back(std::make_unique<ChildZelto>(folder, std::vector<std::string>{"mic", "text", "text " + std::to_string(i)}));
  }
  for (int i = 1; i <= 4; ++i) {
    ChildZelto& writer = *writers[i - 1];
    EXPECT_EQ(writer.Finish(), kExitOk) << writer.Output();
    EXPECT_EQ(writer.Output(), "text set: text " + std::to_string(i) + "\n");
  }
  // One of them is the tape's text now.
  const Result mic = Zelto({"mic", "--json"});
  ASSERT_EQ(mic.code, kExitOk) << mic.err;
  const std::string text = nlohmann::json::parse(mic.out).at("text");
  EXPECT_TRUE(texts.count(text)) << text;
}

#endif

}  // namespace
