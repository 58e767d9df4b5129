#include "driver/check.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "data/data.hpp"
#include "text.hpp"

namespace zefa::driver::check {

namespace {

using json::Value;
using protocol::RejectCode;

Failure<Refusal> refuse(RejectCode code, std::string reason) { return {Refusal{code, std::move(reason)}}; }

bool writable(std::string_view type, const Value& def) {
  if (type == "event") return false;
  if (type == "trigger") return true;
  return data::truth(def["rw"]);
}

// A string names a property that must be published as exactly true; any
// other form lists the values another property may hold.
bool requirement_met(const Value& requires_, const Value& values) {
  if (requires_.is_string()) {
    const Value* v = values.find(requires_.str());
    return v && v->is_bool() && v->as_bool();
  }
  const Value& current = values[requires_["prop"].str()];
  const json::Array& allowed = requires_["in"].arr();
  return std::ranges::any_of(allowed, [&](const Value& a) { return data::eq(a, current); });
}

Result<Value, Refusal> binary(const Value& value) {
  if (value.is_bool()) return value;
  if (value.is_integer()) {
    // Only the integer forms: the float 1.0 is not a boolean.
    int64_t i = 0;
    if (value.get_i64(i) && (i == 0 || i == 1)) return Value(i == 1);
  } else if (value.is_string()) {
    const std::string word = text::lower(value.str());
    if (word == "1" || word == "on" || word == "true") return Value(true);
    if (word == "0" || word == "off" || word == "false") return Value(false);
  }
  return refuse(RejectCode::InvalidValue, "not a boolean: " + value.dump());
}

bool bound_given(const Value& def, std::string_view name) {
  const Value* b = def.find(name);
  return b && !b->is_null();
}

Result<Value, Refusal> number(const Value& value, const Value& def) {
  if (!value.is_number()) return refuse(RejectCode::InvalidValue, "not a finite number: " + value.dump());
  const double x = data::n(value);
  const Value& min = def["min"];
  const Value& max = def["max"];
  if ((bound_given(def, "min") && x < data::n(min)) || (bound_given(def, "max") && x > data::n(max)))
    return refuse(RejectCode::OutOfRange, min.dump() + ".." + max.dump());
  const double step = data::n(def["step"]);
  if (step == 0) return value;
  const double base = data::n(min);
  const double k = (x - base) / step;
  // An absolute tolerance in property units absorbs the binary rounding of
  // decimal steps such as 0.1.
  if (std::fabs(step * (k - data::round_even(k))) > 1e-9)
    return refuse(RejectCode::BadStep, "step " + plain_number(step) + " from " + plain_number(base));
  return value;
}

}  // namespace

Result<Value, Refusal> check(const Value& descriptor, const Value& values, std::string_view prop, const Value& value) {
  const Value* def = descriptor["props"].find(prop);
  if (!def) return refuse(RejectCode::UnknownProperty, std::string(prop));
  const std::string_view type = (*def)["type"].str();
  if (!writable(type, *def)) return refuse(RejectCode::ReadOnly, std::string(prop));
  if (const Value* requires_ = def->find("requires"); requires_ && !requirement_met(*requires_, values))
    return refuse(RejectCode::RequiresUnmet, std::string(prop) + " requires " + requires_->dump());

  if (type == "trigger") return Value();
  if (type == "text") {
    if (value.is_string() && !value.str().empty()) return value;
    return refuse(RejectCode::InvalidValue, "non-empty string required");
  }
  if (type == "binary") return binary(value);
  if (type == "number") return number(value, *def);
  if (type == "select") {
    const Value& options = (*def)["options"];
    if (std::ranges::find(options.arr(), value) != options.arr().end()) return value;
    return refuse(RejectCode::InvalidValue, "not one of " + options.dump());
  }
  return refuse(RejectCode::Unsupported, "type " + std::string(type));
}

std::string plain_number(double d) {
  if (!std::isfinite(d)) return std::isnan(d) ? "nan" : d < 0 ? "-inf" : "inf";
  // The shortest round-trip digits come in scientific form; they are then
  // laid out around the point, padded with zeros instead of an exponent.
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  const size_t e_at = sci.find('e');
  std::string out, digits;
  for (char c : sci.substr(0, e_at)) {
    if (c == '-') out.push_back(c);
    else if (c != '.') digits.push_back(c);
  }
  int exp = 0;
  std::from_chars(sci.data() + e_at + (sci[e_at + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exp);
  const long point = exp + 1;  // digits before the decimal point
  const long n = static_cast<long>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-point), '0');
    out += digits;
  } else if (point >= n) {
    out += digits;
    out.append(static_cast<size_t>(point - n), '0');
  } else {
    out.append(digits, 0, static_cast<size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<size_t>(point));
  }
  return out;
}

}  // namespace zefa::driver::check
