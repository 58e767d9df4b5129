// Override blocks: every check of a mapping, a block, its cover settings,
// properties, declarative converter and rule programs, with exact messages.
#include "driver/overrides.hpp"

#include <gtest/gtest.h>

#include <string>

#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;
namespace ov = driver::overrides;

std::string outcome(const Status<std::string>& r) { return r.ok() ? "ok" : r.error(); }

const Value& rules_with_defaults() {
  static const Value rules = J(R"({"cover_defaults": {"invert_position": false, "invert_control": false, "settle": 0}})");
  return rules;
}

struct BlockCase {
  const char* name;
  const char* block;
  const char* expected;
};

void run_blocks(const BlockCase* begin, const BlockCase* end, bool strict) {
  for (const BlockCase* c = begin; c != end; ++c)
    EXPECT_EQ(outcome(ov::validate(J(c->block), rules_with_defaults(), strict)), c->expected) << c->name;
}

TEST(OverridesMapping, Shapes) {
  const struct {
    const char* mapping;
    const char* expected;
  } cases[] = {
      {"{}", "ok"},
      {"[]", "overrides must be object"},
      {"null", "overrides must be object"},
      {R"({"p1": {}, "p2": null})", "p2: override block must be object"},
      {R"({"p1": {"auto": true}, "p2": {"auto": 1}, "p3": 5})", "p2: auto: true or false"},
      {R"({"dev": {"dp": {"1": null}}})", "dev: invalid dp definition"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(outcome(ov::validate_mapping(J(c.mapping), rules_with_defaults())), c.expected) << c.mapping;
}

TEST(OverridesBlock, TopLevelMembers) {
  const BlockCase cases[] = {
      {"null block passes", "null", "ok"},
      {"non-object block", "[1]", "must be object"},
      {"empty block", "{}", "ok"},
      {"unknown top-level key", R"({"auto": true, "colour": 1})", "unknown key colour"},
      {"dp null", R"({"dp": null})", "dp: must be object"},
      {"props not object", R"({"props": []})", "props: must be object"},
      {"remap not object", R"({"remap": "x"})", "remap: must be object"},
      {"converters not object", R"({"converters": 1})", "converters: must be object"},
      {"object checks in their order", R"({"converters": 1, "dp": 1})", "dp: must be object"},
      {"category empty", R"({"category": ""})", "category: needs a nonempty string"},
      {"category null", R"({"category": null})", "category: needs a nonempty string"},
      {"category text", R"({"category": "cl"})", "ok"},
      {"device entry number", R"({"device": {"bogus": 5}})", "device.bogus: needs a string or null"},
      {"device entry key unknown", R"({"device": {"bogus": "x"}})", "unknown key bogus"},
      {"device entries", R"({"device": {"kind": "cover", "class": null, "label": "L", "vendor": "V", "model": "M"}})",
       "ok"},
      {"device not object", R"({"device": "x"})", "must be object"},
      {"device null", R"({"device": null})", "ok"},
      {"auto not boolean", R"({"auto": "yes"})", "auto: true or false"},
      {"auto before expose_unused", R"({"expose_unused": 1, "auto": 1})", "auto: true or false"},
      {"expose_unused not boolean", R"({"expose_unused": null})", "expose_unused: true or false"},
      {"remove not list", R"({"remove": "countdown"})", "remove needs list of codes"},
      {"remove with a number", R"({"remove": ["a", 1]})", "remove needs list of codes"},
      {"remove empty", R"({"remove": []})", "ok"},
      {"remove null", R"({"remove": null})", "remove needs list of codes"},
      {"cover null", R"({"cover": null})", "cover needs object"},
      {"unknown converter", R"({"converters": {"declarative": 5, "lua": {}}})", "unknown converter lua"},
      {"empty converters", R"({"converters": {}})", "ok"},
      {"declarative not object", R"({"converters": {"declarative": 5}})",
       "declarative converter and props must be objects"},
      {"delta unknown key", R"({"delta": {"accept": true}})", "unknown key accept"},
      {"delta not object", R"({"delta": true})", "must be object"},
      {"delta null", R"({"delta": null})", "ok"},
      {"delta value not boolean", R"({"delta": {"accept_passive": 1}})", "delta needs bool"},
      {"delta fine", R"({"delta": {"accept_passive": false}})", "ok"},
  };
  run_blocks(std::begin(cases), std::end(cases), false);
}

TEST(OverridesBlock, DatapointDefinitions) {
  const BlockCase cases[] = {
      {"rename", R"({"dp": {"101": {"code": "new"}}})", "ok"},
      {"definition", R"({"dp": {"101": {"code": "c", "type": "value", "values": {}, "mode": "R", "report_type": 1}}})",
       "ok"},
      {"every type word", R"({"dp": {"1": {"code": "a", "type": "Integer"}, "2": {"code": "b", "type": "bool"},
          "3": {"code": "c", "type": "enum"}, "4": {"code": "d", "type": "Bitmap"}, "5": {"code": "e", "type": "json"},
          "6": {"code": "f", "type": "Raw"}, "7": {"code": "g", "type": "string"}}})",
       "ok"},
      {"null definition", R"({"dp": {"1": null}})", "invalid dp definition"},
      {"definition not object", R"({"dp": {"1": "c"}})", "must be object"},
      {"unknown definition key", R"({"dp": {"1": {"code": "c", "scale": 1}}})", "unknown key scale"},
      {"code missing", R"({"dp": {"1": {"type": "bool"}}})", "invalid dp definition"},
      {"code empty", R"({"dp": {"1": {"code": ""}}})", "invalid dp definition"},
      {"code zero", R"({"dp": {"1": {"code": 0, "type": "bool"}}})", "invalid dp definition"},
      {"code truthy number", R"({"dp": {"1": {"code": 7, "type": "bool"}}})", "ok"},
      {"type word of another case", R"({"dp": {"1": {"code": "c", "type": "integer"}}})", "invalid dp definition"},
      {"type not text", R"({"dp": {"1": {"code": "c", "type": 1}}})", "invalid dp definition"},
      {"type null", R"({"dp": {"1": {"code": "c", "type": null}}})", "invalid dp definition"},
      {"rename with mode", R"({"dp": {"1": {"code": "c", "mode": "R"}}})", "a rename takes only a `code`"},
      {"mode WR", R"({"dp": {"1": {"code": "c", "type": "bool", "mode": "WR"}}})", "invalid mode"},
      {"mode not text", R"({"dp": {"1": {"code": "c", "type": "bool", "mode": 1}}})", "invalid mode"},
      {"mode W", R"({"dp": {"1": {"code": "c", "type": "bool", "mode": "W"}}})", "ok"},
      {"second definition fails", R"({"dp": {"1": {"code": "c"}, "2": {"code": "d", "values": 1}}})",
       "a rename takes only a `code`"},
  };
  run_blocks(std::begin(cases), std::end(cases), false);
}

