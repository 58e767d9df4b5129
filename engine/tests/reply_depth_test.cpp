// Replies that carry request members stay within the nesting the parser
// accepts: for every operation that places a member in its reply, the
// deepest member accepted gives a reply that reads back, and one level
// deeper is refused before anything changes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/request.hpp"
#include "engine_so.hpp"
#include "exchange_files.hpp"
#include "json.hpp"
#include "test_util.hpp"

namespace {

using zefa::ErrorKind;
using zefa::json::Value;
using zefa::test::J;

const zefa::test::EngineSo& engine() { return zefa::test::engine_so(); }

// Arrays nested `levels` deep around a number.
Value nest(int levels) {
  Value v(1);
  for (int i = 0; i < levels; ++i) v = Value(zefa::json::Array{std::move(v)});
  return v;
}

// The place a JSON Pointer names; missing object members are made on the way.
Value& at(Value& v, std::string_view pointer) {
  Value* cur = &v;
  while (!pointer.empty()) {
    pointer.remove_prefix(1);
    const size_t end = std::min(pointer.find('/'), pointer.size());
    const std::string_view seg = pointer.substr(0, end);
    pointer.remove_prefix(end);
    if (cur->is_array()) {
      cur = &cur->arr_mut()[std::stoul(std::string(seg))];
    } else {
      zefa::json::Object& o = cur->obj_mut();
      Value* m = o.find(seg);
      cur = m ? m : &o.insert_or_assign(seg, pointer.empty() ? Value() : Value::object());
    }
  }
  return *cur;
}

std::string_view member_of(std::string_view pointer) { return pointer.substr(1, pointer.find('/', 1) - 1); }

struct Row {
  const char* request;  // "@name" stands for a file of the test data
  const char* deep;     // where the deep value goes; its first segment is the member
  int deepest;          // the member's deepest nesting that is accepted
  int reply_depth;      // how deep the reply to that request nests
  const char* refusal;  // the error one level deeper; null where the parser's own limit comes first
  ErrorKind kind = ErrorKind::Request;
  // Further places to set: a JSON text, or "$" for the deep value itself.
  std::vector<std::pair<const char*, const char*>> sets = {};
};

constexpr const char* kLampMessage =
    R"({"op":"handle","rules":"@curtain_lamp_pack.json","driver":"@lamp_driver.json","now":5,)"
    R"("input":{"type":"message","channel":"active","json":{"20":true}}})";
constexpr const char* kDeltaPlan =
    R"({"platform":"meter","key":"k","identity":{},"roles":{},"depends_on":["c"],"slot_kind":"delta",)"
    R"("update_all":false,"config":{}})";
constexpr const char* kDefaultAdapter = R"({"entries":{"1":["sw","default",{}]},"enum_ranges":{},"unsupported":{},"remaps":{}})";

// One row per operation and member its reply carries. 126 is the deepest
// accepted where the reply holds the member two levels down; 127 (the
// parser's limit for a member) where it nests it no deeper than the request.
const std::vector<Row>& rows() {
  static const std::vector<Row> table = {
      {R"({"op":"merge_rules","base":"@rules_min.json"})", "/base/maps/m", 126, 128, "base: nests too deeply"},
      {R"({"op":"merge_rules","base":"@rules_min.json","layers":[{"maps":{}}]})", "/layers/0/maps/m", 127, 128,
       nullptr},
      {R"({"op":"carry","driver":"@lamp_driver.json","old":"@lamp_driver.json"})", "/driver/dps/77", 126, 128,
       "driver: nests too deeply"},
      // The old driver's delta counters move into the same places of the new one.
      {R"({"op":"carry","driver":"@lamp_driver.json","old":"@lamp_driver.json"})",
       "/old/assembly/bindings/light/last_ts", 126, 128, "old: nests too deeply", ErrorKind::Request,
       {{"/driver/plans/0/slot_kind", R"("delta")"}, {"/old/plans/0/slot_kind", R"("delta")"}}},
      {R"({"op":"merge","mappings":[{}]})", "/mappings/0/a", 127, 127, nullptr},
      {R"({"op":"status_quirk","status":{}})", "/status/a", 127, 128, nullptr},
      {R"({"op":"status_quirk","status":{},"quirk":{"ops":[{"op":"MapInitialStatus","code":"c","mapping":[[null,0]]}]}})",
       "/quirk/ops/0/mapping/0/1", 127, 124, nullptr},
      // The value accepted is one of the descriptor's options.
      {R"({"op":"check","descriptor":{"props":{"p":{"type":"select","rw":true,"options":[0]}}},"state":{},"prop":"p"})",
       "/descriptor/props/p/options/0", 127, 125, nullptr, ErrorKind::Request, {{"/value", "$"}}},
      {R"({"op":"check","descriptor":{"props":{"p":{"type":"select","rw":true,"options":[1]}}},"state":{},"prop":"p"})",
       "/value", 127, 2, nullptr},
      {R"({"op":"adapter_write","commands":[{"code":"sw"}]})", "/commands/0/value", 127, 128, nullptr,
       ErrorKind::Request, {{"/adapter", kDefaultAdapter}}},
      {R"({"op":"strategy_write","name":"default"})", "/value", 127, 128, nullptr},
      {R"({"op":"create","rules":"@rules_min.json","device":{"id":"d"}})", "/device/x", 125, 128,
       "device description nests too deeply", ErrorKind::Device},
      {kLampMessage, "/driver/dps/77", 126, 128, "driver: nests too deeply"},
      {kLampMessage, "/input/json/77", 126, 128, "input nesting limit exceeded"},
      {R"({"op":"handle","rules":"@curtain_lamp_pack.json","driver":"@lamp_driver.json","now":5,)"
       R"("input":{"type":"describe","seed":[{"type":"message","channel":"active","json":{}}]}})",
       "/input/seed/0/json/77", 127, 127, nullptr},
      {R"({"op":"on_update","rules":"@rules_min.json","slot":{}})", "/slot/x", 126, 128, "slot: nests too deeply",
       ErrorKind::Request, {{"/plan", kDeltaPlan}}},
      // A counted report's timestamp becomes the slot's "last_ts".
      {R"({"op":"on_update","rules":"@rules_min.json","changed":["c"],"status":{"c":5},"timestamps":{}})",
       "/timestamps/c", 126, 128, "timestamps: nests too deeply", ErrorKind::Request, {{"/plan", kDeltaPlan}}},
      // Plans keep a datapoint's range in its role's "spec" member.
      {R"({"op":"unused","rules":"@entities.json","device":{"id":"d","function":{"sw":{"type":"Boolean"}}},)"
       R"("entries":{"9":["sw","default",{}]}})",
       "/device/function/sw/values", 126, 128, "device: nests too deeply"},
      {R"({"op":"unused","rules":"@entities.json","device":{"id":"d"},"entries":{"a":["made","default",{"valueType":"Json"}]}})",
       "/entries/a/2/valueDesc", 126, 128, "entries: nests too deeply"},
      {R"({"op":"quirk_schema","rules":"@rules_min.json","device":{}})", "/device/x", 127, 128, nullptr},
      {R"({"op":"quirk_schema","rules":"@rules_min.json","device":{},)"
       R"("quirk":{"ops":[{"op":"DefineDp","code":"x","mode":"RW","type":"bool","dpid":7}]}})",
       "/quirk/ops/0/values", 127, 128, nullptr},
      {R"({"op":"device_info","rules":"@rules_min.json","device":{}})", "/device/product_name", 127, 128, nullptr},
      {R"({"op":"device_info","rules":"@rules_min.json","device":{},"quirk":{"meta":{"manufacturer":"m"}}})",
       "/quirk/meta/model", 127, 127, nullptr},
      {R"({"op":"classify","rules":"@entities.json","device":{"id":"d1","category":"dj","function":{"switch_led":{"type":"Boolean"}}}})",
       "/device/function/switch_led/values", 126, 128, "device: nests too deeply"},
      // A plan's identity takes the pack's defaults.
      {R"({"op":"classify","rules":"@entities.json","device":{"id":"d1","category":"dj","function":{"switch_led":{"type":"Boolean"}}}})",
       "/rules/identity_defaults/manufacturer", 126, 128, "rules: nests too deeply"},
      {R"({"op":"adapter_create","rules":"@rules_min.json","device":{"local_strategy":{"1":{"status_code":"sw"}}},"dpmap":{}})",
       "/device/local_strategy/1/config_item", 127, 128, nullptr},
      {R"({"op":"adapter_read","rules":"@rules_min.json","dps":{}})", "/dps/1", 127, 128, nullptr, ErrorKind::Request,
       {{"/adapter", kDefaultAdapter}}},
      {R"({"op":"strategy_read","rules":"@rules_min.json","name":"default"})", "/value", 127, 128, nullptr},
      {R"({"op":"open","rules":"@rules_min.json","device":{"id":"d"}})", "/device/x", 125, 2,
       "device description nests too deeply", ErrorKind::Device},
      {R"({"op":"drive","handle":0,"now":9,"input":{"type":"message","channel":"active","json":{}}})", "/input/json/77",
       126, 8, "input nesting limit exceeded"},
  };
  return table;
}

// The row's request with its member nesting `levels` deep; a "handle" member
// names `handle`.
Value request(const Row& row, int levels, uint64_t handle) {
  Value req = J(zefa::test::expand(row.request));
  const std::string_view member = member_of(row.deep);
  // The levels between the member and the deep value's place.
  at(req, row.deep) = nest(100);
  const int above = req[member].depth() - 100;
  const Value deep = nest(levels - above);
  at(req, row.deep) = deep;
  for (const auto& [where, text] : row.sets) at(req, where) = std::string_view(text) == "$" ? deep : J(text);
  if (req.find("handle")) at(req, "/handle") = Value(handle);
  EXPECT_EQ(req[member].depth(), levels) << row.deep;
  return req;
}

Value reply_of(const std::string& text) {
  auto parsed = zefa::json::parse(text);
  EXPECT_TRUE(parsed.ok()) << text.substr(0, 200);
  return parsed.ok() ? std::move(parsed).value() : Value();
}

constexpr const char* kOpenLamp =
    R"({"op":"open","rules":"@curtain_lamp_pack.json","device":"@curtain_lamp_device.json"})";

// A new live driver's handle.
uint64_t open_lamp() { return reply_of(engine().call(zefa::test::expand(kOpenLamp).c_str()))["value"]["handle"].as_u64(); }

std::string snapshot(uint64_t handle) {
  return engine().call(J(R"({"op":"snapshot","handle":)" + std::to_string(handle) + "}"));
}

class ReplyDepth : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(engine().loaded()) << dlerror(); }
};

}  // namespace

