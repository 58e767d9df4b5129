#include "assembly/assembly.hpp"

#include <algorithm>

#include "data/data.hpp"

namespace zefa::assembly {

Value il_value(Value value, const Value& definition) {
  const std::string_view type = definition["type"].str();
  if (type == "select") {
    const json::Array& options = definition["options"].arr();
    if (!value.is_null() && std::ranges::find(options, value) == options.end()) return Value();
  } else if (type == "binary" && value.is_number()) {
    const double x = value.to_f64();
    if (x == 0) return Value(false);
    if (x == 1) return Value(true);
    return Value();
  }
  // An integer is already in its normal form; going through a float would
  // round those beyond 2^53.
  if (!value.is_f64()) return value;
  return data::number(value.as_f64());
}

bool value_fits(const Value& value, const Value& definition) noexcept {
  const std::string_view type = definition["type"].str();
  if (type == "text") return value.is_string();
  if (type == "binary") return value.is_bool();
  if (type == "number") return value.is_number();
  if (type != "select") return false;
  const json::Array& options = definition["options"].arr();
  return std::ranges::find(options, value) != options.end();
}

}  // namespace zefa::assembly
