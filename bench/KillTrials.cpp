// Kills a real zelto outright (SIGKILL; TerminateProcess on Windows) at a
// random moment of one job, many times over, on the simulated camcorder,
// and checks after each kill that nothing already written was lost or left
// half-written: the next `zelto status` works, the state file is one the
// job could have written, the cassette-memory database is sound and holds
// what the command had said it stored, and every capture file the command
// had said was complete is whole while one it was still writing is listed
// as unfinished.
//
//   KillTrials [--trials N] [--seed S] [--trial T] [--kinds KIND,...]
//
// Each trial draws its moment from the seed and its own number, so
// `--seed S --trial T` replays one trial alone. Exits 1 on any fault.
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/CaptureJournal.h"
#include "platform/PlatformExtras.h"
#include "tests/CaptureFilePlayback.h"
#include "tests/TestFolder.h"
#include "tests/app/ChildZelto.h"

namespace {

namespace fs = std::filesystem;
using apptest::ChildZelto;
using Clock = std::chrono::steady_clock;

// Three scenes with blank tape between them; the cassette memory holds a text.
constexpr const char* kCassette =
    R"({"length": 300, "position": 0, "memory": {"text": "old text"}, "scenes": [
         {"start": 1, "end": 9, "timeCode": "00:00:00:00"},
         {"start": 12, "end": 20, "timeCode": "00:10:00:00"},
         {"start": 23, "end": 30, "timeCode": "00:20:00:00"}]})";
constexpr const char* kOldText = "old text";
constexpr const char* kNewText = "new text";
// The commands wait on the tape; a sped-up clock shortens a trial (POSIX only).
const std::vector<std::string> kEnvironment{"ZELTO_TIME_SCALE=0.05"};

enum class Kind { Deck, MicText, Scan, CaptureBatch, CaptureDirect, Record };

struct Job {
  Kind kind;
  const char* name;
  std::string cue;  // printed once the job has begun to write
};

const std::vector<Job> kJobs = {
    {Kind::Deck, "deck", ""},
    {Kind::MicText, "mic text", ""},
    {Kind::Scan, "scan", "scanning the tape"},
    {Kind::CaptureBatch, "capture batch", "file-created: "},
    {Kind::CaptureDirect, "capture direct", "file-created: "},
    {Kind::Record, "record", "recording: "},
};

std::string Utf8(const fs::path& path) { return zelto::platform::Utf8FromPath(path); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();  // a Windows program's text output
    lines.push_back(line);
  }
  return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A transport stream of 188-byte packets: three seconds of tape.
void WriteClip(const fs::path& file) {
  std::ofstream out(file, std::ios::binary);
  std::string packet(188, '\0');
  packet[0] = 0x47;
  for (int i = 0; i < 1'590'000 * 3 / 188; ++i) out << packet;
}

std::vector<std::string> Arguments(Kind kind, const fs::path& folder, std::mt19937_64& random) {
  const std::string captures = Utf8(folder / "captures");
  switch (kind) {
    case Kind::Deck: {
      const std::vector<std::vector<std::string>> buttons = {
          {"deck", "play", "--wait"}, {"deck", "ff", "--wait"}, {"deck", "seek", "12000", "--wait"}, {"deck", "stop"}};
      return buttons[random() % buttons.size()];
    }
    case Kind::MicText: return {"mic", "text", kNewText};
    case Kind::Scan: return {"scan"};
    case Kind::CaptureBatch: return {"capture", "batch", "--to", captures, "--name", "B", "scene:1", "scene:2"};
    case Kind::CaptureDirect: return {"capture", "direct", "--to", captures, "--seconds", "12", "--split", "size:4"};
    case Kind::Record: return {"record", Utf8(folder / "clip.zlt")};
  }
  return {};
}

