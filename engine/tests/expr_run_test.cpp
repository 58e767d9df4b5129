// The statement interpreter: the program table, compiled and cached passes, shared rule packs.
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
using zefa::json::Array;
using zefa::json::Value;
using zefa::test::J;

namespace {

// Test statements: "emit" records a value, "stop" stops, "fail" fails.
class Recorder : public zefa::expr::Effects {
 public:
  Array emitted;
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

struct Ran {
  Value outcome;  // "done", "stopped" or {"error": message}
  Value emitted;
  uint64_t used = 0;
  int kind = -1;
  uint64_t ops = 0;  // operator evaluations left
};

Ran run(const Value& program, const Value& rules, uint64_t budget = 10'000, uint64_t depth = 0) {
  Scope s;
  if (!rules.is_null()) s.with("rules", rules);
  Recorder rec;
  uint64_t left = budget;
  auto r = zefa::expr::run(program, s, rec, left, depth);
  Ran out{r.ok() ? Value(r.value() ? "stopped" : "done")
                 : Value(zefa::json::Object{{"error", Value(r.error().message)}}),
          Value(rec.emitted), budget - left, -1, s.ops};
  if (!r.ok()) out.kind = static_cast<int>(r.error().kind);
  return out;
}

// A rule pack and context shared by reference by every thread's scope.
struct SharedPack {
  const Value rules = J(R"({"features":{"f":{"a":1,"b":2}},
      "templates":{"t":[{"emit":{"op":"filter","args":[{"op":"get","path":"xs"}],
                                 "do":{"op":"gt","args":[{"op":"get","path":"item"},7]}}}]},
      "functions":{"twice":{"params":["x"],"body":{"op":"mul","args":[{"op":"get","path":"x"},2]}}}})");
  const Value ctx = J(R"({"xs":[1,2,3,4,5,6,7,8,9,10],"name":"a shared context text longer than inline"})");
  const Value program = J(R"([{"let":"n","value":{"op":"flags","table":"f","when":{"a":true,"b":true}}},
      {"emit":{"op":"map","args":[{"op":"get","path":"xs"}],
               "do":{"op":"call","fn":"twice","args":[{"op":"get","path":"item"}]}}},
      {"$use":"t"},
      {"emit":{"op":"get","path":"name"}},
      {"emit":{"op":"get","path":"n"}}])");
  // Whether one run on a scope of its own emits what it must.
  bool once() const {
    Scope s = Scope(rules["functions"]).with_fields(ctx).with("rules", rules);
    Recorder rec;
    uint64_t budget = 100;
    auto r = zefa::expr::run(program, s, rec, budget, 0);
    return r.ok() && Value(rec.emitted).dump() ==
                         R"([[2,4,6,8,10,12,14,16,18,20],[8,9,10],"a shared context text longer than inline",3])";
  }
};

}  // namespace

TEST(ExprRun, Cases) {
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
  });
}

// Every program case, under full and nearly empty budgets, agrees on first sight, compiled and cached.
TEST(ExprCompiled, ProgramCasesAgreeOnEveryPass) {
  const Value rules = zefa::test::load("expr_run_rules.json");
  const Value groups = zefa::test::load("cases/expr_run.json");
  for (const Value& group : groups.arr()) {
    const Value pack = group["fn"].str() == "without_rules" ? Value() : rules;
    for (const Value& c : group["cases"].arr()) {
      SCOPED_TRACE(c[0].dump());
      const uint64_t depth = group["fn"].str() == "limited" ? c[2].as_u64() : 0;
      for (uint64_t budget : {uint64_t{10'000}, uint64_t{3}, uint64_t{1}}) {
        const Value program = J(c[0].dump());  // fresh nodes, never met before
        std::string first;
        for (int pass = 0; pass < 3; ++pass) {
          const Ran r = run(program, pack, budget, depth);
          const std::string got = Value(Array{r.outcome, r.emitted, Value(r.used), Value(r.ops)}).dump();
          if (pass == 0) first = got;
          EXPECT_EQ(got, first) << "pass " << pass;
        }
      }
    }
  }
}

// A value changed after its shape was kept is a new node: the change counts.
TEST(ExprCompiled, ChangedValuesAreReadAgain) {
  Value e = J(R"({"op":"add","args":[1,2]})");
  Value program = J(R"([{"emit":1}])");
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_EQ(Scope().eval(e).value(), Value(3));
    EXPECT_EQ(run(program, Value()).emitted.dump(), "[1]");
  }
  e.obj_mut().insert_or_assign("op", Value("mul"));
  program.arr_mut().push_back(J(R"({"emit":2})"));
  EXPECT_EQ(Scope().eval(e).value(), Value(2));
  EXPECT_EQ(run(program, Value()).emitted.dump(), "[1,2]");
}

// A template that rebinds "rules" while it runs keeps running: must not fault.
TEST(ExprRun, ProgramOutlivesItsBinding) {
  Scope s;
  s.push("rules", J(R"({"templates":{"t":[{"let":"rules","value":null},{"emit":"still here"},{"emit":"and here"}]}})"));
  Recorder rec;
  uint64_t budget = 100;
  auto r = zefa::expr::run(J(R"([{"$use":"t"}])"), s, rec, budget, 0);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(Value(rec.emitted).dump(), R"(["still here","and here"])");
}

// Scopes on several threads share one rule pack and context by reference.
TEST(ExprConcurrency, SharedRulePackAcrossThreads) {
  const SharedPack pack;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) good += pack.once();
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(good.load(), 800);
}

// The same while short-lived threads, each with its own shape cache, come and go.
TEST(ExprCompiledConcurrency, ThreadsShareOnePackWhileOthersComeAndGo) {
  const SharedPack pack;
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) bad += !pack.once();
    });
  for (int round = 0; round < 20; ++round) {
    std::thread([&, round] {
      for (int i = 0; i < 3; ++i) bad += !pack.once();
      const Value e = J(R"({"op":"add","args":[)" + std::to_string(round) + ",1]}");
      for (int i = 0; i < 3; ++i) bad += !(Scope().eval(e).value() == Value(round + 1));
    }).join();
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_TRUE(pack.once());
}