TEST(OverridesBlock, PropertyPatchesAndNewProperties) {
  const BlockCase cases[] = {
      {"patch", R"({"props": {"p": {"label": "L", "class": null, "category": "config", "unit": "%", "series": "gauge",
          "rw": false, "role": "r", "hide": false}}})",
       "ok"},
      {"patch null", R"({"props": {"p": null}})", "property patch must be object"},
      {"patch not object", R"({"props": {"p": 1}})", "must be object"},
      {"patch unknown key", R"({"props": {"p": {"min": 1}}})", "unknown key min"},
      {"patch label not text", R"({"props": {"p": {"label": 1}}})", "property label: needs string or null"},
      {"patch role not text", R"({"props": {"p": {"role": []}}})", "property role: needs string or null"},
      {"string checks in order", R"({"props": {"p": {"unit": 1, "class": 1}}})", "property class: needs string or null"},
      {"patch category", R"({"props": {"p": {"category": "main"}}})", "invalid category"},
      {"patch series", R"({"props": {"p": {"series": "total"}}})", "invalid series"},
      {"patch rw not boolean", R"({"props": {"p": {"rw": 0}}})", "rw needs bool"},
      {"patch hide not boolean", R"({"props": {"p": {"hide": 1}}})", "hide needs bool"},
      {"patch rw true", R"({"props": {"p": {"rw": true}}})", "rw can only be false"},
      {"new property", R"({"props": {"p": {"src": "c", "type": "number", "min": 0, "max": 10, "step": 0.5, "rw": true,
          "unit": "W", "series": "counter"}}})",
       "ok"},
      {"new property may be writable", R"({"props": {"p": {"src": "c", "rw": true}}})", "ok"},
      {"new property unknown key", R"({"props": {"p": {"src": "c", "hide": true}}})", "unknown key hide"},
      {"new property src empty", R"({"props": {"p": {"src": ""}}})", "src needs code"},
      {"new property src not text", R"({"props": {"p": {"src": 5}}})", "src needs code"},
      {"new property src null", R"({"props": {"p": {"src": null}}})", "src needs code"},
      {"new event property", R"({"props": {"p": {"src": "c", "type": "event", "options": ["a"]}}})",
       "invalid property type"},
      {"new property unknown type", R"({"props": {"p": {"src": "c", "type": "colour"}}})", "invalid property type"},
      {"trigger without send", R"({"props": {"p": {"src": "c", "type": "trigger"}}})", "trigger needs send"},
      {"send without trigger", R"({"props": {"p": {"src": "c", "send": 1}}})", "trigger needs send"},
      {"trigger with send", R"({"props": {"p": {"src": "c", "type": "trigger", "send": null}}})", "ok"},
      {"new property min not number", R"({"props": {"p": {"src": "c", "min": "0"}}})", "min needs number"},
      {"number checks in order", R"({"props": {"p": {"src": "c", "step": "1", "max": "9"}}})", "max needs number"},
      {"step zero", R"({"props": {"p": {"src": "c", "step": 0}}})", "step must be positive"},
      {"step negative", R"({"props": {"p": {"src": "c", "step": -0.5}}})", "step must be positive"},
      {"min above max", R"({"props": {"p": {"src": "c", "min": 10, "max": 9.5}}})", "min exceeds max"},
      {"min equal max", R"({"props": {"p": {"src": "c", "min": 3, "max": 3.0}}})", "ok"},
      {"options not strings", R"({"props": {"p": {"src": "c", "options": ["a", 1]}}})", "options need array of strings"},
      {"options not array", R"({"props": {"p": {"src": "c", "options": "a"}}})", "options need array of strings"},
      {"duplicate options", R"({"props": {"p": {"src": "c", "options": ["a", "b", "a"]}}})", "duplicate options"},
      {"select without options passes when not strict", R"({"props": {"p": {"src": "c", "type": "select"}}})", "ok"},
  };
  run_blocks(std::begin(cases), std::end(cases), false);
}

