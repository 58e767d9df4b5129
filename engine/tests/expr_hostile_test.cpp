// Rule packs written to exhaust the evaluator: each must end with its exact
// message, quickly, without deep native recursion or unbounded memory.
#include <gtest/gtest.h>

#include <string>

#include "expr/run.hpp"
#include "test_util.hpp"

using zefa::Result;
using zefa::expr::Scope;
using zefa::json::Value;
using zefa::test::J;

namespace {

std::string show(const zefa::expr::Eval& r) { return r.ok() ? r.value().dump() : "error: " + r.error(); }

class NoSink : public zefa::expr::Effects {
 public:
  Result<bool> exec(const Value&, Scope&) override { return false; }
};

}  // namespace

TEST(ExprHostile, SelfRecursiveCall) {
  const Value fns = J(R"({"f":{"params":["x"],"body":{"op":"call","fn":"f","args":[{"op":"get","path":"x"}]}}})");
  Scope s(fns);
  EXPECT_EQ(show(s.eval(J(R"({"op":"call","fn":"f","args":[1]})"))), "error: rule nesting limit exceeded");
  EXPECT_EQ(s.depth, 0u);
  EXPECT_EQ(s.size(), 0u);
}

// A call tree of 2^19 leaves, 60 levels deep: the budgets end it.
TEST(ExprHostile, ExponentialCalls) {
  const Value fns = J(R"({"f":{"params":["n"],"body":{"op":"if",
      "condition":{"op":"gt","args":[{"op":"get","path":"n"},0]},
      "then":{"op":"and","args":[
          {"op":"call","fn":"f","args":[{"op":"sub","args":[{"op":"get","path":"n"},1]}]},
          {"op":"call","fn":"f","args":[{"op":"sub","args":[{"op":"get","path":"n"},1]}]}]},
      "else":true}}})");
  Scope s(fns);
  EXPECT_EQ(show(s.eval(J(R"({"op":"call","fn":"f","args":[19]})"))), "error: rule allocation limit exceeded");
  Scope t(fns);
  t.nodes = UINT64_MAX;
  EXPECT_EQ(show(t.eval(J(R"({"op":"call","fn":"f","args":[19]})"))), "error: rule evaluation limit exceeded");
  EXPECT_EQ(t.size(), 0u);
}

TEST(ExprHostile, SelfUsingTemplate) {
  const Value rules = J(R"({"templates":{"t":[{"let":"x","value":1},{"$use":"t"}]}})");
  Scope s = Scope().with("rules", rules);
  NoSink sink;
  uint64_t budget = 10'000;
  auto r = zefa::expr::run(J(R"([{"$use":"t"}])"), s, sink, budget, 0);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "rule nesting limit exceeded");
}

TEST(ExprHostile, TenThousandAndOneStatements) {
  zefa::json::Array program(10'001, J(R"({"emit":1})"));
  Scope s;
  NoSink sink;
  uint64_t budget = 10'000;
  auto r = zefa::expr::run(Value(program), s, sink, budget, 0);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "rule instruction limit exceeded");
}

TEST(ExprHostile, MillionAndOneCheapCalls) {
  Scope s;
  const Value cheap = J(R"({"op":"and"})");  // one node per result, no literal
  for (int i = 0; i < 1'000'000; ++i) ASSERT_TRUE(s.eval(cheap).ok()) << i;
  EXPECT_EQ(show(s.eval(cheap)), "error: rule evaluation limit exceeded");
}

TEST(ExprHostile, HugeLiterals) {
  Scope s;
  EXPECT_EQ(show(s.eval(Value(std::string(1'048'577, 'x')))), "error: rule text size limit exceeded");
  Scope t;
  const Value mb(std::string(1'000'000, 'x'));
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(t.eval(mb).ok());
  EXPECT_EQ(show(t.eval(mb)), "error: rule allocation limit exceeded");
}

