// Shapes read once per node: an expression or program met for the first
// time, compiled on the second meeting and found in the thread's cache on
// the third must give the same result, the same failure and take the same
// budgets; and no change or release of a value may let an old shape answer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "expr/compiled.hpp"
#include "expr/run.hpp"
#include "test_util.hpp"

using zefa::Result;
using zefa::expr::Scope;
using zefa::json::Array;
using zefa::json::Object;
using zefa::json::Value;
using zefa::test::J;

namespace {

// Everything an evaluation leaves behind, as one text.
std::string outcome(const Scope& s, const zefa::expr::Eval& r, size_t vars) {
  return (r.ok() ? r.value().dump() : "error: " + r.error()) + " ops " + std::to_string(s.ops) + " nodes " +
         std::to_string(s.nodes) + " bytes " + std::to_string(s.bytes) + " vars " +
         std::to_string(s.size() - vars) + " depth " + std::to_string(s.depth);
}

// Budget variants: the full budgets, then each cut to half of what the full
// evaluation took, so that limits strike in the middle of it.
struct Budgets {
  uint64_t ops, nodes, bytes;
};

// `expr` three times over fresh scopes of the same budgets: first sight,
// compiled, cached. Returns the first outcome; the others must equal it.
std::string thrice(const Value& expr, const Value& scope, const Value& ctx, const Budgets& b) {
  std::string first;
  for (int pass = 0; pass < 3; ++pass) {
    Scope s = Scope(scope["functions"]).with_fields(ctx);
    if (scope.find("rules")) s.with("rules", scope["rules"]);
    s.ops = b.ops, s.nodes = b.nodes, s.bytes = b.bytes;
    const size_t vars = s.size();
    const std::string got = outcome(s, s.eval(expr), vars);
    if (pass == 0) first = got;
    EXPECT_EQ(got, first) << "pass " << pass;
  }
  return first;
}

void agree(const Value& expr, const Value& scope, const Value& ctx) {
  namespace limits = zefa::expr::limits;
  const Budgets full{limits::kOps, limits::kNodes, limits::kBytes};
  // A copy made of fresh nodes is met for the first time again.
  thrice(J(expr.dump()), scope, ctx, full);
  Scope probe = Scope(scope["functions"]).with_fields(ctx);
  if (scope.find("rules")) probe.with("rules", scope["rules"]);
  (void)probe.eval(expr);
  const Budgets cut[] = {
      {(limits::kOps - probe.ops) / 2, full.nodes, full.bytes},
      {full.ops, (limits::kNodes - probe.nodes) / 2, full.bytes},
      {full.ops, full.nodes, (limits::kBytes - probe.bytes) / 2},
  };
  for (const Budgets& b : cut) thrice(J(expr.dump()), scope, ctx, b);
}

// {"emit": expression} records the value, {"stop": true} stops, anything
// else fails with its text.
class Emits : public zefa::expr::Effects {
 public:
  Array emitted;
  Result<bool> exec(const Value& st, Scope& scope) override {
    if (const Value* e = st.find("emit")) {
      auto v = scope.eval(*e);
      if (!v.ok()) return zefa::fail(v.error());
      emitted.push_back(v.value());
      return false;
    }
    if (st.find("stop")) return true;
    return zefa::fail(st.dump());
  }
};

std::string run_outcome(const Value& program, const Value& rules, uint64_t budget, uint64_t depth) {
  Scope s;
  if (!rules.is_null()) s.with("rules", rules);
  Emits sink;
  auto r = zefa::expr::run(program, s, sink, budget, depth);
  return (!r.ok() ? "error: " + r.error().message : r.value() ? "stopped" : "done") + " emitted " +
         Value(sink.emitted).dump() + " left " + std::to_string(budget) + " ops " + std::to_string(s.ops);
}

Value numbers(size_t n) { return Value(Array(n, Value(1))); }
Value nested(int levels) {
  Value v(1);
  for (int i = 0; i < levels; ++i) v = Value(Array{v});
  return v;
}
Value call(const char* op, Array args) { return Value(Object{{"op", op}, {"args", Value(std::move(args))}}); }

}  // namespace

TEST(ExprCompiled, OperatorCasesAgreeOnEveryPass) {
  const Value ops_scope = zefa::test::load("expr_ops_scope.json");
  const Value data_scope = J(R"({"context": {"obj": {"b": 1, "a": 2}, "arr": [10, 20]}})");
  for (const char* file : {"cases/expr_ops.json", "cases/expr_data_ops.json"}) {
    const Value& scope = std::string_view(file) == "cases/expr_ops.json" ? ops_scope : data_scope;
    const Value groups = zefa::test::load(file);
    for (const Value& group : groups.arr())
      for (const Value& c : group["cases"].arr()) {
        SCOPED_TRACE(std::string(file) + " " + group["fn"].dump() + ": " + c[0].dump().substr(0, 200));
        agree(c[0], scope, scope["context"]);
      }
  }
  EXPECT_GT(zefa::expr::detail::cached_shapes(), 0u);
}