TEST(OverridesBlock, Remaps) {
  const BlockCase cases[] = {
      {"remap", R"({"remap": {"c": {"alias": {"1": "open", "2": "close"}, "invert": true}}})", "ok"},
      {"remap null", R"({"remap": {"c": null}})", "remap needs object"},
      {"remap not object", R"({"remap": {"c": []}})", "must be object"},
      {"remap unknown key", R"({"remap": {"c": {"scale": 1}}})", "unknown key scale"},
      {"invert not boolean", R"({"remap": {"c": {"invert": "yes"}}})", "invert needs bool"},
      {"alias null", R"({"remap": {"c": {"alias": null}}})", "ok"},
      {"alias not object", R"({"remap": {"c": {"alias": ["a"]}}})", "alias needs object"},
      {"alias value not text", R"({"remap": {"c": {"alias": {"a": "x", "b": 1}}}})", "alias values need strings"},
      {"duplicate alias", R"({"remap": {"c": {"alias": {"a": "x", "b": "y", "c": "x"}}}})", "duplicate alias"},
  };
  run_blocks(std::begin(cases), std::end(cases), false);
}

TEST(OverridesBlock, CoverSettings) {
  const BlockCase cases[] = {
      {"settings and a group", R"({"cover": {"settle": 5, "state_source": "inferred", "invert_position": true,
          "left": {"settle": 9.5, "invert_control": false}}})",
       "ok"},
      {"cover not object", R"({"cover": []})", "cover needs object"},
      {"settle negative float", R"({"cover": {"settle": -0.5}})", "invalid settle"},
      {"settle negative integer", R"({"cover": {"settle": -1}})", "invalid settle"},
      {"settle negative zero", R"({"cover": {"settle": -0.0}})", "ok"},
      {"settle huge integer", R"({"cover": {"settle": 18446744073709551615}})", "ok"},
      {"settle text", R"({"cover": {"settle": "5"}})", "invalid settle"},
      {"state source null", R"({"cover": {"state_source": null}})", "invalid state_source"},
      {"state source unknown", R"({"cover": {"state_source": "auto"}})", "invalid state_source"},
      {"setting of the pack not boolean", R"({"cover": {"invert_control": 1}})", "cover needs bool"},
      {"setting absent from the pack's defaults", R"({"cover": {"invert_tilt": true}})", "unknown cover key invert_tilt"},
      {"group holding an object", R"({"cover": {"left": {"inner": {}}}})", "unknown cover key inner"},
      {"group holding a bad settle", R"({"cover": {"left": {"settle": -2}}})", "invalid settle"},
      {"unknown scalar key", R"({"cover": {"speed": 1}})", "unknown cover key speed"},
  };
  run_blocks(std::begin(cases), std::end(cases), false);
  // Without "cover_defaults" only settle and state_source are settings.
  EXPECT_EQ(outcome(ov::validate(J(R"({"cover": {"invert_position": true}})"), J("{}"), false)),
            "unknown cover key invert_position");
  EXPECT_EQ(outcome(ov::validate_cover(J(R"({"left": {}})"), J("{}"), false)), "unknown cover key left");
}

