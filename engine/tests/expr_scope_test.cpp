#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "expr/scope.hpp"
#include "test_util.hpp"

using zefa::expr::Scope;
using zefa::json::Value;
using zefa::test::J;
namespace expr = zefa::expr;

namespace {

// The result's compact text, or "error: " and the message.
std::string show(const zefa::expr::Eval& r) { return r.ok() ? r.value().dump() : "error: " + r.error(); }

std::string big(size_t n, char c = 'x') { return std::string(n, c); }

// An array literal of n numbers.
Value numbers(size_t n) {
  zefa::json::Array a(n, Value(1));
  return Value(std::move(a));
}

// A value nested `levels` arrays deep around a number.
Value nested(int levels) {
  Value v(1);
  for (int i = 0; i < levels; ++i) v = Value(zefa::json::Array{v});
  return v;
}

}  // namespace

TEST(ExprScope, LiteralsAndOperatorCalls) {
  struct Case {
    const char* expr;
    const char* want;
  } cases[] = {
      {R"({"op":"not","args":[false]})", "true"},
      {R"({"op":5})", R"({"op":5})"},
      {R"({"value":1})", R"({"value":1})"},
      {R"([{"op":"not","args":[false]}])", R"([{"op":"not","args":[false]}])"},
      {R"({"a":{"op":"not"}})", R"({"a":{"op":"not"}})"},
      {"null", "null"},
      {R"("text")", R"("text")"},
      {R"({"op":"NOT","args":[1]})", "error: unknown expression op NOT"},
  };
  for (const auto& c : cases) {
    Scope s;
    EXPECT_EQ(show(s.eval(J(c.expr))), c.want) << c.expr;
    EXPECT_EQ(s.depth, 0u) << c.expr;
  }
}

TEST(ExprScope, EvaluationBudget) {
  Scope s;
  s.nodes = std::numeric_limits<uint64_t>::max();
  const Value call = J(R"({"op":"not","args":[false]})");
  for (int i = 0; i < 1'000'000; ++i) ASSERT_TRUE(s.eval(call).ok()) << i;
  EXPECT_EQ(s.ops, 0u);
  EXPECT_EQ(show(s.eval(call)), "error: rule evaluation limit exceeded");
  // A literal costs no operator evaluation.
  EXPECT_EQ(show(s.eval(J("1"))), "1");
}

TEST(ExprScope, OperatorNesting) {
  // {"op":"not","args":[...]} nested n deep around false.
  auto chain = [](int n) {
    Value v(false);
    for (int i = 0; i < n; ++i) v = Value(zefa::json::Object{{"op", "not"}, {"args", zefa::json::Array{v}}});
    return v;
  };
  Scope s;
  EXPECT_EQ(show(s.eval(chain(64))), "false");
  EXPECT_EQ(s.depth, 0u);
  EXPECT_EQ(show(s.eval(chain(65))), "error: rule nesting limit exceeded");
  EXPECT_EQ(s.depth, 0u);
  // The unit of the refused call stays taken: 64 + 65 calls in all.
  EXPECT_EQ(s.ops, zefa::expr::limits::kOps - 129);
}

