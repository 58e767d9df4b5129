#include "json.hpp"
#include "test_util.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>

using zefa::json::Object;
using zefa::json::ParseError;
using zefa::json::Value;

namespace {

Value parse_ok(std::string_view text) {
  Value v;
  ParseError err;
  EXPECT_TRUE(zefa::json::parse(text, v, err)) << text << ": " << err.to_string();
  return v;
}

std::string parse_err(std::string_view text) {
  Value v;
  ParseError err;
  if (zefa::json::parse(text, v, err)) return "parsed";
  return err.to_string();
}

std::string key_name(int i) {
  std::string k = "k";
  k += std::to_string(i);
  return k;
}

std::string float_text(double d) {
  std::string s;
  zefa::json::write_double(d, s);
  return s;
}

}  // namespace

TEST(JsonParse, AcceptsAndRewritesCompactly) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"null", "null"},
      {" true ", "true"},
      {"\n\t false\r\n", "false"},
      {"0", "0"},
      {"-0", "-0.0"},
      {"-0.0", "-0.0"},
      {"1.0", "1.0"},
      {"1E2", "100.0"},
      {"1e-400", "0.0"},
      {"-1e-400", "-0.0"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", "1.8446744073709552e+19"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"-9223372036854775809", "-9.223372036854776e+18"},
      {"[1, 2 ,3]", "[1,2,3]"},
      {"{ \"a\" : 1 , \"b\" : [ ] , \"c\" : { } }", "{\"a\":1,\"b\":[],\"c\":{}}"},
      {"{\"a\":1,\"b\":2,\"a\":3}", "{\"a\":3,\"b\":2}"},
      {"\"\\u00e9\\/\\b\\f\\n\\r\\t\\\"\\\\\"", "\"\xC3\xA9/\\b\\f\\n\\r\\t\\\"\\\\\""},
      {"\"\\ud83d\\ude00\"", "\"\xF0\x9F\x98\x80\""},
      {"\"\\u0000\\u001f\\u007f\"", "\"\\u0000\\u001f\x7f\""},
      {"\"caf\xC3\xA9\"", "\"caf\xC3\xA9\""},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_ok(c.in).dump(), c.out) << c.in;
}

