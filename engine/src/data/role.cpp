#include "data/role.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "data/data.hpp"
#include "data/value_index.hpp"
#include "text.hpp"

namespace zefa::data {

namespace {

using protocol::DpKind;

// An integer field of an Integer spec as a signed 64-bit integer.
bool spec_integer(const Value& v, int64_t& out) {
  if (v.is_u64()) {
    uint64_t u = v.as_u64();
    out = u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                         : static_cast<int64_t>(u);
    return true;
  }
  if (v.is_i64()) {
    out = v.as_i64();
    return true;
  }
  if (v.is_f64()) {
    out = data::trunc_i64(v.as_f64());
    return true;
  }
  if (v.is_bool()) {
    out = v.as_bool() ? 1 : 0;
    return true;
  }
  if (!v.is_string()) return false;
  std::string_view s = text::trim_white_space(v.str());
  // An optional sign, then at least one digit and nothing else.
  std::string_view digits = s;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return false;
  if (s[0] == '+') s.remove_prefix(1);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

std::string kind_name(DpKind k) { return std::string(record::name_of(k)); }

bool inverted(const Value& spec) {
  const Value& mark = spec["inverted"];
  return mark.is_bool() && mark.as_bool();
}

bool in_range(const Value& range, const Value& v) {
  for (const Value& item : range.arr())
    if (item == v) return true;
  return false;
}

}  // namespace

double Role::lo() const noexcept { return n(spec["min"]); }
double Role::hi() const noexcept { return n(spec["max"]); }

double Role::scale() const noexcept {
  double s = n(spec["scale"]);
  int32_t k = std::isnan(s)        ? 0
              : s >= 2147483647.0  ? std::numeric_limits<int32_t>::max()
              : s <= -2147483648.0 ? std::numeric_limits<int32_t>::min()
                                   : static_cast<int32_t>(s);
  // Repeated squaring, as hosts and rule packs have always computed it.
  uint32_t e = k < 0 ? 0u - static_cast<uint32_t>(k) : static_cast<uint32_t>(k);
  double base = 10.0, f = 1.0;
  for (; e != 0; e >>= 1) {
    if (e & 1u) f *= base;
    base *= base;
  }
  return k < 0 ? 1.0 / f : f;
}

json::Array Role::range() const { return arr(spec["range"]); }

Value Role::read(const Value& status) const {
  const Value& raw = status[code];
  switch (kind) {
    case DpKind::Integer: {
      if (!raw.is_integer() && !raw.is_bool()) return Value();
      double x = raw.is_bool() ? (raw.as_bool() ? 1.0 : 0.0) : raw.to_f64();
      double min = lo(), max = hi();
      if (!(x >= min) || !(x <= max)) return Value();
      double f = scale();
      double r = inverted(spec) ? max / f - x / f : x / f;
      return std::isfinite(r) ? Value(r) : Value();
    }
    case DpKind::Boolean:
      if (raw.is_bool()) return raw;
      if (raw.is_number() && (raw.to_f64() == 1.0 || raw.to_f64() == 0.0)) return raw;
      return Value();
    case DpKind::Enum: return in_range(spec["range"], raw) ? raw : Value();
    default: return raw;
  }
}

Result<Value, std::string> Role::write(const Value& value) const {
  switch (kind) {
    case DpKind::Integer: {
      if (!value.is_number() && !value.is_bool()) return fail("invalid numeric value");
      double x = value.is_bool() ? (value.as_bool() ? 1.0 : 0.0) : value.to_f64();
      double f = scale();
      double v = inverted(spec) ? hi() / f - x : x;
      double r = data::round_even(v * f);
      // A not-a-number bound or result compares false and passes.
      if (r < lo() || r > hi()) return fail("value out of range");
      return number(r);
    }
    case DpKind::Boolean:
      if (!value.is_bool()) return fail("invalid boolean value");
      return value;
    case DpKind::Enum:
      if (!value.is_string() || !in_range(spec["range"], value)) return fail("invalid enum value");
      return value;
    default: return value;
  }
}

Value Role::view() const {
  double f = scale();
  return Value(json::Object{
      {"code", Value(code)},
      {"kind", Value(record::name_of(kind))},
      {"spec", spec},
      {"report_type", report_type},
      {"range", Value(range())},
      {"lo", number(lo() / f)},
      {"hi", number(hi() / f)},
      {"step", number(n(spec["step"]) / f)},
      {"scale", number(f)},
  });
}

Result<std::optional<Role>, std::string> resolve(const Value& device, std::span<const std::string> codes,
                                                 std::string_view kind, bool prefer_function) {
  std::string_view first = prefer_function ? "function" : "status_range";
  std::string_view second = prefer_function ? "status_range" : "function";
  bool needs_values = kind == "Enum" || kind == "Bitmap" || kind == "Integer";
  for (const std::string& code : codes) {
    for (std::string_view section : {first, second}) {
      const Value& entry = device[section][code];
      std::optional<DpKind> found = DpKind::parse(entry["type"].str());
      if ((found ? kind_name(*found) : std::string()) != kind) continue;
      Value values = parse(entry["values"]);
      if (needs_values && !truth(values)) continue;

      if (kind == "Integer") {
        static constexpr std::string_view kFields[] = {"min", "max", "scale", "step"};
        for (std::string_view field : kFields) {
          const Value* v = values.find(field);
          if (!v || v->is_null()) return fail("schema " + code + ": missing integer field");
        }
        for (std::string_view field : kFields) {
          int64_t i = 0;
          if (!spec_integer(*values.find(field), i))
            return fail("schema " + code + ": invalid integer " + std::string(field));
          values.obj_mut().insert_or_assign(field, Value(static_cast<long long>(i)));
        }
      }
      std::optional<DpKind> wanted = DpKind::parse(kind);
      if (!wanted) return fail("invalid dp kind");
      return std::optional<Role>(Role{code, *wanted, std::move(values), device["status_range"][code]["report_type"]});
    }
  }
  return std::optional<Role>();
}

Value cover_words(const Role& role, const Value& names, const Value& rules) {
  if (role.kind == DpKind::Boolean)
    return Value(json::Object{
        {"open", Value(true)}, {"close", Value(false)}, {"stop", Value(json::Object{{"never", Value(true)}})}});
  std::vector<std::string> list = codes(names);
  if (list.empty()) return Value();
  const Value& maps = rules["maps"];
  // Every listed map is held against one range: indexed once.
  const ValueIndex range(role.spec["range"].arr());
  for (const std::string& name : list) {
    const Value& set = maps[name];
    if (range.contains(set["open"]) && range.contains(set["close"])) return set;
  }
  return maps[list.front()];
}

}  // namespace zefa::data
