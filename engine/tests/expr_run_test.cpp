#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "expr/run.hpp"
#include "test_util.hpp"

using zefa::EngineError;
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

struct Outcome {
  std::string text;  // "done", "stopped" or "error: " and the message
  std::string emitted;
  uint64_t left = 0;
};

Outcome run(const Value& program, const Value* rules, uint64_t budget = 10'000, uint64_t depth = 0) {
  Scope s;
  if (rules) s.with("rules", *rules);
  Recorder rec;
  uint64_t b = budget;
  auto r = zefa::expr::run(program, s, rec, b, depth);
  Outcome o;
  o.text = !r.ok() ? "error: " + r.error().message : r.value() ? "stopped" : "done";
  o.emitted = Value(rec.emitted).dump();
  o.left = b;
  return o;
}

}  // namespace

TEST(ExprRun, Programs) {
  const Value rules = J(R"({"templates": {
      "two": [{"emit": 1}, {"emit": 2}],
      "stopper": [{"if": true, "then": [{"stop": true}]}, {"emit": "never"}],
      "loop": [{"$use": "loop"}],
      "bad": {"emit": 1},
      "binds": [{"let": "t", "value": "from template"}]
  }})");
  struct Case {
    const char* program;
    const char* want;
    const char* emitted;
    uint64_t used;  // statements taken from the budget
  } cases[] = {
      {"null", "done", "[]", 0},
      {"[]", "done", "[]", 0},
      {R"({"emit":1})", "error: rule program must be an array", "[]", 0},
      {R"("text")", "error: rule program must be an array", "[]", 0},
      {R"([{"if":true,"then":{"emit":1}}])", "error: rule program must be an array", "[]", 1},
      {R"([{"emit":1},{"emit":{"op":"add","args":[1,1]}}])", "done", "[1,2]", 2},
      {R"([{"if":true,"then":[{"emit":1},{"emit":2}]}])", "done", "[1,2]", 3},
      {R"([{"if":null,"then":[{"emit":"then"}],"else":[{"emit":"else"}]}])", "done", R"(["else"])", 2},
      {R"([{"if":"0","then":[{"emit":"then"}],"else":[{"emit":"else"}]}])", "done", R"(["then"])", 2},
      {R"([{"if":0,"then":[{"emit":"then"}],"else":[{"emit":"else"}]}])", "done", R"(["else"])", 2},
      {R"([{"if":0,"then":[{"emit":"then"}]}])", "done", "[]", 1},
      {R"([{"if":{"op":"error","message":"cond"}},{"emit":1}])", "error: cond", "[]", 1},
      {R"([{"if":true,"let":"x","value":1},{"emit":{"op":"get","path":"x","default":"unbound"}}])", "done",
       R"(["unbound"])", 2},
      {R"([{"$use":"two","let":"x"},{"emit":{"op":"get","path":"x","default":"unbound"}}])", "done",
       R"([1,2,"unbound"])", 4},
      {R"([{"$use":"missing"},{"emit":3}])", "done", "[3]", 2},
      {R"([{"$use":5}])", "done", "[]", 1},
      {R"([{"$use":"bad"}])", "error: rule program must be an array", "[]", 1},
      {R"([{"$use":"loop"}])", "error: rule nesting limit exceeded", "[]", 64},
      {R"([{"$use":"stopper"},{"emit":"after"}])", "stopped", "[]", 3},
      {R"([{"if":true,"then":[{"$use":"stopper"},{"emit":"a"}]},{"emit":"b"}])", "stopped", "[]", 4},
      {R"([{"let":"x","value":{"op":"add","args":[2,3]}},{"emit":{"op":"get","path":"x"}}])", "done", "[5]", 2},
      {R"([{"let":"x"},{"emit":{"op":"get","path":"x","default":"unbound"}}])", "done", "[null]", 2},
      {R"([{"let":5,"value":7},{"emit":{"op":"get","path":""}}])", "done", "[7]", 2},
      {R"([{"let":"x","value":{"op":"error","message":"val"}}])", "error: val", "[]", 1},
      // Bindings outlive the branch or template that made them.
      {R"([{"if":true,"then":[{"let":"x","value":1}]},{"let":"x","value":2},{"emit":{"op":"get","path":"x"}}])",
       "done", "[2]", 4},
      {R"([{"$use":"binds"},{"emit":{"op":"get","path":"t"}}])", "done", R"(["from template"])", 3},
      {R"([{"emit":1},{"fail":"sink says no"},{"emit":2}])", "error: sink says no", "[1]", 2},
      {R"([5])", "error: unknown test statement 5", "[]", 1},
  };
  for (const auto& c : cases) {
    Outcome o = run(J(c.program), &rules);
    EXPECT_EQ(o.text, c.want) << c.program;
    EXPECT_EQ(o.emitted, c.emitted) << c.program;
    EXPECT_EQ(10'000 - o.left, c.used) << c.program;
  }
}

TEST(ExprRun, TemplatesNeedRules) {
  Outcome o = run(J(R"([{"emit":1},{"$use":"x"}])"), nullptr);
  EXPECT_EQ(o.text, "error: templates need a rule pack");
  EXPECT_EQ(o.emitted, "[1]");
}

TEST(ExprRun, ErrorKinds) {
  Scope s;
  Recorder rec;
  uint64_t budget = 10;
  auto r = zefa::expr::run(J(R"([{"fail":"v"}])"), s, rec, budget, 0);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), (EngineError{ErrorKind::Value, "v"}));  // the sink's error unchanged
  r = zefa::expr::run(J(R"([{"let":"x","value":{"op":"nope"}}])"), s, rec, budget, 0);
  EXPECT_EQ(r.error(), EngineError::from("unknown expression op nope"));
  r = zefa::expr::run(J("{}"), s, rec, budget, 0);
  EXPECT_EQ(r.error(), EngineError::from("rule program must be an array"));
}

TEST(ExprRun, StatementBudgetAndDepth) {
  // 10,001 statements of any kind: the last one finds the budget empty.
  zefa::json::Array many(10'001, J(R"({"let":"x","value":1})"));
  Outcome o = run(Value(many), nullptr);
  EXPECT_EQ(o.text, "error: rule instruction limit exceeded");
  EXPECT_EQ(o.left, 0u);
  many.pop_back();
  EXPECT_EQ(run(Value(many), nullptr).text, "done");

  // A conditional costs 1 and each statement of its branch 1 more.
  EXPECT_EQ(run(J(R"([{"if":1,"then":[{"emit":1},{"emit":2}]}])"), nullptr, 2).text,
            "error: rule instruction limit exceeded");

  // Depth 63 runs; a conditional there fails, even with no branch to run.
  EXPECT_EQ(run(J(R"([{"emit":1}])"), nullptr, 10, 63).text, "done");
  EXPECT_EQ(run(J(R"([{"if":true}])"), nullptr, 10, 63).text, "error: rule nesting limit exceeded");
  EXPECT_EQ(run(J("[]"), nullptr, 10, 64).text, "error: rule nesting limit exceeded");
  EXPECT_EQ(run(J("5"), nullptr, 10, 64).text, "error: rule nesting limit exceeded");

  // A self-using template whose budget runs out first.
  const Value rules = J(R"({"templates":{"loop":[{"$use":"loop"}]}})");
  EXPECT_EQ(run(J(R"([{"$use":"loop"}])"), &rules, 10).text, "error: rule instruction limit exceeded");
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
