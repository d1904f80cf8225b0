// zelto watch [--seconds N]: device notifications, one line each, as they come.
#pragma once

#include "app/Console.h"
#include "app/Options.h"

namespace zelto::app {

class Session;

int RunWatch(Session& session, const WatchOptions& options, Console& console);

}  // namespace zelto::app
