// Assembly of descriptors and bindings, normalisation of property values
// against their definitions, and the making of property names.
#include "assembly/assembly.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "data/data.hpp"
#include "fn_cases.hpp"
#include "record.hpp"
#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

// What il_value keeps of a select value still fits the definition.
TEST(AssemblyIlValue, ByDefinition) {
  test::run_cases("machine_il_value.json", {{"il_value", [](const test::Args& a) {
                    const Value out = assembly::il_value(a[0], a[1]);
                    const bool fits = a[1]["type"].str() != "select" || out.is_null() || assembly::value_fits(out, a[1]);
                    return fits ? out : Value("does not fit");
                  }}});
}

TEST(AssemblyIlValue, NonFiniteFloatsGiveNull) {
  const Value number = J(R"({"type":"number"})");
  EXPECT_TRUE(assembly::il_value(Value(std::numeric_limits<double>::infinity()), number).is_null());
  EXPECT_TRUE(assembly::il_value(Value(std::nan("")), number).is_null());
  EXPECT_TRUE(assembly::il_value(Value(std::nan("")), J(R"({"type":"binary"})")).is_null());
}

TEST(AssemblyName, Table) {
  test::run_cases("assembly_name.json", {{"name", [](const test::Args& a) {
                                            json::Object props;
                                            for (const Value& k : a[1].arr()) props.insert_or_assign(k.str(), Value());
                                            return Value(assembly::name(a[0].str(), props));
                                          }}});
}

// Plans of a case: each given member over the file's plan template.
std::vector<assembly::Plan> plans_of(const Value& given, const Value& base) {
  std::vector<assembly::Plan> plans;
  for (const Value& g : given.arr()) {
    Value p = base;
    data::merge(p, g);
    auto plan = assembly::Plan::deserialize(p);
    EXPECT_TRUE(plan.ok()) << p.dump();
    if (plan.ok()) plans.push_back(std::move(plan).value());
  }
  return plans;
}

// Compact texts are compared, so member order counts; every assembly reads back.
TEST(AssemblyAssemble, Cases) {
  const Value file = test::load("cases/assembly_assemble.json");
  for (const Value& c : file["cases"].arr()) {
    const auto plans = plans_of(c["plans"], file["plan"]);
    auto got = assembly::assemble(c["device"], plans, c["info"], c["allow_hazardous"].as_bool(), file["rules"]);
    if (const Value* error = c.find("error")) {
      EXPECT_EQ(got.ok() ? record::write(got.value()).dump() : got.error(), error->str()) << c["note"].str();
      continue;
    }
    ASSERT_TRUE(got.ok()) << c["note"].str() << ": " << got.error();
    EXPECT_EQ(record::write(got.value()).dump(), c["want"].dump()) << c["note"].str();
    auto back = record::read<assembly::Assembly>(record::write(got.value()));
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_TRUE(back.value() == got.value()) << c["note"].str();
  }
}

// Assemblies travel in driver states; the cases above read their own back.
TEST(AssemblyAssemble, Reading) {
  EXPECT_EQ(record::read<assembly::Assembly>(J(R"({"descriptor":{},"bindings":{},"unsupported":[]})")).error(),
            "missing field `covers`");
  EXPECT_FALSE(record::read<assembly::Assembly>(J(R"({"descriptor":{},"bindings":{},"unsupported":[],"covers":[[1,"",null]]})")).ok());
}

// Many rows of one name each take the next suffix without searching from _2 again.
TEST(AssemblyAssemble, ManyRowsOfOneName) {
  json::Array rows(20000, J(R"({"name":"x"})"));
  Value rules(json::Object{{"entities", Value(json::Object{{"e", Value(json::Object{{"layout", Value(std::move(rows))}})}})}});
  const Value base = test::load("cases/assembly_assemble.json")["plan"];
  auto a = assembly::assemble(J(R"({"id":1})"), plans_of(J(R"([{"platform":"e"}])"), base), Value(), false, rules);
  ASSERT_TRUE(a.ok()) << a.error();
  EXPECT_EQ(a.value().bindings.size(), 20000u);
  EXPECT_TRUE(a.value().descriptor["props"].find("x_20000"));
}

}  // namespace
}  // namespace zefa
