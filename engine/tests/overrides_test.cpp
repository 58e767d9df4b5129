// Override checks. Blocks of a pack's "overrides" mapping go through the C
// API (data/exchanges/overrides_blocks.txt); what a pack cannot reach (its
// schema wants object blocks; a device's merged block is strict) runs from
// data/cases/overrides_checks.json, against the pack overrides_base.json.
#include "rules/overrides.hpp"

#include <gtest/gtest.h>

#include <string>

#include "assembly/assembly.hpp"
#include "fn_cases.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;
namespace ov = rules::overrides;

std::string outcome(const Status<std::string>& r) { return r.ok() ? "ok" : r.error(); }

Value shown(const Status<std::string>& r) { return Value(r.ok() ? "ok" : r.error()); }

TEST(Overrides, Cases) {
  static const Value rules = test::load("overrides_base.json");
  test::run_cases("overrides_checks.json", {
      {"mapping", [](const test::Args& a) { return shown(ov::validate_mapping(a[0], rules)); }},
      {"block", [](const test::Args& a) { return shown(ov::validate(a[0], rules, false)); }},
      {"strict", [](const test::Args& a) { return shown(ov::validate(a[0], rules, true)); }},
      {"fits", [](const test::Args& a) { return Value(assembly::value_fits(a[1], a[0])); }},
  });
}

// A program whose innermost (empty) program sits `levels` "if"s down. Built
// directly: 64 levels nest deeper than the parser would accept.
Value nested_program(int levels) {
  Value program = Value::array();
  for (int i = 0; i < levels; ++i)
    program = Value(json::Array{Value(json::Object{{"if", true}, {"then", program}})});
  return program;
}

TEST(OverridesProgram, NestingLimit) {
  // 63 "if" levels put the innermost program at level 63: accepted.
  EXPECT_EQ(outcome(ov::validate_program(nested_program(63), Value(), 0, false, true)), "ok");
  EXPECT_EQ(outcome(ov::validate_program(nested_program(64), Value(), 0, false, true)),
            "rule nesting limit exceeded");
  EXPECT_EQ(outcome(ov::validate_program(J("[]"), Value(), 64, false, true)), "rule nesting limit exceeded");
}

TEST(OverridesMapping, FixtureBlocksAreCompleteWhenMerged) {
  const Value pack = test::load("rules_full.json");
  for (const auto& m : pack["overrides"].obj())
    EXPECT_EQ(outcome(ov::validate(m.value, pack, true)), "ok") << m.name();
}

}  // namespace
}  // namespace zefa
