// Driver inputs. Behaviour case by case is in the driver_*.txt exchanges;
// here: the stateless and the live form agree on every driver exchange, a
// failed input leaves a driver exactly as it was, and the paths that only a
// host-made state or a nesting beyond the parser's can reach.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver.hpp"
#include "driver/effects.hpp"
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

// Every driver exchange that opens live drivers is played twice: through
// "open"/"drive", and through "create"/"handle" with each reply's document
// fed back. Both give the same outputs and the same errors, a failed input
// leaves the live snapshot byte for byte as it was, and at the end each
// snapshot is the stateless document.
class Differential : public ::testing::TestWithParam<std::string> {};

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
    if (op != "drive") {
      if (op == "install_rules") call(req);
      continue;
    }
    const uint64_t n = req["handle"].as_u64();
    ASSERT_TRUE(n >= 1 && n <= drivers.size()) << text;
    Pair& d = drivers[n - 1];
    const Value snapshot = Value(json::Object{{"op", Value("snapshot")}, {"handle", Value(d.handle)}});
    const std::string before = call(snapshot).dump();
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
      EXPECT_EQ(call(snapshot).dump(), before) << "a failed input changed the driver: " << text;
      continue;
    }
    EXPECT_EQ(live["value"]["outputs"].dump(), stateless["value"]["outputs"].dump()) << text;
    d.document = stateless["value"]["driver"];
  }
  EXPECT_GT(inputs, 0u);
  for (const Pair& d : drivers) {
    const Value snap = call(Value(json::Object{{"op", Value("snapshot")}, {"handle", Value(d.handle)}}));
    EXPECT_EQ(snap["value"].dump(), d.document.dump());
  }
}

std::vector<std::string> live_exchanges() {
  std::vector<std::string> out;
  for (const std::string& name : test::exchange_files())
    if (name.rfind("driver_", 0) == 0 && name != "driver_handle") out.push_back(name);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Exchanges, Differential, ::testing::ValuesIn(live_exchanges()),
                         [](const auto& info) { return info.param; });

// The driver of lamp_driver.json (a lamp and the pack's converter), read as
// the stateless form reads it.
struct Lamp {
  Value rules = test::load("curtain_lamp_pack.json");
  driver::Driver d;

  explicit Lamp(const Value& document = test::load("lamp_driver.json")) {
    auto read = driver::Driver::deserialize(document);
    EXPECT_TRUE(read.ok());
    d = std::move(read).value();
  }
  Result<driver::Outputs> feed(const Value& input) {
    auto in = Input::deserialize(input);
    EXPECT_TRUE(in.ok()) << input.dump();
    return d.handle_inner(in.value(), rules, 0, 10.0);
  }
  // Handles the input on a copy, as the callers do; the copy replaces the
  // driver only on success.
  Result<driver::Outputs> transact(const Value& input) {
    driver::Driver work = d;
    auto in = Input::deserialize(input);
    EXPECT_TRUE(in.ok());
    auto out = work.handle_inner(in.value(), rules, 0, 10.0);
    if (out.ok()) d = std::move(work);
    return out;
  }
  std::string outputs(const Value& input) {
    auto out = feed(input);
    EXPECT_TRUE(out.ok()) << out.error().message;
    return out.ok() ? driver::outputs_json(out.value()).dump() : "";
  }
};

// Failures that the exchanges cannot reach: each leaves both the driver and
// its document exactly as they were.
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
}

// A write program whose writes fail is refused, and the machine's state is
// put back to what it was before the program ran.
TEST(DriverInput, RefusedMachineWriteRestoresTheMachine) {
  Lamp lamp;
  lamp.d.linked = true;
  const Value state = lamp.d.machines[0].state();
  EXPECT_EQ(lamp.outputs(test::J(R"({"type":"command","prop":"lamp_timer","value":13})")),
            R"([{"type":"reject","prop":"lamp_timer","code":"unsupported","reason":"unsupported: no dp for beep"}])");
  EXPECT_EQ(lamp.d.machines[0].state(), state);
}

// A settings switch whose definition the host's document changed lets a
// value through the check that the setting refuses: rejected, nothing
// changes and nothing is published.
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

// Publishing compares loosely only booleans and numbers; a withdrawal is
// announced once, and only after a value.
TEST(DriverInput, PublishingComparesLoosely) {
  const struct {
    const char* before;
    const char* after;
    bool published;
  } cases[] = {
      {"true", "1", false},        {"1", "1.0", false},          {"0", "false", false},
      {"1", "\"1\"", true},        {"[1,2]", "[2,1]", true},     {R"({"a":1,"b":2})", R"({"b":2,"a":1})", false},
      {"[1]", "[1.0]", true},
  };
  for (const auto& c : cases) {
    Lamp lamp;
    driver::Outputs out;
    lamp.d.set("p", test::J(c.before), out);
    lamp.d.set("p", test::J(c.after), out);
    EXPECT_EQ(out.size(), c.published ? 2u : 1u) << c.before << " then " << c.after;
  }
  Lamp lamp;
  driver::Outputs out;
  lamp.d.set("p", Value(), out);
  lamp.d.set("p", Value(1), out);
  lamp.d.set("p", Value(), out);
  lamp.d.set("p", Value(), out);
  EXPECT_EQ(driver::outputs_json(out).dump(),
            R"([{"type":"value","prop":"p","value":1},{"type":"absent","prop":"p"}])");
}


// Reports to one live driver from several threads are handled one at a
// time: every one is counted, none is lost.
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

}  // namespace
}  // namespace zefa
