#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "data.hpp"
#include "test_util.hpp"

using zefa::data::Table;
using zefa::json::Value;
using zefa::test::J;

TEST(DataRules, Truth) {
  struct Case {
    const char* v;
    bool t;
  } cases[] = {
      {"null", false}, {"false", false}, {"true", true},   {"0", false},      {"0.0", false},
      {"-0.0", false}, {"-1", true},     {"0.5", true},    {"\"\"", false},   {"\"0\"", true},
      {"\"false\"", true}, {"[]", false}, {"[0]", true},   {"{}", false},     {"{\"a\":null}", true},
  };
  for (const auto& c : cases) EXPECT_EQ(zefa::data::truth(J(c.v)), c.t) << c.v;
}

TEST(DataRules, NumericCoercion) {
  struct Case {
    const char* v;
    double want;
  } cases[] = {
      {"5", 5},        {"-2", -2},          {"2.5", 2.5},        {"true", 1},       {"false", 0},
      {"null", 0},     {"[5]", 0},          {"{}", 0},           {"\"5\"", 5},      {"\" 5\"", 0},
      {"\"5 \"", 0},   {"\"1e3\"", 1000},   {"\".5\"", 0.5},     {"\"5.\"", 5},     {"\".\"", 0},
      {"\"1e\"", 0},   {"\"0x10\"", 0},     {"\"+7\"", 7},       {"\"-.5e1\"", -5}, {"\"\"", 0},
      {"\"1_000\"", 0}, {"\"1e-400\"", 0},  {"\"-1e-400\"", -0.0}, {"\"1E+2\"", 100},
      {"\"18446744073709551617\"", 18446744073709551616.0},
  };
  for (const auto& c : cases) EXPECT_EQ(zefa::data::n(J(c.v)), c.want) << c.v;
  for (const char* s : {"\"inf\"", "\"+INF\"", "\"Infinity\"", "\"1e999\""})
    EXPECT_EQ(zefa::data::n(J(s)), INFINITY) << s;
  for (const char* s : {"\"-inf\"", "\"-iNfInItY\"", "\"-1e999\""}) EXPECT_EQ(zefa::data::n(J(s)), -INFINITY) << s;
  for (const char* s : {"\"NaN\"", "\"nan\"", "\"-NAN\""}) EXPECT_TRUE(std::isnan(zefa::data::n(J(s)))) << s;
  for (const char* s : {"\"infin\"", "\" inf\"", "\"nanx\"", "\"+\"", "\"-\"", "\"e5\"", "\"1e+\"", "\"+-1\"",
                        "\"1.2.3\"", "\"1,5\"", "\"\\t1\"", "\"1\\n\"", "\"0b1\"", "\"inf inity\"", "\"--1\""})
    EXPECT_EQ(zefa::data::n(J(s)), 0) << s;
  struct Accepted {
    const char* v;
    double want;
  } accepted[] = {{"\"+.5\"", 0.5},   {"\"-5.\"", -5},        {"\"00012\"", 12},   {"\"1.5E-3\"", 0.0015},
                  {"\"1e-0\"", 1},   {"\"0.1\"", 0.1},       {"\"-0\"", -0.0},    {"\"4.9e-324\"", 4.9e-324},
                  {"\"1.7976931348623157e308\"", 1.7976931348623157e308}};
  for (const auto& c : accepted) EXPECT_EQ(zefa::data::n(J(c.v)), c.want) << c.v;
  EXPECT_TRUE(std::signbit(zefa::data::n(J("\"-0\""))));
  for (const char* s : {"\"+nan\"", "\"-NaN\"", "\"nAn\""}) EXPECT_TRUE(std::isnan(zefa::data::n(J(s)))) << s;
}

TEST(DataRules, LooseEquality) {
  struct Case {
    const char* a;
    const char* b;
    bool eq;
  } cases[] = {
      {"true", "1.0", true},
      {"false", "0", true},
      {"1", "1.0", true},
      {"\"1\"", "1", false},
      {"null", "null", true},
      {"null", "false", false},
      {"[1]", "[1.0]", false},
      {"{\"a\":1,\"b\":2}", "{\"b\":2,\"a\":1}", true},
      {"9007199254740993", "9007199254740992", true},
      {"-0.0", "0", true},
  };
  for (const auto& c : cases) EXPECT_EQ(zefa::data::eq(J(c.a), J(c.b)), c.eq) << c.a << " vs " << c.b;
}

