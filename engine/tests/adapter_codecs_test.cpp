#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <optional>

#include "adapter/codecs.hpp"
#include "test_util.hpp"

namespace adapter = zefa::adapter;
using adapter::Bytes;
using zefa::json::Value;
using zefa::test::J;

namespace {
// The content of a text-form result.
std::string text_of(const Value& v) { return std::string(v.str()); }
}  // namespace

TEST(AdapterCodecs, Hx) {
  constexpr size_t kEnd = std::string_view::npos;
  struct Case {
    std::string_view text;
    size_t a, b;
    std::optional<double> want;  // nullopt: "invalid hex"
  } cases[] = {
      {"1f", 0, 2, 31},
      {"+1f", 0, 3, 31},
      {"xx1Fyy", 2, 4, 31},
      {"-1", 0, 2, std::nullopt},
      {"-", 0, 1, std::nullopt},
      {"+", 0, 1, std::nullopt},
      {"1 ", 0, 2, std::nullopt},
      {"12", 2, 4, 0},       // wholly at the end
      {"12", 5, 9, 0},       // wholly beyond the end
      {"1234", 4, 2, std::nullopt},
      {"1234", 3, 2, std::nullopt},
      {"12", 1, kEnd, 2},
      {"", 0, 0, 0},
      {"ffffffffffffffff", 0, kEnd, 18446744073709551615.0},
      {"00000000000000000000001", 0, kEnd, 1},  // leading zeros do not count
      {"10000000000000000", 0, kEnd, std::nullopt},  // 2^64
      {"a\xC3\xA9", 0, 2, std::nullopt},        // cuts the e-acute
      {"\xC3\xA9" "1f", 2, 4, 31},              // after it
      {"\xC3\xA9" "1f", 1, 4, std::nullopt},
  };
  for (const auto& c : cases) {
    auto r = adapter::hx(c.text, c.a, c.b);
    if (c.want) {
      ASSERT_TRUE(r.ok()) << c.text << " " << c.a << ".." << c.b;
      EXPECT_EQ(r.value(), *c.want) << c.text;
    } else {
      ASSERT_FALSE(r.ok()) << c.text << " " << c.a << ".." << c.b;
      EXPECT_EQ(r.error(), "invalid hex");
    }
  }
}

TEST(AdapterCodecs, HexBytes) {
  struct Case {
    std::string_view text;
    std::optional<Bytes> want;
  } cases[] = {
      {" 0a \n ff\r\n", Bytes{0x0A, 0xFF}},
      {"0A\xC2\xA0" "Ff\xE3\x80\x80", Bytes{0x0A, 0xFF}},  // no-break space, ideographic space
      {"\xE2\x80\xA8\xE2\x80\x8A\xE1\x9A\x80\xC2\x85\x0B", Bytes{}},
      {"abc", std::nullopt},
      {"zz", std::nullopt},
      {"+a0b", Bytes{0x0A, 0x0B}},
      {"a+", std::nullopt},
      {"++", std::nullopt},
      {"", Bytes{}},
      {"0a\xC3\xA9", std::nullopt},  // e-acute is no white space
      {"0a\xE2\x80\x8B", std::nullopt},  // zero-width space is not White_Space
  };
  for (const auto& c : cases) EXPECT_EQ(adapter::hexbytes(c.text), c.want) << c.text;
}

