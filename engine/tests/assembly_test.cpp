// Normalisation of property values against their definitions (the table is
// data/cases/machine_il_value.json: machines apply it to what they emit) and
// the making of property names.
#include "assembly/assembly.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fn_cases.hpp"
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

// What il_value keeps of a select value still fits the definition.
TEST(AssemblyIlValue, SelectMembersStillFit) {
  const Value cases = test::load("cases/machine_il_value.json");
  for (const Value& c : cases.arr()) {
    if (c.is_string() || c["definition"]["type"].str() != "select") continue;
    const Value out = assembly::il_value(c["value"], c["definition"]);
    if (!out.is_null()) {
      EXPECT_TRUE(assembly::value_fits(out, c["definition"])) << c.dump();
    }
  }
}

TEST(AssemblyName, Table) {
  test::run_cases("assembly_name.json", {{"name", [](const test::Args& a) {
                                            json::Object props;
                                            for (const Value& k : a[1].arr()) props.insert_or_assign(k.str(), Value());
                                            return Value(assembly::name(a[0].str(), props));
                                          }}});
}

}  // namespace
}  // namespace zefa
