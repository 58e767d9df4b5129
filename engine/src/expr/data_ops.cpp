// Data operators: collections, strings, bytes, colour and electricity.
//
// The operators whose results can outgrow their arguments many times over
// check the per-value limits before building (measuring arguments, predicting
// lengths, forecasting pairs), so none builds a large value only for the
// charge of its result to refuse it. Text forms, JSON parsing and case
// mapping, which outgrow an argument by a small factor at most, are left to
// that charge.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "data/codecs.hpp"
#include "data/data.hpp"
#include "expr/ops.hpp"
#include "text.hpp"

namespace zefa::expr::ops {

namespace {

constexpr uint64_t kMax64 = std::numeric_limits<uint64_t>::max();

uint64_t sat_add(uint64_t a, uint64_t b) noexcept {
  uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? kMax64 : r;
}

uint64_t sat_mul(uint64_t a, uint64_t b) noexcept {
  uint64_t r;
  return __builtin_mul_overflow(a, b, &r) ? kMax64 : r;
}

// A float truncated toward zero into an unsigned 64-bit integer: negative
// values and not-a-number give 0, values past the range its maximum.
uint64_t trunc_u64(double d) noexcept {
  if (!(d > 0)) return 0;
  if (d >= 18446744073709551616.0) return kMax64;
  return static_cast<uint64_t>(d);
}

// First occurrence of `needle` in `hay` at or after `from`. A naive search
// over a long, repetitive pattern takes the product of both lengths, so long
// patterns go to memmem, which is linear; short ones take the faster naive
// search, whose worst case stays within a small multiple of the text.
size_t find_bytes(std::string_view hay, std::string_view needle, size_t from) noexcept {
  if (from > hay.size()) return std::string_view::npos;
  if (needle.size() <= 16) return hay.find(needle, from);
  const void* p = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
  return p ? static_cast<size_t>(static_cast<const char*>(p) - hay.data()) : std::string_view::npos;
}

// The list-building operators measure every argument on its own and refuse
// when their node counts together pass one value's limit, before building.
Done measure(Args args) {
  uint64_t total = 0;
  for (const Value& a : args) {
    uint64_t nodes = 0, bytes = 0;
    ZEFA_CHECK(bounded::visit(a, nodes, bytes, 0));
    total = sat_add(total, nodes);
  }
  if (total > limits::kValueNodes) return fail(limits::kValueSizeLimit);
  return ok_unit;
}

// Walks a result that is not built yet in the order in which charging the
// built result would, failing with the same message at the same point. The
// operators that add nodes of their own (the pairs of "zip" and "entries")
// check each pair before they build it.
class Forecast {
 public:
  // A container at `depth`: the result's root, or one of its pairs.
  Done open(uint64_t depth) {
    if (depth >= limits::kNesting) return fail(limits::kNestingLimit);
    nodes_ = sat_add(nodes_, 1);
    if (nodes_ > limits::kValueNodes) return fail(limits::kValueSizeLimit);
    return ok_unit;
  }
  Done value(const Value& v, uint64_t depth) { return bounded::visit(v, nodes_, bytes_, depth); }
  Done close() const {
    if (bytes_ > limits::kValueBytes) return fail(limits::kTextSizeLimit);
    return ok_unit;
  }
  // Pairs [a, b] under the root, forecast and built one after another.
  template <class Pairs>
  Eval pairs(size_t count, Pairs pair) {
    ZEFA_CHECK(open(0));
    json::Array out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      const auto [a, b] = pair(i);
      ZEFA_CHECK(open(1));
      ZEFA_CHECK(value(a, 2));
      ZEFA_CHECK(value(b, 2));
      ZEFA_CHECK(close());
      out.emplace_back(json::Array{a, b});
    }
    ZEFA_CHECK(close());
    return Value(std::move(out));
  }

