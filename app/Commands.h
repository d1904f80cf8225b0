// The zelto program without its main: parse, open the camcorder, run one
// command, take everything down, and answer the exit status.
#pragma once

#include <string>
#include <vector>

#include "app/Console.h"

namespace zelto::app {

// args[0] is the program name.
int RunCommandLine(const std::vector<std::string>& args, Console& console);

}  // namespace zelto::app
