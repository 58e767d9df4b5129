// Normalisation of property values against their definitions. The table is
// data/cases/machine_il_value.json: machines apply it to what they emit.
#include "assembly/assembly.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

TEST(AssemblyIlValue, ByDefinition) {
  const Value cases = test::load("cases/machine_il_value.json");
  for (const Value& c : cases.arr()) {
    if (c.is_string()) continue;
    EXPECT_EQ(assembly::il_value(c["value"], c["definition"]).dump(), c["out"].dump()) << c.dump();
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
