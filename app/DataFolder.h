// The folder where zelto keeps the cassette-memory database, its temporary
// files and, unless told otherwise, the simulated camcorder's state: the
// user's own state folder of the platform.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zelto::app {

// $XDG_STATE_HOME/zelto (or ~/.local/state/zelto) on Linux, %LOCALAPPDATA%\Zelto
// on Windows; none when the environment names no home at all.
std::optional<std::filesystem::path> DefaultDataFolder();

// Creates the folder when it is missing, with its missing parents, private
// to the user (mode 0700 on POSIX), and checks that it can be used: empty
// when it can, otherwise why not. A link, someone else's folder or a
// non-folder is refused, default or named: nobody else can plant it. The
// default folder, zelto's alone, is also made private when found open.
std::string PrepareDataFolder(const std::filesystem::path& folder, bool isDefault);

}  // namespace zelto::app
