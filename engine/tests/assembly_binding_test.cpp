// Property bindings: reads, writes and the readable test of every source
// kind (data/cases/assembly_bindings.json), and the read cache.
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

TEST(AssemblyBinding, Reads) {
  const Fixture f;
  for (const Value& c : f.file["reads"].arr()) {
    ReadCache cache;
    auto got = bind(c["source"], c["total"]).read(f.plans, f.status(), f.rules(), c["definition"], cache);
    const std::string where = c["source"].dump() + " " + std::string(c["note"].str());
    if (const Value* error = c.find("error")) {
      EXPECT_EQ(got.ok() ? got.value().dump() : got.error(), error->str()) << where;
    } else {
      EXPECT_EQ(got.ok() ? got.value().dump() : "error: " + got.error(), c["want"].dump()) << where;
    }
  }
}

TEST(AssemblyBinding, Writes) {
  const Fixture f;
  for (const Value& c : f.file["writes"].arr()) {
    auto got = bind(c["source"], c["total"]).write(f.plans, c["value"], f.status(), f.rules(), c["definition"]);
    const std::string where = c["source"].dump() + " " + std::string(c["note"].str());
    if (const Value* error = c.find("error")) {
      ASSERT_FALSE(got.ok()) << where;
      EXPECT_EQ(got.error().to_string(), error->str()) << where;
      EXPECT_EQ(static_cast<int>(got.error().kind), c["kind"].as_u64()) << where;
    } else {
      EXPECT_EQ(got.ok() ? Value(got.value()).dump() : "error: " + got.error().to_string(), c["want"].dump()) << where;
    }
  }
}

TEST(AssemblyBinding, Readable) {
  const Fixture f;
  for (const Value& c : f.file["readable"].arr())
    EXPECT_EQ(bind(c[0]).readable(f.plans, f.rules()), c[1].as_bool()) << c.dump();
}

TEST(AssemblyBinding, SourceRecords) {
  const Fixture f;
  for (const Value& c : f.file["sources"].arr()) {
    auto got = record::read<assembly::Source>(c[0]);
    EXPECT_EQ(got.ok() ? record::write(got.value()).dump() : Value(json::Object{{"error", Value(got.error())}}).dump(),
              c[1].dump());
  }
  const Value b = J(R"({"source":{"kind":"motion"},"writable":true,"total":2,"last_ts":[1]})");
  EXPECT_EQ(record::write(record::read<Binding>(b).value()).dump(),
            R"({"source":{"kind":"motion"},"writable":true,"total":2.0,"last_ts":[1]})");
  EXPECT_EQ(record::read<Binding>(J(R"({"source":{"kind":"motion"},"writable":true,"total":2})")).error(),
            "missing field `last_ts`");
}

// Counts the entity state computations of reads.
std::atomic<int> computed{0};
void count_states(std::string_view where) {
  if (where == "assembly:state") ++computed;
}

struct Counting {
  Counting() {
    computed = 0;
    testing::set_fault_hook(count_states);
  }
  ~Counting() { testing::set_fault_hook(nullptr); }
};

TEST(AssemblyReadCache, OneStatePerPlanAndTotal) {
  const Fixture f;
  const Counting counting;
  ReadCache cache;
  const Value number = J(R"({"type":"number"})");
  auto read = [&](const Value& source, double total = 0) {
    Binding b = bind(source);
    b.total = total;
    return b.read(f.plans, f.status(), f.rules(), number, cache);
  };
  const Value power = J(R"({"kind":"layout","plan":0,"row":0})");
  const Value energy = J(R"({"kind":"layout","plan":0,"row":1})");
  struct Step {
    const char* what;
    Value source;
    double total;
    int computed;  // after the step
    size_t frames;
  };
  const Step steps[] = {
      {"first read of the plan", power, 0, 1, 1},
      {"another property, same total", energy, 0, 1, 1},
      {"another total", energy, 5, 2, 2},
      {"the first total again", power, 0, 2, 2},
      {"-0.0 has other bits than 0.0", power, -0.0, 3, 3},
      {"assume bypasses the cache", J(R"({"kind":"layout","plan":0,"row":2})"), 0, 4, 3},
      {"and computes every time", J(R"({"kind":"layout","plan":0,"row":2})"), 0, 5, 3},
      {"an assume of roles the plan lacks uses it", J(R"({"kind":"layout","plan":0,"row":3})"), 0, 5, 3},
      {"datapoints compute no state", J(R"({"kind":"dp","plan":0,"role":["lv","Integer",{},null],"trigger":false,"send":null})"), 0, 5, 3},
  };
  for (const Step& s : steps) {
    EXPECT_TRUE(read(s.source, s.total).ok()) << s.what;
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
}

// The cached frame serves the values read with it: reads through the cache
// equal reads each computed afresh.
TEST(AssemblyReadCache, SameValuesAsUncached) {
  const Fixture f;
  ReadCache shared;
  for (size_t row = 0; row < 10; ++row) {
    const Binding b = bind(Value(json::Object{{"kind", Value("layout")}, {"plan", Value(0)}, {"row", Value(row)}}));
    ReadCache own;
    auto cached = b.read(f.plans, f.status(), f.rules(), Value(), shared);
    auto fresh = b.read(f.plans, f.status(), f.rules(), Value(), own);
    ASSERT_EQ(cached.ok(), fresh.ok()) << row;
    EXPECT_EQ(cached.ok() ? cached.value().dump() : cached.error(), fresh.ok() ? fresh.value().dump() : fresh.error())
        << row;
  }
}

}  // namespace
}  // namespace zefa
