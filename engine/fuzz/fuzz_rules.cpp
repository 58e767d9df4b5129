// Rule packs from untrusted text: validation, fingerprinting, composition and
// the override checks answer every JSON value with a result or a message.
// A composed pack always validates again and stays within the nesting limit.
#include <cstdlib>
#include <string>

#include "rules/overrides.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "rules/rules.hpp"
#include "runtime/rulepack.hpp"

namespace {

using zefa::json::Value;

// A small complete pack: patches from the input land on a valid base.
const Value& base_pack() {
  static const Value pack = zefa::testing::parse_or_abort(R"({"version":1,"platforms":{"switch":{"table":"t","categories":{"kg":{"key":"k"}}}},
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!zefa::json::valid_utf8(text)) return 0;
  auto parsed = zefa::json::parse(text);
  if (!parsed) return 0;
  const Value v = std::move(parsed).value();

  auto fp = zefa::runtime::validated(v);
  if (fp.ok() && (fp.value().size() != 64 || fp.value() != zefa::runtime::fingerprint(v))) std::abort();

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
  return 0;
}