// Literals inside a compiled expression are measured once; what they are
// charged, and how they fail, stays that of a literal evaluated plainly.
TEST(ExprCompiled, MeasuredLiteralsChargeAsBefore) {
  const Value none = J("{}");
  const Value tpl = call("some", {Value(std::string(1'000'000, 't'))});
  const Value exprs[] = {
      call("some", {numbers(99'999)}),
      call("some", {numbers(100'000)}),
      call("some", {nested(63)}),
      call("some", {nested(64)}),
      call("some", {Value(std::string(1'048'576, 'x'))}),
      call("some", {Value(std::string(1'048'577, 'x'))}),
      call("list", Array(17, tpl)),
      J(R"({"op":"if","condition":{"op":"len","args":[[1,2]]},"then":{"k":[1,{"op":"x"}]},"else":5})"),
      J(R"({"op":"map","args":[[1,2,3]],"as":"v","do":{"op":"get","path":["v"]}})"),
      J(R"({"op":"get","path":"a.b.c.d.e.f.g.h.i.j.k.l.m.n.o.p.q.r","default":{"op":"literal","value":{"op":"x"}}})"),
  };
  for (const Value& e : exprs) {
    SCOPED_TRACE(e.dump().substr(0, 200));
    agree(e, none, none);
  }
}

TEST(ExprCompiled, ProgramCasesAgreeOnEveryPass) {
  const Value rules = zefa::test::load("expr_run_rules.json");
  const Value groups = zefa::test::load("cases/expr_run.json");
  for (const Value& group : groups.arr()) {
    const bool own_rules = group["fn"].str() != "without_rules";
    for (const Value& c : group["cases"].arr()) {
      SCOPED_TRACE(c[0].dump());
      const uint64_t depth = group["fn"].str() == "limited" ? c[2].as_u64() : 0;
      for (uint64_t budget : {uint64_t{10'000}, uint64_t{3}, uint64_t{1}}) {
        const Value program = J(c[0].dump());
        const std::string first = run_outcome(program, own_rules ? rules : Value(), budget, depth);
        for (int pass = 1; pass < 3; ++pass)
          EXPECT_EQ(run_outcome(program, own_rules ? rules : Value(), budget, depth), first) << "pass " << pass;
      }
    }
  }
}

// Expressions built, evaluated and released one after another: their nodes'
// addresses come back for other expressions, which must never be answered
// with a shape of an earlier one.
TEST(ExprCompiled, ReleasedNodesNeverAnswerForNewOnes) {
  for (int i = 0; i < 3'000; ++i) {
    const Value e = J(R"({"op":"add","args":[)" + std::to_string(i) + ",1]}");
    for (int pass = 0; pass < 3; ++pass) {
      Scope s;
      auto r = s.eval(e);
      ASSERT_TRUE(r.ok());
      ASSERT_EQ(r.value(), Value(i + 1)) << "pass " << pass;
    }
  }
  // The cache holds a bounded number of shapes whatever went through it.
  EXPECT_LE(zefa::expr::detail::cached_shapes(), 1024u);
}

// A value changed after its shape was kept is a new node: the change counts.
TEST(ExprCompiled, ChangedValuesAreReadAgain) {
  Value e = J(R"({"op":"add","args":[1,2]})");
  Value program = J(R"([{"emit":1}])");
  for (int pass = 0; pass < 3; ++pass) {
    Scope s;
    EXPECT_EQ(s.eval(e).value(), Value(3));
    EXPECT_EQ(run_outcome(program, Value(), 10, 0), "done emitted [1] left 9 ops 1000000");
  }
  e.obj_mut().insert_or_assign("op", Value("mul"));
  program.arr_mut().push_back(J(R"({"emit":2})"));
  Scope s;
  EXPECT_EQ(s.eval(e).value(), Value(2));
  EXPECT_EQ(run_outcome(program, Value(), 10, 0), "done emitted [1,2] left 8 ops 1000000");
}

// Threads evaluate one rule pack at once, each with a cache of its own, while
// short-lived threads come and go (their caches released with them).
TEST(ExprCompiledConcurrency, ThreadsShareOnePackWhileOthersComeAndGo) {
  const Value rules = J(R"({"functions":{"scale":{"params":["x"],"body":{"op":"mul","args":[{"op":"get","path":"x"},3]}}},
      "templates":{"t":[{"emit":{"op":"filter","args":[{"op":"get","path":"xs"}],
                                 "do":{"op":"gt","args":[{"op":"get","path":"item"},7]}}}]}})");
  const Value ctx = J(R"({"xs":[1,2,3,4,5,6,7,8,9,10]})");
  const Value program = J(R"([{"let":"n","value":{"op":"count","args":[{"op":"get","path":"xs"}],"do":true}},
      {"emit":{"op":"map","args":[{"op":"get","path":"xs"}],
               "do":{"op":"call","fn":"scale","args":[{"op":"get","path":"item"}]}}},
      {"$use":"t"},
      {"emit":{"op":"get","path":"n"}}])");
  auto once = [&] {
    Scope s = Scope(rules["functions"]).with_fields(ctx).with("rules", rules);
    Emits sink;
    uint64_t budget = 100;
    auto r = zefa::expr::run(program, s, sink, budget, 0);
    return r.ok() ? Value(sink.emitted).dump() : r.error().message;
  };
  const std::string want = "[[3,6,9,12,15,18,21,24,27,30],[8,9,10],10]";
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) bad += once() != want;
    });
  for (int round = 0; round < 20; ++round) {
    std::thread([&, round] {
      for (int i = 0; i < 3; ++i) bad += once() != want;
      const Value e = J(R"({"op":"add","args":[)" + std::to_string(round) + ",1]}");
      for (int i = 0; i < 3; ++i) bad += !(Scope().eval(e).value() == Value(round + 1));
    }).join();
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(once(), want);
}
