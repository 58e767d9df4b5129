// Rule packs: what needs threads, generated input or shared values beyond the case tables.
#include "rules/rules.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

const Value& full_pack() {
  static const Value pack = test::load("rules_full.json");
  return pack;
}

std::string outcome(const Status<std::string>& r) { return r.ok() ? "ok" : r.error(); }

TEST(RulesCheck, Cases) {
  test::run_cases("rules_check.json", {
      {"check", [](const test::Args& a) { return Value(outcome(rules::check(a[1], a[0], a[0], a[2].str()))); }},
      {"validate", [](const test::Args& a) { return Value(outcome(rules::validate(a[0]))); }},
  });
  test::run_cases("rules_patch.json", {{"patch", [](const test::Args& a) {
                                          Value target = a[0];
                                          rules::patch(target, a[1]);
                                          return target;
                                        }}});
}

// Every "$ref" of the embedded schema resolves, so validation never meets a broken schema.
TEST(RulesSchema, EmbeddedSchemaIsSound) {
  const Value& schema = rules::schema::SCHEMA();
  ASSERT_TRUE(schema.is_object());
  std::vector<const Value*> todo{&schema};
  while (!todo.empty()) {
    const Value* v = todo.back();
    todo.pop_back();
    if (v->is_array())
      for (const Value& e : v->arr()) todo.push_back(&e);
    if (!v->is_object()) continue;
    for (const json::Member& m : v->obj()) {
      if (m.name() == "$ref" && m.value.is_string()) {
        std::string_view ref = m.value.str();
        ref.remove_prefix(std::min(ref.find_first_not_of('#'), ref.size()));
        EXPECT_NE(schema.pointer(ref), nullptr) << m.value.str();
      }
      todo.push_back(&m.value);
    }
  }
}

TEST(RulesSchemaConcurrency, FirstUseFromManyThreadsSeesOneSchema) {
  std::vector<const void*> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] {
      seen[i] = &rules::schema::SCHEMA();
      EXPECT_TRUE(rules::validate(full_pack()).ok());
    });
  for (auto& t : threads) t.join();
  for (const void* p : seen) EXPECT_EQ(p, seen[0]);
}

// Hashed repeat search: another member order or sign of zero repeats; 1, 1.0 and "1" do not.
TEST(RulesCheck, LongArraysFindTheFirstRepeat) {
  Value node = J(R"({"uniqueItems": true})");
  std::string text = "[";
  for (int i = 0; i < 5000; ++i) text += std::to_string(i) + ",";
  text += R"({"a":1,"b":[1.5,-0.0]},"x",{"b":[1.5,0.0],"a":1}])";
  EXPECT_EQ(outcome(rules::check(J(text), node, node, "/l")), "rules /l: duplicate item");

  std::string distinct = "[";
  for (int i = 0; i < 5000; ++i) distinct += std::to_string(i) + "," + std::to_string(i) + ".0,\"" + std::to_string(i) + "\",";
  distinct += "null]";
  EXPECT_EQ(outcome(rules::check(J(distinct), node, node, "")), "ok");
}

// An instance at the parser's nesting limit, walked by a recursive node.
TEST(RulesCheck, DeepInstancesStayWithinTheirOwnNesting) {
  std::string text(127, '[');
  text += "1";
  text += std::string(127, ']');
  Value root = J(R"({"type": "array", "items": {"anyOf": [], "$ref": "#/$defs/a"}, "$defs": {"a": {"items": {"$ref": "#/$defs/a"}}}})");
  EXPECT_EQ(outcome(rules::check(J(text), root, root, "")), "ok");
  Value strict = J(R"({"items": {"$ref": "#"}, "type": "array"})");
  std::string expected = "rules ";
  for (int i = 0; i < 127; ++i) expected += "/0";
  expected += ": expected \"array\"";
  EXPECT_EQ(outcome(rules::check(J(text), strict, strict, "")), expected);
}

// Patching copies before it writes: copies, the patch (even as target) and the request stay intact.
TEST(RulesPatch, LeavesCopiesAndThePatchUntouched) {
  Value base = J(R"({"a": {"s": [1], "t": {"u": 1}}})");
  Value copy = base;
  Value p = J(R"({"a": {"s": {"$append": [2]}, "t": {"u": {"$delete": true}}}})");
  rules::patch(copy, p);
  EXPECT_EQ(copy.dump(), R"({"a":{"s":[1,2],"t":{}}})");
  EXPECT_EQ(base.dump(), R"({"a":{"s":[1],"t":{"u":1}}})");
  EXPECT_EQ(p.dump(), R"({"a":{"s":{"$append":[2]},"t":{"u":{"$delete":true}}}})");
  Value self = J(R"({"a": {"b": 1}})");
  rules::patch(self, self);
  EXPECT_EQ(self.dump(), R"({"a":{"b":1}})");

  Value req = J(R"({"layers": [{"maps": {"$delete": true}}, {"maps": {"m": 1}}, {"strategies": {"$append": ["x"]}}]})");
  req.obj_mut().insert_or_assign("base", full_pack());
  const std::string before = req.dump();
  auto r = rules::compose(req);
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(req.dump(), before);
}

}  // namespace
}  // namespace zefa
