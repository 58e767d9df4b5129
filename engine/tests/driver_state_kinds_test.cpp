// Kinds inside a stored driver state document: a plan's slot kind and its
// roles' kinds, like the binding sources' role kinds, may come back from a
// host's store as {"name": {}} instead of "name". Every operation that reads
// a state document must then answer exactly as for today's form, and write
// today's form back; a request's own plan keeps refusing it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine_so.hpp"
#include "json.hpp"
#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;

Value ask(const Value& request) { return test::J(test::engine_so().call(request)); }

// A plug with a switch, an energy meter counting increments (a delta plan)
// and a scene button (an event plan).
constexpr std::string_view kPack = R"({"version":1,
 "platforms":{"switch":{"table":"switches","categories":{"cz":{"key":"socket"}}},
              "energy":{"table":"meters","categories":{"cz":{"key":"energy"}}},
              "scene":{"table":"scenes","categories":{"cz":{"key":"scene"}}}},
 "entities":{
  "switch":{"variants":[{"steps":[{"role":"switch","codes":["switch_1"],"types":["Boolean"],"required":true}]}],
            "state":{"fields":{"on":{"op":"get","path":"values.switch"}}},
            "actions":{"set":[{"command":{"role":"switch","value":{"op":"get","path":"args"}}}]},
            "layout":[{"name":"power","definition":{"type":"binary","rw":true},"read":{"op":"get","path":"state.on"},
                       "write":{"op":"record","fields":{"action":"set","args":{"op":"get","path":"value"}}}}]},
  "energy":{"variants":[{"steps":[{"role":"added","codes":["add_ele"],"types":["Integer"],"required":true},
                                  {"set":"plan","value":{"depends_on":"add_ele","slot_kind":"delta"}}]}],
            "state":{"fields":{"total":{"op":"get","path":"total"}}},
            "layout":[{"name":"energy","definition":{"type":"number"},"read":{"op":"get","path":"state.total"}}]},
  "scene":{"variants":[{"steps":[{"role":"press","codes":["scene_1"],"types":["Enum"],"required":true},
                                 {"set":"plan","value":{"depends_on":"scene_1","slot_kind":"event"}}]}],
           "state":{"fields":{"event":{"op":"list","args":[{"op":"get","path":"values.press"}]}}},
           "layout":[{"name":"scene","definition":{"type":"event","options":["click","hold"]}}]}},
 "unused":{"role":"dp","variants":[]},"templates":{},"functions":{},"quirks":{},"units":{},"host_units":{},
 "maps":{},"features":{},"constants":{},"cover_defaults":{},"cover_switches":{},"motion_property":{},
 "strategies":["default"],"overrides":{}})";

constexpr std::string_view kDevice = R"({"id":"k1","product_id":"kp","category":"cz",
 "function":{"switch_1":{"type":"Boolean","values":"{}"}},
 "status_range":{"add_ele":{"type":"Integer","values":"{\"min\":0,\"max\":50000,\"scale\":3,\"step\":1}"},
                 "scene_1":{"type":"Enum","values":"{\"range\":[\"click\",\"hold\"]}"}}})";

class StateKinds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(test::engine_so().loaded());
    Value install = test::J(R"({"op":"install_rules","rules_id":"state-kinds"})");
    install.obj_mut().insert_or_assign("rules", test::J(kPack));
    ASSERT_EQ(ask(install).dump(), R"({"ok":true,"value":true})");
  }

  static Value request(std::string_view op) {
    Value r = test::J(R"({"rules_id":"state-kinds","now":100.0})");
    r.obj_mut().insert_or_assign("op", Value(op));
    return r;
  }

  // A fresh document, and one that has counted a total of 120.
  static Value created() {
    Value r = request("create");
    r.obj_mut().insert_or_assign("device", test::J(kDevice));
    r.obj_mut().insert_or_assign("options", test::J(R"({"dpmap":{"1":"switch_1","17":"add_ele","3":"scene_1"}})"));
    Value reply = ask(r);
    EXPECT_TRUE(reply["ok"].as_bool()) << reply.dump();
    return reply["value"]["driver"];
  }
  static Value handled(const Value& document, std::string_view input) {
    Value r = request("handle");
    r.obj_mut().insert_or_assign("driver", document);
    r.obj_mut().insert_or_assign("input", test::J(input));
    return ask(r);
  }
  static Value counted() {
    Value d = handled(created(), R"({"type":"connected"})")["value"]["driver"];
    Value reply = handled(d, R"({"type":"message","channel":"active","json":{"17":120,"t":7}})");
    EXPECT_TRUE(reply["ok"].as_bool()) << reply.dump();
    return reply["value"]["driver"];
  }
};

