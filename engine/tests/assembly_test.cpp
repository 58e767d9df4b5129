// Normalisation of property values against their definitions. The table is
// data/cases/machine_il_value.json: machines apply it to what they emit.
#include "assembly/assembly.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

TEST(AssemblyIlValue, ByDefinition) {
  test::run_cases("machine_il_value.json",
                  {{"il_value", [](const test::Args& a) { return assembly::il_value(a[0], a[1]); }}});
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
