#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "expr/scope.hpp"
#include "fn_cases.hpp"

using zefa::expr::Scope;
using zefa::json::Value;
using zefa::test::J;
namespace expr = zefa::expr;

// The scope's helpers, from their function table.
TEST(ExprScope, Cases) {
  using zefa::test::Args;
  zefa::test::run_cases("expr_scope.json", {
      {"index", [](const Args& a) {
         const Value* got = expr::index(a[0], a[1]);
         return got ? Value(zefa::json::Array{*got}) : Value::array();
       }},
      {"text", [](const Args& a) { return Value(expr::text(a[0])); }},
      {"hex_ints", [](const Args& a) { return expr::hex_ints(a[0], a[1].as_u64(), a[2].as_u64()); }},
      {"split_path", [](const Args& a) {
         zefa::json::Array out;
         for (const std::string& s : expr::split_path(a[0].str())) out.emplace_back(s);
         return Value(std::move(out));
       }},
      {"assign", [](const Args& a) {
         const std::string before = a[0].dump();
         Scope s = Scope().with("x", a[0]);
         std::vector<std::string> path;
         for (const Value& p : a[1].arr()) path.emplace_back(p.str());
         auto r = s.assign(path, a[2]);
         if (a[0].dump() != before) return Value("the bound value changed");
         return zefa::test::outcome(r, [&](const auto&) { return *s.lookup("x"); });
       }},
      {"feature", [](const Args& a) {
         Scope s;
         if (!a.empty()) s.with("rules", a[0]);
         return Value(s.feature("s", "k"));
       }},
  });
}

// Measuring counters saturate instead of overflowing.
TEST(ExprScope, VisitCountersSaturate) {
  uint64_t nodes = 0, bytes = std::numeric_limits<uint64_t>::max() - 1;
  auto r = expr::bounded::visit(J(R"(["abc"])"), nodes, bytes, 0);
  EXPECT_EQ(r.error(), "rule text size limit exceeded");
  EXPECT_EQ(bytes, std::numeric_limits<uint64_t>::max());
  nodes = std::numeric_limits<uint64_t>::max();
  bytes = 0;
  EXPECT_EQ(expr::bounded::visit(J("1"), nodes, bytes, 0).error(), "rule value size limit exceeded");
  EXPECT_EQ(nodes, std::numeric_limits<uint64_t>::max());
  nodes = bytes = 0;  // the depth given counts: a scalar at 64 fails
  EXPECT_EQ(expr::bounded::visit(J("1"), nodes, bytes, 64).error(), "rule nesting limit exceeded");
  nodes = bytes = 0;
  ASSERT_TRUE(expr::bounded::visit(J(R"({"ab":[1,"xyz"]})"), nodes, bytes, 0).ok());
  EXPECT_EQ(nodes, 4u);
  EXPECT_EQ(bytes, 5u);
}

// Bindings refer to the context and rule pack until changed; shared values are never written through.
TEST(ExprScope, BindingsReferUntilChanged) {
  const Value ctx = J(R"({"a":1,"b":{"c":2}})");
  const Value rules = J(R"({"x":1})");
  Scope s = Scope().with_fields(ctx).with("rules", rules);
  EXPECT_EQ(s.lookup("b"), &ctx["b"]);
  EXPECT_EQ(s.lookup("rules"), &rules);
  {
    expr::Restore r(s);
    s.push("b", Value(5));
    s.push("new", Value(6));
  }
  EXPECT_EQ(s.lookup("new"), nullptr);
  EXPECT_EQ(s.lookup("b"), &ctx["b"]);
  s.truncate(100);  // not longer: nothing happens
  EXPECT_EQ(s.size(), 3u);
  s.set("b", Value(7));
  EXPECT_EQ(s.lookup("b")->dump(), "7");
  Value* a = s.lookup_mut("a");
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, &ctx["a"]);
  *a = Value(3);
  EXPECT_EQ(s.lookup("a")->dump(), "3");
  EXPECT_EQ(ctx, J(R"({"a":1,"b":{"c":2}})"));
  EXPECT_EQ(s.lookup_mut("zz"), nullptr);
  EXPECT_EQ(Scope().with_fields(rules["x"]).size(), 0u);  // not an object: binds nothing
}

// The variable index against a list scanned from the end, over random pushes, sets and cuts.
TEST(ExprScope, BindingIndexMatchesStack) {
  std::mt19937 rng(7);
  Scope s;
  std::vector<std::pair<std::string, int>> model;
  auto model_find = [&](const std::string& n) -> int* {
    for (auto it = model.rbegin(); it != model.rend(); ++it)
      if (it->first == n) return &it->second;
    return nullptr;
  };
  for (int step = 0; step < 20000; ++step) {
    std::string name = "v" + std::to_string(rng() % 40);
    const unsigned op = rng() % 10;
    if (op < 5) {
      s.push(name, Value(step));
      model.emplace_back(name, step);
    } else if (op < 7) {
      s.set(name, Value(step));
      if (int* p = model_find(name)) *p = step;
      else model.emplace_back(name, step);
    } else if (op < 8 && !model.empty()) {
      size_t keep = rng() % (model.size() + 1);
      s.truncate(keep);
      model.resize(keep);
    } else {
      const int* want = model_find(name);
      const Value* got = s.lookup(name);
      ASSERT_EQ(got ? got->dump() : "unbound", want ? std::to_string(*want) : "unbound") << step;
    }
    ASSERT_EQ(s.size(), model.size());
  }
}
