// Drivers beyond the exchanges: live and stateless forms agree, host-made
// states, nesting limits, and live drivers under concurrent requests.
#include "driver/driver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "driver/effects.hpp"
#include "driver_util.hpp"
#include "exchange_files.hpp"
#include "lib.hpp"
#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using protocol::Input;

Value call(const Value& request) { return test::J(lib::eval_guarded(request.dump().c_str())); }

Value with(Value v, std::string_view key, Value member) {
  v.obj_mut().insert_or_assign(key, std::move(member));
  return v;
}

// Each live driver exchange replayed through "create"/"handle" gives the same
// outputs and errors; a failed input leaves the live snapshot as it was.
class Differential : public ::testing::TestWithParam<std::string> {};

Value snapshot(uint64_t handle) {
  return call(Value(json::Object{{"op", Value("snapshot")}, {"handle", Value(handle)}}))["value"];
}

TEST_P(Differential, StatelessAndLiveAgree) {
  struct Pair {
    uint64_t handle;
    Value document;
  };
  std::vector<Pair> drivers;  // in the file's order of "open"
  size_t inputs = 0;
  for (const std::string& text : test::exchange_requests(GetParam())) {
    const Value req = test::J(text);
    const std::string_view op = req["op"].str();
    if (op == "open") {
      const Value opened = call(req);
      ASSERT_TRUE(opened["ok"].as_bool()) << opened.dump();
      const Value created = call(with(req, "op", Value("create")));
      ASSERT_TRUE(created["ok"].as_bool()) << created.dump();
      drivers.push_back({opened["value"]["handle"].as_u64(), created["value"]["driver"]});
      continue;
    }
    if (op == "install_rules") call(req);
    if (op != "drive") continue;
    const uint64_t n = req["handle"].as_u64();
    ASSERT_TRUE(n >= 1 && n <= drivers.size()) << text;
    Pair& d = drivers[n - 1];
    const std::string before = snapshot(d.handle).dump();
    const Value live = call(with(req, "handle", Value(d.handle)));
    Value stateless_req = with(req, "op", Value("handle"));
    stateless_req.obj_mut().erase("handle");
    stateless_req.obj_mut().insert_or_assign("rules_id", Value("home"));
    stateless_req.obj_mut().insert_or_assign("driver", d.document);
    const Value stateless = call(stateless_req);
    ++inputs;
    ASSERT_EQ(live["ok"].as_bool(), stateless["ok"].as_bool()) << text << "\n" << live.dump() << "\n" << stateless.dump();
    if (!live["ok"].as_bool()) {
      EXPECT_EQ(live["error"], stateless["error"]) << text;
      EXPECT_EQ(snapshot(d.handle).dump(), before) << "a failed input changed the driver: " << text;
      continue;
    }
    EXPECT_EQ(live["value"]["outputs"].dump(), stateless["value"]["outputs"].dump()) << text;
    d.document = stateless["value"]["driver"];
  }
  EXPECT_GT(inputs, 0u);
  for (const Pair& d : drivers) EXPECT_EQ(snapshot(d.handle).dump(), d.document.dump());
}

std::vector<std::string> live_exchanges() {
  std::vector<std::string> out;
  for (const std::string& name : test::exchange_files())
    if (name.rfind("driver_", 0) == 0 && name != "driver_handle") out.push_back(name);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Exchanges, Differential, ::testing::ValuesIn(live_exchanges()),
                         [](const auto& info) { return info.param; });

// The driver of lamp_driver.json, read as the stateless form reads it.
struct Lamp {
  Value rules = test::load("curtain_lamp_pack.json");
  driver::Driver d;

  explicit Lamp(const Value& document = test::load("lamp_driver.json")) {
    auto read = driver::Driver::deserialize(document);
    EXPECT_TRUE(read.ok());
    d = std::move(read).value();
  }
  // On a copy, kept only on success, as the callers do.
  Result<driver::Outputs> transact(const Value& input) {
    driver::Driver work = d;
    auto in = Input::deserialize(input);
    EXPECT_TRUE(in.ok()) << input.dump();
    auto out = work.handle_inner(in.value(), rules, 0, 10.0);
    if (out.ok()) d = std::move(work);
    return out;
  }
  std::string outputs(const Value& input) {
    auto out = transact(input);
    EXPECT_TRUE(out.ok()) << out.error().message;
    return out.ok() ? driver::outputs_json(out.value()).dump() : "";
  }
};

