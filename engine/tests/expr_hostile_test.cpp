// Hostile expressions end with their exact limit message, quickly and in bounded memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "expr/run.hpp"
#include "test_util.hpp"

using zefa::Result;
using zefa::expr::Scope;
using zefa::json::Array;
using zefa::json::Object;
using zefa::json::Value;
using zefa::test::J;
namespace limits = zefa::expr::limits;

namespace {

std::string show(const zefa::expr::Eval& r) { return r.ok() ? r.value().dump() : "error: " + r.error(); }

class NoSink : public zefa::expr::Effects {
 public:
  Result<bool> exec(const Value&, Scope&) override { return false; }
};

Value text(size_t n) { return Value(std::string(n, 'x')); }
Value numbers(size_t n) { return Value(Array(n, Value(1))); }
// `levels` arrays around a number, or "not" calls around false.
Value nested(int levels, bool calls = false) {
  Value v = calls ? Value(false) : Value(1);
  for (int i = 0; i < levels; ++i) v = calls ? Value(Object{{"op", "not"}, {"args", Array{v}}}) : Value(Array{v});
  return v;
}

}  // namespace

TEST(ExprHostile, OperatorNesting) {
  Scope s;
  EXPECT_EQ(show(s.eval(nested(64, true))), "false");
  EXPECT_EQ(show(s.eval(nested(65, true))), "error: rule nesting limit exceeded");
  EXPECT_EQ(s.depth, 0u);
  EXPECT_EQ(s.ops, limits::kOps - 129);  // the refused call's unit stays taken: 64 + 65 calls
}

TEST(ExprHostile, MillionAndOneCheapCalls) {
  Scope s;
  const Value cheap = J(R"({"op":"and"})");  // one node per result, no literal
  for (int i = 0; i < 1'000'000; ++i) ASSERT_TRUE(s.eval(cheap).ok()) << i;
  EXPECT_EQ(s.ops, 0u);
  EXPECT_EQ(show(s.eval(cheap)), "error: rule evaluation limit exceeded");
  s.nodes = 1;
  EXPECT_EQ(show(s.eval(J("1"))), "1");  // a literal costs no operator evaluation
}

TEST(ExprHostile, ScopeAllocationBudget) {
  Scope s;
  const Value literal = text(1'000'000);
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(s.eval(literal).ok()) << i;
  EXPECT_EQ(show(s.eval(literal)), "error: rule allocation limit exceeded");
  // Nodes fitted, bytes did not: the node is taken all the same.
  EXPECT_EQ(s.nodes, limits::kNodes - 17);
  EXPECT_EQ(s.bytes, limits::kBytes - 16'000'000);
  Scope t;
  t.nodes = 99'998;
  EXPECT_EQ(show(t.eval(numbers(99'998))), "error: rule allocation limit exceeded");  // 99,999 nodes
  EXPECT_EQ(t.nodes, 99'998u);  // nothing taken when the nodes do not fit
  EXPECT_TRUE(t.eval(numbers(99'997)).ok());
  EXPECT_EQ(t.nodes, 0u);
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

// Copies handed back by "get" and "literal" are charged like new values.
TEST(ExprHostile, RepeatedCopiesOfALargeValue) {
  const Value ctx = Value(Object{{"big", text(1'000'000)}});
  Scope s = Scope().with_fields(ctx);
  const Value loop = J(R"({"op":"map","args":[[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17]],
                           "do":{"op":"get","path":"big"}})");
  EXPECT_EQ(show(s.eval(loop)), "error: rule allocation limit exceeded");
}

// Parameters left without argument are charged, so long parameter lists in a loop stay bounded.
TEST(ExprHostile, LongParameterLists) {
  Array params;
  for (int i = 0; i < 99'999; ++i) params.emplace_back("p" + std::to_string(i));
  const Value fns(Object{{"f", Object{{"params", Value(params)}, {"body", J(R"({"op":"get","path":"p5"})")}}}});
  Scope s(fns);
  Value loop = J(R"({"op":"map","do":{"op":"call","fn":"f","args":[1]}})");
  loop.obj_mut().insert_or_assign("args", Array{numbers(99'998)});
  EXPECT_EQ(show(s.eval(loop)), "error: rule allocation limit exceeded");
  EXPECT_EQ(s.size(), 0u);
}

// Many bindings do not make lookups slow: a "let" of 50,000 names read 400,000 times.
TEST(ExprHostile, ManyBindings) {
  Object bind;
  for (int i = 0; i < 50'000; ++i) bind.insert_or_assign("v" + std::to_string(i), Value(i));
  Value inner = J(R"({"op":"count","do":{"op":"get","path":"v49999.x","default":{"op":"get","path":"nope"}}})");
  inner.obj_mut().insert_or_assign("args", Array{numbers(99'998)});
  Scope s;
  EXPECT_EQ(show(s.eval(Value(Object{{"op", "let"}, {"bind", Value(std::move(bind))}, {"in", inner}}))), "0");
  EXPECT_EQ(s.size(), 0u);
}

// Deep statement and operator nesting together stay within their limits.
TEST(ExprHostile, DeepProgramWithDeepExpressions) {
  const Value e = nested(64, true);
  Value program(Array{Value(Object{{"let", "x"}, {"value", e}})});
  for (int i = 0; i < 63; ++i) program = Value(Array{Value(Object{{"if", e}, {"then", program}, {"else", program}})});
  Scope s;
  NoSink sink;
  uint64_t budget = 10'000;
  auto r = zefa::expr::run(program, s, sink, budget, 0);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(s.lookup("x")->dump(), "false");
}

// Text searches stay linear on patterns that nearly match everywhere.
TEST(ExprHostile, NearlyMatchingPatterns) {
  const Value ctx(Object{{"text", Value(std::string(1'048'576, 'a'))},
                         {"pattern", Value(std::string(400'000, 'a') + "b")}});
  Scope s = Scope().with_fields(ctx);
  EXPECT_EQ(show(s.eval(J(R"({"op":"contains","args":[{"op":"get","path":"text"},{"op":"get","path":"pattern"}]})"))),
            "false");
  auto r = s.eval(J(R"({"op":"replace","args":[{"op":"get","path":"text"},{"op":"get","path":"pattern"},"x"]})"));
  EXPECT_EQ(r.ok() ? r.value().str().size() : 0, 1'048'576u);
  r = s.eval(J(R"({"op":"replace","args":[{"op":"get","path":"text"},"aa","b"]})"));
  EXPECT_EQ(r.ok() ? r.value().str() : "", std::string(524'288, 'b'));
}
