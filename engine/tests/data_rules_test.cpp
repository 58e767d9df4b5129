#include "data/data.hpp"

#include <gtest/gtest.h>

#include "fn_cases.hpp"

using zefa::json::Value;
using zefa::test::Args;
using zefa::test::J;
namespace data = zefa::data;

TEST(DataRules, Cases) {
  using zefa::test::dbl;
  using zefa::test::num;
  zefa::test::run_cases("data_rules.json", {
      {"truth", [](const Args& a) { return Value(data::truth(a[0])); }},
      {"n", [](const Args& a) { return num(data::n(a[0])); }},
      {"eq", [](const Args& a) { return Value(data::eq(a[0], a[1])); }},
      {"number", [](const Args& a) { return data::number(dbl(a[0])); }},
      {"parse", [](const Args& a) { return data::parse(a[0]); }},
      {"codes", [](const Args& a) {
         zefa::json::Array out;
         for (const std::string& c : data::codes(a[0])) out.emplace_back(c);
         return Value(std::move(out));
       }},
      {"merge", [](const Args& a) {
         Value dst = a[0];
         data::merge(dst, a[1]);
         return dst;
       }},
      {"trunc_i64", [](const Args& a) { return Value(static_cast<long long>(data::trunc_i64(dbl(a[0])))); }},
      {"round_even", [](const Args& a) { return num(data::round_even(dbl(a[0]))); }},
  });
}

TEST(DataRules, MergeLeavesSourceAndCopies) {
  Value dst = J(R"({"a":{"x":1,"z":2}})");
  Value src = J(R"({"a":{"q":1}})");
  Value before = dst;
  data::merge(dst, src);
  EXPECT_EQ(src.dump(), R"({"a":{"q":1}})");
  EXPECT_EQ(before["a"].dump(), R"({"x":1,"z":2})");
  // A source that is part of the destination stays valid while it grows.
  Value self = J(R"({"a":{"a":{"q":1},"k":1,"l":2,"m":3}})");
  data::merge(self, self["a"]);
  EXPECT_EQ(self.dump(), R"({"a":{"a":{"q":1},"k":1,"l":2,"m":3,"q":1},"k":1,"l":2,"m":3})");
  Value twice = J(R"({"a":{"b":1}})");
  data::merge(twice, twice);
  EXPECT_EQ(twice.dump(), R"({"a":{"b":1}})");
}

TEST(DataRules, ParsedTextStaysEmbeddable) {
  // Parsed text ends up inside stored documents: beyond kEmbeddedDepth it
  // counts as not parsing, so no stored document outgrows the parser's limit.
  const auto limit = static_cast<size_t>(data::kEmbeddedDepth);
  std::string fits = std::string(limit, '[') + std::string(limit, ']');
  EXPECT_EQ(data::parse(Value(fits)).dump(), fits);
  EXPECT_TRUE(data::parse(Value("[" + fits + "]")).is_null());
  // Text that is not UTF-8 is not JSON text either.
  EXPECT_TRUE(data::parse(Value(std::string_view("\"\xff\""))).is_null());
}
