// Runs the operator case files (data/cases/expr_*.json). Each case evaluates
// "expr" in a fresh scope over the file's "scope" and expects the result
// "want" (as compact text), the failure "error", or, with neither, success;
// "size" is the result's length, "spent" the budgets it took. Every case
// leaves the scope's bindings and nesting as it found them.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "expr/scope.hpp"
#include "test_util.hpp"

using zefa::expr::Scope;
using zefa::json::Array;
using zefa::json::Object;
using zefa::json::Value;
namespace limits = zefa::expr::limits;

namespace {

void run_cases(const char* file, const Value& generated = Value()) {
  const Value data = zefa::test::load(std::string("cases/") + file);
  const Value& scope = data["scope"];
  const Value& ctx = generated.is_null() ? scope["context"] : generated;
  for (const auto& group : data["groups"].obj()) {
    for (const Value& c : group.value.arr()) {
      SCOPED_TRACE(std::string(group.name()) + ": " + c["expr"].dump().substr(0, 200));
      Scope s = Scope(scope["functions"]).with_fields(ctx);
      if (scope.find("rules")) s.with("rules", scope["rules"]);
      const size_t vars = s.size();
      auto r = s.eval(c["expr"]);
      const std::string want = c.find("error") ? "error: " + std::string(c["error"].str())
                               : c.find("want") ? c["want"].dump()
                                                : "ok";
      EXPECT_EQ(!r.ok() ? "error: " + r.error() : c.find("want") ? r.value().dump() : "ok", want);
      EXPECT_EQ(s.size(), vars);
      EXPECT_EQ(s.depth, 0u);
      if (const Value* size = c.find("size"); size && r.ok()) {
        EXPECT_EQ(r.value().is_string() ? r.value().str().size() : r.value().size(), size->as_u64());
      }
      const std::pair<const char*, uint64_t> spent[] = {
          {"ops", limits::kOps - s.ops}, {"nodes", limits::kNodes - s.nodes}, {"bytes", limits::kBytes - s.bytes}};
      for (const auto& [name, n] : spent) {
        if (const Value* w = c["spent"].find(name)) {
          EXPECT_EQ(n, w->as_u64()) << name;
        }
      }
    }
  }
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
                      {"zeros_bad", std::string(99'999, '0') + "g"},
                      {"fs", std::string(99'999, 'f')},
                      {"deep", deep},
                      {"wide", Value(std::move(wide))},
                      {"text", Array{Value(std::string(600'000, 't'))}},
                      {"nested_member", Object{{"k", deep[0]}}}});
}

}  // namespace

TEST(ExprOps, Cases) { run_cases("expr_ops.json"); }
TEST(ExprDataOps, Cases) { run_cases("expr_data_ops.json"); }
TEST(ExprDataOps, Limits) { run_cases("expr_limits.json", big_context()); }
