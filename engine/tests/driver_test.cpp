// Drivers: what a machine may store stays readable in a state document, and
// live drivers under concurrent requests. Construction, the document, the
// settings block and the live operations are exchanges (drivers.txt).
#include "driver/driver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "assembly/entity.hpp"
#include "driver_util.hpp"
#include "lib.hpp"
#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;

driver::Driver meter() {
  const Value device = test::J(R"({"id":"m1","category":"dlq","status_range":{"add_ele":{"type":"Integer",
      "values":"{\"min\":0,\"max\":50000,\"scale\":0,\"step\":1}"}},"status":{"add_ele":1}})");
  auto d = driver::Driver::make(device, driver::BuildOptions{}, test::load("drivers_pack.json"));
  EXPECT_TRUE(d.ok());
  return std::move(d).value();
}

Value nested(int depth) {
  Value v(1);
  for (int i = 0; i < depth; ++i) v = Value(json::Array{v});
  return v;
}

Value set_program(int segments, const Value& value) {
  std::string path = "state";
  for (int i = 1; i < segments; ++i) path += ".s";
  const Value statement(json::Object{{"set", Value(path)}, {"value", value}});
  return Value(json::Object{{"update", Value(json::Array{statement})}});
}

// The deepest slot a "set" may fill, holding the deepest value evaluation
// lets through, still gives a document that a reply can carry and the
// parser read back; one segment more is refused.
TEST(DriverState, DeepestMachineStateReadsBack) {
  driver::Driver d = meter();
  int depth = 70;
  machine::Machine m;
  for (;; --depth) {
    m = machine::Machine::make(set_program(61, nested(depth)));
    if (m.invoke(machine::MachineEvent::Update, Value::object()).ok()) break;
    ASSERT_GT(depth, 0);
  }
  d.machines.push_back(m);
  const Value doc = d.serialize();
  const Value wrapped(json::Object{{"ok", Value(true)}, {"value", Value(json::Object{{"driver", doc}})}});
  const std::string reply = wrapped.dump();
  auto back = json::parse(reply);
  EXPECT_TRUE(back) << back.error().to_string();
  test::expect_round_trip(doc);

  machine::Machine over = machine::Machine::make(set_program(62, Value(1)));
  auto r = over.invoke(machine::MachineEvent::Update, Value::object());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "rule nesting limit exceeded");
}

// Copies share the configuration; the state is their own.
TEST(DriverState, CopiesShareTheConfiguration) {
  const driver::Driver d = meter();
  driver::Driver copy = d;
  EXPECT_EQ(copy.config.get(), d.config.get());
  copy.seq = 5;
  EXPECT_EQ(d.seq, 0);
}

// The role views kept beside the plans are the plans' own, in a built driver
// and in one read back from its document (which does not carry them).
TEST(DriverState, KeptViewsFollowThePlans) {
  const driver::Driver built = meter();
  auto read = driver::Driver::deserialize(built.serialize());
  ASSERT_TRUE(read.ok()) << read.error();
  const driver::Driver& back = read.value();
  for (const driver::Driver* d : {&built, &back}) {
    const driver::DriverConfig& c = d->cfg();
    ASSERT_FALSE(c.plans.empty());
    ASSERT_EQ(c.views.size(), c.plans.size());
    for (size_t i = 0; i < c.plans.size(); ++i) {
      EXPECT_FALSE(c.plans[i].roles.empty());
      EXPECT_EQ(c.views[i], assembly::entity::views(c.plans[i].roles)) << i;
    }
  }
}

std::string call(const std::string& request) { return lib::eval_guarded(request.c_str()); }

// Opening, viewing, snapshotting, carrying between and closing drivers from
// several threads: distinct handles, no deadlock between two drivers carried
// into each other at once.
TEST(DriverConcurrency, LiveDriversFromManyThreads) {
  const std::string pack = test::load("drivers_pack.json").dump();
  ASSERT_EQ(call(R"({"op":"install_rules","rules_id":"conc","rules":)" + pack + "}"), R"({"ok":true,"value":true})");
  const std::string open = R"({"op":"open","rules_id":"conc","device":{"id":"m1","category":"dlq","status_range":)"
                           R"({"add_ele":{"type":"Integer","values":"{\"min\":0,\"max\":50000,\"scale\":0,)"
                           R"(\"step\":1}"}},"status":{"add_ele":1}}})";
  auto handle_of = [](const std::string& reply) {
    return test::J(reply)["value"]["handle"].as_u64();
  };
  const uint64_t a = handle_of(call(open));
  const uint64_t b = handle_of(call(open));
  std::vector<std::thread> threads;
  std::vector<uint64_t> opened(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      const uint64_t from = t % 2 ? a : b, to = t % 2 ? b : a;
      for (int i = 0; i < 20; ++i) {
        const std::string h = std::to_string(to);
        EXPECT_EQ(call(R"({"op":"carry_handle","handle":)" + h + R"(,"old":)" + std::to_string(from) + "}"),
                  R"({"ok":true,"value":true})");
        EXPECT_NE(call(R"({"op":"view","handle":)" + h + "}").find(R"("ok":true)"), std::string::npos);
        test::expect_documents_round_trip(call(R"({"op":"snapshot","handle":)" + h + "}"));
      }
      opened[t] = handle_of(call(open));
      EXPECT_EQ(call(R"({"op":"close","handle":)" + std::to_string(opened[t]) + "}"), R"({"ok":true,"value":true})");
    });
  for (auto& t : threads) t.join();
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(std::unique(opened.begin(), opened.end()), opened.end());
  EXPECT_GT(opened.front(), b);
}

}  // namespace
}  // namespace zefa