// Sets document.plans[plan] + path to `kind`.
Value with_kind(Value document, size_t plan, const std::vector<std::string_view>& path, const Value& kind) {
  Value* at = &document.obj_mut()["plans"].arr_mut()[plan];
  for (std::string_view key : path) at = &at->obj_mut()[key];
  *at = kind;
  return document;
}

Value object_form(std::string_view name) {
  return Value(json::Object{{std::string(name), Value(json::Object{})}});
}

TEST_F(StateKinds, ObjectFormReadsAsTheName) {
  struct Place {
    const char* what;
    size_t plan;
    std::vector<std::string_view> path;
    std::string_view name;
  };
  std::vector<Place> places = {
      {"delta plan's slot kind", 1, {"slot_kind"}, "delta"},
      {"event plan's slot kind", 2, {"slot_kind"}, "event"},
  };
  for (std::string_view kind : {"Integer", "Boolean", "Enum", "Bitmap", "Json", "Raw", "String"})
    places.push_back({"a role's kind", 0, {"roles", "switch", "kind"}, kind});
  places.push_back({"the delta role's kind", 1, {"roles", "added", "kind"}, "Integer"});
  places.push_back({"the event role's kind", 2, {"roles", "press", "kind"}, "Enum"});

  const Value base = counted();
  const Value fresh = created();
  const char* inputs[] = {
      R"({"type":"message","channel":"active","json":{"1":true,"17":30,"3":"hold","t":8}})",
      R"({"type":"command","prop":"power","value":false})",
      R"({"type":"describe","seed":[{"type":"connected"}]})",
  };
  for (const Place& p : places) {
    SCOPED_TRACE(std::string(p.what) + " " + std::string(p.name));
    const Value named = with_kind(base, p.plan, p.path, Value(p.name));
    const Value object = with_kind(base, p.plan, p.path, object_form(p.name));

    for (const char* input : inputs) {
      const Value want = handled(named, input);
      ASSERT_TRUE(want["ok"].as_bool()) << want.dump();
      EXPECT_EQ(handled(object, input).dump(), want.dump()) << input;
    }

    // Written back in today's form, whichever document the form stands in.
    Value carry = request("carry");
    carry.obj_mut().erase("rules_id");
    carry.obj_mut().insert_or_assign("driver", with_kind(fresh, p.plan, p.path, Value(p.name)));
    carry.obj_mut().insert_or_assign("old", named);
    const Value want = ask(carry);
    ASSERT_TRUE(want["ok"].as_bool()) << want.dump();
    carry.obj_mut().insert_or_assign("old", object);
    EXPECT_EQ(ask(carry).dump(), want.dump()) << "old";
    carry.obj_mut().insert_or_assign("driver", with_kind(fresh, p.plan, p.path, object_form(p.name)));
    EXPECT_EQ(ask(carry).dump(), want.dump()) << "both";

    Value settings = test::J(R"({"op":"settings"})");
    settings.obj_mut().insert_or_assign("driver", named);
    const Value block = ask(settings);
    settings.obj_mut().insert_or_assign("driver", object);
    EXPECT_EQ(ask(settings).dump(), block.dump());
  }
}

