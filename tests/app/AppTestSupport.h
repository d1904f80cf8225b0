// Runs zelto command lines in-process, each with a folder of its own for the
// simulator's state file, the cassette files and the host's data.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/Console.h"
#include "tests/TestFolder.h"

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
extern char** environ;
#endif

namespace apptest {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class AppTest : public ::testing::Test {
protected:
  void SetUp() override {
    // Named after the test: ctest runs the cases in parallel processes.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = zelto::testing::TestFolder(std::string("zelto-app-") + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  // zelto with this run's data folder and (for the simulated driver) state file.
  Result Zelto(std::vector<std::string> args, bool simulated = true) {
    std::vector<std::string> full{"zelto", "--data-folder", (folder / "data").string()};
    if (simulated) full.insert(full.end(), {"--state-file", (folder / "state.json").string()});
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

  std::string Cassette(const std::string& json, const std::string& name = "cassette.json") {
    const std::filesystem::path file = folder / name;
    std::ofstream(file) << json;
    return file.string();
  }

  std::filesystem::path folder;
};

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

#ifndef _WIN32
// The zelto program in a process of its own, its output (and errors) in a
// pipe, with this process's environment and `variables` ("NAME=value")
// before it.
struct ZeltoChild {
  pid_t pid = 0;
  FILE* output = nullptr;
  std::string seen;  // what it printed so far
  bool ended = false;

  ZeltoChild(const std::vector<std::string>& args, std::vector<std::string> variables = {}) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<std::string> words{ZELTO_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::size_t given = variables.size();
    for (char** v = environ; *v; ++v) {
      const std::string setting(*v);
      const std::string name = setting.substr(0, setting.find('=') + 1);
      bool overridden = false;
      for (std::size_t i = 0; i < given; ++i) overridden = overridden || variables[i].rfind(name, 0) == 0;
      if (!overridden) variables.push_back(setting);
    }
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid, ZELTO_PROGRAM, &actions, nullptr, argv.data(), envp.data()) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    output = fdopen(pipeEnds[0], "r");
  }
  // A child a failed test left running is ended.
  ~ZeltoChild() {
    if (output) fclose(output);
    if (pid > 0 && !ended) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  ZeltoChild(const ZeltoChild&) = delete;
  ZeltoChild& operator=(const ZeltoChild&) = delete;

  // Waits for it to end: its wait status.
  int Wait() {
    int status = 0;
    ended = waitpid(pid, &status, 0) == pid;
    return status;
  }

  // Reads its output until `part` shows (true) or the output ends.
  bool ShowsUp(const std::string& part) {
    char line[512];
    while (!Contains(seen, part) && output && fgets(line, sizeof line, output) != nullptr) seen += line;
    return Contains(seen, part);
  }
};
#endif

}  // namespace apptest