// Failures only a host-made state or a deep nesting reaches leave the document as it was.
TEST(DriverInput, FailedInputsChangeNothing) {
  Value deep = test::J(R"({"type":"connected"})");
  for (int i = 0; i < 64; ++i) deep = Value(json::Object{{"type", Value("describe")}, {"seed", Value(json::Array{deep})}});
  Value linked_down = test::load("lamp_driver.json");
  linked_down.obj_mut().insert_or_assign("timers", test::J(R"(["c0:lamp_off"])"));
  linked_down.obj_mut().insert_or_assign("synced", Value(true));
  Value at_max = test::load("lamp_driver.json");
  at_max.obj_mut().insert_or_assign("seq", Value(std::numeric_limits<int64_t>::max()));
  const struct {
    const char* what;
    Value document;
    Value input;
    std::string error;
  } cases[] = {
      {"65 nested inputs", test::load("lamp_driver.json"), deep, "input nesting limit exceeded"},
      {"writes while the link is down", linked_down, test::J(R"({"type":"timer","name":"c0:lamp_off"})"),
       "unsupported: device link is down"},
      {"the report counter at its largest", at_max, test::J(R"({"type":"message","channel":"active","json":{"20":true}})"),
       "invalid driver state"},
  };
  for (const auto& c : cases) {
    Lamp lamp(c.document);
    const std::string before = lamp.d.serialize().dump();
    auto out = lamp.transact(c.input);
    ASSERT_FALSE(out.ok()) << c.what;
    EXPECT_EQ(out.error().to_string(), c.error) << c.what;
    EXPECT_EQ(lamp.d.serialize().dump(), before) << c.what;
  }
  // A report of only "t" is not counted, so the counter at its largest takes it.
  Lamp full(at_max);
  EXPECT_TRUE(full.transact(test::J(R"({"type":"message","channel":"active","json":{"t":1}})")).ok());
  EXPECT_EQ(full.d.seq, std::numeric_limits<int64_t>::max());
}

// A refused write program puts the machine's state back (the command itself succeeds).
TEST(DriverInput, RefusedMachineWriteRestoresTheMachine) {
  Lamp lamp;
  lamp.d.linked = true;
  const Value state = lamp.d.machines[0].state();
  EXPECT_EQ(lamp.outputs(test::J(R"({"type":"command","prop":"lamp_timer","value":13})")),
            R"([{"type":"reject","prop":"lamp_timer","code":"unsupported","reason":"unsupported: no dp for beep"}])");
  EXPECT_EQ(lamp.d.machines[0].state(), state);
}

// A switch whose definition the host's document changed: a value the setting refuses changes nothing.
TEST(DriverInput, SwitchValueTheSettingRefuses) {
  const Value created = call(test::J(R"({"op":"create","rules":)" + test::load("curtain_lamp_pack.json").dump() +
                                     R"(,"device":)" + test::load("curtain_lamp_device.json").dump() +
                                     R"(,"options":{"device_settings":true}})"));
  ASSERT_TRUE(created["ok"].as_bool()) << created.dump();
  Value doc = created["value"]["driver"];
  Value props = doc["assembly"]["descriptor"]["props"];
  props.obj_mut().insert_or_assign("cover_settle", test::J(R"({"type":"text","rw":true})"));
  Value descriptor = with(doc["assembly"]["descriptor"], "props", props);
  doc.obj_mut().insert_or_assign("assembly", with(doc["assembly"], "descriptor", descriptor));
  Lamp cover(doc);
  const rules::CoverSettings settings = cover.d.covers[0].settings;
  EXPECT_EQ(cover.outputs(test::J(R"({"type":"command","prop":"cover_settle","value":"soon"})")),
            R"([{"type":"reject","prop":"cover_settle","code":"invalid_value","reason":"not a value of setting settle"}])");
  EXPECT_EQ(cover.d.covers[0].settings, settings);
  EXPECT_EQ(cover.d.values.value.find("cover_settle"), nullptr);
}

// Publishing compares loosely only booleans and numbers; a withdrawal is announced once.
TEST(DriverInput, PublishingComparesLoosely) {
  Lamp lamp;
  driver::Outputs out;
  for (const char* v : {"null", "true", "1", "\"1\"", "[1]", "[1.0]", "null", "null"}) lamp.d.set("p", test::J(v), out);
  EXPECT_EQ(driver::outputs_json(out).dump(),
            R"([{"type":"value","prop":"p","value":true},{"type":"value","prop":"p","value":"1"},)"
            R"({"type":"value","prop":"p","value":[1]},{"type":"value","prop":"p","value":[1.0]},)"
            R"({"type":"absent","prop":"p"}])");
}

