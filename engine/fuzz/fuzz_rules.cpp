// Rule packs from untrusted text: validation, fingerprinting, composition and
// the override checks answer every JSON value with a result or a message.
// A composed pack always validates again and stays within the nesting limit.
// Device preparation takes the input as override mappings (the host's and
// the pack's) and as {"device", "dpmap", "overrides", "use_quirks"}: what it
// prepares stays readable, its merged block is complete, and it is
// repeatable. Its block then patches an assembled descriptor, which keeps
// one binding per property and plans for every datapoint binding.
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "driver/overrides.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "record.hpp"
#include "rules/overrides.hpp"
#include "rules/rules.hpp"
#include "runtime/rulepack.hpp"

namespace {

using zefa::json::Value;

// The harness's own fixtures, which must parse.
Value parsed(const char* text) { return zefa::testing::parse_or_abort(text); }

// A small complete pack: patches from the input land on a valid base.
const Value& base_pack() {
  static const Value pack = parsed(R"({"version":1,"platforms":{"switch":{"table":"t","categories":{"kg":{"key":"k"}}}},
      "entities":{"switch":{"kind":"switch","cover":{"position":["p"],"target":"t","instruction":"i","tilt":"a","words":["w"]}}},
      "unused":{"role":"value","variants":[{"when":true,"platform":"sensor","steps":[]}]},
      "templates":{},"functions":{"f":{"params":["x"],"body":null}},"quirks":{},"units":{},"host_units":{},"maps":{},
      "features":{},"constants":{"manufacturer":"M"},"cover_defaults":{"invert_position":false,"settle":1},
      "cover_switches":{"settle":"Settle"},"motion_property":{},"strategies":["enum"],
      "overrides":{"p":{"cover":{"settle":1,"invert_position":true}}}})");
  return pack;
}

void composed_pack_is_sound(const zefa::Result<Value, std::string>& r) {
  if (!r.ok()) {
    if (r.error().empty()) std::abort();
    return;
  }
  const Value& pack = r.value()["rules"];
  if (r.value().depth() > zefa::json::kMaxDepth) std::abort();
  if (!zefa::rules::validate(pack).ok()) std::abort();
}

// A device with a little of everything preparation touches.
const Value& base_device() {
  static const Value device = parsed(R"({"id":"d","product_id":"p","function":{"c":{"type":"enum","values":"{\"range\":[\"a\",\"b\"]}"},
      "r":{"type":"value","values":{"min":0,"max":10}}},"status_range":{"c":{"type":"Enum","values":{"range":["a"]}}},
      "status":{"c":"a","r":1,"x":true},"local_strategy":{"7":{"status_code":"r"}}})");
  return device;
}

// The base pack with a quirk for the base device's product.
const Value& quirk_pack() {
  static const Value pack = [] {
    const Value v = parsed(R"({"p":{"meta":{"manufacturer":"Q"},"ops":[{"op":"DefineDp","dpid":"9","code":"q","type":"bool","mode":"R"},
      {"op":"MapInitialStatus","code":"c","mapping":[["a","b"]]},{"op":"RemoveDp","dpid":"7","code":"x","when":{"status":"x"}}]}})");
    Value out = base_pack();
    out.obj_mut().insert_or_assign("quirks", v);
    out.obj_mut().insert_or_assign("rw_roles", Value(zefa::json::Array{Value("switch")}));
    return out;
  }();
  return pack;
}

// An assembled device with a property of each kind, a group and a trigger.
const zefa::assembly::Assembly& base_assembly() {
  static const zefa::assembly::Assembly assembly = [] {
    const Value v = parsed(R"({"descriptor":{"il":0,"id":"d","source":"zefa","props":{
      "available":{"type":"binary","role":"available"},"power":{"type":"binary","rw":true,"role":"switch","src":"c"},
      "mode":{"type":"select","options":["a","b"],"rw":true,"src":"c"},"level":{"type":"number","unit":"%","src":"r"},
      "fan":{"type":"number","group":"fan","src":"r"},"go":{"type":"trigger","src":"c"}},
      "identifiers":{"zefa_id":"d"},"kind":"light","groups":{"fan":{"kind":"fan"},"lamp":{"kind":"light"}}},
      "bindings":{"power":{"source":{"kind":"layout","plan":0,"row":0},"writable":true,"total":0.0,"last_ts":null},
      "mode":{"source":{"kind":"machine","index":0},"writable":true,"total":0.0,"last_ts":null},
      "level":{"source":{"kind":"motion"},"writable":false,"total":0.0,"last_ts":null},
      "fan":{"source":{"kind":"layout","plan":0,"row":1},"writable":false,"total":2.5,"last_ts":3},
      "go":{"source":{"kind":"layout","plan":0,"row":2},"writable":true,"total":0.0,"last_ts":null}},
      "unsupported":[],"covers":[]})");
    auto a = zefa::record::read<zefa::assembly::Assembly>(v);
    if (!a.ok()) std::abort();
    return a.value();
  }();
  return assembly;
}

