// The value codecs. Most cases are rows of data/cases/adapter_codecs.json:
// {"fn", "in", "want"} or {"fn", "in", "error"}, byte strings as hex text.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>

#include "data/codecs.hpp"
#include "test_util.hpp"

namespace data = zefa::data;
using data::Bytes;
using zefa::json::Value;

namespace {

Bytes from_hex(std::string_view hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

Value as_hex(const std::optional<Bytes>& b) {
  if (!b) return Value();
  std::string out;
  for (uint8_t c : *b) out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return Value(out);
}

template <class T>
std::string shown(const zefa::Result<T, std::string>& r) {
  return r.ok() ? Value(r.value()).dump() : "!" + r.error();
}

// The row's call, its result as compact JSON or "!" and the message.
std::string call(std::string_view fn, const Value& in) {
  auto pos = [](const Value& v) { return v.is_null() ? std::string_view::npos : v.as_u64(); };
  if (fn == "hx") return shown(data::hx(in[0].str(), pos(in[1]), pos(in[2])));
  if (fn == "hexbytes") return as_hex(data::hexbytes(in.str())).dump();
  if (fn == "b64") return as_hex(data::b64(in)).dump();
  if (fn == "b64_text") return as_hex(data::b64_text(in.str())).dump();
  if (fn == "b64_encode") return Value(data::b64_encode(from_hex(in.str()))).dump();
  if (fn == "rgb_object") return shown(data::rgb_object(in.str()));
  if (fn == "rounded") return Value(data::rounded(static_cast<unsigned>(in[0].as_u64()), in[1].to_f64())).dump();
  if (fn == "electricity") return data::electricity(from_hex(in.str())).dump();
  if (fn == "default_value") return data::default_value(in).dump();
  if (fn == "strategy_code") return Value(data::strategy_code(in)).dump();
  if (fn == "dumps_float") {
    bool colour = in[1].str() == "colour";
    return data::dumps_float(in[0], colour ? data::FloatKeys(data::kColourKeys) : data::kElectricityKeys)
        .dump();
  }
  if (fn == "append_hex") {
    std::string out = "x";
    int64_t v = 0;
    in[0].get_i64(v);
    data::append_hex(out, v, in[1].as_u64());
    return Value(out).dump();
  }
  return "no such function";
}

// The straightforward rounding: fixed-point text, read back.
double rounded_by_text(unsigned d, double x) {
  char buf[1500];
  auto w = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, static_cast<int>(d));
  double y = 0;
  std::from_chars(buf, w.ptr, y);
  return y;
}

}  // namespace

TEST(AdapterCodecs, Cases) {
  const Value cases = zefa::test::load("cases/adapter_codecs.json");
  for (const Value& c : cases.arr()) {
    if (c["fn"].str() == "hsv_rgb") {
      const Value& in = c["in"];
      data::Rgb got = data::hsv_rgb(in[0].to_f64(), in[1].to_f64(), in[2].to_f64());
      double rgb[] = {got.r, got.g, got.b};
      for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(rgb[i], c["want"][i].to_f64(), 1e-12) << c.dump();
      continue;
    }
    std::string want = c.find("error") ? "!" + std::string(c["error"].str()) : c["want"].dump();
    EXPECT_EQ(call(c["fn"].str(), c["in"]), want) << c.dump();
  }
}

TEST(AdapterCodecs, NonFinite) {
  EXPECT_EQ(data::rounded(1, INFINITY), INFINITY);
  EXPECT_TRUE(std::isnan(data::rounded(1, NAN)));
  // A saturated hue: whatever comes out, nothing faults.
  for (double h : {double(NAN), 1e300, -double(INFINITY)}) (void)data::hsv_rgb(h, 1, 1);
}

TEST(AdapterCodecs, RoundedMatchesTextMethod) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::uniform_int_distribution<int> exp(-30, 70);
  for (int i = 0; i < 200000; ++i) {
    // Random magnitudes, and values on or next to decimal ties.
    double x = std::ldexp(unit(rng), exp(rng));
    unsigned d = static_cast<unsigned>(rng() % 23);
    if (i % 4 == 1) x = std::nextafter((static_cast<double>(rng() % 100000) + 0.5) / 1e3, rng() % 2 ? 1e9 : -1e9);
    if (i % 4 == 2) x = (static_cast<double>(rng() % 2000000) - 1e6) / 8;  // exact binary ties
    double got = data::rounded(d, x), want = rounded_by_text(d, x);
    ASSERT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << d << " " << x;
  }
}

TEST(AdapterCodecs, DumpsFloatLargeAndDeepValues) {
  zefa::json::Array items;
  std::string want = "[";
  for (int i = 0; i < 5000; ++i) {
    items.emplace_back(zefa::json::Object{{"h", Value(i + 0.5)}, {"x", Value("t\"")}});
    want += (i ? ", " : "") + std::string(R"({"h": )") + std::to_string(i) + R"(.5, "x": "t\""})";
  }
  EXPECT_EQ(data::dumps_float(Value(std::move(items)), data::kColourKeys).str(), want + "]");
  std::string deep = std::string(zefa::json::kMaxDepth, '[') + std::string(zefa::json::kMaxDepth, ']');
  EXPECT_EQ(data::dumps_float(zefa::test::J(deep), data::kColourKeys).str(), deep);
}
