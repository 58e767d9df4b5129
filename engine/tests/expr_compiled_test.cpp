// Expressions first met, compiled and cached agree in result, failure and budgets;
// released values never let an old shape answer.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "expr/compiled.hpp"
#include "expr/scope.hpp"
#include "test_util.hpp"

using zefa::expr::Scope;
using zefa::json::Array;
using zefa::json::Object;
using zefa::json::Value;
using zefa::test::J;

namespace {

struct Budgets {
  uint64_t ops, nodes, bytes;
};

// `expr` over three fresh scopes of budgets `b`: first sight, compiled, cached.
void thrice(const Value& expr, const Value& scope, const Value& ctx, const Budgets& b) {
  std::string first;
  for (int pass = 0; pass < 3; ++pass) {
    Scope s = Scope(scope["functions"]).with_fields(ctx);
    if (scope.find("rules")) s.with("rules", scope["rules"]);
    s.ops = b.ops, s.nodes = b.nodes, s.bytes = b.bytes;
    const size_t vars = s.size();
    const auto r = s.eval(expr);
    const std::string got = (r.ok() ? r.value().dump() : "error: " + r.error()) + " ops " + std::to_string(s.ops) +
                            " nodes " + std::to_string(s.nodes) + " bytes " + std::to_string(s.bytes) + " vars " +
                            std::to_string(s.size() - vars) + " depth " + std::to_string(s.depth);
    if (pass == 0) first = got;
    EXPECT_EQ(got, first) << "pass " << pass;
  }
}

// Fresh copies (never met before) under the full budgets, then each cut to half of what they took.
void agree(const Value& expr, const Value& scope, const Value& ctx) {
  namespace limits = zefa::expr::limits;
  const Budgets full{limits::kOps, limits::kNodes, limits::kBytes};
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
  const Value data_scope = J("{}");
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

// Literals inside a compiled expression are charged and fail as when evaluated plainly.
TEST(ExprCompiled, MeasuredLiteralsChargeAsBefore) {
  const Value none = J("{}");
  // Values at the per-value limits; keys count as text but not as nodes.
  const std::pair<Value, const char*> values[] = {
      {Value(std::string(1'048'576, 'x')), "ok"},
      {Value(std::string(1'048'577, 'x')), "error: rule text size limit exceeded"},
      {numbers(99'999), "ok"},
      {numbers(100'000), "error: rule value size limit exceeded"},
      {nested(63), "ok"},
      {nested(64), "error: rule nesting limit exceeded"},
      {Value(Object{{std::string(1'048'570, 'k'), std::string(6, 'x')}}), "ok"},
      {Value(Object{{std::string(1'048'571, 'k'), std::string(6, 'x')}}), "error: rule text size limit exceeded"},
  };
  for (const auto& [v, want] : values) {
    SCOPED_TRACE(want);
    Scope s;
    auto r = s.eval(v);
    EXPECT_EQ(r.ok() ? "ok" : "error: " + r.error(), want);
    agree(call("some", {v}), none, none);
  }
  const Value tpl = call("some", {Value(std::string(1'000'000, 't'))});
  const Value exprs[] = {
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

// Released nodes' addresses come back for new expressions, never answered with an old shape.
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
  EXPECT_LE(zefa::expr::detail::cached_shapes(), 1024u);
}
