#include "simulator/JsonFields.h"

#include <cmath>
#include <cstdio>

namespace zelto::sim::detail {

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Plain decimal text, never an exponent: the limits are read by people.
std::string Plain(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

}  // namespace

const nlohmann::json& Field(const nlohmann::json& object, const std::string& name) {
  if (!object.is_object()) throw FieldError("the value holding " + Quoted(name) + " must be an object");
  const auto it = object.find(name);
  if (it == object.end()) throw FieldError(Quoted(name) + " is missing");
  return *it;
}

std::int64_t ToInteger(const nlohmann::json& value, const std::string& name, std::int64_t low, std::int64_t high) {
  bool fits = false;
  std::int64_t result = 0;
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    fits = std::cmp_less_equal(v, high) && std::cmp_greater_equal(v, low);
    result = fits ? static_cast<std::int64_t>(v) : 0;
  } else if (value.is_number_integer()) {
    result = value.get<std::int64_t>();
    fits = result >= low && result <= high;
  }
  if (!fits)
    throw FieldError(Quoted(name) + " must be a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high));
  return result;
}

std::uint64_t ToUnsigned(const nlohmann::json& value, const std::string& name, std::uint64_t high) {
  bool fits = false;
  std::uint64_t result = 0;
  if (value.is_number_unsigned()) {
    result = value.get<std::uint64_t>();
    fits = result <= high;
  } else if (value.is_number_integer()) {
    const auto v = value.get<std::int64_t>();
    fits = v >= 0 && static_cast<std::uint64_t>(v) <= high;
    result = fits ? static_cast<std::uint64_t>(v) : 0;
  }
  if (!fits) throw FieldError(Quoted(name) + " must be a whole number from 0 to " + std::to_string(high));
  return result;
}

double ToNumber(const nlohmann::json& value, const std::string& name, double low, double high) {
  if (value.is_number()) {
    const double v = value.get<double>();
    if (std::isfinite(v) && v >= low && v <= high) return v;
  }
  throw FieldError(Quoted(name) + " must be a number from " + Plain(low) + " to " + Plain(high));
}

bool ToBool(const nlohmann::json& value, const std::string& name) {
  if (!value.is_boolean()) throw FieldError(Quoted(name) + " must be true or false");
  return value.get<bool>();
}

std::string ToText(const nlohmann::json& value, const std::string& name) {
  if (!value.is_string()) throw FieldError(Quoted(name) + " must be a text");
  return value.get<std::string>();
}

}  // namespace zelto::sim::detail
