// Deep and wide variant trees, and long code lists meeting in `affected`.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assembly/entity.hpp"
#include "assembly/plan.hpp"
#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

// One entity nesting `groups` variant groups, each naming the next `fan` times, around `leaf`.
Value nested(int groups, int fan, std::string_view leaf) {
  json::Object templates;
  for (int i = 0; i < groups; ++i) {
    json::Array uses(static_cast<size_t>(fan), J(R"({"$use":"g)" + std::to_string(i + 1) + "\"}"));
    templates.insert_or_assign("g" + std::to_string(i), Value(json::Object{{"variants", Value(std::move(uses))}}));
  }
  templates.insert_or_assign("g" + std::to_string(groups), J(leaf));
  Value rules = J(R"({"platforms":{"p":{"categories":{"c":{"key":"k"}}}},"entities":{"p":{"variants":[{"$use":"g0"}]}}})");
  rules.obj_mut().insert_or_assign("templates", Value(std::move(templates)));
  return rules;
}

// The error of classifying one descriptor under `rules`.
std::string failure(const Value& rules) {
  auto got = assembly::entity::classify(J(R"({"category":"c"})"), Value(), rules, Value());
  return got.ok() ? "no error" : got.error().to_string();
}

// Variant trees are bounded in nesting and in tries.
TEST(Classify, VariantTreesAreBounded) {
  const char* builds = R"({"steps":[{"set":"config.deep","value":true}]})";
  auto deepest = assembly::entity::classify(J(R"({"category":"c"})"), Value(), nested(64, 1, builds), Value());
  ASSERT_TRUE(deepest.ok()) << deepest.error().to_string();
  ASSERT_EQ(deepest.value().size(), 1u);
  EXPECT_EQ(deepest.value()[0].config.dump(), R"({"deep":true})");
  // One group more fails, and no plan is returned.
  EXPECT_EQ(failure(nested(65, 1, builds)), "rule nesting limit exceeded");
  // A tree of 2^40 leaves runs out of tries instead of running for ever.
  EXPECT_EQ(failure(nested(40, 2, R"({"when":false})")), "rule instruction limit exceeded");
}

std::vector<std::string> codes(int from, int count) {
  std::vector<std::string> out;
  for (int i = from; i < from + count; ++i) out.push_back("c" + std::to_string(i));
  return out;
}

// Long lists on both sides meet through a set.
TEST(PlanAffected, LongLists) {
  assembly::Plan plan;
  plan.depends_on = codes(0, 100);
  EXPECT_TRUE(plan.affected(codes(99, 100)));
  EXPECT_FALSE(plan.affected(codes(100, 100)));
}

}  // namespace
}  // namespace zefa
