// Feeds bytes as zelto's arguments (one per line) to its command-line parser
// (ParseCommandLine): every line ends in options to run or in an exit
// status, help on out or exactly one error line on err, never an exception.
#include <sstream>

#include "app/CommandLine.h"
#include "app/ExitCode.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = fuzz::Fields(fuzz::Text(data, size), '\n');
  args.insert(args.begin(), "zelto");
  std::ostringstream out, err;
  const zelto::app::ParseOutcome outcome = zelto::app::ParseCommandLine(args, out, err);
  if (outcome.options) {
    FUZZ_CHECK(err.str().empty(), "options to run, and an error: %s", err.str().c_str());
    return 0;
  }
  if (outcome.exitCode == zelto::app::kExitOk) {
    FUZZ_CHECK(err.str().empty() && !out.str().empty(), "nothing to run and no error: help or the version");
    return 0;
  }
  FUZZ_CHECK(outcome.exitCode == zelto::app::kExitUsage, "status %d", outcome.exitCode);
  const std::string error = err.str();
  FUZZ_CHECK(error.rfind("zelto: ", 0) == 0, "the error begins with the program's name: %s", error.c_str());
  FUZZ_CHECK(error.find('\n') == error.size() - 1, "one line: %s", error.c_str());
  return 0;
}
