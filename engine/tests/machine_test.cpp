// State machines: the programs of each event, the instruction budget and
// copies sharing one configuration.
#include "machine/machine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using json::Value;
using machine::Machine;
using machine::MachineEffects;
using machine::MachineEvent;
using test::J;

// The properties every program of the case table may emit.
constexpr const char* kProps =
    R"({"mode": {"type": "select", "options": ["auto", "manual"]}, "level": {"type": "number"}, "on": {"type": "binary"}})";

Value with_props(const Value& update) {
  return J(std::string(R"({"props":)") + kProps + R"(,"update":)" + update.dump() + "}");
}

// {"props", "timers", "commands"}, each left out when empty.
Value effects_json(const MachineEffects& e) {
  json::Object o;
  if (!e.props.empty()) o.insert_or_assign("props", Value(e.props));
  if (!e.timers.empty()) o.insert_or_assign("timers", Value(e.timers));
  if (!e.commands.empty()) o.insert_or_assign("commands", Value(e.commands));
  return Value(std::move(o));
}

// A case's setup: "config", or "update" under kProps; "state"; "call" "make",
// "reset" or an invocation of "event" with "context". Gives [effects or
// error or "ok", the state after]; every state left must read back.
Value machine_case(const test::Args& a) {
  constexpr std::string_view kEvents[] = {"update", "timer", "reset", "write"};  // as MachineEvent
  const Value& c = a[0];
  const Value config = c.find("config") ? c["config"] : with_props(c["update"]);
  Machine m = c.find("state") ? Machine::deserialize(Value(json::Array{config, c["state"]})).value()
                               : Machine::make(config);
  std::string_view call = c["call"].str(), event = c.find("event") ? c["event"].str() : "update";
  Value result("ok");
  if (call == "reset") {
    m.reset();
  } else if (call != "make") {
    const auto* e = std::find(std::begin(kEvents), std::end(kEvents), event);
    if (e == std::end(kEvents)) return Value("no such event");
    auto r = m.invoke(static_cast<MachineEvent>(e - kEvents), c.find("context") ? c["context"] : J("{}"));
    result = r.ok() ? effects_json(r.value()) : Value(json::Object{{"error", Value(r.error().message)}});
  }
  auto back = json::parse(m.serialize().dump());
  if (!back) return Value("does not read back: " + back.error().to_string());
  return Value(json::Array{result, m.state()});
}

// Nesting of a value: 0 for a scalar.
size_t depth(const Value& v) {
  size_t d = 0;
  if (v.is_array())
    for (const Value& e : v.arr()) d = std::max(d, depth(e));
  if (v.is_object())
    for (const auto& m : v.obj()) d = std::max(d, depth(m.value));
  return v.is_array() || v.is_object() ? d + 1 : 0;
}

TEST(Machine, Programs) {
  test::run_cases("machine_programs.json",
                  {{"machine", machine_case},
                   // States too deep to write in the table: [effects, how deep the state is].
                   {"machine_state_depth", [](const test::Args& a) {
                      Value r = machine_case(a);
                      return r.is_array() ? Value(json::Array{r[0], Value(static_cast<uint64_t>(depth(r[1])))}) : r;
                    }}});
}

// An invocation runs at most 10,000 statements.
TEST(MachineInvoke, StatementBudget) {
  auto run = [](size_t statements) {
    Machine m = Machine::make(with_props(Value(json::Array(statements, J(R"({"set":"state.n","value":1})")))));
    auto r = m.invoke(MachineEvent::Update, J("{}"));
    return (r.ok() ? effects_json(r.value()).dump() : r.error().message) + " " + m.state().dump();
  };
  EXPECT_EQ(run(10'000), R"({} {"n":1})");
  EXPECT_EQ(run(10'001), "rule instruction limit exceeded {}");
}

// Copies share the configuration by reference and invoke on their own states.
TEST(MachineConcurrency, CopiesInvokeOnManyThreads) {
  const Value config = J(std::string(R"({"props":)") + kProps + R"(,
      "initial_state": {"n": 0, "log": []},
      "update": [{"set": "state.n", "value": {"op": "add", "args": [{"op": "get", "path": "state.n"}, 1]}},
                 {"emit": "level", "value": {"op": "get", "path": "state.n"}},
                 {"timer": "t", "after": 1}]})");
  const Machine original = Machine::make(config);
  EXPECT_TRUE(Machine(original).config().same(config));
  const Value doc = original.serialize();
  EXPECT_TRUE(Machine::deserialize(doc).value().config().same(doc["config"]));
  std::vector<std::thread> threads;
  std::vector<int> good(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      Machine m = original;
      const Value ctx = J(R"({"x": 1})");
      for (int i = 1; i <= 200; ++i) {
        auto r = m.invoke(MachineEvent::Update, ctx);
        if (r.ok() && *r.value().props.find("level") == Value(i)) ++good[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int g : good) EXPECT_EQ(g, 200);
  EXPECT_EQ(original.state().dump(), R"({"n":0,"log":[]})");
}

}  // namespace
}  // namespace zefa
