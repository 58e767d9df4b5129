// Rule packs: the schema validator, full validation, patches and composition.
#include "rules.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

const Value& full_pack() {
  static const Value pack = test::load("rules_full.json");
  return pack;
}

// The fixture with a patch applied, as a pack that differs in one place.
Value pack_with(std::string_view patch_text) {
  Value pack = full_pack();
  rules::patch(pack, J(patch_text));
  return pack;
}

std::string outcome(const Status<std::string>& r) { return r.ok() ? "ok" : r.error(); }

TEST(RulesSchema, ParsesOnceAndHasTheDeclaredShape) {
  const auto& s = rules::schema::SCHEMA();
  ASSERT_TRUE(s.ok()) << s.error();
  EXPECT_EQ(&s, &rules::schema::SCHEMA());
  const Value& top = s.value();
  EXPECT_EQ(top["$id"], Value("urn:zefa_interpreter:rule-pack:1"));
  EXPECT_EQ(top["title"], Value("Zefa portable rule pack version 1"));
  EXPECT_EQ(top["required"], J(R"(["version","platforms","entities","unused","templates","functions","quirks","units",
      "host_units","maps","features","constants","cover_defaults","cover_switches","motion_property","strategies"])"));
  std::vector<std::string> keys;
  for (const auto& m : top.obj()) keys.emplace_back(m.name());
  EXPECT_EQ(keys, (std::vector<std::string>{"$schema", "$id", "title", "type", "required", "properties",
                                            "additionalProperties", "$defs"}));
  std::vector<std::string> defs;
  for (const auto& m : top["$defs"].obj()) defs.emplace_back(m.name());
  EXPECT_EQ(defs, (std::vector<std::string>{"entity", "cover", "unused", "function"}));
  const char* settings = R"(["invert_position","invert_set_position","invert_control","settle","invert_tilt",
      "position_from_target","state_source","invert_reported_motion"])";
  for (const char* section : {"cover_defaults", "cover_switches"}) {
    Value names = Value::array();
    for (const auto& m : top["properties"][section]["properties"].obj()) names.arr_mut().emplace_back(m.name());
    EXPECT_EQ(names, J(settings)) << section;
  }
}

TEST(RulesSchemaConcurrency, FirstUseFromManyThreadsSeesOneSchema) {
  std::vector<const void*> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] {
      seen[i] = &rules::schema::SCHEMA();
      EXPECT_TRUE(rules::validate(full_pack()).ok());
    });
  for (auto& t : threads) t.join();
  for (const void* p : seen) EXPECT_EQ(p, seen[0]);
}

TEST(RulesValidate, FullFixturePasses) { EXPECT_EQ(outcome(rules::validate(full_pack())), "ok"); }

struct ValidateCase {
  const char* name;
  const char* patch;  // applied to the full fixture
  const char* expected;
};

