// Normalisation of property values against their definitions.
#include "assembly.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

TEST(AssemblyIlValue, ByDefinition) {
  struct Case {
    const char* definition;
    const char* value;
    const char* expected;  // compact JSON; 1 and 1.0 are told apart
  } cases[] = {
      // select: strict membership, then the number rule
      {R"({"type":"select","options":[1,2]})", "1.0", "null"},
      {R"({"type":"select","options":[1,2]})", "2", "2"},
      {R"({"type":"select","options":[1,2]})", "3", "null"},
      {R"({"type":"select","options":[1,2]})", "null", "null"},
      {R"({"type":"select","options":["a",{"k":[1]}]})", R"({"k":[1]})", R"({"k":[1]})"},
      {R"({"type":"select","options":[1.5]})", "1.5", "1.5"},
      {R"({"type":"select","options":[2.0]})", "2.0", "2"},
      {R"({"type":"select","options":[]})", R"("a")", "null"},
      {R"({"type":"select","options":"a"})", R"("a")", "null"},
      {R"({"type":"select"})", R"("a")", "null"},
      // binary: numbers 0 and 1 become booleans
      {R"({"type":"binary"})", "1.0", "true"},
      {R"({"type":"binary"})", "1", "true"},
      {R"({"type":"binary"})", "0", "false"},
      {R"({"type":"binary"})", "-0.0", "false"},
      {R"({"type":"binary"})", "2", "null"},
      {R"({"type":"binary"})", "0.5", "null"},
      {R"({"type":"binary"})", "true", "true"},
      {R"({"type":"binary"})", R"("on")", R"("on")"},
      {R"({"type":"binary"})", "null", "null"},
      // everything else: integral floats become integers
      {R"({"type":"number"})", "21.0", "21"},
      {R"({"type":"number"})", "21.5", "21.5"},
      {R"({"type":"number"})", "-3.0", "-3"},
      {R"({"type":"number"})", "-0.0", "0"},
      {R"({"type":"number"})", "9.2e18", "9200000000000000000"},
      {R"({"type":"number"})", "-9.2e18", "-9200000000000000000"},
      {R"({"type":"number"})", "9.22e18", "9.22e+18"},
      {R"({"type":"number"})", "1e19", "1e+19"},
      {R"({"type":"text"})", R"("x")", R"("x")"},
      {R"({"type":"text"})", "[1.0]", "[1.0]"},
      {"null", "true", "true"},
      {"null", "3.0", "3"},
      // integers are kept exactly, also beyond 2^53 and 9.22e18
      {R"({"type":"number"})", "9007199254740993", "9007199254740993"},
      {R"({"type":"number"})", "18446744073709551615", "18446744073709551615"},
      {R"({"type":"number"})", "-9223372036854775808", "-9223372036854775808"},
  };
  for (const auto& c : cases) {
    Value got = assembly::il_value(J(c.value), J(c.definition));
    EXPECT_EQ(got.dump(), c.expected) << c.definition << " " << c.value;
  }
}

TEST(AssemblyIlValue, NonFiniteFloatsGiveNull) {
  const Value number = J(R"({"type":"number"})");
  EXPECT_TRUE(assembly::il_value(Value(std::numeric_limits<double>::infinity()), number).is_null());
  EXPECT_TRUE(assembly::il_value(Value(-std::numeric_limits<double>::infinity()), number).is_null());
  EXPECT_TRUE(assembly::il_value(Value(std::nan("")), number).is_null());
  EXPECT_TRUE(assembly::il_value(Value(std::nan("")), J(R"({"type":"binary"})")).is_null());
}

}  // namespace
}  // namespace zefa
