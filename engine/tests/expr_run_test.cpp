#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "expr/run.hpp"
#include "test_util.hpp"

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

// data/cases/expr_run.json: each "program" runs with the file's rules (a case
// may replace them; null binds none), a budget of 10,000 statements unless
// "budget" says otherwise, at "depth" (0). It ends "want" ("done" or
// "stopped") or with "error" (of "kind"), having "emitted" and "used" that much.
TEST(ExprRun, Cases) {
  const Value data = zefa::test::load("cases/expr_run.json");
  for (const Value& c : data["cases"].arr()) {
    SCOPED_TRACE(c["program"].dump());
    const Value& rules = c.find("rules") ? c["rules"] : data["rules"];
    Scope s;
    if (!rules.is_null()) s.with("rules", rules);
    Recorder rec;
    const uint64_t budget = c.find("budget") ? c["budget"].as_u64() : 10'000;
    uint64_t left = budget;
    auto r = zefa::expr::run(c["program"], s, rec, left, c["depth"].as_u64());
    EXPECT_EQ(!r.ok() ? "error: " + r.error().message : r.value() ? "stopped" : "done",
              c.find("error") ? "error: " + std::string(c["error"].str()) : std::string(c["want"].str()));
    if (c.find("kind")) {
      EXPECT_EQ(r.ok() ? -1 : static_cast<int64_t>(r.error().kind), c["kind"].as_i64());
    }
    if (c.find("emitted")) {
      EXPECT_EQ(Value(rec.emitted).dump(), c["emitted"].dump());
    }
    if (c.find("used")) {
      EXPECT_EQ(budget - left, c["used"].as_u64());
    }
  }
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