TEST(AdapterCodecs, Base64Decoding) {
  auto bytes = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
  struct Case {
    const char* json;
    std::optional<Bytes> want;
  } cases[] = {
      {R"("aGVsbG8=")", bytes("hello")},
      {R"(" aGVs\nbG8 =\r\n")", bytes("hello")},
      {R"("aGVsbG8")", std::nullopt},   // padding missing
      {R"("aGVsbG9=")", std::nullopt},  // leftover bits
      {R"("QQ==")", bytes("A")},
      {R"("QR==")", std::nullopt},
      {R"("QUI=")", bytes("AB")},
      {R"("QUJD")", bytes("ABC")},
      {R"("Q===")", std::nullopt},
      {R"("QQ=A")", std::nullopt},
      {R"("QQ==QUJD")", std::nullopt},  // data after padding
      {R"("=")", std::nullopt},
      {R"("QUJ-D_")", bytes("ABC")},    // URL-safe characters are dropped
      {R"("")", Bytes{}},
      {R"("!!")", Bytes{}},
      {"5", std::nullopt},
      {"null", std::nullopt},
      {R"(["QQ=="])", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(adapter::b64(J(c.json)), c.want) << c.json;
}

TEST(AdapterCodecs, Base64Encoding) {
  struct Case {
    Bytes in;
    const char* out;
  } cases[] = {
      {{}, ""}, {{'A'}, "QQ=="}, {{'A', 'B'}, "QUI="}, {{'A', 'B', 'C'}, "QUJD"}, {{0xFF, 0xFE, 0x00, 0x01}, "//4AAQ=="},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(adapter::b64_encode(c.in), c.out);
    EXPECT_EQ(adapter::b64_text(c.out), c.in) << c.out;
  }
}

TEST(AdapterCodecs, HsvToRgb) {
  using adapter::Rgb;
  struct Case {
    double h, s, v;
    Rgb want;
  } cases[] = {
      {0, 1, 1, {1, 0, 0}},       {1, 1, 1, {1, 0, 0}},       {1.0 / 3, 1, 1, {0, 1, 0}},
      {2.0 / 3, 1, 1, {0, 0, 1}}, {0.5, 1, 1, {0, 1, 1}},     {-0.5, 1, 1, {0, 1, 1}},
      {0.7, 0, 0.4, {0.4, 0.4, 0.4}}, {0.25, 0, 1, {1, 1, 1}}, {-2.5, 0.5, 1, {0.5, 1, 1}},
  };
  for (const auto& c : cases) {
    Rgb r = adapter::hsv_rgb(c.h, c.s, c.v);
    EXPECT_NEAR(r.r, c.want.r, 1e-12) << c.h;
    EXPECT_NEAR(r.g, c.want.g, 1e-12) << c.h;
    EXPECT_NEAR(r.b, c.want.b, 1e-12) << c.h;
  }
  // Saturated hue: whatever comes out, nothing faults.
  (void)adapter::hsv_rgb(NAN, 1, 1);
  (void)adapter::hsv_rgb(1e300, 1, 1);
  (void)adapter::hsv_rgb(-INFINITY, 1, 1);
}

TEST(AdapterCodecs, RgbObject) {
  struct Case {
    std::string_view text;
    const char* want;  // compact JSON, or the error
  } cases[] = {
      {"000000", R"({"h":0.0,"s":0.0,"v":0.0})"},
      {"ff0000", R"({"h":0.0,"s":255.0,"v":255.0})"},
      {"00ff00", R"({"h":120.0,"s":255.0,"v":255.0})"},
      {"0000ff", R"({"h":240.0,"s":255.0,"v":255.0})"},
      {"FF00FF", R"({"h":300.0,"s":255.0,"v":255.0})"},
      {"808080", R"({"h":0.0,"s":0.0,"v":128.0})"},
      {"ff8000", R"({"h":30.1,"s":255.0,"v":255.0})"},
      {"zz0000", "invalid hex"},
      {"00zz00", "invalid hex"},
  };
  for (const auto& c : cases) {
    auto r = adapter::rgb_object(c.text);
    EXPECT_EQ(r.ok() ? r.value().dump() : r.error(), c.want) << c.text;
  }
}

TEST(AdapterCodecs, Rounded) {
  struct Case {
    unsigned d;
    double x, want;
  } cases[] = {
      {1, 0.25, 0.2},   {1, 0.35, 0.3},  {1, 0.75, 0.8},   {0, 2.5, 2},      {0, 3.5, 4},
      {2, 1.005, 1.0},  {3, 0.0117647, 0.012}, {4, 0.0117647, 0.0118}, {1, -0.25, -0.2},
      {1, 1e300, 1e300}, {5000, 0.1, 0.1}, {1073, 5e-324, 5e-324},
  };
  for (const auto& c : cases) EXPECT_EQ(adapter::rounded(c.d, c.x), c.want) << c.d << " " << c.x;
  EXPECT_TRUE(std::signbit(adapter::rounded(1, -0.04)));
  EXPECT_EQ(adapter::rounded(1, INFINITY), INFINITY);
  EXPECT_TRUE(std::isnan(adapter::rounded(1, NAN)));
}

// The straightforward method: fixed-point text, read back.
double rounded_by_text(unsigned d, double x) {
  char buf[1500];
  auto w = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, static_cast<int>(d));
  double y = 0;
  std::from_chars(buf, w.ptr, y);
  return y;
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
    double got = adapter::rounded(d, x), want = rounded_by_text(d, x);
    ASSERT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want)) << d << " " << x;
  }
}