std::optional<nlohmann::json> ReadState(const fs::path& folder) {
  std::ifstream in(folder / "state.json", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::json state = nlohmann::json::parse(text.str(), nullptr, false);
  if (state.is_discarded() || !state.is_object() || state.value("format", "") != "zelto-sim-state") return std::nullopt;
  return state;
}

// What the database holds for the cassette in the camcorder.
struct Memory {
  std::string integrity;
  std::string text;
  int pictures = 0;  // records with a first picture
  int records = 0;
};

std::optional<Memory> ReadMemory(const fs::path& file) {
  if (!fs::exists(file)) return std::nullopt;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(Utf8(file).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return Memory{"cannot be opened"};
  }
  sqlite3_busy_timeout(db, 10'000);
  Memory memory;
  const auto query = [&](const char* sql, const auto& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
      if (memory.integrity.empty()) memory.integrity = sqlite3_errmsg(db);
    } else {
      while (sqlite3_step(st) == SQLITE_ROW) row(st);
    }
    sqlite3_finalize(st);
  };
  query("PRAGMA integrity_check", [&](sqlite3_stmt* st) {
    if (memory.integrity.empty()) memory.integrity = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  });
  const char* current = "(SELECT cassette_id FROM current_cassette WHERE slot = 1)";
  query((std::string("SELECT tape_text FROM cassette WHERE id = ") + current).c_str(), [&](sqlite3_stmt* st) {
    memory.text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  });
  query((std::string("SELECT count(*), count(picture1) FROM rec_info WHERE cassette_id = ") + current).c_str(),
        [&](sqlite3_stmt* st) {
          memory.records = sqlite3_column_int(st, 0);
          memory.pictures = sqlite3_column_int(st, 1);
        });
  sqlite3_close(db);
  return memory;
}

// What a whole capture file holds, by name, from a run nobody killed.
struct WholeFile {
  int frames = -1;          // -1 where the build reads no video
  bool fixedSize = false;   // a part split at its size limit: every such part holds the same
};

int Frames(const fs::path& file) {
#if ZELTO_SIM_HAVE_FFMPEG
  return zelto::testing::FramesIn(file);
#else
  (void)file;
  return -1;
#endif
}

// The files a capture's output says are complete, and all it created (names).
struct CaptureSaid {
  std::set<std::string> complete;
  std::vector<std::string> created;
  bool ended = false;  // the closing list of files was printed
  // A direct capture's last part ends where its seconds ran out, wherever
  // that fell: in a run that ended, it holds what it holds.
  bool EndedWith(const std::string& name) const { return ended && !created.empty() && created.back() == name; }
};

CaptureSaid ReadCaptureOutput(const std::string& output) {
  CaptureSaid said;
  const auto name = [](const std::string& path) { return Utf8(zelto::platform::PathFromUtf8(path).filename()); };
  bool summary = false;
  for (const std::string& line : Lines(output)) {
    if (const std::size_t at = line.find("file-created: "); at != std::string::npos) {
      said.created.push_back(name(line.substr(at + 14)));
    } else if (const std::size_t done = line.find("file-complete: "); done != std::string::npos) {
      said.complete.insert(name(line.substr(done + 15)));
    } else if (Contains(line, "section-complete: ")) {
      said.complete.insert(said.created.begin(), said.created.end());
    } else if (Contains(line, " files in ") || Contains(line, " file in ")) {
      summary = said.ended = true;
    } else if (summary && line.starts_with("  ")) {
      said.complete.insert(line.substr(2, line.find(' ', 2) - 2));
    } else {
      summary = false;
    }
  }
  return said;
}

class Trials {
 public:
  Trials(std::uint64_t seed, fs::path root) : seed(seed), root(std::move(root)) {}

  // One uncut run of each job: how long it takes, and what its whole files hold.
  bool Calibrate(const Job& job) {
    const fs::path folder = root / (std::string("whole-") + std::to_string(static_cast<int>(job.kind)));
    if (!Prepare(job, folder)) return false;
    std::mt19937_64 random(seed);
    const Clock::time_point start = Clock::now();
    ChildZelto child(folder, Arguments(job.kind, folder, random), kEnvironment);
    const int code = child.Finish();
    spans[job.kind] = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (code != 0) {
      std::printf("%s does not run to its end uncut (status %d):\n%s\n", job.name, code, child.Output().c_str());
      return false;
    }
    const CaptureSaid said = ReadCaptureOutput(child.Output());
    std::map<std::uintmax_t, int> sizes;
    for (const std::string& name : said.created) sizes[fs::file_size(folder / "captures" / name)]++;
    for (const std::string& name : said.created) {
      const fs::path file = folder / "captures" / name;
      whole[job.kind][name] = WholeFile{Frames(file), !said.EndedWith(name) && sizes[fs::file_size(file)] > 1};
    }
    zelto::testing::RemoveFolder(folder);
    return true;
  }

  // One trial; false on a fault, which it has described.
  bool Run(const Job& job, int trial) {
    const fs::path folder = root / ("trial-" + std::to_string(trial));
    std::mt19937_64 random(seed * 1'000'003 + static_cast<std::uint64_t>(trial));
    problems.clear();
    if (!Prepare(job, folder)) return Fault(job, trial, folder, "");
    const std::optional<nlohmann::json> before = ReadState(folder);
    const auto span = spans[job.kind] + spans[job.kind] / 5;
    const auto moment = std::chrono::milliseconds(random() % static_cast<std::uint64_t>(span.count() + 1));

    ChildZelto child(folder, Arguments(job.kind, folder, random), kEnvironment);
    std::this_thread::sleep_for(moment);
    const bool running = !child.Ended();
    child.Kill();
    const int code = child.Finish();
    const std::string output = child.Output();
    if (running && code == -1 && (job.cue.empty() || Contains(output, job.cue))) ++counts[job.kind].midWrite;
    if (code != -1 && code != 0) Problem("the job ended by itself with status " + std::to_string(code));

    CheckState(job, folder, before, output);
    ChildZelto status(folder, {"status"}, kEnvironment);
    if (const int next = status.Finish(); next != 0)
      Problem("the next zelto status exits " + std::to_string(next) + ":\n" + status.Output());
    CheckMemory(job, folder, output);
    if (job.kind == Kind::CaptureBatch || job.kind == Kind::CaptureDirect) CheckCaptures(job, folder, output);

    if (!problems.empty()) return Fault(job, trial, folder, output);
    zelto::testing::RemoveFolder(folder);
    return true;
  }

  struct Count {
    int trials = 0;
    int midWrite = 0;
    int faults = 0;
  };
  std::map<Kind, Count> counts;

 private:
  // A fresh data folder with the cassette in the camcorder; its memory's
  // pictures stored by a scan (except for the scan's own trials).
  bool Prepare(const Job& job, const fs::path& folder) {
    if (fs::exists(folder)) zelto::testing::RemoveFolder(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "cassette.json") << kCassette;
    if (job.kind == Kind::Record) WriteClip(folder / "clip.zlt");
    std::vector<std::vector<std::string>> steps{{"--cassette", Utf8(folder / "cassette.json"), "status"}};
    if (job.kind != Kind::Scan) steps.push_back({"scan"});
    // A direct capture starts where the tape stands: at the first scene.
    if (job.kind == Kind::CaptureDirect) steps.push_back({"deck", "rew", "--wait"});
    for (const std::vector<std::string>& step : steps) {
      ChildZelto child(folder, step, kEnvironment);
      if (const int code = child.Finish(); code != 0) {
        std::printf("setting up the camcorder failed (status %d):\n%s\n", code, child.Output().c_str());
        return false;
      }
    }
    return true;
  }

  // The state as the killed job left it, before anything else reads it.
  void CheckState(const Job& job, const fs::path& folder, const std::optional<nlohmann::json>& before,
                  const std::string& output) {
    const std::optional<nlohmann::json> state = ReadState(folder);
    if (!state || !before) return Problem("the state file is not a whole state");
    const nlohmann::json& cassette = state->value("cassette", nlohmann::json::object());
    const nlohmann::json& was = before->value("cassette", nlohmann::json::object());
    const std::string text = cassette.value("memory", nlohmann::json::object()).value("text", "");
    const std::set<std::string> texts =
        job.kind == Kind::MicText ? std::set<std::string>{kOldText, kNewText} : std::set<std::string>{kOldText};
    if (!texts.count(text)) Problem("the state's tape text is \"" + text + "\"");
    if (job.kind == Kind::MicText && Contains(output, std::string("text set: ") + kNewText) && text != kNewText)
      Problem("the text the command set is not in the state");
    const bool recorded = cassette.value("scenes", nlohmann::json()) != was.value("scenes", nlohmann::json());
    if (job.kind != Kind::Record && recorded) Problem("the state's scenes changed");
    if (job.kind == Kind::Record && Contains(output, "recorded ") && !recorded)
      Problem("the recording the command reported is not in the state");
  }

  void CheckMemory(const Job& job, const fs::path& folder, const std::string& output) {
    const std::optional<Memory> memory = ReadMemory(folder / "data" / "micdb.mdb");
    if (!memory) return Problem("the cassette-memory database is gone");
    if (memory->integrity != "ok") return Problem("the database fails its integrity check: " + memory->integrity);
    if (job.kind == Kind::MicText && Contains(output, std::string("text set: ") + kNewText) && memory->text != kNewText)
      Problem("the database lost the text the command set; it holds \"" + memory->text + "\"");
    if (job.kind == Kind::Scan) {
      for (const std::string& line : Lines(output)) {
        static const std::regex kStored(R"(^(\d+) of \d+ scenes? ha(ve|s) a picture in the cassette memory$)");
        std::smatch match;
        if (!std::regex_match(line, match, kStored)) continue;
        const int stored = std::stoi(match[1]);
        if (memory->pictures < stored)
          Problem("the scan said " + std::to_string(stored) + " pictures were stored; the database holds " +
                  std::to_string(memory->pictures));
      }
    } else if (job.kind != Kind::Record && memory->pictures < 3) {
      Problem("the database lost pictures stored before the job: it holds " + std::to_string(memory->pictures));
    }
  }

  void CheckCaptures(const Job& job, const fs::path& folder, const std::string& output) {
    const fs::path captures = folder / "captures";
    if (!fs::exists(captures)) return;
    const CaptureSaid said = ReadCaptureOutput(output);
    const std::vector<std::string> unfinished = zelto::app::CaptureJournal::Unfinished(captures);
    const auto listedUnfinished = [&](const std::string& name) {
      return std::find(unfinished.begin(), unfinished.end(), name) != unfinished.end();
    };
    for (const fs::directory_entry& entry : fs::directory_iterator(captures)) {
      const std::string name = Utf8(entry.path().filename());
      if (name == zelto::app::CaptureJournal::kFileName) continue;
      const bool complete = said.complete.count(name) > 0;
      const bool isWhole = Whole(job, entry.path(), name, said.EndedWith(name));
      if (complete && !isWhole) Problem(name + " was reported complete but is not whole");
      if (complete && listedUnfinished(name)) Problem(name + " was reported complete but is listed as unfinished");
      if (!isWhole && !listedUnfinished(name)) Problem(name + " is cut short but not listed as unfinished");
    }
  }

  // Whole transport-stream packets, and where a run nobody killed wrote the
  // same name with a known length, that length.
  bool Whole(const Job& job, const fs::path& file, const std::string& name, bool endedTheRun) {
    if (!zelto::testing::WholePackets(file)) return false;
    const auto known = whole[job.kind].find(name);
    if (known == whole[job.kind].end()) return true;
    // A direct capture's last part ends where its seconds ran out: in this
    // run, or (for a part that is not split at the size limit) in the run
    // nobody killed.
    if (job.kind == Kind::CaptureDirect && (endedTheRun || !known->second.fixedSize)) return true;
    return known->second.frames < 0 || Frames(file) == known->second.frames;
  }

  void Problem(const std::string& what) { problems.push_back(what); }

  bool Fault(const Job& job, int trial, const fs::path& folder, const std::string& output) {
    ++counts[job.kind].faults;
    std::printf("FAULT seed %llu trial %d (%s): replay with --seed %llu --trial %d; its folder %s is kept\n",
                static_cast<unsigned long long>(seed), trial, job.name, static_cast<unsigned long long>(seed), trial,
                Utf8(folder).c_str());
    for (const std::string& problem : problems) std::printf("  %s\n", problem.c_str());
    std::printf("  the killed command printed:\n%s\n", output.c_str());
    return false;
  }

  std::uint64_t seed;
  fs::path root;
  std::map<Kind, std::chrono::milliseconds> spans;
  std::map<Kind, std::map<std::string, WholeFile>> whole;
  std::vector<std::string> problems;
};

}  // namespace

