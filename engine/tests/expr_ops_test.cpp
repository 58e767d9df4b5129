// The operator case tables; every case must leave the scope's bindings and nesting as it found them.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "expr/scope.hpp"
#include "fn_cases.hpp"

using zefa::expr::Scope;
using zefa::json::Array;
using zefa::json::Object;
using zefa::json::Value;
using zefa::test::Args;
namespace limits = zefa::expr::limits;

namespace {

// "eval" gives the result, "size" its length, "spent" [result, the budgets named].
zefa::test::CaseFns evaluators(Value scope) {
  auto run = [scope](const Value& expr, const auto& show) {
    Scope s = Scope(scope["functions"]).with_fields(scope["context"]);
    if (scope.find("rules")) s.with("rules", scope["rules"]);
    const size_t vars = s.size();
    auto r = s.eval(expr);
    if (s.size() != vars || s.depth != 0) return Value("scope not restored");
    return show(r, s);
  };
  auto outcome = [](const zefa::expr::Eval& r) {
    return zefa::test::outcome(r, [](const Value& v) { return v; });
  };
  return {
      {"eval", [=](const Args& a) { return run(a[0], [&](const auto& r, const Scope&) { return outcome(r); }); }},
      {"size", [=](const Args& a) {
         return run(a[0], [&](const auto& r, const Scope&) {
           if (!r.ok()) return outcome(r);
           return Value(static_cast<uint64_t>(r.value().is_string() ? r.value().str().size() : r.value().size()));
         });
       }},
      {"spent", [=](const Args& a) {
         return run(a[0], [&](const auto& r, const Scope& s) {
           const std::pair<const char*, uint64_t> spent[] = {
               {"ops", limits::kOps - s.ops}, {"nodes", limits::kNodes - s.nodes}, {"bytes", limits::kBytes - s.bytes}};
           Object took;
           for (const Value& name : a[1].arr())
             for (const auto& [n, v] : spent)
               if (name.str() == n) took.insert_or_assign(n, Value(v));
           return Value(Array{outcome(r), Value(std::move(took))});
         });
       }},
  };
}

// The values of expr_limits.json, too big to write down.
Value big_context() {
  auto numbers = [](size_t n) {
    Array a;
    for (size_t i = 0; i < n; ++i) a.emplace_back(i % 7);
    return Value(std::move(a));
  };
  Value deep(1);
  for (int i = 0; i < 63; ++i) deep = Value(Array{deep});  // 64 levels: fits exactly
  Object wide;
  for (int i = 0; i < 40'000; ++i) wide.insert_or_assign("k" + std::to_string(i), Value(i));
  return Value(Object{{"a", numbers(59'999)},
                      {"b", numbers(59'999)},
                      {"a39999", numbers(39'999)},
                      {"short", std::string(1024, 'a')},
                      {"rep", std::string(1025, 'b')},
                      {"rep_fit", std::string(1024, 'b')},
                      {"half", std::string(524'288, 'h')},
                      {"zeros", std::string(100'000, '0')},
                      {"fs", std::string(99'999, 'f')},
                      {"deep", deep},
                      {"wide", Value(std::move(wide))},
                      {"text", Array{Value(std::string(600'000, 't'))}},
                      {"nested_member", Object{{"k", deep[0]}}}});
}

}  // namespace

TEST(ExprOps, Cases) {
  zefa::test::run_cases("expr_ops.json", evaluators(zefa::test::load("expr_ops_scope.json")));
}
TEST(ExprDataOps, Cases) { zefa::test::run_cases("expr_data_ops.json", evaluators(Value(Object{}))); }
TEST(ExprDataOps, Limits) { zefa::test::run_cases("expr_limits.json", evaluators(Value(Object{{"context", big_context()}}))); }