TEST(AdapterCodecs, Electricity) {
  struct Case {
    Bytes in;
    const char* want;
  } cases[] = {
      {{8, 0xFC, 0, 0, 5, 0, 0}, "null"},
      {{8, 0xFC, 0, 0, 5, 0, 0, 100},
       R"({"voltage":230.0,"current":5.0,"power":100.0,"reactive_power":null,"apparent_power":null,"power_factor":null})"},
      // Later bytes of a short record are ignored; 18 bytes without the header are short.
      {{8, 0xFC, 0, 0, 5, 0, 0, 100, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9},
       R"({"voltage":230.0,"current":5.0,"power":100.0,"reactive_power":null,"apparent_power":null,"power_factor":null})"},
      {{1, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 0, 7, 0, 0, 200, 98},
       R"({"voltage":230.0,"current":5.0,"power":100.0,"reactive_power":7,"apparent_power":200,"power_factor":0.98})"},
      {{1, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 0, 7, 0, 0, 200, 100},
       R"({"voltage":230.0,"current":5.0,"power":100.0,"reactive_power":7,"apparent_power":200,"power_factor":1})"},
      {{2, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 0, 7, 0, 0, 200, 98, 0x03},
       R"({"voltage":230.0,"current":-5,"power":-100,"reactive_power":7,"apparent_power":200,"power_factor":0.98})"},
      {{2, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 0, 7, 0, 0, 200, 98, 0xFC},
       R"({"voltage":230.0,"current":5.0,"power":100.0,"reactive_power":-7,"apparent_power":200,"power_factor":-0.98})"},
      // Zero negated stays the integer 0.
      {{2, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01},
       R"({"voltage":0.0,"current":0,"power":0.0,"reactive_power":0,"apparent_power":0,"power_factor":0})"},
  };
  for (const auto& c : cases) EXPECT_EQ(adapter::electricity(c.in).dump(), c.want) << c.want;
}

TEST(AdapterCodecs, DumpsFloat) {
  struct Case {
    const char* in;
    bool colour;
    const char* want;
  } cases[] = {
      {R"({"a":1.0,"h":1.0})", true, R"({"a": 1, "h": 1.0})"},
      {"[]", true, "[]"},
      {"{}", true, "{}"},
      {R"("a\"b\u0001é")", true, R"("a\"b\u0001é")"},
      {"[1,2]", true, "[1, 2]"},
      {R"({"x":[1.0,{"h":2.0,"v":[3.0]}],"h":[4.0,2.5]})", true,
       R"({"x": [1, {"h": 2.0, "v": [3.0]}], "h": [4.0, 2.5]})"},
      {R"({"power":2.0,"h":2.0,"n":null,"t":true})", false, R"({"power": 2.0, "h": 2, "n": null, "t": true})"},
      {"2.0", true, "2"},
      {"-0.0", true, "0"},
      {"1e300", true, "1e+300"},
      {"9220000000000000000", true, "9.22e+18"},
      {"-9220000000000000000", true, "-9.22e+18"},
      // Integers keep their digits rather than passing through a double.
      {"9219999999999999999", true, "9219999999999999999"},
      {R"({"alarmCode":9007199254740993})", false, R"({"alarmCode": 9007199254740993})"},
      {"18446744073709551615", true, "1.8446744073709552e+19"},
      {R"({"v":18446744073709551615})", true, R"({"v": 18446744073709551615})"},
      {R"({"a\"b\n":1.0,"h\u0000":[2.0]})", true, R"({"a\"b\n": 1, "h\u0000": [2]})"},
      {R"([-9223372036854775808,1e-7,-2.0])", true, "[-9.223372036854776e+18, 1e-7, -2]"},
  };
  for (const auto& c : cases) {
    Value out = adapter::dumps_float(J(c.in), c.colour ? adapter::FloatKeys(adapter::kColourKeys)
                                                       : adapter::FloatKeys(adapter::kElectricityKeys));
    ASSERT_TRUE(out.is_string());
    EXPECT_EQ(text_of(out), c.want) << c.in;
  }
}

