// The lighting and colour strategies: brightness ranges, HSV colours, light
// modes and scenes, in hexadecimal payload texts.
#include <charconv>
#include <cmath>
#include <limits>

#include "data/codecs.hpp"
#include "adapter/families.hpp"
#include "data/text_form.hpp"
#include "data/data.hpp"
#include "text.hpp"

namespace zefa::adapter::family {

using namespace data;  // the value codecs are this module's vocabulary

namespace {

constexpr size_t kEnd = std::string_view::npos;

// ---- Brightness ranges ----------------------------------------------------------

struct Range {
  double lo, base, span, hi;
};

ReadResult read_range(const Value& raw, Range k) {
  double x = 0;
  if (raw.is_number()) x = raw.to_f64();
  else if (!data::read_float(payload(raw), x)) return fail("invalid range");
  // Comparisons let not-a-number through, so it ends as null.
  double c = std::trunc(x);
  if (c < k.lo) c = k.lo;
  if (c > 255) c = 255;
  double y = std::floor(k.base + k.span * (c - k.lo) / (255 - k.lo));
  if (y < k.base) y = k.base;
  if (y > k.hi) y = k.hi;
  return data::number(y);
}

ReadResult read_range_v1(const Value& raw, const Value&, const Value&) { return read_range(raw, {25, 0, 100, 100}); }
ReadResult read_range_v2(const Value& raw, const Value&, const Value&) {
  return read_range(raw, {0, 1000, 11000, 12000});
}

// ---- Fixed suffix ----------------------------------------------------------------

constexpr std::string_view kSuffix = "|0|0";

ReadResult read_jsq(const Value& raw, const Value&, const Value&) {
  std::string s(payload(raw));
  s += kSuffix;
  return Value(s);
}

Result<Value> write_jsq(const Value& value, const Value&) {
  if (!value.is_string()) return Value("");
  std::string_view s = value.str();
  if (s.ends_with(kSuffix)) s.remove_suffix(kSuffix.size());
  return Value(s);
}

// ---- Colours -------------------------------------------------------------------

void append_decimal(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

ReadResult read_djv1_color(const Value& raw, const Value&, const Value&) {
  Value p = data::parse(raw);
  Rgb c = hsv_rgb(data::n(p["h"]) / 360, data::n(p["s"]) / 255, data::n(p["v"]) / 255);
  std::string out;
  append_decimal(out, data::trunc_i64(c.r * 255));
  out += '|';
  append_decimal(out, data::trunc_i64(c.g * 255));
  out += '|';
  append_decimal(out, data::trunc_i64(c.b * 255));
  return Value(out);
}

ReadResult read_hsv(const Value& raw, unsigned decimals) {
  std::string_view t = payload(raw);
  if (t.size() == 14 && t.substr(6) == "0168ffff") {
    ZEFA_TRY(Value o, rgb_object(t.substr(0, 6)));
    return dumps_float(std::move(o), kColourKeys);
  }
  ZEFA_TRY(double h, hx(t, 6, 10));
  ZEFA_TRY(double s, hx(t, 10, 12));
  ZEFA_TRY(double v, hx(t, 12, kEnd));
  TextForm w(kColourKeys);
  w.open_object();
  w.key("h");
  w.number(h);
  w.key("s");
  w.number(rounded(1, rounded(decimals, s / 255) * 255));
  w.key("v");
  w.number(rounded(1, rounded(decimals, v / 255) * 255));
  w.close();
  return w.finish();
}

ReadResult read_hsv3(const Value& raw, const Value&, const Value&) { return read_hsv(raw, 3); }
ReadResult read_hsv4(const Value& raw, const Value&, const Value&) { return read_hsv(raw, 4); }

Result<Value> write_hsv(const Value& p, const Value&) {
  double h = data::round_even(data::n(p["h"]));
  double s = data::round_even(data::n(p["s"]));
  double v = data::round_even(data::n(p["v"]));
  Rgb c = hsv_rgb(h / 360, s / 255, v / 255);
  std::string out;
  append_hex(out, data::trunc_i64(data::round_even(c.r * 255)), 2);
  append_hex(out, data::trunc_i64(data::round_even(c.g * 255)), 2);
  append_hex(out, data::trunc_i64(data::round_even(c.b * 255)), 2);
  append_hex(out, data::trunc_i64(h), 4);
  append_hex(out, data::trunc_i64(s), 2);
  append_hex(out, data::trunc_i64(v), 2);
  return Value(out);
}

ReadResult read_v2_color(const Value& raw, const Value&, const Value&) {
  std::string_view t = payload(raw);
  ZEFA_TRY(double h, hx(t, 0, 4));
  ZEFA_TRY(double s, hx(t, 4, 8));
  ZEFA_TRY(double v, hx(t, 8, 12));
  TextForm w(kElectricityKeys);
  w.open_object();
  w.key("h");
  w.number(h);
  w.key("s");
  w.number(s);
  w.key("v");
  w.number(v);
  w.close();
  return w.finish();
}

// Appends trunc(n(member)) of each member as 4-digit hex.
void append_members(std::string& out, const Value& obj, std::initializer_list<std::string_view> names) {
  for (std::string_view k : names) append_hex(out, data::trunc_i64(data::n(obj[k])), 4);
}

Result<Value> write_v2_color(const Value& p, const Value&) {
  std::string out;
  append_members(out, p, {"h", "s", "v"});
  return Value(out);
}

// ---- Light modes ------------------------------------------------------------------

ReadResult read_contr(const Value& raw, const Value&, const Value&) {
  std::string_view t = payload(raw);
  if (t.empty()) return Value("");
  ZEFA_TRY(double mode, hx(t, 0, 1));
  struct Field {
    std::string_view key;
    size_t a, b;
  };
  static constexpr Field kFields[] = {
      {"h", 1, 5}, {"s", 5, 9}, {"v", 9, 13}, {"bright", 13, 17}, {"temperature", 17, kEnd}};
  double vals[5];
  for (size_t i = 0; i < 5; ++i) {
    ZEFA_TRY(vals[i], hx(t, kFields[i].a, kFields[i].b));
  }
  int64_t m = data::trunc_i64(mode);
  TextForm w(kElectricityKeys);
  w.open_object();
  w.key("change_mode");
  w.text(m == 0 ? "direct" : m == 1 ? "gradient" : "");
  for (size_t i = 0; i < 5; ++i) {
    w.key(kFields[i].key);
    w.number(vals[i]);
  }
  w.close();
  return w.finish();
}

Result<Value> write_contr(const Value& p, const Value&) {
  const Value& mode = p["change_mode"];
  std::string out = mode.is_string() && mode.str() == "gradient" ? "1" : "0";
  append_members(out, p, {"h", "s", "v", "bright", "temperature"});
  return Value(out);
}

// ---- Scenes ---------------------------------------------------------------------

ReadResult read_scene_v1(const Value& raw, const Value&, const Value&) {
  std::string_view t = payload(raw);
  if (t.empty()) return Value("");
  json::Array colours;
  if (t.size() >= 9) {
    colours.reserve((t.size() - 8 + 5) / 6);
    for (size_t at = 8; at < t.size(); at += 6) {
      if (t.size() - at < 6 || !text::on_boundary(t, at) || !text::on_boundary(t, at + 6)) return fail("invalid scene");
      ZEFA_TRY(Value c, rgb_object(t.substr(at, 6)));
      colours.push_back(std::move(c));
    }
  }
  ZEFA_TRY(double frequency, hx(t, 4, 6));
  ZEFA_TRY(double bright, hx(t, 0, 2));
  ZEFA_TRY(double temperature, hx(t, 2, 4));
  TextForm w(kColourKeys);
  w.open_object();
  w.key("frequency");
  w.number(frequency);
  w.key("bright");
  w.number(bright);
  w.key("temperature");
  w.number(temperature);
  w.key("hsv");
  w.open_array();
  for (const Value& c : colours) w.value(c);
  w.close();
  w.close();
  return w.finish();
}

constexpr size_t kUnit = 26;

ReadResult read_scene_v2(const Value& raw, const Value&, const Value&) {
  std::string_view t = payload(raw);
  size_t units = t.size() >= 28 ? (t.size() - 2) / kUnit : 0;
  struct Field {
    std::string_view key;
    size_t a, b;
  };
  static constexpr Field kFields[] = {{"unit_switch_duration", 0, 2}, {"unit_gradient_duration", 2, 4},
                                      {"unit_change_mode", 4, 6},     {"h", 6, 10},
                                      {"s", 10, 14},                  {"v", 14, 18},
                                      {"bright", 18, 22},             {"temperature", 22, 26}};
  // The scene number is written first, but the units' errors come before its own.
  Result<double, std::string> num = hx(t, 0, 2);
  TextForm w(kElectricityKeys);
  w.open_object();
  w.key("scene_num");
  w.number(num.ok() ? num.value() : 0);
  w.key("scene_units");
  w.open_array();
  for (size_t k = 0; k < units; ++k) {
    size_t at = 2 + kUnit * k;
    if (!text::on_boundary(t, at) || !text::on_boundary(t, at + kUnit)) return fail("invalid scene");
    std::string_view u = t.substr(at, kUnit);
    w.open_object();
    for (const Field& f : kFields) {
      ZEFA_TRY(double x, hx(u, f.a, f.b));
      w.key(f.key);
      if (f.key == "unit_change_mode") {
        int64_t m = data::trunc_i64(x);
        w.text(m == 0 ? "static" : m == 1 ? "jump" : m == 2 ? "gradient" : "");
      } else {
        w.number(x);
      }
    }
    w.close();
  }
  w.close();
  w.close();
  if (!num.ok()) return failure_of(std::move(num));
  return w.finish();
}

Result<Value> write_scene_v2(const Value& p, const Value&) {
  std::string out;
  int64_t num = data::trunc_i64(data::n(p["scene_num"]));
  append_hex(out, num == std::numeric_limits<int64_t>::min() ? num : num - 1, 2);
  const Value& units = p["scene_units"];
  for (const Value& u : units.arr()) {
    append_hex(out, data::trunc_i64(data::n(u["unit_switch_duration"])), 2);
    append_hex(out, data::trunc_i64(data::n(u["unit_gradient_duration"])), 2);
    const Value& mode = u["unit_change_mode"];
    std::string_view m = mode.str();
    append_hex(out, m == "gradient" ? 2 : m == "jump" ? 1 : 0, 2);
    append_members(out, u, {"h", "s", "v", "bright", "temperature"});
  }
  return Value(out);
}

constexpr Strategy kLighting[] = {
    {"hb_range_v1", read_range_v1, nullptr, false, OnNull::Empty},
    {"hb_range_v2", read_range_v2, nullptr, false, OnNull::Empty},
    {"hb_jsq_lightv1", read_jsq, write_jsq, false, OnNull::Empty},
    {"hb_djv1_color", read_djv1_color, nullptr, false, OnNull::Null},
    {"dj_v1_hsv_alg", read_hsv3, write_hsv, true, OnNull::Null},
    {"voice_atm_color", read_hsv4, write_hsv, true, OnNull::Null},
    {"dj_v1_scene_alg", read_scene_v1, nullptr, false, OnNull::Null},
    {"dj_v2_color_alg", read_v2_color, write_v2_color, true, OnNull::Null},
    {"dj_v2_contr_alg", read_contr, write_contr, true, OnNull::Null},
    {"dj_v2_music_alg", read_contr, write_contr, true, OnNull::Null},
    {"dj_v2_scene_alg", read_scene_v2, write_scene_v2, true, OnNull::Null},
};

}  // namespace

std::span<const Strategy> lighting() { return kLighting; }

}  // namespace zefa::adapter::family
