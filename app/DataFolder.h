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

// Creates the folder when it is missing and checks that it can be used;
// empty when it can, otherwise why not. The default folder is made private
// to the user (mode 0700 on POSIX) and refused when it is a link, belongs to
// someone else or is not a folder: nobody else can plant it.
std::string PrepareDataFolder(const std::filesystem::path& folder, bool isDefault);

}  // namespace zelto::app
