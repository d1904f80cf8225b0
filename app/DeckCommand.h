// zelto deck ACTION [--wait]: one deck command through the device.
#pragma once

#include <chrono>

#include "app/Console.h"
#include "app/Options.h"

namespace zelto::app {

class Session;

// How long --wait waits unless told: a seek may wind the whole tape first.
std::chrono::milliseconds DefaultDeckTimeout(DeckAction action);

int RunDeck(Session& session, const DeckOptions& options, Console& console);

}  // namespace zelto::app
