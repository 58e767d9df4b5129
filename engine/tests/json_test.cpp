#include "json.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "fn_cases.hpp"

using zefa::json::Object;
using zefa::json::Value;
using zefa::test::Args;

namespace {

std::string parse_text(std::string_view text) {
  auto v = zefa::json::parse(text);
  return v ? v->dump() : v.error().to_string();
}

// [op, key, value] edits on a copy: the result, "original changed", or the first member lost from its place.
Value edit_object(const Value& start, const Value& ops) {
  const std::string before = start.dump();
  Value v = start;
  Object& o = v.obj_mut();
  for (const Value& op : ops.arr()) {
    std::string_view name = op[0].str(), key = op[1].str();
    Value taken;
    if (name == "set") o.insert_or_assign(key, op[2]);
    else if (name == "erase") o.erase(key);
    else if (name == "take") o.take(key, taken);
    else o.erase_ordered(key);
  }
  for (size_t i = 0; i < o.size(); ++i)
    if (o.index_of(o.at(i).name()) != i || o.find(o.at(i).name()) != &o.at(i).value)
      return Value("lost " + std::string(o.at(i).name()));
  return start.dump() == before ? v : Value("original changed");
}

Value edit_array(Value v, const Value& ops) {
  zefa::json::Array& a = v.arr_mut();
  for (const Value& op : ops.arr()) {
    std::string_view name = op[0].str();
    if (name == "push") a.push_back(op[1]);
    else if (name == "insert") a.insert(a.begin() + op[1].as_u64(), op[2]);
    else if (name == "erase") a.erase(a.begin() + op[1].as_u64(), a.begin() + op[2].as_u64());
    else if (name == "pop") a.pop_back();
    else a.resize(op[1].as_u64());
  }
  return v;
}

}  // namespace

TEST(JsonText, Cases) {
  zefa::test::run_cases("json_text.json", {
      {"parse", [](const Args& a) { return Value(parse_text(a[0].str())); }},
      {"equal", [](const Args& a) { return Value(a[0] == a[1]); }},
      {"pointer", [](const Args& a) { const Value* p = a[0].pointer(a[1].str()); return p ? *p : Value(); }},
      {"utf8", [](const Args& a) { return Value(zefa::json::valid_utf8(zefa::test::bytes(a[0]))); }},
      {"edit", [](const Args& a) { return edit_object(a[0], a[1]); }},
      {"array", [](const Args& a) { return edit_array(a[0], a[1]); }},
  });
  for (double d : {NAN, INFINITY, -INFINITY}) EXPECT_EQ(Value(d).dump(), "null");
}

TEST(JsonParse, NestingLimit) {
  std::string ok = std::string(128, '[') + std::string(128, ']');
  EXPECT_EQ(parse_text(ok), ok);
  EXPECT_EQ(parse_text(std::string(129, '[') + std::string(129, ']')), "recursion limit exceeded at line 1 column 129");
  std::string objs;
  for (int i = 0; i < 129; ++i) objs += "{\"a\":";
  EXPECT_EQ(parse_text(objs).substr(0, 24), "recursion limit exceeded");
  // 100 MB of '[' is refused at the limit, without reading on.
  EXPECT_EQ(parse_text(std::string(100u << 20, '[')), "recursion limit exceeded at line 1 column 129");
}

// The depth a parse reports is the value's own, so dispatch may trust it.
TEST(JsonParse, ReportsDepth) {
  for (std::string_view text : {"1", "[]", "{\"a\":[1,{\"b\":{}}],\"c\":[]}", "[[[]],[[[{}]]]]", "\"[[\""}) {
    int depth = -1;
    auto v = zefa::json::parse(text, zefa::json::kMaxDepth, &depth);
    ASSERT_TRUE(v) << text;
    EXPECT_EQ(depth, v->depth()) << text;
  }
}

TEST(JsonWrite, RandomDoublesRoundTrip) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, 8);
    if (!std::isfinite(d)) continue;
    std::string text;
    zefa::json::write_double(d, text);
    auto back = zefa::json::parse(text);
    ASSERT_TRUE(back && back->is_f64()) << text;
    double r = back->as_f64();
    ASSERT_EQ(std::memcmp(&r, &d, 8), 0) << text;
  }
}

// Model of member order: erase/take move the last member into the gap, erase_ordered closes it.
TEST(JsonObject, RandomEditsKeepOrderAndIndex) {
  for (unsigned keys : {12u, 300u}) {  // below and above the size where lookups are hashed
    std::mt19937 rng(7);
    Object o;
    std::vector<std::pair<std::string, int>> model;
    for (int step = 0; step < 20000; ++step) {
      std::string k = "k" + std::to_string(rng() % keys);
      auto it = std::find_if(model.begin(), model.end(), [&](const auto& m) { return m.first == k; });
      bool found = it != model.end();
      Value taken;
      switch (rng() % 5) {
        case 0:
        case 1:
          o.insert_or_assign(k, step);
          if (found) it->second = step;
          else model.emplace_back(k, step);
          break;
        case 2:
        case 3:
          ASSERT_EQ(step % 2 ? o.erase(k) : o.take(k, taken), found) << k;
          if (!found) break;
          if (step % 2 == 0) {
            EXPECT_EQ(taken, Value(it->second));
          }
          *it = model.back();
          model.pop_back();
          break;
        default:
          ASSERT_EQ(o.erase_ordered(k), found) << k;
          if (found) model.erase(it);
      }
      if ((step + 1) % 500) continue;
      ASSERT_EQ(o.size(), model.size());
      for (size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(o.at(i).name(), model[i].first) << step;
        ASSERT_EQ(o.at(i).value, Value(model[i].second));
        ASSERT_EQ(o.index_of(model[i].first), i);
      }
    }
  }
}
