#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "expr/run.hpp"
#include "fn_cases.hpp"

using zefa::ErrorKind;
using zefa::Result;
using zefa::expr::Scope;
using zefa::json::Value;
using zefa::test::J;

namespace {

// Records {"emit": value-expression}; {"stop": true} stops; {"fail": text}
// fails with a Value-kind error; anything else is refused.
class Recorder : public zefa::expr::Effects {
 public:
  zefa::json::Array emitted;
  Result<bool> exec(const Value& st, Scope& scope) override {
    if (st.find("emit")) {
      auto v = scope.eval(st["emit"]);
      if (!v.ok()) return zefa::fail(v.error());
      emitted.push_back(v.value());
      return false;
    }
    if (st.find("stop")) return true;
    if (st.find("fail")) return zefa::fail(ErrorKind::Value, std::string(st["fail"].str()));
    return zefa::fail("unknown test statement " + st.dump());
  }
};

}  // namespace

struct Ran {
  Value outcome;  // "done", "stopped" or {"error": message}
  Value emitted;
  uint64_t used = 0;
  int kind = -1;
};

// Runs a program at `depth` with a statement budget, the rule pack bound
// unless null.
Ran run(const Value& program, const Value& rules, uint64_t budget = 10'000, uint64_t depth = 0) {
  Scope s;
  if (!rules.is_null()) s.with("rules", rules);
  Recorder rec;
  uint64_t left = budget;
  auto r = zefa::expr::run(program, s, rec, left, depth);
  Ran out{r.ok() ? Value(r.value() ? "stopped" : "done")
                 : Value(zefa::json::Object{{"error", Value(r.error().message)}}),
          Value(rec.emitted), budget - left};
  if (!r.ok()) out.kind = static_cast<int>(r.error().kind);
  return out;
}

// The function table data/cases/expr_run.json, with the templates of
// data/expr_run_rules.json.
TEST(ExprRun, Cases) {
  using zefa::json::Array;
  using zefa::test::Args;
  static const Value rules = zefa::test::load("expr_run_rules.json");
  zefa::test::run_cases("expr_run.json", {
      {"run", [](const Args& a) {
         Ran r = run(a[0], rules);
         return Value(Array{r.outcome, r.emitted, Value(r.used)});
       }},
      {"kind", [](const Args& a) {
         Ran r = run(a[0], rules);
         return Value(Array{r.outcome, Value(r.kind)});
       }},
      {"without_rules", [](const Args& a) {
         Ran r = run(a[0], Value());
         return Value(Array{r.outcome, r.emitted});
       }},
      {"limited", [](const Args& a) { return run(a[0], rules, a[1].as_u64(), a[2].as_u64()).outcome; }},
      {"outcome", [](const Args& a) { return run(a[0], rules).outcome; }},
  });
}

// 10,001 statements of any kind: the last one finds the budget empty.
TEST(ExprRun, StatementBudget) {
  zefa::json::Array many(10'001, J(R"({"let":"x","value":1})"));
  Scope s;
  Recorder rec;
  uint64_t budget = 10'000;
  EXPECT_EQ(zefa::expr::run(Value(many), s, rec, budget, 0).error().message, "rule instruction limit exceeded");
  EXPECT_EQ(budget, 0u);
  many.pop_back();
  budget = 10'000;
  EXPECT_TRUE(zefa::expr::run(Value(many), s, rec, budget, 0).ok());
}

// A template may rebind "rules" while it runs; the running program is held
// by the interpreter, not by the binding.
TEST(ExprRun, ProgramOutlivesItsBinding) {
  Scope s;
  s.push("rules", J(R"({"templates":{"t":[{"let":"rules","value":null},{"emit":"still here"},{"emit":"and here"}]}})"));
  Recorder rec;
  uint64_t budget = 100;
  auto r = zefa::expr::run(J(R"([{"$use":"t"}])"), s, rec, budget, 0);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(Value(rec.emitted).dump(), R"(["still here","and here"])");
}

// Scopes on several threads share one rule pack and one context by
// reference; each thread's results are its own.
TEST(ExprConcurrency, SharedRulePackAcrossThreads) {
  const Value rules = J(R"({"features":{"f":{"a":1,"b":2}},
      "templates":{"t":[{"let":"sum","value":{"op":"add","args":[{"op":"get","path":"sum"},{"op":"get","path":"n"}]}}]},
      "functions":{"twice":{"params":["x"],"body":{"op":"mul","args":[{"op":"get","path":"x"},2]}}}})");
  const Value ctx = J(R"({"items":[1,2,3,4,5,6,7,8,9,10],"name":"a shared context text longer than inline"})");
  const Value program = J(R"([{"let":"sum","value":0},
      {"let":"n","value":{"op":"flags","table":"f","when":{"a":true,"b":true}}},
      {"$use":"t"},
      {"emit":{"op":"map","args":[{"op":"get","path":"items"}],
               "do":{"op":"call","fn":"twice","args":[{"op":"get","path":"item"}]}}},
      {"emit":{"op":"get","path":"name"}},
      {"emit":{"op":"get","path":"sum"}}])");
  const std::string want = R"([[2,4,6,8,10,12,14,16,18,20],"a shared context text longer than inline",3])";
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        Scope s = Scope(rules["functions"]).with_fields(ctx).with("rules", rules);
        Recorder rec;
        uint64_t budget = 100;
        auto r = zefa::expr::run(program, s, rec, budget, 0);
        if (r.ok() && Value(rec.emitted).dump() == want) ++good;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 800);
}
