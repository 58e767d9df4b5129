#include "assembly/assembly.hpp"

#include <algorithm>

#include "data/data.hpp"
#include "text.hpp"

namespace zefa::assembly {

Value il_value(Value value, const Value& definition) {
  const std::string_view type = definition["type"].str();
  if (type == "select") {
    const json::Array& options = definition["options"].arr();
    if (value.is_null()) return value;
    // A member is returned as it is: the option 1.0 stays a float, or the
    // value would no longer match the option it matched.
    if (std::ranges::find(options, value) == options.end()) return Value();
    return value;
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

std::string name(std::string_view text, const json::Object& props) {
  std::string base;
  const std::string lowered = text::lower(text);
  for (size_t i = 0; i < lowered.size(); ++i) {
    const char c = lowered[i];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) base.push_back(c);
    else if (text::on_boundary(lowered, i)) base.push_back('_');
  }
  if (base.empty()) base = "prop";
  std::string candidate = base;
  for (size_t n = 2; props.contains(candidate) || candidate == "available"; ++n)
    candidate = base + "_" + std::to_string(n);
  return candidate;
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
