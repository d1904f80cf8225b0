// Runs zelto command lines in-process, each with a folder of its own for the
// simulator's state file, the cassette files and the host's data; and, on
// POSIX, the zelto program itself as a child process on the same folders.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "app/Commands.h"
#include "app/Console.h"
#include "app/Session.h"
#include "simulator/SimulatedDriver.h"
#include "platform/PlatformExtras.h"
#include "tests/TestFolder.h"

namespace apptest {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// Output that calls `act` once, on the writing thread, as soon as `cue` has
// been written: a test acts at a moment the command itself reports.
class CueBuffer : public std::stringbuf {
public:
  CueBuffer(std::string cue, std::function<void()> act) : cue(std::move(cue)), act(std::move(act)) {}

protected:
  int sync() override {
    if (act && str().find(cue) != std::string::npos) std::exchange(act, nullptr)();
    return 0;
  }

private:
  std::string cue;
  std::function<void()> act;
};

class AppTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Named after the test: ctest runs the cases in parallel processes.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = zelto::testing::TestFolder(std::string("zelto-app-") + info->test_suite_name() + "-" + info->name());
    zelto::testing::RemoveFolder(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    zelto::platform::RemoveTree(folder, ignored);
  }

  // zelto with this run's data folder and (for the simulated driver) state file.
  Result Zelto(std::vector<std::string> args, bool simulated = true) {
    std::vector<std::string> full{"zelto", "--data-folder", Utf8(folder / "data")};
    if (simulated) full.insert(full.end(), {"--state-file", Utf8(folder / "state.json")});
    full.insert(full.end(), args.begin(), args.end());
    std::ostringstream out;
    std::ostringstream err;
    zelto::app::Console console(out, err);
    Result result;
    result.code = zelto::app::RunCommandLine(full, console);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  // As Zelto, with `act` run (given the simulated driver) once `cue` is
  // printed on standard output.
  Result ZeltoActingOn(const std::vector<std::string>& args, const std::string& cue,
                       const std::function<void(zelto::sim::SimulatedDriver&)>& act) {
    zelto::sim::SimulatedDriver* driver = nullptr;
    zelto::app::SetSessionOpenedHookForTesting([&](zelto::app::Session& session) { driver = session.Simulator(); });
    CueBuffer buffer(cue, [&] { act(*driver); });
    std::ostream out(&buffer);
    std::ostringstream err;
    zelto::app::Console console(out, err);
    std::vector<std::string> full{"zelto", "--data-folder", (folder / "data").string(), "--state-file",
                                  (folder / "state.json").string()};
    full.insert(full.end(), args.begin(), args.end());
    Result result;
    result.code = zelto::app::RunCommandLine(full, console);
    zelto::app::SetSessionOpenedHookForTesting(nullptr);
    result.out = buffer.str();
    result.err = err.str();
    return result;
  }

  std::string Cassette(const std::string& json, const std::string& name = "cassette.json") {
    const std::filesystem::path file = folder / zelto::platform::PathFromUtf8(name);
    std::ofstream(file) << json;
    return Utf8(file);
  }

  // A path as the command line carries it.
  static std::string Utf8(const std::filesystem::path& path) { return zelto::platform::Utf8FromPath(path); }

  std::filesystem::path folder;
};

#ifndef _WIN32
// The zelto program run as another process with the test's data folder and
// state file: what a person runs in a second terminal. Its standard output
// and error come through one pipe, read as it arrives.
class ChildZelto {
 public:
  ChildZelto(const std::filesystem::path& folder, const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {}) {
    std::vector<std::string> full{ZELTO_PROGRAM, "--data-folder", (folder / "data").string(), "--state-file",
                                  (folder / "state.json").string()};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : full) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment;
    for (char** v = environ; *v != nullptr; ++v) variables.push_back(*v);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    int ends[2];
    if (pipe(ends) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    if (posix_spawn(&pid, ZELTO_PROGRAM, &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    output = ends[0];
  }
  ~ChildZelto() {
    if (pid > 0 && !status) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (output >= 0) close(output);
  }
  ChildZelto(const ChildZelto&) = delete;
  ChildZelto& operator=(const ChildZelto&) = delete;

  bool Started() const { return pid > 0; }
  pid_t Pid() const { return pid; }
  void Signal(int signal) { kill(pid, signal); }

  // Reads until the output holds `part`, the child closes it, or a minute passes.
  bool WaitFor(const std::string& part) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (seen.find(part) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) break;
    }
    return seen.find(part) != std::string::npos;
  }
  // Reads to the end and waits for the child: its exit status, or -1 when a
  // signal ended it or a minute passed first.
  int Finish() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) break;
    }
    if (!status) {
      int raw = 0;
      if (waitpid(pid, &raw, 0) != pid) return -1;
      status = raw;
    }
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  }
  const std::string& Output() const { return seen; }

 private:
  // False at the end of the output or when nothing came in time.
  bool ReadSome(int milliseconds) {
    pollfd ready{output, POLLIN, 0};
    if (output < 0 || poll(&ready, 1, milliseconds) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(output, buffer, sizeof buffer);
    if (got <= 0) return false;
    seen.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid = -1;
  int output = -1;
  std::string seen;
  std::optional<int> status;
};
#endif

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}


}  // namespace apptest