// Reports to one live driver from several threads: every one is counted.
TEST(DriverInputConcurrency, ReportsToOneDriverFromManyThreads) {
  const Value pack = test::load("curtain_lamp_pack.json");
  call(Value(json::Object{{"op", Value("install_rules")}, {"rules_id", Value("conc_lamp")}, {"rules", pack}}));
  const Value opened = call(test::J(R"({"op":"open","rules_id":"conc_lamp","device":)" +
                                    test::load("curtain_lamp_device.json").dump() +
                                    R"(,"options":{"dpmap":{"17":"add_ele","22":"bright_value"}}})"));
  ASSERT_TRUE(opened["ok"].as_bool()) << opened.dump();
  const std::string handle = opened["value"]["handle"].dump();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        const std::string report = R"({"op":"drive","handle":)" + handle +
                                   R"(,"now":1,"input":{"type":"message","channel":"active","json":{"17":1,"22":)" +
                                   std::to_string(100 + t) + R"(,"t":)" + std::to_string(t * 100 + i) + "}}}";
        EXPECT_TRUE(call(test::J(report))["ok"].as_bool());
      }
    });
  for (auto& t : threads) t.join();
  const Value snap = call(test::J(R"({"op":"snapshot","handle":)" + handle + "}"))["value"];
  EXPECT_EQ(snap["seq"], Value(100));
  EXPECT_EQ(snap["assembly"]["bindings"]["energy"]["total"], Value(100.0));
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

// The deepest machine state a "set" may make reads back in a reply; one segment more is refused.
TEST(DriverState, DeepestMachineStateReadsBack) {
  auto made = driver::Driver::make(test::J(R"({"id":"m1"})"), driver::BuildOptions{}, test::load("drivers_pack.json"));
  ASSERT_TRUE(made.ok()) << made.error().to_string();
  driver::Driver d = std::move(made).value();
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
  auto back = json::parse(wrapped.dump());
  EXPECT_TRUE(back) << back.error().to_string();
  test::expect_documents_round_trip(wrapped.dump());

  machine::Machine over = machine::Machine::make(set_program(62, Value(1)));
  auto r = over.invoke(machine::MachineEvent::Update, Value::object());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "rule nesting limit exceeded");
}

std::string eval(const std::string& request) { return lib::eval_guarded(request.c_str()); }

// Live operations from several threads: distinct handles, no deadlock carrying two drivers into each other.
TEST(DriverConcurrency, LiveDriversFromManyThreads) {
  const std::string pack = test::load("drivers_pack.json").dump();
  ASSERT_EQ(eval(R"({"op":"install_rules","rules_id":"conc","rules":)" + pack + "}"), R"({"ok":true,"value":true})");
  const std::string open = R"({"op":"open","rules_id":"conc","device":{"id":"m1","category":"dlq","status_range":)"
                           R"({"add_ele":{"type":"Integer","values":"{\"min\":0,\"max\":50000,\"scale\":0,)"
                           R"(\"step\":1}"}},"status":{"add_ele":1}}})";
  auto handle_of = [](const std::string& reply) {
    return test::J(reply)["value"]["handle"].as_u64();
  };
  const uint64_t a = handle_of(eval(open));
  const uint64_t b = handle_of(eval(open));
  std::vector<std::thread> threads;
  std::vector<uint64_t> opened(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      const uint64_t from = t % 2 ? a : b, to = t % 2 ? b : a;
      for (int i = 0; i < 20; ++i) {
        const std::string h = std::to_string(to);
        EXPECT_EQ(eval(R"({"op":"carry_handle","handle":)" + h + R"(,"old":)" + std::to_string(from) + "}"),
                  R"({"ok":true,"value":true})");
        EXPECT_NE(eval(R"({"op":"view","handle":)" + h + "}").find(R"("ok":true)"), std::string::npos);
        test::expect_documents_round_trip(eval(R"({"op":"snapshot","handle":)" + h + "}"));
      }
      opened[t] = handle_of(eval(open));
      EXPECT_EQ(eval(R"({"op":"close","handle":)" + std::to_string(opened[t]) + "}"), R"({"ok":true,"value":true})");
    });
  for (auto& t : threads) t.join();
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(std::unique(opened.begin(), opened.end()), opened.end());
  EXPECT_GT(opened.front(), b);
}

}  // namespace
}  // namespace zefa
