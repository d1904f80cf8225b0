// Runs zelto command lines in-process, each with a folder of its own for the
// simulator's state file, the cassette files and the host's data; and the
// zelto program itself as a child process on the same folders.
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

#include "app/Commands.h"
#include "app/Console.h"
#include "app/Session.h"
#include "simulator/SimulatedDriver.h"
#include "platform/PlatformExtras.h"
#include "tests/TestFolder.h"
#ifdef ZELTO_PROGRAM
#include "tests/app/ChildZelto.h"
#endif

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
