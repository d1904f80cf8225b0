// The JSON form of a cassette, shared by the cassette files and the state
// file. Internal to the simulator.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "simulator/Cassette.h"

namespace zelto::sim::detail {

nlohmann::json CassetteToJson(const Cassette& cassette);
std::optional<Cassette> CassetteFromJson(const nlohmann::json& json, std::string* error);

}  // namespace zelto::sim::detail