// Any block is applied without fault; a block that passes the checks keeps
// the descriptor whole (an unchecked one may name "props" a device entry).
void patch_is_sound(const Value& block, const Value& device, const Value& rules) {
  static const std::string base_text = zefa::record::write(base_assembly()).dump();
  zefa::assembly::Assembly assembly = base_assembly();
  std::vector<zefa::assembly::Plan> plans(1);
  auto r = zefa::driver::overrides::patch_descriptor(assembly, plans, block, device, rules);
  if (!r.ok()) {
    if (r.error().empty()) std::abort();
    return;
  }
  if (!zefa::rules::overrides::validate(block, rules, true).ok()) return;
  const Value& props = assembly.descriptor["props"];
  if (assembly.descriptor.depth() > zefa::json::kMaxDepth || !props.find("available")) std::abort();
  if (assembly.bindings.size() + 1 != props.size()) std::abort();
  for (const auto& [name, binding] : assembly.bindings) {
    if (!props.find(name)) std::abort();
    if (const auto* dp = std::get_if<zefa::assembly::Source::Dp>(&binding.source.v); dp && dp->plan >= plans.size())
      std::abort();
  }
  auto back = zefa::record::read<zefa::assembly::Assembly>(zefa::record::write(assembly));
  if (!back.ok() || !(back.value() == assembly)) std::abort();
  if (zefa::record::write(base_assembly()).dump() != base_text) std::abort();
}

void prepare_is_sound(const Value& device, const zefa::driver::overrides::Options& options, const Value& rules) {
  namespace ov = zefa::driver::overrides;
  const std::string before = device.dump();
  auto r = ov::prepare(device, options, rules);
  if (device.dump() != before) std::abort();
  auto again = ov::prepare(device, options, rules);
  if (r.ok() != again.ok()) std::abort();
  if (!r.ok()) {
    if (r.error().empty() || r.error() != again.error()) std::abort();
    return;
  }
  const ov::Prepared& p = r.value();
  if (!p.block.is_object() || !p.dpmap.is_object()) std::abort();
  if (p.device.depth() > zefa::json::kMaxDepth) std::abort();
  if (!zefa::rules::overrides::validate(p.block, rules, true).ok()) std::abort();
  if (!(p.device == again->device) || !(p.dpmap == again->dpmap)) std::abort();
  patch_is_sound(p.block, p.device, rules);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const Value v = std::move(*parsed);

  if (zefa::runtime::validated(v).ok() && zefa::runtime::fingerprint(v).size() != 64) std::abort();

  composed_pack_is_sound(zefa::rules::compose(v));

  // The input as a layer over a valid pack, strict and tolerant.
  for (bool tolerant : {false, true}) {
    Value req(zefa::json::Object{{"base", base_pack()}, {"tolerant", tolerant}, {"layers", Value(zefa::json::Array{v})}});
    composed_pack_is_sound(zefa::rules::compose(req));
  }

  // The input as an override block, in both strengths.
  for (bool strict : {false, true}) {
    auto r = zefa::rules::overrides::validate(v, base_pack(), strict);
    if (!r.ok() && r.error().empty()) std::abort();
  }

  auto mapping = zefa::rules::overrides::validate_mapping(v, base_pack());
  if (!mapping.ok() && mapping.error().empty()) std::abort();

  // The input as the host's mapping, as the pack's mapping, and as the
  // members of a device and its options.
  zefa::driver::overrides::Options host;
  host.overrides = v;
  prepare_is_sound(base_device(), host, quirk_pack());
  Value pack = quirk_pack();
  pack.obj_mut().insert_or_assign("overrides", v);
  prepare_is_sound(base_device(), {}, pack);
  zefa::driver::overrides::Options own;
  own.use_quirks = v["use_quirks"].as_bool();
  if (const Value* d = v.find("dpmap")) own.dpmap = *d;
  if (const Value* o = v.find("overrides")) own.overrides = *o;
  prepare_is_sound(v.find("device") ? v["device"] : base_device(), own, quirk_pack());
  // Patches accept any block, checked or not.
  patch_is_sound(v, base_device(), quirk_pack());
  return 0;
}