TEST_F(ReplyDepth, EveryCarriedMemberAtItsBoundary) {
  const uint64_t live = open_lamp();
  auto here = zefa::api::request(J(zefa::test::expand(kOpenLamp)));
  ASSERT_TRUE(here.ok());
  const uint64_t live_here = here.value()["handle"].as_u64();

  for (const Row& row : rows()) {
    SCOPED_TRACE(std::string(row.request).substr(0, 40) + " " + row.deep);
    const Value reply = reply_of(engine().call(request(row, row.deepest, live)));
    EXPECT_TRUE(reply["ok"].as_bool()) << reply["error"].str();
    EXPECT_EQ(reply.depth(), row.reply_depth);
    // What a live driver keeps reads back too.
    reply_of(snapshot(live));
    if (const Value* opened = reply["value"].find("handle")) {
      reply_of(snapshot(opened->as_u64()));
      engine().call(J(R"({"op":"close","handle":)" + opened->dump() + "}"));
    }
    if (!row.refusal) continue;

    // One level deeper: refused, and neither the registry nor a live driver changes.
    const std::string before = snapshot(live);
    const uint64_t next = open_lamp();
    EXPECT_EQ(engine().call(request(row, row.deepest + 1, live)),
              R"({"ok":false,"error":")" + std::string(row.refusal) + R"("})");
    EXPECT_EQ(snapshot(live), before);
    const uint64_t after = open_lamp();
    EXPECT_EQ(after, next + 1);
    for (uint64_t h : {next, after}) engine().call(J(R"({"op":"close","handle":)" + std::to_string(h) + "}"));

    // Inside the process the refusal shows its kind.
    auto direct = zefa::api::request(request(row, row.deepest + 1, live_here));
    EXPECT_FALSE(direct.ok());
    if (direct.ok()) continue;
    EXPECT_EQ(direct.error().kind, row.kind);
    EXPECT_EQ(direct.error().to_string(), row.refusal);
  }
}