int main(int argc, char** argv) {
  int trials = 300;
  std::optional<int> only;
  std::uint64_t seed = static_cast<std::uint64_t>(std::random_device{}()) % 1'000'000'000;
  std::set<std::string> kinds;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--trials" && value) trials = std::atoi(argv[++i]);
    else if (arg == "--seed" && value) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--trial" && value) only = std::atoi(argv[++i]);
    else if (arg == "--kinds" && value) {
      std::stringstream list(argv[++i]);
      for (std::string kind; std::getline(list, kind, ',');) kinds.insert(kind);
    } else {
      std::fprintf(stderr, "usage: KillTrials [--trials N] [--seed S] [--trial T] [--kinds KIND,...]\n");
      return 2;
    }
  }
  std::vector<Job> jobs;
  for (const Job& job : kJobs)
    if (kinds.empty() || kinds.count(job.name)) jobs.push_back(job);
  if (jobs.empty()) {
    std::fprintf(stderr, "no such job kind\n");
    return 2;
  }
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  std::fflush(stdout);

  const fs::path root = zelto::testing::TestFolder("zelto-kill-trials");
  Trials run(seed, root);
  for (const Job& job : jobs)
    if (!run.Calibrate(job)) return 1;
  bool faults = false;
  // Trials take the kinds in turn, so that trial T is the same job whatever
  // else runs.
  for (int trial = only.value_or(0); trial < (only ? *only + 1 : trials); ++trial) {
    const Job& job = jobs[static_cast<std::size_t>(trial) % jobs.size()];
    ++run.counts[job.kind].trials;
    if (!run.Run(job, trial)) faults = true;
    std::fflush(stdout);
  }
  std::printf("%-16s %8s %14s %8s\n", "job", "trials", "mid-write", "faults");
  for (const Job& job : jobs) {
    const Trials::Count& count = run.counts[job.kind];
    std::printf("%-16s %8d %14d %8d\n", job.name, count.trials, count.midWrite, count.faults);
  }
  if (!faults) {
    std::error_code ignored;
    zelto::platform::RemoveTree(root, ignored);
  }
  return faults ? 1 : 0;
}
