// Property bindings of every source kind, and the read cache.
#include "assembly/binding.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "assembly/plan.hpp"
#include "record.hpp"
#include "test_util.hpp"
#include "testing.hpp"

namespace zefa {
namespace {

using assembly::Binding;
using assembly::Plan;
using assembly::ReadCache;
using json::Value;
using test::J;

struct Fixture {
  Value file = test::load("cases/assembly_bindings.json");
  std::vector<Plan> plans;
  Fixture() {
    for (const Value& p : file["plans"].arr()) plans.push_back(Plan::deserialize(p).value());
  }
  const Value& rules() const { return file["rules"]; }
  const Value& status() const { return file["status"]; }
};

Binding bind(const Value& source, const Value& total = Value()) {
  Binding b;
  b.source = record::read<assembly::Source>(source).value();
  b.total = total.to_f64();
  return b;
}

// Every table of the file: reads, writes (failures keep their kind), the
// readable test and the source records; rows with "error" fail with it.
TEST(AssemblyBinding, Cases) {
  const Fixture f;
  auto expected = [](const Value& c) {
    const Value* error = c.find("error");
    return error ? "error: " + std::string(error->str()) : c["want"].dump();
  };
  for (const Value& c : f.file["reads"].arr()) {
    ReadCache cache;
    auto got = bind(c["source"], c["total"]).read(f.plans, f.status(), f.rules(), c["definition"], cache);
    EXPECT_EQ(got.ok() ? got.value().dump() : "error: " + got.error(), expected(c)) << c.dump();
  }
  for (const Value& c : f.file["writes"].arr()) {
    auto got = bind(c["source"], c["total"]).write(f.plans, c["value"], f.status(), f.rules(), c["definition"]);
    EXPECT_EQ(got.ok() ? Value(got.value()).dump() : "error: " + got.error().to_string(), expected(c)) << c.dump();
    if (!got.ok()) { EXPECT_EQ(static_cast<int>(got.error().kind), c["kind"].as_u64()) << c.dump(); }
  }
  for (const Value& c : f.file["readable"].arr())
    EXPECT_EQ(bind(c[0]).readable(f.plans, f.rules()), c[1].as_bool()) << c.dump();
  for (const Value& c : f.file["sources"].arr()) {
    auto got = record::read<assembly::Source>(c[0]);
    EXPECT_EQ(got.ok() ? record::write(got.value()).dump() : Value(json::Object{{"error", Value(got.error())}}).dump(),
              c[1].dump());
  }
}

std::atomic<int> computed{0};

// Reads served from the cache give the values of fresh reads; the fault hook
// counts the entity state computations.
TEST(AssemblyReadCache, OneStatePerPlanAndTotal) {
  const Fixture f;
  computed = 0;
  testing::set_fault_hook([](std::string_view where) { computed += where == "assembly:state"; });
  ReadCache cache;
  const Value number = J(R"({"type":"number"})");
  auto read = [&](const Value& source, double total = 0) {
    Binding b = bind(source);
    b.total = total;
    return b.read(f.plans, f.status(), f.rules(), number, cache);
  };
  const Value power = J(R"({"kind":"layout","plan":0,"row":0})");
  const Value energy = J(R"({"kind":"layout","plan":0,"row":1})");
  const Value assumed = J(R"({"kind":"layout","plan":0,"row":2})");
  struct Step {
    const char* what;
    Value source;
    double total;
    const char* want;
    int computed;  // after the step
    size_t frames;
  };
  const Step steps[] = {
      {"first read of the plan", power, 0, "true", 1, 1},
      {"another property, same total", J(R"({"kind":"layout","plan":0,"row":4})"), 0, "\"sw\"", 1, 1},
      {"another total", energy, 5, "5", 2, 2},
      {"the first total again", power, 0, "true", 2, 2},
      {"-0.0 has other bits than 0.0", power, -0.0, "true", 3, 3},
      {"assume bypasses the cache", assumed, 0, "false", 4, 3},
      {"and computes every time", assumed, 0, "false", 5, 3},
      {"an assume of roles the plan lacks uses it", J(R"({"kind":"layout","plan":0,"row":3})"), 0, "true", 5, 3},
      {"datapoints compute no state", J(R"({"kind":"dp","plan":0,"role":["lv","Integer",{"min":0,"max":100,"scale":0},null],"trigger":false,"send":null})"), 0, "42", 5, 3},
  };
  for (const Step& s : steps) {
    auto got = read(s.source, s.total);
    EXPECT_EQ(got.ok() ? got.value().dump() : got.error(), s.want) << s.what;
    EXPECT_EQ(computed.load(), s.computed) << s.what;
    EXPECT_EQ(cache.size(), s.frames) << s.what;
  }
  // A failing state is not kept: the next read tries again.
  EXPECT_EQ(read(power, 200).error(), "state failed");
  EXPECT_EQ(read(energy, 200).error(), "state failed");
  EXPECT_EQ(computed.load(), 7);
  EXPECT_EQ(cache.size(), 3u);
  // A new pass starts from nothing.
  ReadCache next;
  EXPECT_TRUE(bind(power).read(f.plans, f.status(), f.rules(), number, next).ok());
  EXPECT_EQ(computed.load(), 8);
  testing::set_fault_hook(nullptr);
}

}  // namespace
}  // namespace zefa
