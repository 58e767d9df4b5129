// The value codecs; byte strings in the case table are hex text.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>

#include "data/codecs.hpp"
#include "data/data.hpp"
#include "fn_cases.hpp"

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

using zefa::test::Args;
using zefa::test::outcome;

Value same(const Value& v) { return v; }

const zefa::test::CaseFns kCodecs = {
    {"hx", [](const Args& a) {
       auto pos = [](const Value& v) { return v.is_null() ? std::string_view::npos : v.as_u64(); };
       return outcome(data::hx(a[0].str(), pos(a[1]), pos(a[2])), [](double d) { return Value(d); });
     }},
    {"hexbytes", [](const Args& a) { return as_hex(data::hexbytes(a[0].str())); }},
    {"b64", [](const Args& a) { return as_hex(data::b64(a[0])); }},
    {"b64_text", [](const Args& a) { return as_hex(data::b64_text(a[0].str())); }},
    {"b64_encode", [](const Args& a) { return Value(data::b64_encode(from_hex(a[0].str()))); }},
    {"rgb_object", [](const Args& a) { return outcome(data::rgb_object(a[0].str()), same); }},
    {"rounded", [](const Args& a) { return Value(data::rounded(static_cast<unsigned>(a[0].as_u64()), a[1].to_f64())); }},
    {"electricity", [](const Args& a) { return data::electricity(from_hex(a[0].str())); }},
    {"default_value", [](const Args& a) { return data::default_value(a[0]); }},
    {"strategy_code", [](const Args& a) { return Value(data::strategy_code(a[0])); }},
    {"dumps_float", [](const Args& a) {
       bool colour = a[1].str() == "colour";
       return data::dumps_float(a[0], colour ? data::FloatKeys(data::kColourKeys) : data::kElectricityKeys);
     }},
    {"append_hex", [](const Args& a) {
       std::string out = "x";
       int64_t v = 0;
       a[0].get_i64(v);
       data::append_hex(out, v, a[1].as_u64());
       return Value(out);
     }},
    // Channels within 1e-12 of the expected ones.
    {"hsv_rgb", [](const Args& a) {
       data::Rgb got = data::hsv_rgb(a[0].to_f64(), a[1].to_f64(), a[2].to_f64());
       zefa::json::Array out;
       for (double c : {got.r, got.g, got.b}) out.push_back(data::number(std::round(c * 1e12) / 1e12 + 0.0));
       return Value(std::move(out));
     }},
};

// The straightforward rounding: fixed-point text, read back.
double rounded_by_text(unsigned d, double x) {
  char buf[1500];
  auto w = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, static_cast<int>(d));
  double y = 0;
  std::from_chars(buf, w.ptr, y);
  return y;
}

}  // namespace

TEST(AdapterCodecs, Cases) { zefa::test::run_cases("adapter_codecs.json", kCodecs); }

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
  for (int i = 0; i < 200000; ++i) {  // random magnitudes, and values on or next to decimal ties
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