TEST(RulesValidate, MessagesAndPaths) {
  const ValidateCase cases[] = {
      {"fixture unchanged", R"({})", "ok"},
      {"extra top-level member", R"({"extra": 1})", "rules : unknown field extra"},
      {"version as float", R"({"version": 1.0})", "rules /version: expected 1"},
      {"version 2", R"({"version": 2})", "rules /version: expected 1"},
      {"empty kind", R"({"entities": {"light": {"kind": ""}}})", "rules /entities/light/kind: string too short"},
      {"one non-ASCII character kind", R"({"entities": {"light": {"kind": "é"}}})", "ok"},
      {"duplicate strategy", R"({"strategies": ["a", "b", "a"]})", "rules /strategies: duplicate item"},
      {"strategy not a string", R"({"strategies": ["a", 5]})", "rules /strategies/1: expected \"string\""},
      {"state source outside enum", R"({"cover_defaults": {"state_source": "auto"}})",
       "rules /cover_defaults/state_source: unsupported value \"auto\""},
      {"state source null", R"({"cover_defaults": {"state_source": null}})", "ok"},
      {"settle as text", R"({"cover_defaults": {"settle": "30"}})", "rules /cover_defaults/settle: expected \"number\""},
      {"unknown cover default", R"({"cover_defaults": {"speed": 1}})", "rules /cover_defaults: unknown field speed"},
      {"unknown cover switch", R"({"cover_switches": {"speed": "Speed"}})", "rules /cover_switches: unknown field speed"},
      {"cover switch label not text", R"({"cover_switches": {"settle": 1}})",
       "rules /cover_switches/settle: expected \"string\""},
      {"platform without table", R"({"platforms": {"light": {"table": {"$delete": true}}}})",
       "rules /platforms/light: missing \"table\""},
      {"platform extra member", R"({"platforms": {"light": {"icon": "bulb"}}})",
       "rules /platforms/light: unknown field icon"},
      {"platform not an object", R"({"platforms": {"light": []}})", "rules /platforms/light: expected \"object\""},
      {"categories not an object", R"({"platforms": {"light": {"categories": []}}})",
       "rules /platforms/light/categories: expected \"object\""},
      {"entity unknown member", R"({"entities": {"light": {"colour": 1}}})", "rules /entities/light: unknown field colour"},
      {"entity composite not boolean", R"({"entities": {"light": {"composite": 1}}})",
       "rules /entities/light/composite: expected \"boolean\""},
      {"entity key with a slash is not escaped", R"({"entities": {"a/b~c": {"kind": ""}}})",
       "rules /entities/a/b~c/kind: string too short"},
      {"cover definition lacks words", R"({"entities": {"cover": {"cover": {"words": {"$delete": true}}}}})",
       "rules /entities/cover/cover: missing \"words\""},
      {"cover position item not text", R"({"entities": {"cover": {"cover": {"position": ["a", 1]}}}})",
       "rules /entities/cover/cover/position/1: expected \"string\""},
      {"role order duplicate", R"({"entities": {"light": {"role_order": ["a", "a"]}}})",
       "rules /entities/light/role_order: duplicate item"},
      {"unused role empty", R"({"unused": {"role": ""}})", "rules /unused/role: string too short"},
      {"unused variant platform empty", R"({"unused": {"variants": [{"when": true, "platform": "", "steps": []}]}})",
       "rules /unused/variants/0/platform: string too short"},
      {"unused variant lacks steps", R"({"unused": {"variants": [{"when": true, "platform": "x"}]}})",
       "rules /unused/variants/0: missing \"steps\""},
      {"unused extra member", R"({"unused": {"extra": 1}})", "rules /unused: unknown field extra"},
      {"function params repeat", R"({"functions": {"clamp": {"params": ["x", "x"]}}})",
       "rules /functions/clamp/params: duplicate item"},
      {"function extra member", R"({"functions": {"clamp": {"doc": "x"}}})", "rules /functions/clamp: unknown field doc"},
      {"function without body", R"({"functions": {"f": {"params": []}}})", "rules /functions/f: missing \"body\""},
      {"constants allow other members", R"({"constants": {"anything": [1, {}]}})", "ok"},
      {"constant message empty", R"({"constants": {"alarm_non_triggering_messages": ["ok", ""]}})",
       "rules /constants/alarm_non_triggering_messages/1: string too short"},
      {"manufacturer may be empty", R"({"constants": {"manufacturer": ""}})", "ok"},
      {"rw roles not an array", R"({"rw_roles": "switch"})", "rules /rw_roles: expected \"array\""},
      {"override block not an object", R"({"overrides": {"p": 5}})", "rules /overrides/p: expected \"object\""},
      {"overrides absent", R"({"overrides": {"$delete": true}})", "ok"},
      {"override block fails its check", R"({"overrides": {"p": {"dp": null}}})", "override: p: dp: must be object"},
      {"optional sections absent",
       R"({"wind": {"$delete": true}, "electricity": {"$delete": true}, "meter_alarms": {"$delete": true},
           "rw_roles": {"$delete": true}, "layout_common": {"$delete": true}, "identity_defaults": {"$delete": true}})",
       "ok"},
  };
  for (const auto& c : cases) EXPECT_EQ(outcome(rules::validate(pack_with(c.patch))), c.expected) << c.name;
}