TEST(ExprScope, PerValueLimits) {
  struct Case {
    Value v;
    const char* want;
  } cases[] = {
      {Value(big(1'048'576)), "ok"},
      {Value(big(1'048'577)), "error: rule text size limit exceeded"},
      {numbers(99'999), "ok"},
      {numbers(100'000), "error: rule value size limit exceeded"},
      {nested(63), "ok"},
      {nested(64), "error: rule nesting limit exceeded"},
      // Keys count as text but not as nodes.
      {Value(zefa::json::Object{{big(1'048'570), Value(big(6))}}), "ok"},
      {Value(zefa::json::Object{{big(1'048'571), Value(big(6))}}), "error: rule text size limit exceeded"},
  };
  for (const auto& c : cases) {
    Scope s;
    auto r = s.eval(c.v);
    EXPECT_EQ(r.ok() ? "ok" : "error: " + r.error(), c.want);
  }
}

TEST(ExprScope, ScopeAllocationBudget) {
  Scope s;
  const Value literal(big(1'000'000));
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(s.eval(literal).ok()) << i;
  EXPECT_EQ(show(s.eval(literal)), "error: rule allocation limit exceeded");
  // Nodes fitted, bytes did not: the node is taken all the same.
  EXPECT_EQ(s.nodes, zefa::expr::limits::kNodes - 17);
  EXPECT_EQ(s.bytes, zefa::expr::limits::kBytes - 16'000'000);

  Scope t;
  t.nodes = 99'998;
  EXPECT_EQ(show(t.eval(numbers(99'998))), "error: rule allocation limit exceeded");  // 99,999 nodes
  EXPECT_EQ(t.nodes, 99'998u);  // nothing taken when the nodes do not fit
  EXPECT_TRUE(t.eval(numbers(99'997)).ok());
  EXPECT_EQ(t.nodes, 0u);
}

TEST(ExprScope, VisitCountersSaturate) {
  uint64_t nodes = 0, bytes = std::numeric_limits<uint64_t>::max() - 1;
  auto r = zefa::expr::bounded::visit(J(R"(["abc"])"), nodes, bytes, 0);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "rule text size limit exceeded");
  EXPECT_EQ(bytes, std::numeric_limits<uint64_t>::max());
  nodes = std::numeric_limits<uint64_t>::max();
  bytes = 0;
  r = zefa::expr::bounded::visit(J("1"), nodes, bytes, 0);
  EXPECT_EQ(r.error(), "rule value size limit exceeded");
  EXPECT_EQ(nodes, std::numeric_limits<uint64_t>::max());
  // The depth given counts: a scalar at 64 fails.
  nodes = bytes = 0;
  EXPECT_EQ(zefa::expr::bounded::visit(J("1"), nodes, bytes, 64).error(), "rule nesting limit exceeded");
  nodes = bytes = 0;
  ASSERT_TRUE(zefa::expr::bounded::visit(J(R"({"ab":[1,"xyz"]})"), nodes, bytes, 0).ok());
  EXPECT_EQ(nodes, 4u);
  EXPECT_EQ(bytes, 5u);
}

TEST(ExprScope, BindingsShadowAndRestore) {
  const Value ctx = J(R"({"a":1,"b":{"c":2}})");
  const Value rules = J(R"({"x":1})");
  Scope s = Scope().with_fields(ctx).with("rules", rules);
  s.push("a", Value(10));
  ASSERT_NE(s.lookup("a"), nullptr);
  EXPECT_EQ(*s.lookup("a"), Value(10));
  EXPECT_EQ(s.lookup("b"), &ctx["b"]);  // referred to, not copied
  EXPECT_EQ(s.lookup("rules"), &rules);
  EXPECT_EQ(s.lookup("c"), nullptr);
  {
    zefa::expr::Restore r(s);
    s.push("b", Value(5));
    s.push("new", Value(6));
    EXPECT_EQ(*s.lookup("b"), Value(5));
  }
  EXPECT_EQ(s.lookup("new"), nullptr);
  EXPECT_EQ(s.lookup("b"), &ctx["b"]);
  s.truncate(100);  // not longer: nothing happens
  EXPECT_EQ(s.size(), 4u);

  // set: the innermost binding takes the value; a referring one becomes owned.
  s.set("b", Value(7));
  EXPECT_EQ(*s.lookup("b"), Value(7));
  EXPECT_EQ(ctx, J(R"({"a":1,"b":{"c":2}})"));
  s.set("fresh", Value(8));
  EXPECT_EQ(s.size(), 5u);
  s.set("a", Value(9));  // the pushed a, not the context's
  s.truncate(2);
  EXPECT_EQ(*s.lookup("a"), Value(1));

  // Changing in place: a referring binding first becomes an owned copy.
  Scope m = Scope().with_fields(ctx);
  Value* b = m.lookup_mut("b");
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b, &ctx["b"]);
  b->obj_mut().insert_or_assign("d", Value(3));
  EXPECT_EQ(m.lookup("b")->dump(), R"({"c":2,"d":3})");
  EXPECT_EQ(ctx["b"].dump(), R"({"c":2})");
  EXPECT_EQ(m.lookup_mut("zz"), nullptr);

  const Value not_object = J("[1]");
  Scope none = Scope().with_fields(not_object);
  EXPECT_EQ(none.size(), 0u);
}

// The variable index against a plain list scanned from the end, over random
// pushes, sets and cuts with few names (many shadowed bindings).
TEST(ExprScope, BindingIndexMatchesStack) {
  std::mt19937 rng(7);
  Scope s;
  std::vector<std::pair<std::string, int>> model;
  auto model_find = [&](const std::string& n) -> const int* {
    for (auto it = model.rbegin(); it != model.rend(); ++it)
      if (it->first == n) return &it->second;
    return nullptr;
  };
  for (int step = 0; step < 20000; ++step) {
    std::string name = "v" + std::to_string(rng() % 40);
    int op = static_cast<int>(rng() % 10);
    if (op < 5) {
      s.push(name, Value(step));
      model.emplace_back(name, step);
    } else if (op < 7) {
      s.set(name, Value(step));
      if (int* p = const_cast<int*>(model_find(name))) *p = step;
      else model.emplace_back(name, step);
    } else if (op < 8 && !model.empty()) {
      size_t keep = rng() % (model.size() + 1);
      s.truncate(keep);
      model.resize(keep);
    } else {
      const int* want = model_find(name);
      const Value* got = s.lookup(name);
      ASSERT_EQ(got != nullptr, want != nullptr) << step;
      if (want) {
        ASSERT_EQ(*got, Value(*want)) << step;
      }
    }
    ASSERT_EQ(s.size(), model.size());
  }
}

TEST(ExprScope, Assign) {
  struct Case {
    const char* before;  // value of x
    std::vector<std::string> path;
    const char* value;
    const char* after;  // value of x, or the error
  } cases[] = {
      {"5", {"x"}, "null", "null"},
      {R"({"a":1,"b":2,"c":3})", {"x", "a"}, "null", R"({"c":3,"b":2})"},
      {"5", {"x", "a"}, "null", "{}"},
      {R"({"a":3})", {"x", "a", "b"}, "1", R"({"a":{"b":1}})"},
      {R"({"z":0,"a":3,"y":1})", {"x", "a", "b"}, "1", R"({"z":0,"a":{"b":1},"y":1})"},
      {R"({"z":0})", {"x", "a", "b"}, "null", R"({"z":0,"a":{}})"},
      {R"({"a":1})", {"x", "a"}, "2", R"({"a":2})"},
      {R"({"a":1})", {"x", "n"}, "[2]", R"({"a":1,"n":[2]})"},
      {"1", {}, "1", "error: empty assignment path"},
      {"1", {"y", "a"}, "1", "error: unknown assignment target y"},
      {"1", std::vector<std::string>(64, "x"), "1", "ok"},
      {"1", std::vector<std::string>(65, "x"), "1", "error: rule nesting limit exceeded"},
  };
  for (const auto& c : cases) {
    const Value x = J(c.before);
    Scope s = Scope().with("x", x);
    auto r = s.assign(c.path, J(c.value));
    std::string got = r.ok() ? s.lookup("x")->dump() : "error: " + r.error();
    if (std::string(c.after) == "ok") {
      EXPECT_TRUE(r.ok());
    } else {
      EXPECT_EQ(got, c.after) << c.before;
    }
    EXPECT_EQ(x, J(c.before)) << "the referred value stays unchanged";
  }
}

TEST(ExprScope, Feature) {
  struct Case {
    const char* rules;
    int64_t want;
  } cases[] = {
      {R"({"features":{"s":{"k":"2.9"}}})", 2},
      {R"({"features":{"s":{"k":-1.5}}})", -1},
      {R"({"features":{"s":{"k":true}}})", 1},
      {R"({"features":{"s":{"k":"NaN"}}})", 0},
      {R"({"features":{"s":{"k":1e300}}})", std::numeric_limits<int64_t>::max()},
      {R"({"features":{"s":{"k":"-inf"}}})", std::numeric_limits<int64_t>::min()},
      {R"({"features":{"s":[1]}})", 0},
      {R"({"features":5})", 0},
      {"null", 0},
  };
  for (const auto& c : cases) {
    const Value rules = J(c.rules);
    Scope s = Scope().with("rules", rules);
    EXPECT_EQ(s.feature("s", "k"), c.want) << c.rules;
  }
  EXPECT_EQ(Scope().feature("s", "k"), 0);
}

TEST(ExprScope, Index) {
  struct Case {
    const char* container;
    const char* key;
    const char* want;  // nullptr: nothing selected
  } cases[] = {
      {"[10,20]", "1", "20"},
      {"[10,20]", R"("1")", "20"},
      {"[10,20]", R"("+1")", "20"},
      {"[10,20]", R"("01")", "20"},
      {"[10,20]", "1.0", nullptr},
      {"[10,20]", R"("-0")", nullptr},
      {"[10,20]", "2", nullptr},
      {"[10,20]", "-1", nullptr},
      {"[10,20]", R"("+")", nullptr},
      {"[10,20]", R"("")", nullptr},
      {"[10,20]", R"(" 1")", nullptr},
      {"[10,20]", R"("18446744073709551616")", nullptr},
      {"[10,20]", "true", nullptr},
      {R"({"":7})", "0", "7"},
      {R"({"a":1})", R"("a")", "1"},
      {R"({"a":1})", R"("b")", nullptr},
      {R"("abc")", "0", nullptr},
      {"5", R"("a")", nullptr},
  };
  for (const auto& c : cases) {
    const Value container = J(c.container);
    const Value* got = expr::index(container, J(c.key));
    if (!c.want) {
      EXPECT_EQ(got, nullptr) << c.container << " " << c.key;
    } else {
      ASSERT_NE(got, nullptr) << c.container << " " << c.key;
      EXPECT_EQ(*got, J(c.want));
    }
  }
}

TEST(ExprScope, TextForm) {
  struct Case {
    const char* v;
    const char* want;
  } cases[] = {
      {"3.0", "3"},
      {"-0.0", "0"},
      {"1e15", "1000000000000000.0"},
      {"1000000000000000", "1000000000000000"},
      {"999999999999999", "999999999999999"},
      {"-999999999999999.0", "-999999999999999"},
      {"2.5", "2.5"},
      {"1e-7", "1e-7"},
      {"18446744073709551615", "18446744073709551615"},
      {"true", "true"},
      {"false", "false"},
      {"null", ""},
      {R"("a b")", "a b"},
      {"[1, 2]", "[1,2]"},
      {R"({"a": "x"})", R"({"a":"x"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(expr::text(J(c.v)), c.want) << c.v;
}

TEST(ExprScope, HexInts) {
  struct Case {
    const char* v;
    uint64_t digits, count;
    const char* want;
  } cases[] = {
      {R"("0a0B")", 2, 2, "[10,11]"},
      {R"("0a0")", 2, 2, "null"},
      {R"("0a\u00e9")", 2, 2, "null"},
      {R"("")", 2, 0, "[]"},
      {R"("")", 0, 0, "[]"},
      {R"("")", 0, 5, "null"},
      {R"("+f0a")", 2, 2, "[15,10]"},
      {R"("-1")", 2, 1, "null"},
      {R"("ffffffffffffffff")", 16, 1, "[18446744073709551615]"},
      {R"("10000000000000000")", 17, 1, "null"},
      {R"("0g")", 1, 2, "null"},
      {R"("ab")", 1ull << 63, 2, "null"},  // the product does not fit
      {"12", 2, 1, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(expr::hex_ints(J(c.v), c.digits, c.count).dump(), c.want) << c.v;
}

TEST(ExprScope, SplitPath) {
  struct Case {
    const char* path;
    std::vector<std::string> want;
  } cases[] = {
      {"a.b", {"a", "b"}},
      {"", {""}},
      {"a..b", {"a", "", "b"}},
      {"a.", {"a", ""}},
      {".", {"", ""}},
      {"abc", {"abc"}},
  };
  for (const auto& c : cases) EXPECT_EQ(expr::split_path(c.path), c.want) << c.path;
}

