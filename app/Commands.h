// The zelto program without its main: parse, open the camcorder, run one
// command, take everything down, and answer the exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Console.h"

namespace zelto::app {

class Session;

// args[0] is the program name.
int RunCommandLine(const std::vector<std::string>& args, Console& console);

// Tests only: called with each session a command line opens from now on,
// once it is open and before its command runs, on the command's thread (a
// test reaches the simulated camcorder's panel through it). Empty: none.
void SetSessionOpenedHookForTesting(std::function<void(Session&)> hook);

}  // namespace zelto::app