TEST(OverridesBlock, DeclarativeConverter) {
  const BlockCase cases[] = {
      {"converter", R"({"converters": {"declarative": {"props": {"mode": {"type": "select", "options": ["a"], "rw": true,
          "requires": {"x": 1}, "group": 5, "src": "m"}}, "write": {"mode": []}, "update": [], "timer": [], "reset": []}}})",
       "ok"},
      {"props not object", R"({"converters": {"declarative": {"props": []}}})",
       "declarative converter and props must be objects"},
      {"props absent passes when not strict", R"({"converters": {"declarative": {}}})", "ok"},
      {"write not object", R"({"converters": {"declarative": {"write": []}}})", "write must be object"},
      {"property named available", R"({"converters": {"declarative": {"props": {"available": {}}}}})",
       "invalid converter property"},
      {"property with empty name", R"({"converters": {"declarative": {"props": {"": {}}}}})",
       "invalid converter property"},
      {"property not object", R"({"converters": {"declarative": {"props": {"p": null}}}})",
       "invalid converter property"},
      {"property unknown key", R"({"converters": {"declarative": {"props": {"p": {"hide": true}}}}})",
       "unknown key hide"},
      {"event property", R"({"converters": {"declarative": {"props": {"p": {"type": "event"}}}}})", "ok"},
      {"property type unknown", R"({"converters": {"declarative": {"props": {"p": {"type": "list"}}}}})",
       "invalid property type"},
      {"writable without program passes when not strict",
       R"({"converters": {"declarative": {"props": {"p": {"type": "binary", "rw": true}}}}})", "ok"},
      {"write for an undeclared property passes when not strict",
       R"({"converters": {"declarative": {"props": {}, "write": {"x": []}}}})", "ok"},
      {"write program fails", R"({"converters": {"declarative": {"write": {"x": {}}}}})",
       "rule program must be an array"},
      {"reset with emit", R"({"converters": {"declarative": {"reset": [{"emit": "p"}]}}})",
       "reset programs can only assign state"},
      {"reset with nested emit",
       R"({"converters": {"declarative": {"reset": [{"if": true, "then": [{"set": "state.a"}, {"emit": "p"}]}]}}})",
       "reset programs can only assign state"},
      {"update before timer before reset",
       R"({"converters": {"declarative": {"reset": [{"emit": "p"}], "timer": 2, "update": [1]}}})",
       "statement must be object"},
      {"timer before reset", R"({"converters": {"declarative": {"reset": [{"emit": "p"}], "timer": 2}}})",
       "rule program must be an array"},
  };
  run_blocks(std::begin(cases), std::end(cases), false);
}