TEST(AdapterCodecs, DumpsFloatLargeValue) {
  zefa::json::Array items;
  std::string want = "[";
  for (int i = 0; i < 5000; ++i) {
    items.emplace_back(zefa::json::Object{{"h", Value(i + 0.5)}, {"x", Value("t\"")}});
    want += (i ? ", " : "") + std::string(R"({"h": )") + std::to_string(i) + R"(.5, "x": "t\""})";
  }
  want += "]";
  EXPECT_EQ(text_of(adapter::dumps_float(Value(std::move(items)), adapter::kColourKeys)), want);
}

TEST(AdapterCodecs, DumpsFloatDeepestValue) {
  std::string deep(zefa::json::kMaxDepth, '[');
  deep += std::string(zefa::json::kMaxDepth, ']');
  EXPECT_EQ(text_of(adapter::dumps_float(J(deep), adapter::kColourKeys)), deep);
}

TEST(AdapterCodecs, DefaultValue) {
  struct Case {
    const char* config;
    const char* want;
  } cases[] = {
      {R"({"valueType":"Boolean"})", "false"},
      {R"({"valueType":"BOOLEAN"})", "false"},
      {R"({"valueType":"enum","valueDesc":"{\"range\":[]}"})", "null"},
      {R"({"valueType":"Enum","valueDesc":"{\"range\":[\"a\",\"b\"]}"})", R"("a")"},
      {R"({"valueType":"enum","valueDesc":{"range":[3]}})", "3"},
      {R"({"valueType":"enum","valueDesc":"not json"})", "null"},
      {R"({"valueType":"Integer","valueDesc":"{\"min\":5,\"max\":9}"})", "5"},
      {R"({"valueType":"integer","valueDesc":{"min":[1]}})", "[1]"},
      {R"({"valueType":"integer"})", "null"},
      {R"({"valueType":"string"})", R"("")"},
      {R"({"valueType":5})", R"("")"},
      {"{}", R"("")"},
      {"null", R"("")"},
      {"[1]", R"("")"},
  };
  for (const auto& c : cases) EXPECT_EQ(adapter::default_value(J(c.config)).dump(), c.want) << c.config;
}

TEST(AdapterCodecs, StrategyCode) {
  struct Case {
    const char* item;
    const char* want;
  } cases[] = {
      {R"({"config_item":{"statusFormat":"{\"a\":1,\"b\":2}"},"status_code":"x"})", "b"},
      {R"({"config_item":{"statusFormat":{"c":1}}})", "c"},
      {R"({"config_item":{"statusFormat":"{}"},"status_code":"x"})", "x"},
      {R"({"config_item":{"statusFormat":"[1]"},"status_code":""})", ""},
      {R"({"status_code":5})", ""},
      {"7", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(adapter::strategy_code(J(c.item)), c.want) << c.item;
}

TEST(AdapterCodecs, AppendHex) {
  struct Case {
    int64_t v;
    size_t width;
    const char* want;
  } cases[] = {
      {255, 4, "00ff"}, {255, 0, "ff"}, {0, 2, "00"}, {0x12345, 4, "12345"}, {-1, 2, "ffffffffffffffff"},
      {INT64_MIN, 4, "8000000000000000"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    adapter::append_hex(out, c.v, c.width);
    EXPECT_EQ(out, std::string("x") + c.want);
  }
}
