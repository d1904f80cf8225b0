// Reading the fields of the simulator's JSON files (state and cassette)
// with their types and ranges checked. A file written by hand or by another
// program may hold anything: a number too large for its field, a fraction
// where a count is meant, a text where a number is. None of it is converted
// blindly; each is refused with a FieldError that names the field and says
// what it must be. Internal to the simulator.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace zelto::sim::detail {

class FieldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The member `name` of an object; throws when it is missing (or `object`
// is no object).
const nlohmann::json& Field(const nlohmann::json& object, const std::string& name);

// A JSON integer (never a fraction, an exponent or a number too large for
// JSON's integers, which the parser keeps as floating values) in
// [low, high]; throws naming `name` otherwise.
std::int64_t ToInteger(const nlohmann::json& value, const std::string& name, std::int64_t low, std::int64_t high);
std::uint64_t ToUnsigned(const nlohmann::json& value, const std::string& name, std::uint64_t high);
// Any finite JSON number in [low, high].
double ToNumber(const nlohmann::json& value, const std::string& name, double low, double high);
bool ToBool(const nlohmann::json& value, const std::string& name);
std::string ToText(const nlohmann::json& value, const std::string& name);

// An integer of type T, at most `high` (T's own range unless told).
template <typename T>
T ToCount(const nlohmann::json& value, const std::string& name, T high = std::numeric_limits<T>::max()) {
  static_assert(std::is_unsigned_v<T>);
  return static_cast<T>(ToUnsigned(value, name, high));
}

template <typename T>
T CountField(const nlohmann::json& object, const std::string& name, T high = std::numeric_limits<T>::max()) {
  return ToCount<T>(Field(object, name), name, high);
}

// The same for a member that may be null: none then.
template <typename T>
std::optional<T> OptionalCountField(const nlohmann::json& object, const std::string& name,
                                    T high = std::numeric_limits<T>::max()) {
  const nlohmann::json& value = Field(object, name);
  if (value.is_null()) return std::nullopt;
  return ToCount<T>(value, name, high);
}

}  // namespace zelto::sim::detail
