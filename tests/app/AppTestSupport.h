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
#include "platform/PlatformExtras.h"
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

}  // namespace apptest
