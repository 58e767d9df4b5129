#include "data/data.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace zefa::data {

bool truth(const Value& v) noexcept {
  switch (v.type()) {
    case json::Type::Null: return false;
    case json::Type::Bool: return v.as_bool();
    case json::Type::Number: return v.to_f64() != 0.0;
    case json::Type::String: return !v.str().empty();
    default: return v.size() != 0;
  }
}

namespace {
bool ieq(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}
}  // namespace

bool read_float(std::string_view s, double& out) noexcept {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  std::string_view rest = s.substr(i);
  if (ieq(rest, "inf") || ieq(rest, "infinity")) {
    out = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (ieq(rest, "nan")) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  // Validate the grammar ourselves: from_chars alone would accept "inf"-like
  // words elsewhere and lacks the leading "+" and the "5." form.
  size_t j = i, int_digits = 0, frac_digits = 0;
  while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++int_digits;
  if (j < s.size() && s[j] == '.') {
    ++j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++frac_digits;
  }
  if (int_digits == 0 && frac_digits == 0) return false;
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    ++j;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    size_t exp_digits = 0;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (j != s.size()) return false;
  // from_chars takes no "+"; the sign is applied afterwards (exact).
  double d = 0;
  auto [p, ec] = std::from_chars(s.data() + i, s.data() + s.size(), d);
  if (ec == std::errc::result_out_of_range) {
    // Decide between overflow and underflow from the text's magnitude.
    std::string_view body = s.substr(i);
    size_t e = body.find_first_of("eE");
    long long exp = 0;
    if (e != std::string_view::npos) {
      std::string_view es = body.substr(e + 1);
      bool eneg = !es.empty() && es[0] == '-';
      if (!es.empty() && (es[0] == '+' || es[0] == '-')) es.remove_prefix(1);
      for (char c : es)
        if (exp < 100000000) exp = exp * 10 + (c - '0');
      if (eneg) exp = -exp;
    }
    std::string_view mant = body.substr(0, e);
    size_t first = mant.find_first_not_of("0.");
    size_t point = mant.find('.');
    if (point == std::string_view::npos) point = mant.size();
    long long mag = first == std::string_view::npos ? -1
                    : first < point ? static_cast<long long>(point - first) - 1
                                    : -static_cast<long long>(first - point);
    d = (mag + exp < 0) ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc() || p != s.data() + s.size()) {
    return false;
  }
  out = neg ? -d : d;
  return true;
}

double n(const Value& v) noexcept {
  switch (v.type()) {
    case json::Type::Number: return v.to_f64();
    case json::Type::Bool: return v.as_bool() ? 1.0 : 0.0;
    case json::Type::String: {
      double d = 0;
      return read_float(v.str(), d) ? d : 0.0;
    }
    default: return 0.0;
  }
}

bool eq(const Value& a, const Value& b) noexcept {
  bool an = a.is_number() || a.is_bool();
  bool bn = b.is_number() || b.is_bool();
  if (an && bn) return n(a) == n(b);
  return a == b;
}

Value number(double d) {
  if (!std::isfinite(d)) return Value();
  if (d == std::trunc(d) && std::fabs(d) < 9.22e18) {
    auto i = static_cast<int64_t>(d);
    return i >= 0 ? Value(static_cast<unsigned long long>(i)) : Value(static_cast<long long>(i));
  }
  return Value(d);
}

int64_t trunc_i64(double d) noexcept {
  if (std::isnan(d)) return 0;
  // 2^63 is exact as a double; anything at or beyond it saturates.
  if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

double round_even(double x) noexcept {
  double r = std::round(x);
  if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
  return r;
}

Value parse(const Value& v) {
  if (!v.is_string()) return v;
  // Strings built at run time may hold any bytes; such text is no JSON.
  if (!json::valid_utf8(v.str())) return Value();
  auto out = json::parse(v.str(), kEmbeddedDepth);
  return out ? std::move(out).value() : Value();
}

std::vector<std::string> codes(const Value& v) {
  std::vector<std::string> out;
  if (v.is_array()) {
    out.reserve(v.size());
    for (const Value& e : v.arr()) out.emplace_back(e.str());
  } else if (v.is_string()) {
    out.emplace_back(v.str());
  }
  return out;
}

// Recursion follows the source's nesting, which is bounded like every value.
void merge(Value& dst, const Value& src_ref) {
  if (!dst.is_object() || !src_ref.is_object()) return;
  // The source may live inside the destination (a member of it): holding our
  // own reference keeps it valid while the destination grows, and makes
  // writes to the destination copy any node the two share.
  const Value src = src_ref;
  json::Object& d = dst.obj_mut();
  for (const json::Member& m : src.obj()) {
    Value* slot = d.find(m.name());
    if (!slot) slot = &d.push_unique(m.key, Value());
    if (slot->is_object() && m.value.is_object()) {
      merge(*slot, m.value);
    } else {
      *slot = m.value;
    }
  }
}

Value obj(const Value& v) { return v.is_object() ? v : Value::object(); }

json::Array arr(const Value& v) { return v.is_array() ? v.arr() : json::Array{}; }

Result<Table, std::string> Table::deserialize(const Value& v) {
  if (!v.is_object()) return fail("expected a JSON object");
  return Table{v};
}

}  // namespace zefa::data
