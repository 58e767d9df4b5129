// The case-table format of engine/tests/data/cases/*.json: a JSON array of
// groups {"fn", "note", "given": [leading arguments], "cases": [[arguments...,
// want]]} ("note" and "given" optional). Each case calls fns[fn](given +
// arguments) and compares compact texts, so 25 and 25.0 differ. Errors are
// written {"error": message}. The expression tables (expr_*.json) add a
// shared evaluation scope and are read by expr_ops_test.cpp.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

#include "error.hpp"
#include "record.hpp"
#include "test_util.hpp"

namespace zefa::test {

using Args = json::Array;
using CaseFns = std::map<std::string, std::function<json::Value(const Args&)>, std::less<>>;

inline void run_cases(const std::string& file, const CaseFns& fns) {
  const json::Value groups = load("cases/" + file);
  for (const json::Value& group : groups.arr()) {
    auto fn = fns.find(group["fn"].str());
    ASSERT_TRUE(fn != fns.end()) << file << ": no function " << group["fn"].dump();
    for (const json::Value& row : group["cases"].arr()) {
      Args args = group["given"].arr();
      args.insert(args.end(), row.arr().begin(), row.arr().end() - 1);
      EXPECT_EQ(fn->second(args).dump(), row.arr().back().dump()) << file << " " << fn->first << " " << row.dump();
    }
  }
}

// A double as JSON; non-finite ones by name: "inf", "-inf", "nan".
inline json::Value num(double d) {
  if (std::isnan(d)) return json::Value("nan");
  if (std::isinf(d)) return json::Value(d > 0 ? "inf" : "-inf");
  return json::Value(d);
}
inline double dbl(const json::Value& v) {
  if (v.is_string()) return v.str() == "nan" ? NAN : v.str() == "inf" ? INFINITY : -INFINITY;
  return v.to_f64();
}

// A text, or its bytes as an array of numbers (for texts that are not UTF-8).
inline std::string bytes(const json::Value& v) {
  if (v.is_string()) return std::string(v.str());
  std::string s;
  for (const json::Value& b : v.arr()) s.push_back(static_cast<char>(b.as_u64()));
  return s;
}

template <class T, class E, class Show>
json::Value outcome(const Result<T, E>& r, Show show) {
  if (!r.ok()) return json::Value(json::Object{{"error", json::Value(std::string_view(r.error()))}});
  return show(r.value());
}

// A record the case knows to be valid; a failure to read it fails the case.
template <class T>
T record_of(const json::Value& v) {
  auto r = record::read<T>(v);
  EXPECT_TRUE(r.ok()) << v.dump() << ": " << (r.ok() ? "" : r.error());
  return r.ok() ? std::move(r).value() : T{};
}

// A record's written form, after checking that it reads back as the same
// record.
template <class T>
json::Value round_trip(const T& x) {
  json::Value form = record::write(x);
  EXPECT_TRUE(record_of<T>(form) == x) << form.dump();
  return form;
}

}  // namespace zefa::test