TEST(JsonParse, RejectsWithPosition) {
  struct Case {
    const char* in;
    const char* err;
  } cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"x", "expected value at line 1 column 1"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"[1,\n2,\n", "EOF while parsing a value at line 3 column 0"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"01", "invalid number at line 1 column 2"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"-a", "invalid number at line 1 column 2"},
      {"1e400", "number out of range at line 1 column 1"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"trUe", "expected ident at line 1 column 3"},
      {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"\"\\u12g4\"", "invalid escape at line 1 column 6"},
      {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 8"},
      {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\udc00\"", "lone trailing surrogate in hex escape at line 1 column 7"},
      {"/* c */ 1", "expected value at line 1 column 1"},
      {"NaN", "expected value at line 1 column 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_err(c.in), c.err) << c.in;
}

TEST(JsonParse, NestingLimit) {
  std::string ok(128, '[');
  ok += std::string(128, ']');
  EXPECT_EQ(parse_ok(ok).depth(), 128);
  std::string deep(129, '[');
  deep += std::string(129, ']');
  EXPECT_EQ(parse_err(deep), "recursion limit exceeded at line 1 column 129");
  std::string objs;
  for (int i = 0; i < 129; ++i) objs += "{\"a\":";
  EXPECT_EQ(parse_err(objs).substr(0, 24), "recursion limit exceeded");
  // 100 MB of '[' is refused at the limit, without reading on.
  std::string huge(100u << 20, '[');
  EXPECT_EQ(parse_err(huge), "recursion limit exceeded at line 1 column 129");
}

TEST(JsonNumbers, ClassificationAtBoundaries) {
  struct Case {
    const char* text;
    char form;  // u: unsigned, i: negative, f: float
  } cases[] = {
      {"0", 'u'},
      {"9223372036854775807", 'u'},
      {"9223372036854775808", 'u'},
      {"18446744073709551615", 'u'},
      {"18446744073709551616", 'f'},
      {"-1", 'i'},
      {"-9223372036854775808", 'i'},
      {"-9223372036854775809", 'f'},
      {"-0", 'f'},
      {"1.0", 'f'},
      {"1e0", 'f'},
      {"100000000000000000000000", 'f'},
  };
  for (const auto& c : cases) {
    Value v = parse_ok(c.text);
    char form = v.is_u64() ? 'u' : v.is_i64() ? 'i' : v.is_f64() ? 'f' : '?';
    EXPECT_EQ(form, c.form) << c.text;
  }
  EXPECT_EQ(parse_ok("18446744073709551615").as_u64(), UINT64_MAX);
  EXPECT_EQ(parse_ok("-9223372036854775808").as_i64(), INT64_MIN);
  EXPECT_FALSE(Value(1) == Value(1.0));
  EXPECT_TRUE(Value(1.0) == Value(1.0));
  EXPECT_TRUE(Value(0.0) == Value(-0.0));
}

TEST(JsonWrite, FloatText) {
  struct Case {
    double d;
    const char* text;
  } cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-2.5, "-2.5"},
      {0.1, "0.1"},
      {100.0, "100.0"},
      {123456.789, "123456.789"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {9007199254740993.0, "9007199254740992.0"},
      {1e-5, "0.00001"},
      {1.5e-5, "0.000015"},
      {1e-6, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {0.30000000000000004, "0.30000000000000004"},
      {NAN, "null"},
      {INFINITY, "null"},
      {-INFINITY, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(float_text(c.d), c.text) << c.text;
}

TEST(JsonWrite, RandomDoublesRoundTrip) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, 8);
    if (!std::isfinite(d)) continue;
    std::string text = float_text(d);
    Value back = parse_ok(text);
    ASSERT_TRUE(back.is_f64()) << text;
    double r = back.as_f64();
    ASSERT_EQ(std::memcmp(&r, &d, 8), 0) << text;
  }
}

TEST(JsonWrite, StringEscapes) {
  std::string raw("a\"b\\c\x01\x1f\x7f\xC3\xA9/", 11);
  raw.push_back('\0');
  EXPECT_EQ(Value(raw).dump(), "\"a\\\"b\\\\c\\u0001\\u001f\x7f\xC3\xA9/\\u0000\"");
}

TEST(JsonObject, RemovalMovesLastMemberIntoPlace) {
  for (int n : {6, 40}) {  // below and above the size where lookups are hashed
    Object o;
    for (int i = 0; i < n; ++i) o.insert_or_assign(key_name(i), i);
    ASSERT_TRUE(o.erase("k1"));
    EXPECT_EQ(o.at(1).name(), key_name(n - 1));
    EXPECT_EQ(o.size(), size_t(n - 1));
    EXPECT_FALSE(o.erase("k1"));
    Value taken;
    ASSERT_TRUE(o.take("k0", taken));
    EXPECT_EQ(taken, Value(0));
    EXPECT_EQ(o.at(0).name(), key_name(n - 2));
    ASSERT_TRUE(o.erase_ordered("k2"));
    EXPECT_EQ(o.at(1).name(), key_name(n - 1));
    EXPECT_EQ(o.at(2).name(), "k3");
    // Every remaining key is still found at its position.
    for (size_t i = 0; i < o.size(); ++i) EXPECT_EQ(o.index_of(o.at(i).name()), i);
    // Assigning an existing key keeps its place; a new key goes last.
    o.insert_or_assign("k3", "x");
    EXPECT_EQ(o.at(2).value, Value("x"));
    o.insert_or_assign("k1", true);
    EXPECT_EQ(o.at(o.size() - 1).name(), "k1");
  }
}