TEST(DataRules, NumberEmission) {
  const double below = std::nextafter(9.22e18, 0.0);
  const double above = std::nextafter(9.22e18, INFINITY);
  struct Case {
    double d;
    const char* text;
  } cases[] = {
      {3.0, "3"}, {-3.0, "-3"}, {-0.0, "0"}, {2.5, "2.5"}, {1e300, "1e+300"}, {9.22e18, "9.22e+18"},
      {-9.22e18, "-9.22e+18"}, {below, "9219999999999998976"}, {-below, "-9219999999999998976"},
      {above, "9.220000000000001e+18"}, {-above, "-9.220000000000001e+18"},
      {NAN, "null"}, {INFINITY, "null"}, {-INFINITY, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(zefa::data::number(c.d).dump(), c.text) << c.text;
  EXPECT_TRUE(zefa::data::number(3.0).is_u64());
  EXPECT_TRUE(zefa::data::number(-3.0).is_i64());
  EXPECT_TRUE(zefa::data::number(-0.0).is_u64());
}

TEST(DataRules, ParseCodesObjArr) {
  struct ParseCase {
    Value in;
    const char* out;
  } parses[] = {
      {Value("{\"a\":[1]}"), "{\"a\":[1]}"}, {Value(" 1 "), "1"},    {Value("abc"), "null"}, {Value(""), "null"},
      {Value("1 2"), "null"},                {Value(5), "5"},          {Value("\"in\""), "\"in\""},
  };
  for (const auto& c : parses) EXPECT_EQ(zefa::data::parse(c.in).dump(), c.out) << c.in.dump();
  // Text that is not UTF-8 is not JSON text either.
  EXPECT_TRUE(zefa::data::parse(Value(std::string_view("\"\xff\""))).is_null());

  using Codes = std::vector<std::string>;
  EXPECT_EQ(zefa::data::codes(J("[\"a\",1,null]")), (Codes{"a", "", ""}));
  EXPECT_EQ(zefa::data::codes(J("\"x\"")), (Codes{"x"}));
  for (const char* v : {"5", "{}", "null", "true"}) EXPECT_TRUE(zefa::data::codes(J(v)).empty()) << v;

  EXPECT_EQ(zefa::data::obj(J("[1]")), J("{}"));
  EXPECT_EQ(zefa::data::obj(J("{\"a\":1}")), J("{\"a\":1}"));
  EXPECT_TRUE(zefa::data::arr(J("{\"a\":1}")).empty());
  EXPECT_EQ(Value(zefa::data::arr(J("[1,[2]]"))), J("[1,[2]]"));
}

TEST(DataRules, Merge) {
  Value dst = J(R"({"a":{"x":1},"b":2})");
  zefa::data::merge(dst, J(R"({"b":{"y":1},"a":{"z":2},"c":3})"));
  EXPECT_EQ(dst.dump(), R"({"a":{"x":1,"z":2},"b":{"y":1},"c":3})");
  zefa::data::merge(dst, J(R"({"c":null})"));
  EXPECT_EQ(dst.dump(), R"({"a":{"x":1,"z":2},"b":{"y":1},"c":null})");

  Value arr = J("[1]");
  zefa::data::merge(arr, J(R"({"a":1})"));
  EXPECT_EQ(arr.dump(), "[1]");
  Value o = J(R"({"a":1})");
  zefa::data::merge(o, J("[2]"));
  EXPECT_EQ(o.dump(), R"({"a":1})");

  // The source is not changed, and copies of the destination stay intact.
  Value src = J(R"({"a":{"q":1}})");
  Value before = dst;
  zefa::data::merge(dst, src);
  EXPECT_EQ(src.dump(), R"({"a":{"q":1}})");
  EXPECT_EQ(before["a"].dump(), R"({"x":1,"z":2})");

  // A source that is part of the destination stays valid while it grows.
  Value self = J(R"({"a":{"a":{"q":1},"k":1,"l":2,"m":3}})");
  zefa::data::merge(self, self["a"]);
  EXPECT_EQ(self.dump(), R"({"a":{"a":{"q":1},"k":1,"l":2,"m":3,"q":1},"k":1,"l":2,"m":3})");
  Value twice = J(R"({"a":{"b":1}})");
  zefa::data::merge(twice, twice);
  EXPECT_EQ(twice.dump(), R"({"a":{"b":1}})");
}

TEST(DataRules, Table) {
  EXPECT_EQ(Table::make_default().serialize().dump(), "{}");
  EXPECT_EQ(Table::deserialize(J("[]")).error(), "expected a JSON object");
  EXPECT_EQ(Table::deserialize(J("{}")).value().serialize().dump(), "{}");
}

TEST(DataRules, ParsedTextStaysEmbeddable) {
  // Parsed text ends up inside stored documents: beyond kEmbeddedDepth it
  // counts as not parsing, so no stored document outgrows the parser's limit.
  const int limit = zefa::data::kEmbeddedDepth;
  std::string fits = std::string(static_cast<size_t>(limit), '[') + std::string(static_cast<size_t>(limit), ']');
  std::string deep = "[" + fits + "]";
  EXPECT_EQ(zefa::data::parse(Value(fits)).depth(), limit);
  EXPECT_TRUE(zefa::data::parse(Value(deep)).is_null());
}

TEST(DataRules, TruncateAndRoundEven) {
  EXPECT_EQ(zefa::data::trunc_i64(2.9), 2);
  EXPECT_EQ(zefa::data::trunc_i64(-2.9), -2);
  EXPECT_EQ(zefa::data::trunc_i64(std::nan("")), 0);
  EXPECT_EQ(zefa::data::trunc_i64(9223372036854775808.0), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(zefa::data::trunc_i64(-9223372036854775808.0), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(zefa::data::trunc_i64(-1e300), std::numeric_limits<int64_t>::min());
  for (auto [x, want] : {std::pair{2.5, 2.0}, {3.5, 4.0}, {-2.5, -2.0}, {-3.5, -4.0}, {0.5000000000000001, 1.0},
                         {2.4999999999999996, 2.0}, {4503599627370497.0, 4503599627370497.0}})
    EXPECT_EQ(zefa::data::round_even(x), want) << x;
}