TEST(OverridesBlock, MergedBlockIsStrict) {
  const BlockCase cases[] = {
      {"complete converter", R"({"converters": {"declarative": {"props": {"m": {"type": "select", "options": ["a"],
          "rw": true}, "t": {"type": "trigger"}, "n": {"type": "number"}}, "write": {"m": [], "t": []},
          "update": [{"emit": "n", "value": 1}]}}})",
       "ok"},
      {"props required", R"({"converters": {"declarative": {}}})", "declarative converter and props must be objects"},
      {"property type required", R"({"converters": {"declarative": {"props": {"p": {}}}}})", "invalid property type"},
      {"select needs options", R"({"converters": {"declarative": {"props": {"p": {"type": "select"}}}}})",
       "select/event needs options"},
      {"event needs options", R"({"converters": {"declarative": {"props": {"p": {"type": "event"}}}}})",
       "select/event needs options"},
      {"writable needs write program",
       R"({"converters": {"declarative": {"props": {"p": {"type": "binary", "rw": true}}}}})",
       "writable declarative property needs write program"},
      {"trigger needs write program", R"({"converters": {"declarative": {"props": {"p": {"type": "trigger"}}}}})",
       "writable declarative property needs write program"},
      {"rw false needs none", R"({"converters": {"declarative": {"props": {"p": {"type": "binary", "rw": false}}}}})",
       "ok"},
      {"write for an undeclared property",
       R"({"converters": {"declarative": {"props": {}, "write": {"x": []}}}})", "write: unknown property x"},
      {"emit of an undeclared property",
       R"({"converters": {"declarative": {"props": {}, "update": [{"emit": "x"}]}}})", "emit: unknown property"},
      {"new property type not required in a patch list", R"({"props": {"p": {"src": "c"}}})", "ok"},
      {"patch unaffected", R"({"props": {"p": {"label": "x"}}})", "ok"},
  };
  run_blocks(std::begin(cases), std::end(cases), true);
}

struct ProgramCase {
  const char* name;
  const char* program;
  const char* expected;
};

TEST(OverridesProgram, Statements) {
  const ProgramCase cases[] = {
      {"empty", "[]", "ok"},
      {"not array", "{}", "rule program must be an array"},
      {"null", "null", "rule program must be an array"},
      {"statement not object", "[1]", "statement must be object"},
      {"if", R"([{"if": true, "then": [{"let": "x"}], "else": []}])", "ok"},
      {"if unknown key", R"([{"if": true, "set": "state.a"}])", "unknown key set"},
      {"if branch not array", R"([{"if": true, "then": {}}])", "rule program must be an array"},
      {"if else checked after then", R"([{"if": 1, "then": [], "else": [2]}])", "statement must be object"},
      {"set dotted", R"([{"set": "state.a.b", "value": 1}])", "ok"},
      {"set state alone", R"([{"set": "state"}])", "ok"},
      {"set list", R"([{"set": ["state", "a"]}])", "ok"},
      {"set other slot", R"([{"set": "config.a"}])", "rules can assign only state slots"},
      {"set empty text", R"([{"set": ""}])", "rules can assign only state slots"},
      {"set empty list", R"([{"set": []}])", "rules can assign only state slots"},
      {"set number", R"([{"set": 5}])", "rules can assign only state slots"},
      {"set list of another slot", R"([{"set": ["config", "state"]}])", "rules can assign only state slots"},
      {"set unknown key", R"([{"set": "state.a", "merge": {}}])", "unknown key merge"},
      {"emit", R"([{"emit": "p", "value": 1}])", "ok"},
      {"emit empty", R"([{"emit": ""}])", "emit: unknown property"},
      {"emit not text", R"([{"emit": 1}])", "emit: unknown property"},
      {"emit unknown key", R"([{"emit": "p", "to": 1}])", "unknown key to"},
      {"timer", R"([{"timer": "t", "after": 0}, {"timer": "u", "after": {"op": "get"}}, {"timer": "v", "after": null},
          {"timer": "w"}, {"timer": "x", "after": 2.5}])",
       "ok"},
      {"timer without name", R"([{"timer": ""}])", "timer needs name"},
      {"timer negative", R"([{"timer": "t", "after": -1}])", "invalid timer delay"},
      {"timer text delay", R"([{"timer": "t", "after": "5"}])", "invalid timer delay"},
      {"timer list delay", R"([{"timer": "t", "after": [5]}])", "invalid timer delay"},
      {"timer unknown key", R"([{"timer": "t", "every": 1}])", "unknown key every"},
      {"send", R"([{"send": {"code": "c", "value": null}}])", "ok"},
      {"send without value", R"([{"send": {"code": "c"}}])", "send needs code and value"},
      {"send null", R"([{"send": null}])", "send needs code and value"},
      {"send text", R"([{"send": "c"}])", "must be object"},
      {"send unknown inner key", R"([{"send": {"code": "c", "value": 1, "channel": 1}}])", "unknown key channel"},
      {"send unknown outer key", R"([{"send": {"code": "c", "value": 1}, "value": 2}])", "unknown key value"},
      {"let", R"([{"let": "x", "value": 1}])", "ok"},
      {"let empty", R"([{"let": ""}])", "let needs name"},
      {"let unknown key", R"([{"let": "x", "in": 1}])", "unknown key in"},
      {"unknown statement", R"([{"command": {}}])", "unknown rule statement"},
      {"empty statement", R"([{}])", "unknown rule statement"},
      {"first deciding key wins", R"([{"emit": "p", "set": "state.a"}])", "unknown key emit"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(outcome(ov::validate_program(J(c.program), Value(), 0, false, true)), c.expected) << c.name;
}