TEST(JsonObject, ManyRandomEditsKeepIndexConsistent) {
  std::mt19937 rng(7);
  Object o;
  std::map<std::string, int> model;
  for (int step = 0; step < 20000; ++step) {
    std::string k = key_name(static_cast<int>(rng() % 300));
    switch (rng() % 4) {
      case 0:
      case 1:
        o.insert_or_assign(k, step);
        model[k] = step;
        break;
      case 2:
        EXPECT_EQ(o.erase(k), model.erase(k) == 1);
        break;
      default:
        EXPECT_EQ(o.erase_ordered(k), model.erase(k) == 1);
    }
  }
  ASSERT_EQ(o.size(), model.size());
  for (const auto& [k, v] : model) ASSERT_EQ(*o.find(k), Value(v)) << k;
}

TEST(JsonValue, CopiesAreIndependent) {
  Value a = parse_ok("{\"x\":{\"y\":[1,2,{\"z\":\"long string beyond inline size\"}]},\"w\":1}");
  Value b = a;
  EXPECT_TRUE(a.same(b));  // a copy shares the root
  b.obj_mut()["x"].obj_mut()["y"].arr_mut()[2].obj_mut().insert_or_assign("z", 5);
  EXPECT_EQ(a.dump(), "{\"x\":{\"y\":[1,2,{\"z\":\"long string beyond inline size\"}]},\"w\":1}");
  EXPECT_EQ(b.dump(), "{\"x\":{\"y\":[1,2,{\"z\":5}]},\"w\":1}");
  // Untouched branches stay shared.
  EXPECT_TRUE(a["w"].same(b["w"]));
  Value c = b;
  c.obj_mut().erase("x");
  EXPECT_EQ(b["x"]["y"][0], Value(1));
}

TEST(JsonValue, EqualityIgnoresMemberOrder) {
  EXPECT_EQ(parse_ok("{\"a\":1,\"b\":[1,{\"c\":null}]}"), parse_ok("{\"b\":[1,{\"c\":null}],\"a\":1}"));
  EXPECT_FALSE(parse_ok("{\"a\":1}") == parse_ok("{\"a\":1.0}"));
  EXPECT_FALSE(parse_ok("[1,2]") == parse_ok("[2,1]"));
  EXPECT_FALSE(parse_ok("{\"a\":1}") == parse_ok("{\"a\":1,\"b\":2}"));
  EXPECT_EQ(Value("short"), Value(std::string("short")));
}

TEST(JsonValue, Pointer) {
  Value v = parse_ok(R"({"a":[10,{"b/c":1,"d~e":2,"":3}],"01":4})");
  struct Case {
    const char* ptr;
    const char* want;  // nullptr: does not resolve
  } cases[] = {
      {"", nullptr}, {"/a/0", "10"}, {"/a/1/b~1c", "1"}, {"/a/1/d~0e", "2"}, {"/a/1/", "3"},
      {"/01", "4"},  {"/a/01", nullptr}, {"/a/2", nullptr}, {"/a/-", nullptr}, {"a", nullptr},
      {"/a/1/x~2", nullptr},
  };
  for (const auto& c : cases) {
    const Value* r = v.pointer(c.ptr);
    if (std::string_view(c.ptr).empty()) {
      EXPECT_EQ(r, &v);
    } else if (!c.want) {
      EXPECT_EQ(r, nullptr) << c.ptr;
    } else {
      ASSERT_NE(r, nullptr) << c.ptr;
      EXPECT_EQ(r->dump(), c.want) << c.ptr;
    }
  }
}

TEST(JsonUtf8, Validation) {
  struct Case {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"plain ascii text that is long", true},
      {"\xC3\xA9", true},
      {"\xE2\x82\xAC", true},
      {"\xF0\x9F\x98\x80", true},
      {"\xFF", false},
      {"\xC0\xAF", false},         // overlong
      {"\xED\xA0\x80", false},     // surrogate
      {"\xF4\x90\x80\x80", false}, // above U+10FFFF
      {"\xE2\x82", false},         // truncated
      {"abcdefgh\x80", false},
  };
  for (const auto& c : cases) EXPECT_EQ(zefa::json::valid_utf8(c.bytes), c.valid) << c.bytes;
}
