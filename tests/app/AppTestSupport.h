// Runs zelto command lines in-process, each with a folder of its own for the
// simulator's state file, the cassette files and the host's data.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "app/Commands.h"
#include "app/Console.h"
#include "tests/TestFolder.h"

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

#ifndef _WIN32
// The zelto program run as a process of its own, as another terminal would,
// its output (both streams) read line by line as it comes.
class ZeltoProcess {
public:
  // extraEnvironment: "NAME=value" entries added to this process's own.
  ZeltoProcess(const std::vector<std::string>& args, const std::vector<std::string>& extraEnvironment = {}) {
    int ends[2];
    if (pipe(ends) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    std::vector<char*> argv{const_cast<char*>(ZELTO_PROGRAM)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    for (const std::string& e : extraEnvironment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    if (posix_spawn(&child, ZELTO_PROGRAM, &actions, nullptr, argv.data(), envp.data()) != 0) child = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    output = fdopen(ends[0], "r");
  }
  ~ZeltoProcess() {
    if (child > 0) {
      kill(child, SIGKILL);
      Wait();
    }
    if (output) fclose(output);
  }
  ZeltoProcess(const ZeltoProcess&) = delete;
  ZeltoProcess& operator=(const ZeltoProcess&) = delete;

  bool Started() const { return child > 0 && output != nullptr; }
  // Reads on until `part` has been printed; false when the output ends first.
  bool ShowsUp(const std::string& part) {
    char line[1024];
    while (seen.find(part) == std::string::npos && output && fgets(line, sizeof line, output) != nullptr) seen += line;
    return seen.find(part) != std::string::npos;
  }
  void Signal(int signal) { kill(child, signal); }
  // Reads the rest of the output and answers the exit status (-1: none).
  int Wait() {
    char line[1024];
    while (output && fgets(line, sizeof line, output) != nullptr) seen += line;
    int status = 0;
    const pid_t waited = child > 0 ? waitpid(child, &status, 0) : -1;
    child = 0;
    return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Seen() const { return seen; }

private:
  pid_t child = 0;
  FILE* output = nullptr;
  std::string seen;
};
#endif

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace apptest