// A program whose innermost (empty) program sits `levels` "if"s down. Built
// directly: 64 levels nest deeper than the parser would accept.
Value nested_program(int levels) {
  Value program = Value::array();
  for (int i = 0; i < levels; ++i)
    program = Value(json::Array{Value(json::Object{{"if", true}, {"then", program}})});
  return program;
}

TEST(OverridesProgram, NestingLimit) {
  // 63 "if" levels put the innermost program at level 63: accepted.
  EXPECT_EQ(outcome(ov::validate_program(nested_program(63), Value(), 0, false, true)), "ok");
  EXPECT_EQ(outcome(ov::validate_program(nested_program(64), Value(), 0, false, true)),
            "rule nesting limit exceeded");
  EXPECT_EQ(outcome(ov::validate_program(J("[]"), Value(), 64, false, true)), "rule nesting limit exceeded");
}

TEST(OverridesUnknown, Forms) {
  EXPECT_EQ(outcome(ov::unknown(Value(), {"a"})), "ok");
  EXPECT_EQ(outcome(ov::unknown(J("[]"), {"a"})), "must be object");
  EXPECT_EQ(outcome(ov::unknown(J(R"({"a": 1, "b": 2, "c": 3})"), {"a"})), "unknown key b");
  EXPECT_EQ(outcome(ov::unknown(J(R"({"A": 1})"), {"a"})), "unknown key A");
  EXPECT_EQ(outcome(ov::unknown(J("{}"), {})), "ok");
}

TEST(OverridesMapping, FixtureOverridesPassAndTheMergedBlockIsChecked) {
  const Value pack = test::load("rules_full.json");
  EXPECT_EQ(outcome(ov::validate_mapping(pack["overrides"], pack)), "ok");
  for (const auto& m : pack["overrides"].obj())
    EXPECT_EQ(outcome(ov::validate(m.value, pack, true)), "ok") << m.name();
}

TEST(OverridesValueFits, ByType) {
  struct Case {
    const char* definition;
    const char* value;
    bool fits;
  } cases[] = {
      {R"({"type":"text"})", R"("a")", true},
      {R"({"type":"text"})", "1", false},
      {R"({"type":"binary"})", "true", true},
      {R"({"type":"binary"})", "1", false},
      {R"({"type":"number"})", "1", true},
      {R"({"type":"number"})", "-2", true},
      {R"({"type":"number"})", "1.5", true},
      {R"({"type":"number"})", R"("1")", false},
      {R"({"type":"select","options":["a","b"]})", R"("b")", true},
      {R"({"type":"select","options":["a","b"]})", R"("c")", false},
      {R"({"type":"select","options":[1]})", "1.0", false},
      {R"({"type":"select","options":[{"a":1,"b":2}]})", R"({"b":2,"a":1})", true},
      {R"({"type":"select","options":[]})", R"("a")", false},
      {R"({"type":"select","options":"a"})", R"("a")", false},
      {R"({"type":"select"})", "null", false},
      {R"({"type":"event"})", R"("a")", false},
      {R"({"type":"trigger"})", "true", false},
      {R"({"type":5})", "5", false},
      {"{}", R"("a")", false},
      {"null", "1", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ov::value_fits(J(c.value), J(c.definition)), c.fits) << c.definition << " " << c.value;
}

}  // namespace
}  // namespace zefa