 private:
  uint64_t nodes_ = 0, bytes_ = 0;
};

// ---------------------------------------------------------------- collections

Eval op_list(Scope&, const Value&, Args a) {
  ZEFA_CHECK(measure(a));
  return Value(json::Array(a.begin(), a.end()));
}

Eval op_concat(Scope&, const Value&, Args a) {
  ZEFA_CHECK(measure(a));
  json::Array out;
  for (const Value& v : a) {
    if (v.is_array()) {
      out.insert(out.end(), v.arr().begin(), v.arr().end());
    } else if (!v.is_null()) {
      out.push_back(v);
    }
  }
  return Value(std::move(out));
}

Eval op_zip(Scope&, const Value&, Args a) {
  ZEFA_CHECK(measure(a));
  const json::Array& x = arg(a, 0).arr();
  const json::Array& y = arg(a, 1).arr();
  // Measured arguments of 100,000 nodes may still pair into more than that.
  return Forecast().pairs(std::min(x.size(), y.size()), [&](size_t i) {
    return std::pair<const Value&, const Value&>(x[i], y[i]);
  });
}

Eval op_object(Scope&, const Value&, Args a) {
  ZEFA_CHECK(measure(a));
  static const Value kNoName("");
  json::Object out;
  for (const Value& v : a) {
    const Value& key = v[0].is_string() ? v[0] : kNoName;
    out.put(key, v[1]);  // null past the end, or when v is no array
  }
  return Value(std::move(out));
}

Eval op_flatten(Scope&, const Value&, Args a) {
  ZEFA_CHECK(measure(a));
  json::Array out;
  for (const Value& e : arg(a, 0).arr()) out.insert(out.end(), e.arr().begin(), e.arr().end());
  return Value(std::move(out));
}

Eval op_keys(Scope&, const Value&, Args a) {
  json::Array out;
  out.reserve(arg(a, 0).obj().size());
  for (const json::Member& m : arg(a, 0).obj()) out.push_back(m.key);
  return Value(std::move(out));
}

Eval op_values(Scope&, const Value&, Args a) {
  json::Array out;
  out.reserve(arg(a, 0).obj().size());
  for (const json::Member& m : arg(a, 0).obj()) out.push_back(m.value);
  return Value(std::move(out));
}

// The names become nodes of their own and every member a pair: three nodes
// for one, so entries are forecast before they are built.
Eval op_entries(Scope&, const Value&, Args a) {
  const json::Object& o = arg(a, 0).obj();
  return Forecast().pairs(o.size(), [&](size_t i) {
    return std::pair<const Value&, const Value&>(o.at(i).key, o.at(i).value);
  });
}

Eval op_without(Scope&, const Value&, Args a) {
  json::Array out;
  for (const Value& e : arg(a, 0).arr())
    if (!(e == arg(a, 1))) out.push_back(e);
  return Value(std::move(out));
}

Eval op_lookup(Scope&, const Value& expr, Args a) {
  const Value* found = index(arg(a, 0), arg(a, 1));
  return found ? *found : expr["default"];
}

// Stable, by text: strings byte by byte, everything else as the empty text.
Eval op_sort(Scope&, const Value&, Args a) {
  json::Array out = arg(a, 0).arr();
  std::stable_sort(out.begin(), out.end(), [](const Value& x, const Value& y) { return x.str() < y.str(); });
  return Value(std::move(out));
}

Eval op_len(Scope&, const Value&, Args a) {
  const Value& v = arg(a, 0);
  if (v.is_string()) return Value(text::length(v.str()));
  if (v.is_array() || v.is_object()) return Value(v.size());
  return Value();
}

Eval op_contains(Scope&, const Value&, Args a) {
  const Value& hay = arg(a, 0);
  const Value& x = arg(a, 1);
  if (hay.is_string()) return Value(x.is_string() && find_bytes(hay.str(), x.str(), 0) != std::string_view::npos);
  if (hay.is_array()) {
    for (const Value& e : hay.arr())
      if (data::eq(e, x)) return Value(true);
    return Value(false);
  }
  if (hay.is_object()) return Value(hay.find(x.str()) != nullptr);
  return Value(false);
}

Eval op_index_of(Scope&, const Value&, Args a) {
  const json::Array& xs = arg(a, 0).arr();
  for (size_t i = 0; i < xs.size(); ++i)
    if (xs[i] == arg(a, 1)) return Value(i);
  return Value();
}

Eval op_range(Scope&, const Value&, Args a) {
  double n = data::n(arg(a, 0));
  if (!(n >= 0)) n = 0;  // negative and not-a-number
  if (n >= static_cast<double>(limits::kValueNodes)) return fail(limits::kValueSizeLimit);  // infinity too
  const auto m = static_cast<uint64_t>(n);
  json::Array out;
  out.reserve(m);
  for (uint64_t i = 0; i < m; ++i) out.emplace_back(i);
  return Value(std::move(out));
}

Eval op_codes(Scope&, const Value&, Args a) {
  std::vector<std::string> codes = data::codes(arg(a, 0));
  json::Array out;
  out.reserve(codes.size());
  for (const std::string& c : codes) out.emplace_back(c);
  return Value(std::move(out));
}

// ---------------------------------------------------------------- strings

Eval op_text(Scope&, const Value&, Args a) { return arg(a, 0).is_string() ? arg(a, 0) : Value(""); }

Eval op_to_string(Scope&, const Value&, Args a) {
  return arg(a, 0).is_string() ? arg(a, 0) : Value(text(arg(a, 0)));
}

Eval op_str_concat(Scope&, const Value&, Args a) {
  std::string out;
  for (const Value& v : a) {
    std::string piece;
    const std::string_view view = v.is_string() ? v.str() : std::string_view(piece = text(v));
    if (out.size() + view.size() > limits::kValueBytes) return fail(limits::kTextSizeLimit);
    out += view;
  }
  return Value(out);
}

Eval op_lower(Scope&, const Value&, Args a) {
  return arg(a, 0).is_string() ? Value(text::lower(arg(a, 0).str())) : Value();
}

Eval op_capitalize(Scope&, const Value&, Args a) {
  return arg(a, 0).is_string() ? Value(text::capitalize(arg(a, 0).str())) : Value();
}

// Removes every consecutive occurrence of the pattern at the start (or end);
// the empty pattern removes nothing.
Eval trim(Args a, bool at_start) {
  const Value& v = arg(a, 0);
  if (!v.is_string()) return Value();
  const std::string_view pat = arg(a, 1).str();
  std::string_view s = v.str();
  if (pat.empty()) return v;
  if (at_start) {
    while (s.starts_with(pat)) s.remove_prefix(pat.size());
  } else {
    while (s.ends_with(pat)) s.remove_suffix(pat.size());
  }
  return s.size() == v.str().size() ? v : Value(s);
}

Eval op_trim_start(Scope&, const Value&, Args a) { return trim(a, true); }
Eval op_trim_end(Scope&, const Value&, Args a) { return trim(a, false); }

Eval op_starts_with(Scope&, const Value&, Args a) {
  return Value(arg(a, 0).is_string() && arg(a, 0).str().starts_with(arg(a, 1).str()));
}

Eval op_ends_with(Scope&, const Value&, Args a) {
  return Value(arg(a, 0).is_string() && arg(a, 0).str().ends_with(arg(a, 1).str()));
}

// Counts the occurrences first and predicts the result's length from them, so
// a replacement that would grow past one value's text limit builds nothing.
Eval op_replace(Scope&, const Value&, Args a) {
  const Value& v = arg(a, 0);
  if (!v.is_string()) return Value();
  const std::string_view s = v.str(), pat = arg(a, 1).str(), rep = arg(a, 2).str();
  uint64_t count = 0;
  if (pat.empty()) {
    count = text::length(s) + 1;  // every character boundary, both ends included
  } else {
    for (size_t at = 0; (at = find_bytes(s, pat, at)) != std::string_view::npos; at += pat.size()) ++count;
  }
  const uint64_t removed = sat_mul(count, pat.size());
  const uint64_t kept = s.size() > removed ? s.size() - removed : 0;
  const uint64_t length = sat_add(kept, sat_mul(count, rep.size()));
  if (length > limits::kValueBytes) return fail(limits::kTextSizeLimit);
  if (count == 0) return v;

  std::string out;
  out.reserve(length);
  if (pat.empty()) {
    for (size_t i = 0; i < s.size(); ++i) {
      if (text::on_boundary(s, i)) out += rep;
      out += s[i];
    }
    out += rep;
  } else {
    size_t from = 0;
    for (size_t at; (at = find_bytes(s, pat, from)) != std::string_view::npos; from = at + pat.size()) {
      out.append(s, from, at - from);
      out += rep;
    }
    out.append(s, from);
  }
  return Value(out);
}

Eval op_parse_json(Scope&, const Value&, Args a) { return data::parse(arg(a, 0)); }

// The width is checked before anything is written, so no text past one
// value's limit is ever built.
Eval op_hex(Scope&, const Value&, Args a) {
  const double width = data::n(arg(a, 1));
  if (!(width >= 0 && width <= static_cast<double>(limits::kValueBytes))) return fail(limits::kTextSizeLimit);
  std::string out;
  data::append_hex(out, data::trunc_i64(data::n(arg(a, 0))), static_cast<size_t>(width));
  return Value(out);
}

// ---------------------------------------------------------------- bytes

// A text of more fields than one value may hold gives null when a field does
// not read and the size limit otherwise; that is found out a slice at a time,
// never building the whole array.
Eval op_hex_ints(Scope&, const Value&, Args a) {
  const uint64_t digits = trunc_u64(data::n(arg(a, 1)));
  const uint64_t count = trunc_u64(data::n(arg(a, 2)));
  const Value& v = arg(a, 0);
  if (digits == 0 || count < limits::kValueNodes) return hex_ints(v, digits, count);
  uint64_t want;
  if (!v.is_string() || __builtin_mul_overflow(digits, count, &want) || v.str().size() != want) return Value();
  constexpr uint64_t kSlice = 4096;  // fields per trial read
  for (uint64_t i = 0; i < count; i += kSlice) {
    const uint64_t n = std::min(kSlice, count - i);
    if (hex_ints(Value(v.str().substr(i * digits, n * digits)), digits, n).is_null()) return Value();
  }
  return fail(limits::kValueSizeLimit);
}

Eval op_b64_utf8(Scope&, const Value&, Args a) {
  const std::optional<data::Bytes> bytes = data::b64(arg(a, 0));
  if (!bytes) return Value();
  const std::string_view s(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  return json::valid_utf8(s) ? Value(s) : Value();
}

Eval op_b64_utf16be(Scope&, const Value&, Args a) {
  const std::optional<data::Bytes> bytes = data::b64(arg(a, 0));
  if (!bytes) return Value();
  std::optional<std::string> s = text::from_utf16be(*bytes);
  return s ? Value(*s) : Value();
}

// ---------------------------------------------------------------- colour

// [hue in degrees, saturation 0-100] at full brightness to "#rrggbb".
Eval op_hs_to_rgb_hex(Scope&, const Value&, Args a) {
  const Value& hs = arg(a, 0);  // its elements read as null when it is no array
  double h = std::fmod(data::n(hs[0]), 360.0);
  if (h < 0) h += 360;
  const double s = std::clamp(data::n(hs[1]), 0.0, 100.0);
  const data::Rgb c = data::hsv_rgb(h / 360, s / 100, 1);
  std::string out = "#";
  for (double x : {c.r, c.g, c.b}) data::append_hex(out, data::trunc_i64(data::round_even(x * 255)), 2);
  return Value(out);
}

// "#rrggbb" to [hue in degrees, saturation 0-100], as floats, not rounded.
Eval op_rgb_hex_to_hs(Scope&, const Value&, Args a) {
  const std::string_view s = arg(a, 0).str();
  if (!arg(a, 0).is_string() || !s.starts_with('#')) return Value();
  const std::optional<data::Bytes> rgb = data::hexbytes(s.substr(1));
  if (!rgb || rgb->size() != 3) return Value();
  const data::Hs hs = data::rgb_hs((*rgb)[0] / 255.0, (*rgb)[1] / 255.0, (*rgb)[2] / 255.0);
  return Value(json::Array{Value(hs.h), Value(hs.s * 100)});
}

// ---------------------------------------------------------------- electricity

Eval op_electricity_b64(Scope&, const Value&, Args a) {
  const std::optional<data::Bytes> bytes = data::b64(arg(a, 0));
  return bytes ? data::electricity(*bytes) : Value();
}

Eval op_electricity_hex(Scope&, const Value&, Args a) {
  const std::optional<data::Bytes> bytes = data::hexbytes(arg(a, 0).str());
  return bytes ? data::electricity(*bytes) : Value();
}

constexpr FunctionOp kDataOps[] = {
    // collections
    {"list", op_list},
    {"concat", op_concat},
    {"zip", op_zip},
    {"object", op_object},
    {"flatten", op_flatten},
    {"keys", op_keys},
    {"values", op_values},
    {"entries", op_entries},
    {"without", op_without},
    {"lookup", op_lookup},
    {"sort", op_sort},
    {"len", op_len},
    {"contains", op_contains},
    {"index_of", op_index_of},
    {"range", op_range},
    {"codes", op_codes},
    // strings
    {"text", op_text},
    {"to_string", op_to_string},
    {"str_concat", op_str_concat},
    {"lower", op_lower},
    {"capitalize", op_capitalize},
    {"trim_start", op_trim_start},
    {"trim_end", op_trim_end},
    {"starts_with", op_starts_with},
    {"ends_with", op_ends_with},
    {"replace", op_replace},
    {"parse_json", op_parse_json},
    {"hex", op_hex},
    // bytes
    {"hex_ints", op_hex_ints},
    {"b64_utf8", op_b64_utf8},
    {"b64_utf16be", op_b64_utf16be},
    // colour
    {"hs_to_rgb_hex", op_hs_to_rgb_hex},
    {"rgb_hex_to_hs", op_rgb_hex_to_hs},
    // electricity
    {"electricity_b64", op_electricity_b64},
    {"electricity_hex", op_electricity_hex},
};

}  // namespace

std::span<const FunctionOp> data_ops() noexcept { return kDataOps; }

}  // namespace zefa::expr::ops
