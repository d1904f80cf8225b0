// zelto: the command-line host of the camcorder library.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/Console.h"
#include "app/Interrupt.h"
#include "platform/PlatformExtras.h"
#include "platform/ThreadGuard.h"

#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace {

// A fault of ours stopped on one of the program's threads: said at once, in
// one write, whatever the main thread is printing.
void ReportEscape(const std::string& description) {
  const std::string line = "zelto: internal error on " + description + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

int Run(const std::vector<std::string>& args) {
  zelto::platform::SetEscapedExceptionReporter(&ReportEscape);
  zelto::app::Interrupt::InstallHandlers();
  zelto::app::Console console(std::cout, std::cerr, zelto::app::Console::StdoutWantsColour(),
                              zelto::app::Console::StdoutIsTerminal());
  const int code = zelto::app::RunCommandLine(args, console);
  zelto::app::Interrupt::ProgramEnded();
  return code;
}

}  // namespace

#ifdef _WIN32
// The arguments as the system holds them, in UTF-16 (the narrow ones are in
// the ANSI code page, which loses every other character); the program works
// in UTF-8, and so does its output on a console.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(zelto::platform::ToUtf8(argv[i]));
  const UINT consolePage = GetConsoleOutputCP();
  if (consolePage != 0) SetConsoleOutputCP(CP_UTF8);
  const int code = Run(args);
  if (consolePage != 0) SetConsoleOutputCP(consolePage);  // the console is the user's, after we are gone
  return code;
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv, argv + argc)); }
#endif