// An installed pack is answered from by later requests, so it is held to the
// depth that their replies can carry.
TEST_F(ReplyDepth, InstalledPackStaysReadableInLaterReplies) {
  const std::string classify =
      R"({"op":"classify","device":{"id":"d1","category":"dj","function":{"switch_led":{"type":"Boolean"}}},"rules_id":)";
  for (int levels : {126, 127}) {
    SCOPED_TRACE(levels);
    Value install = J(zefa::test::expand(R"({"op":"install_rules","rules":"@entities.json"})"));
    at(install, "/rules/identity_defaults/manufacturer") = nest(levels - 2);
    const std::string id = "deep" + std::to_string(levels);
    at(install, "/rules_id") = Value(id);
    ASSERT_EQ(install["rules"].depth(), levels);
    const std::string later = classify + R"(")" + id + R"("})";
    if (levels == 126) {
      EXPECT_EQ(engine().call(install), R"({"ok":true,"value":true})");
      const Value reply = reply_of(engine().call(later.c_str()));
      EXPECT_TRUE(reply["ok"].as_bool());
      EXPECT_EQ(reply.depth(), 128);
    } else {
      EXPECT_EQ(engine().call(install), R"({"ok":false,"error":"rules: nests too deeply"})");
      EXPECT_EQ(engine().call(later.c_str()),
                R"({"ok":false,"error":"rules are required or rules_id is not registered"})");
      auto direct = zefa::api::request(install);
      EXPECT_TRUE(!direct.ok() && direct.error().kind == ErrorKind::Request);
    }
  }
}