// Copies handed back by "get" and "literal" are charged like new values.
TEST(ExprHostile, RepeatedCopiesOfALargeValue) {
  const Value ctx = Value(zefa::json::Object{{"big", Value(std::string(1'000'000, 'x'))}});
  Scope s = Scope().with_fields(ctx);
  const Value loop = J(R"({"op":"map","args":[[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17]],
                           "do":{"op":"get","path":"big"}})");
  EXPECT_EQ(show(s.eval(loop)), "error: rule allocation limit exceeded");
}

// A function with a long parameter list called from a loop: the parameters
// left without argument are charged, so the binding work stays bounded.
TEST(ExprHostile, LongParameterLists) {
  zefa::json::Array params;
  for (int i = 0; i < 99'999; ++i) params.emplace_back(std::string("p").append(std::to_string(i)));
  const Value fns = Value(zefa::json::Object{
      {"f", Value(zefa::json::Object{{"params", Value(params)}, {"body", J(R"({"op":"get","path":"p5"})")}})}});
  zefa::json::Array items(99'998, Value(1));
  Scope s(fns);
  Value loop = J(R"({"op":"map","do":{"op":"call","fn":"f","args":[1]}})");
  loop.obj_mut().insert_or_assign("args", Value(zefa::json::Array{Value(items)}));
  EXPECT_EQ(show(s.eval(loop)), "error: rule allocation limit exceeded");
  EXPECT_EQ(s.size(), 0u);
}

// Many bindings do not make lookups slow: a "let" of 50,000 names read
// 400,000 times.
TEST(ExprHostile, ManyBindings) {
  zefa::json::Object bind;
  for (int i = 0; i < 50'000; ++i) bind.insert_or_assign(std::string("v").append(std::to_string(i)), Value(i));
  zefa::json::Array items(99'998, Value(1));
  Value inner = J(R"({"op":"count","do":{"op":"get","path":"v49999.x","default":{"op":"get","path":"nope"}}})");
  inner.obj_mut().insert_or_assign("args", Value(zefa::json::Array{Value(items)}));
  Value let = Value(zefa::json::Object{{"op", "let"}, {"bind", Value(std::move(bind))}, {"in", inner}});
  Scope s;
  EXPECT_EQ(show(s.eval(let)), "0");
  EXPECT_EQ(s.size(), 0u);
}

// Deep statement and operator nesting together stay within their limits.
TEST(ExprHostile, DeepProgramWithDeepExpressions) {
  Value e(false);
  for (int i = 0; i < 64; ++i) e = Value(zefa::json::Object{{"op", "not"}, {"args", zefa::json::Array{e}}});
  Value program = Value(zefa::json::Array{Value(zefa::json::Object{{"let", "x"}, {"value", e}})});
  for (int i = 0; i < 63; ++i)
    program = Value(zefa::json::Array{Value(zefa::json::Object{{"if", e}, {"then", program}, {"else", program}})});
  Scope s;
  NoSink sink;
  uint64_t budget = 10'000;
  auto r = zefa::expr::run(program, s, sink, budget, 0);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*s.lookup("x"), Value(false));
}

// Patterns that nearly match everywhere: text searches stay linear, so these
// end at once instead of comparing every pattern byte at every position.
TEST(ExprHostile, NearlyMatchingPatterns) {
  const Value ctx = Value(zefa::json::Object{{"text", Value(std::string(1'048'576, 'a'))},
                                             {"pattern", Value(std::string(400'000, 'a') + "b")}});
  Scope s = Scope().with_fields(ctx);
  EXPECT_EQ(show(s.eval(J(R"({"op":"contains","args":[{"op":"get","path":"text"},{"op":"get","path":"pattern"}]})"))),
            "false");
  auto r = s.eval(J(R"({"op":"replace","args":[{"op":"get","path":"text"},{"op":"get","path":"pattern"},"x"]})"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().str().size(), 1'048'576u);
  // A long text of many short occurrences is counted and replaced in one pass each.
  r = s.eval(J(R"({"op":"replace","args":[{"op":"get","path":"text"},"aa","b"]})"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().str(), std::string(524'288, 'b'));
}
