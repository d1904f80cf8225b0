// The zelto command line: subcommands, options, help and usage errors.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Options.h"

namespace zelto::app {

struct ParseOutcome {
  std::optional<Options> options;  // none: nothing to run, exit with exitCode
  int exitCode = 0;                // 0 after --help, kExitUsage after an error
  std::string error;               // the error's words, when there was one
};

// args[0] is the program name. Help goes to out, errors to err.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zelto::app
