// zelto: the command-line host of the camcorder library.
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/Console.h"
#include "app/Interrupt.h"

int main(int argc, char** argv) {
  zelto::app::Interrupt::InstallHandlers();
  zelto::app::Console console(std::cout, std::cerr, zelto::app::Console::StdoutWantsColour(),
                              zelto::app::Console::StdoutIsTerminal());
  const int code = zelto::app::RunCommandLine(std::vector<std::string>(argv, argv + argc), console);
  zelto::app::Interrupt::ProgramEnded();
  return code;
}
