// The zelto command's help texts, written for people: every line fits 80
// columns, each text ends with examples, and the main text lists the exit
// codes, the default paths and the environment.
#pragma once

#include <string>

namespace zelto::app {

// The main text, or a command's ("status", "deck", ...); none for an
// unknown word.
std::string HelpText(const std::string& command = {});
std::string VersionText();

}  // namespace zelto::app