// The running total survives a document whose plans hold every kind in the
// object form.
TEST_F(StateKinds, TotalCarriedThroughObjectForms) {
  Value old = counted();
  old = with_kind(old, 1, {"slot_kind"}, object_form("delta"));
  old = with_kind(old, 1, {"roles", "added", "kind"}, object_form("Integer"));
  old = with_kind(old, 2, {"slot_kind"}, object_form("event"));
  Value carry = test::J(R"({"op":"carry"})");
  carry.obj_mut().insert_or_assign("driver", created());
  carry.obj_mut().insert_or_assign("old", old);
  const Value reply = ask(carry);
  ASSERT_TRUE(reply["ok"].as_bool()) << reply.dump();
  const Value& energy = reply["value"]["driver"]["assembly"]["bindings"]["energy"];
  EXPECT_EQ(energy["total"].dump(), "120.0");
  EXPECT_EQ(energy["last_ts"].dump(), "7");
  EXPECT_EQ(reply["value"]["driver"]["plans"][1]["slot_kind"].dump(), R"("delta")");
  EXPECT_EQ(reply["value"]["driver"]["plans"][1]["roles"]["added"]["kind"].dump(), R"("Integer")");

  // The next report adds to it.
  const Value next = handled(old, R"({"type":"message","channel":"active","json":{"17":5,"t":8}})");
  ASSERT_TRUE(next["ok"].as_bool()) << next.dump();
  EXPECT_EQ(next["value"]["driver"]["assembly"]["bindings"]["energy"]["total"].dump(), "125.0");
}

// What the object form is not: a request's own plan, and any other object in
// a document's plans.
TEST_F(StateKinds, WhereTheObjectFormStaysRefused) {
  const Value base = counted();
  const Value event_plan = with_kind(base, 2, {"slot_kind"}, object_form("event"))["plans"][2];
  const Value role_plan = with_kind(base, 0, {"roles", "switch", "kind"}, object_form("Boolean"))["plans"][0];
  auto with_plan = [](const char* request, const Value& plan) {
    Value r = test::J(request);
    r.obj_mut().insert_or_assign("plan", plan);
    return r;
  };
  auto settings_of = [&](const char* kind) {
    Value r = test::J(R"({"op":"settings"})");
    r.obj_mut().insert_or_assign("driver", with_kind(base, 2, {"slot_kind"}, test::J(kind)));
    return r;
  };
  const struct {
    const char* what;
    Value request;
    const char* error;
  } cases[] = {
      {"on_update's plan",
       with_plan(R"({"op":"on_update","rules_id":"state-kinds","changed":["scene_1"]})", event_plan),
       "plan: invalid type: map, expected unit"},
      {"read's plan", with_plan(R"({"op":"read","rules_id":"state-kinds"})", role_plan),
       "plan: invalid type: map, expected unit"},
      {"write's plan", with_plan(R"({"op":"write","rules_id":"state-kinds","action":"set"})", role_plan),
       "plan: invalid type: map, expected unit"},
      {"a member holding something", settings_of(R"({"event":{"x":1}})"),
       "driver: invalid type: map, expected unit"},
      {"two members", settings_of(R"({"event":null,"delta":null})"),
       "driver: invalid value: map, expected map with a single key"},
      {"no member", settings_of("{}"), "driver: invalid value: map, expected map with a single key"},
      {"an unknown name", settings_of(R"({"tick":{}})"),
       "driver: unknown variant `tick`, expected `event` or `delta`"},
  };
  for (const auto& c : cases) {
    Value want(json::Object{{"ok", Value(false)}, {"error", Value(c.error)}});
    EXPECT_EQ(ask(c.request).dump(), want.dump()) << c.what;
  }

  // The null form stays accepted in a request's plan.
  Value plan = base["plans"][2];
  plan.obj_mut().insert_or_assign("slot_kind", test::J(R"({"event":null})"));
  const Value reply = ask(with_plan(R"({"op":"on_update","rules_id":"state-kinds","changed":["scene_1"]})", plan));
  EXPECT_EQ(reply["ok"].dump(), "true") << reply.dump();
}

}  // namespace
}  // namespace zefa