TEST(RulesValidate, EmptyAndPartialPacks) {
  EXPECT_EQ(outcome(rules::validate(J("{}"))), "rules : missing \"version\"");
  EXPECT_EQ(outcome(rules::validate(J(R"({"version": 1})"))), "rules : missing \"platforms\"");
  EXPECT_EQ(outcome(rules::validate(J("[]"))), "rules : expected \"object\"");
  EXPECT_EQ(outcome(rules::validate(J(R"({"overrides": {}})"))), "rules : missing \"version\"");
  // The schema's order decides, not the pack's.
  Value pack = pack_with(R"({"strategies": {"$delete": true}, "platforms": {"$delete": true}})");
  EXPECT_EQ(outcome(rules::validate(pack)), "rules : missing \"platforms\"");
}

TEST(RulesValidate, EmptyOverridesPass) {
  Value pack = full_pack();
  pack.obj_mut().insert_or_assign("overrides", Value::object());
  EXPECT_EQ(outcome(rules::validate(pack)), "ok");
}

struct CheckCase {
  const char* name;
  const char* schema;
  const char* instance;
  const char* expected;
};

TEST(RulesCheck, Keywords) {
  const CheckCase cases[] = {
      {"empty node accepts anything", R"({})", R"({"a": [1]})", "ok"},
      {"type number takes integers and floats", R"({"type": "number"})", "-3", "ok"},
      {"type number takes floats", R"({"type": "number"})", "2.5", "ok"},
      {"unknown type name matches nothing", R"({"type": "integer"})", "5", "rules : expected \"integer\""},
      {"null type matches nothing", R"({"type": "null"})", "null", "rules : expected \"null\""},
      {"non-string type is ignored", R"({"type": ["string"]})", "5", "ok"},
      {"boolean type", R"({"type": "boolean"})", "0", "rules : expected \"boolean\""},
      {"const null", R"({"const": null})", "0", "rules : expected null"},
      {"const integer is not float", R"({"const": 1})", "1.0", "rules : expected 1"},
      {"const object in another order", R"({"const": {"a": 1, "b": [2]}})", R"({"b": [2], "a": 1})", "ok"},
      {"const object written as JSON", R"({"const": {"a": "x"}})", R"({})", "rules : expected {\"a\":\"x\"}"},
      {"type before const", R"({"type": "string", "const": "a"})", "1", "rules : expected \"string\""},
      {"enum match", R"({"enum": [1, "a", null]})", "null", "ok"},
      {"enum miss shows compact value", R"({"enum": [1]})", R"({"k": [1, 2.5]})",
       "rules : unsupported value {\"k\":[1,2.5]}"},
      {"empty enum always fails", R"({"enum": []})", "1", "rules : unsupported value 1"},
      {"non-array enum ignored", R"({"enum": 1})", "2", "ok"},
      {"minLength counts characters", R"({"minLength": 3})", R"("日本")", "rules : string too short"},
      {"minLength reached", R"({"minLength": 3})", R"("日本語")", "ok"},
      {"minLength zero", R"({"minLength": 0})", R"("")", "ok"},
      {"minLength float ignored", R"({"minLength": 1.0})", R"("")", "ok"},
      {"minLength negative ignored", R"({"minLength": -1})", R"("")", "ok"},
      {"strings skip object keywords", R"({"required": ["a"], "items": {"type": "number"}})", R"("x")", "ok"},
      {"required in listed order", R"({"required": ["a", "b"]})", R"({"b": 1})", "rules : missing \"a\""},
      {"required entry not a string", R"({"required": ["a", 1]})", R"({"a": 1})", "invalid schema required field"},
      {"required not an array ignored", R"({"required": "a"})", R"({})", "ok"},
      {"properties path", R"({"properties": {"a": {"properties": {"b": {"type": "string"}}}}})",
       R"({"a": {"b": 1}})", "rules /a/b: expected \"string\""},
      {"additional properties schema", R"({"properties": {"a": {}}, "additionalProperties": {"type": "number"}})",
       R"({"a": "x", "z": "y"})", "rules /z: expected \"number\""},
      {"additional properties false names the key", R"({"properties": {"a": {}}, "additionalProperties": false})",
       R"({"a": 1, "b c": 2})", "rules : unknown field b c"},
      {"additional properties true accepts", R"({"additionalProperties": true})", R"({"a": 1})", "ok"},
      {"members checked in instance order", R"({"properties": {"a": {"type": "string"}, "b": {"type": "string"}}})",
       R"({"b": 1, "a": 2})", "rules /b: expected \"string\""},
      {"required before members", R"({"required": ["x"], "properties": {"a": {"type": "string"}}})", R"({"a": 1})",
       "rules : missing \"x\""},
      {"items path", R"({"items": {"type": "string"}})", R"(["a", "b", 3])", "rules /2: expected \"string\""},
      {"unique without items", R"({"uniqueItems": true})", R"([1, 1.0, "1", [1], {"a": 1}, {"a": 1}])",
       "rules : duplicate item"},
      {"unique distinguishes integer and float", R"({"uniqueItems": true})", R"([1, 1.0, -1, -1.0])", "ok"},
      {"unique false allows repeats", R"({"uniqueItems": false})", R"([1, 1])", "ok"},
      {"item checked before its uniqueness", R"({"items": {"type": "number"}, "uniqueItems": true})",
       R"([1, 1, "x"])", "rules : duplicate item"},
      {"item failure first", R"({"items": {"type": "number"}, "uniqueItems": true})", R"([1, "x", 1])",
       "rules /1: expected \"number\""},
      {"ref to defs", R"({"$defs": {"s": {"type": "string"}}, "$ref": "#/$defs/s"})", "1",
       "rules : expected \"string\""},
      {"ref with several hashes", R"({"$defs": {"s": {"type": "string"}}, "$ref": "###/$defs/s"})", "1",
       "rules : expected \"string\""},
      {"keywords beside ref are not applied", R"({"$defs": {"s": {}}, "$ref": "#/$defs/s", "type": "string"})", "1",
       "ok"},
      {"unresolved ref", R"({"$ref": "#/$defs/missing"})", "1", "invalid schema reference"},
      {"non-string ref ignored", R"({"$ref": 5, "type": "number"})", "1", "ok"},
      {"ref chain", R"({"$defs": {"a": {"$ref": "#/$defs/b"}, "b": {"const": 2}}, "$ref": "#/$defs/a"})", "1",
       "rules : expected 2"},
      {"self-referring ref does not loop", R"({"$defs": {"a": {"$ref": "#/$defs/a"}}, "$ref": "#/$defs/a"})", "1",
       "invalid schema reference"},
      {"ref into an array", R"({"$defs": [{"type": "string"}], "items": {"$ref": "#/$defs/0"}})", R"([1])",
       "rules /0: expected \"string\""},
  };
  for (const auto& c : cases) {
    Value schema = J(c.schema);
    EXPECT_EQ(outcome(rules::check(J(c.instance), schema, schema, "")), c.expected) << c.name;
  }
}

TEST(RulesCheck, PathPrefixAndRootReference) {
  Value root = J(R"({"properties": {"next": {"$ref": "#"}}, "type": "object"})");
  EXPECT_EQ(outcome(rules::check(J(R"({"next": {"next": 5}})"), root, root, "/base")),
            "rules /base/next/next: expected \"object\"");
  EXPECT_EQ(outcome(rules::check(J(R"({"next": {"next": {}}})"), root, root, "")), "ok");
}

TEST(RulesCheck, LongArraysFindTheFirstRepeat) {
  Value node = J(R"({"uniqueItems": true})");
  std::string text = "[";
  for (int i = 0; i < 5000; ++i) text += std::to_string(i) + ",";
  text += R"({"a":1,"b":[1.5,-0.0]},"x",{"b":[1.5,0.0],"a":1}])";
  EXPECT_EQ(outcome(rules::check(J(text), node, node, "/l")), "rules /l: duplicate item");

  std::string distinct = "[";
  for (int i = 0; i < 5000; ++i) distinct += std::to_string(i) + "," + std::to_string(i) + ".0,\"" + std::to_string(i) + "\",";
  distinct += "null]";
  EXPECT_EQ(outcome(rules::check(J(distinct), node, node, "")), "ok");
}

TEST(RulesCheck, DeepInstancesStayWithinTheirOwnNesting) {
  // An instance at the parser's nesting limit, walked by a recursive node.
  std::string text(127, '[');
  text += "1";
  text += std::string(127, ']');
  Value root = J(R"({"type": "array", "items": {"anyOf": [], "$ref": "#/$defs/a"}, "$defs": {"a": {"items": {"$ref": "#/$defs/a"}}}})");
  EXPECT_EQ(outcome(rules::check(J(text), root, root, "")), "ok");
  Value strict = J(R"({"items": {"$ref": "#"}, "type": "array"})");
  std::string expected = "rules ";
  for (int i = 0; i < 127; ++i) expected += "/0";
  expected += ": expected \"array\"";
  EXPECT_EQ(outcome(rules::check(J(text), strict, strict, "")), expected);
}

struct PatchCase {
  const char* name;
  const char* target;
  const char* patch;
  const char* expected;  // compact text, member order included
};

TEST(RulesPatch, Forms) {
  const PatchCase cases[] = {
      {"null replaces", R"({"a": 1})", "null", "null"},
      {"array replaces whole", R"([1, 2])", "[3]", "[3]"},
      {"scalar replaces", R"({"a": 1})", "5", "5"},
      {"non-object target becomes an object", "7", R"({"a": 1})", R"({"a":1})"},
      {"empty patch on a non-object target", "7", "{}", "{}"},
      {"empty patch keeps the target", R"({"b": 1, "a": 2})", "{}", R"({"b":1,"a":2})"},
      {"members merge recursively", R"({"a": {"x": 1, "y": 2}})", R"({"a": {"y": 3, "z": 4}})",
       R"({"a":{"x":1,"y":3,"z":4}})"},
      {"new members go last", R"({"b": 1})", R"({"a": {"c": null}})", R"({"b":1,"a":{"c":null}})"},
      {"null member is set, not removed", R"({"platforms": {"x": 1}, "z": 2})", R"({"platforms": null})",
       R"({"platforms":null,"z":2})"},
      {"delete moves the last member into place", R"({"a": 1, "b": 2, "c": 3, "d": 4})", R"({"b": {"$delete": true}})",
       R"({"a":1,"d":4,"c":3})"},
      {"delete of a missing key", R"({"a": 1})", R"({"x": {"$delete": true}})", R"({"a":1})"},
      {"delete false is data", R"({"a": 1})", R"({"a": {"$delete": false}})", R"({"a":{"$delete":false}})"},
      {"delete beside other members is data", R"({})", R"({"x": {"$delete": true, "y": 1}})",
       R"({"x":{"$delete":true,"y":1}})"},
      {"delete beside members merges", R"({"x": {"z": 0}})", R"({"x": {"$delete": true, "y": 1}})",
       R"({"x":{"z":0,"$delete":true,"y":1}})"},
      {"append to an array", R"({"s": ["a"]})", R"({"s": {"$append": ["x", {"k": 1}]}})", R"({"s":["a","x",{"k":1}]})"},
      {"append to a missing key", R"({"s": 1, "t": 2})", R"({"u": {"$append": ["x"]}})", R"({"s":1,"t":2,"u":["x"]})"},
      {"append over a non-array keeps place", R"({"s": 1, "t": 2})", R"({"s": {"$append": ["x"]}})",
       R"({"s":["x"],"t":2})"},
      {"append of a non-array is data", R"({"s": ["a"]})", R"({"s": {"$append": "x"}})", R"({"s":{"$append":"x"}})"},
      {"append nested", R"({"a": {"s": []}})", R"({"a": {"s": {"$append": [1]}}})", R"({"a":{"s":[1]}})"},
      {"delete nested", R"({"a": {"s": 1, "t": 2}})", R"({"a": {"s": {"$delete": true}}})", R"({"a":{"t":2}})"},
  };
  for (const auto& c : cases) {
    Value target = J(c.target);
    rules::patch(target, J(c.patch));
    EXPECT_EQ(target.dump(), c.expected) << c.name;
  }
}

TEST(RulesPatch, LeavesCopiesAndThePatchUntouched) {
  Value base = J(R"({"a": {"s": [1], "t": {"u": 1}}})");
  Value copy = base;
  Value p = J(R"({"a": {"s": {"$append": [2]}, "t": {"u": {"$delete": true}}}})");
  rules::patch(copy, p);
  EXPECT_EQ(copy.dump(), R"({"a":{"s":[1,2],"t":{}}})");
  EXPECT_EQ(base.dump(), R"({"a":{"s":[1],"t":{"u":1}}})");
  EXPECT_EQ(p.dump(), R"({"a":{"s":{"$append":[2]},"t":{"u":{"$delete":true}}}})");
  // A target patched with itself.
  Value self = J(R"({"a": {"b": 1}})");
  rules::patch(self, self);
  EXPECT_EQ(self.dump(), R"({"a":{"b":1}})");
}

// Builds a "merge_rules" request around the full fixture.
Value request(std::string_view layers, bool tolerant = false, const Value* base = nullptr) {
  Value req = Value::object();
  req.obj_mut().insert_or_assign("base", base ? *base : full_pack());
  req.obj_mut().insert_or_assign("tolerant", tolerant);
  req.obj_mut().insert_or_assign("layers", J(layers));
  return req;
}

std::string compose_outcome(const Value& req) {
  auto r = rules::compose(req);
  if (!r.ok()) return "error: " + r.error();
  return "sources " + r.value()["sources"].dump() + " warnings " + r.value()["warnings"].dump();
}

TEST(RulesCompose, ReplyShape) {
  auto r = rules::compose(request("[]"));
  ASSERT_TRUE(r.ok()) << r.error();
  std::vector<std::string> keys;
  for (const auto& m : r.value().obj()) keys.emplace_back(m.name());
  EXPECT_EQ(keys, (std::vector<std::string>{"rules", "sources", "warnings"}));
  EXPECT_EQ(r.value()["rules"].dump(), full_pack().dump());
  EXPECT_EQ(r.value()["sources"], J("[]"));
  EXPECT_EQ(r.value()["warnings"], J("[]"));
}

struct ComposeCase {
  const char* name;
  const char* layers;
  bool tolerant;
  const char* expected;
};

TEST(RulesCompose, LayersOverAFullBase) {
  const ComposeCase cases[] = {
      {"labelled layer", R"([{"source": "fix-1", "rules": {"maps": {"m": {}}}}])", false,
       R"(sources ["fix-1"] warnings [])"},
      {"third member makes an unlabelled layer, fatal at the end",
       R"([{"source": "fix-1", "rules": {"maps": {}}, "note": 1}])", false, "error: rules : unknown field source"},
      {"third member skipped when tolerant", R"([{"source": "fix-1", "rules": {"maps": {}}, "note": 1}])", true,
       R"(sources [] warnings ["layer 0: rules : unknown field source"])"},
      {"non-string source is no label", R"([{"source": 1, "rules": {}}])", true,
       R"(sources [] warnings ["layer 0: rules : unknown field source"])"},
      {"layer not an object", R"([5])", false, "error: layer 0: rule layer must be a JSON object"},
      {"labelled layer whose rules are no object", R"([{}, {"source": "s", "rules": []}])", false,
       "error: s: rule layer must be a JSON object"},
      {"layer not an object, tolerant", R"([{}, 5, {"maps": {"n": {}}}])", true,
       R"(sources ["layer 0","layer 2"] warnings ["layer 1: rule layer must be a JSON object"])"},
      {"delete of a required section is fatal at the end", R"([{"units": {"$delete": true}}])", false,
       "error: rules : missing \"units\""},
      {"delete of a required section skipped when tolerant", R"([{"units": {"$delete": true}}])", true,
       R"(sources [] warnings ["layer 0: rules : missing \"units\""])"},
      {"bad override skipped when tolerant", R"([{"overrides": {"p": {"auto": 1}}}, {"maps": {}}])", true,
       R"(sources ["layer 1"] warnings ["layer 0: override: p: auto: true or false"])"},
      {"bad override fatal at the end", R"([{"overrides": {"p": {"auto": 1}}}])", false,
       "error: override: p: auto: true or false"},
      {"schema fault inside a layer path", R"([{"source": "L", "rules": {"strategies": {"$append": ["enum"]}}}])",
       true, R"(sources [] warnings ["L: rules /strategies: duplicate item"])"},
      {"non-array layers means none", R"({"maps": {}})", false, R"(sources [] warnings [])"},
  };
  for (const auto& c : cases) EXPECT_EQ(compose_outcome(request(c.layers, c.tolerant)), c.expected) << c.name;
}

TEST(RulesCompose, AppendAndDeleteResults) {
  auto r = rules::compose(request(R"([{"strategies": {"$append": ["x"]}}])"));
  ASSERT_TRUE(r.ok()) << r.error();
  Value expected = full_pack()["strategies"];
  expected.arr_mut().emplace_back("x");
  EXPECT_EQ(r.value()["rules"]["strategies"], expected);

  Value base = full_pack();
  base.obj_mut().erase_ordered("strategies");
  Value base_copy = base;
  auto added = rules::compose(request(R"([{"strategies": {"$append": ["x"]}}])", false, &base));
  ASSERT_TRUE(added.ok()) << added.error();
  const auto& obj = added.value()["rules"].obj();
  EXPECT_EQ(obj.at(obj.size() - 1).name(), "strategies");
  EXPECT_EQ(obj.at(obj.size() - 1).value, J(R"(["x"])"));
  EXPECT_EQ(base, base_copy);
}

TEST(RulesCompose, BaseAndDefaults) {
  EXPECT_EQ(compose_outcome(J("{}")), "error: rules : missing \"version\"");
  EXPECT_EQ(compose_outcome(J(R"({"base": null})")), "error: rule base must be a JSON object");
  EXPECT_EQ(compose_outcome(J(R"({"base": [], "layers": [5]})")), "error: rule base must be a JSON object");
  // "tolerant" other than a boolean counts as false.
  Value req = request(R"([5])");
  req.obj_mut().insert_or_assign("tolerant", 1);
  EXPECT_EQ(compose_outcome(req), "error: layer 0: rule layer must be a JSON object");
  // Packs built from nothing, layer by layer.
  Value whole = Value::object();
  whole.obj_mut().insert_or_assign("layers", Value(json::Array{full_pack()}));
  EXPECT_EQ(compose_outcome(whole), R"(sources ["layer 0"] warnings [])");
}

TEST(RulesCompose, TolerantPartialBaseUsesTheRelaxedNode) {
  // The first layers add sections to an incomplete pack; once complete, the
  // full node applies and removing a section is refused.
  Value first = Value::object();
  Value second = Value::object();
  for (const auto& m : full_pack().obj()) {
    const bool later = m.name() == "units" || m.name() == "maps" || m.name() == "strategies";
    (later ? second : first).obj_mut().insert_or_assign(m.name(), m.value);
  }
  Value req = Value::object();
  req.obj_mut().insert_or_assign("tolerant", true);
  req.obj_mut().insert_or_assign(
      "layers", Value(json::Array{first, J(R"({"bogus": 1})"), second, J(R"({"units": {"$delete": true}})")}));
  EXPECT_EQ(compose_outcome(req),
            R"(sources ["layer 0","layer 2"] warnings ["layer 1: rules : unknown field bogus","layer 3: rules : missing \"units\""])");
}

TEST(RulesCompose, TolerantBrokenBaseSkipsLayersThatDoNotRepairIt) {
  Value base = pack_with(R"({"strategies": ["a", "a"]})");
  EXPECT_EQ(compose_outcome(request(R"([{"maps": {}}, {"strategies": ["a"]}, {"maps": {"z": {}}}])", true, &base)),
            R"(sources ["layer 1","layer 2"] warnings ["layer 0: rules /strategies: duplicate item"])");
  EXPECT_EQ(compose_outcome(request(R"([{"maps": {}}])", true, &base)), "error: rules /strategies: duplicate item");
}

TEST(RulesCompose, RequestIsNotChanged) {
  Value req = request(R"([{"maps": {"$delete": true}}, {"maps": {"m": 1}}])");
  std::string before = req.dump();
  auto r = rules::compose(req);
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(req.dump(), before);
}

}  // namespace
}  // namespace zefa
