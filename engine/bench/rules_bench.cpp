// Rule-pack validation and fingerprinting of a 100 KB and a 1 MB pack, with
// the bare SHA-256 of the pack's text as the floor, and libcrypto's SHA-256
// of the same text as the reference in the same run.
#include <benchmark/benchmark.h>
#ifdef ZEFA_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

#include <string>

#include "json.hpp"
#include "testing.hpp"
#include "rules/rules.hpp"
#include "runtime/rulepack.hpp"
#include "sha256.hpp"

namespace {

using zefa::json::Value;
using zefa::testing::parse_or_abort;

// A pack of realistic shape: every section present, grown by entity
// definitions, templates, maps, quirks and override blocks until the compact
// text reaches `bytes`.
Value make_pack(size_t bytes) {
  const char* head = R"({"version":1,"platforms":{},"entities":{},
    "unused":{"role":"value","variants":[{"when":{"op":"eq","args":[{"op":"get","path":"kind"},"Boolean"]},"platform":"switch","steps":[]}]},
    "layout_common":{"category":null},"identity_defaults":{"manufacturer":"Generic"},"templates":{},"functions":{
    "scale":{"params":["v","m"],"body":{"op":"div","args":[{"op":"get","path":"v"},{"op":"get","path":"m"}]}}},
    "quirks":{},"units":{"temperature":["°C","°F"]},"host_units":{"temperature":["°C"]},"rw_roles":["switch","light"],
    "maps":{},"features":{"light":{"colour":1}},"constants":{"manufacturer":"Generic","vacuum_return_mode":"chargego"},
    "cover_defaults":{"invert_position":false,"invert_set_position":false,"invert_control":false,"settle":30,
      "invert_tilt":false,"position_from_target":false,"state_source":"control","invert_reported_motion":false},
    "cover_switches":{"settle":"Settle time","state_source":"Motion source"},
    "motion_property":{"type":"select","options":["open","closed","opening","closing","stopped"]},
    "strategies":["enum","default","hb_range_v1","dj_v2_color_alg","db_v1_daily"],"overrides":{}})";
  Value pack = parse_or_abort(head);
  auto& root = pack.obj_mut();
  // Measuring the text is costly: do it every few rounds only.
  for (size_t i = 0; i % 16 != 0 || pack.dump().size() < bytes; ++i) {
    const std::string n = std::to_string(i);
    std::string entity = R"({"composite":false,"kind":"cover","role_order":["control","position"],
      "cover":{"position":["percent_state"],"target":"target","instruction":"control","tilt":"angle","words":["w"]},
      "variants":[{"when":{"op":"get","path":"status"},"steps":[
        {"role":"control","codes":["control","mach_operate"],"types":["Enum"],"required":true},
        {"role":"position","codes":["percent_state"],"types":["Integer"]},
        {"set":"identity.device_class","value":"curtain"}]}],
      "state":{"fields":{"position":{"op":"get","path":"values.position"}}},
      "actions":{"open":[{"command":{"role":"control","value":"open"}}],"close":[{"command":{"role":"control","value":"close"}}]},
      "layout":[{"name":"position","definition":{"type":"number","min":0,"max":100,"step":1,"unit":"%"},
        "read":{"op":"get","path":"state.position"},"write":"open"}]})";
    std::string platform = R"({"table":"t)" + n + R"(","categories":{"cl":[{"key":"curtain"}],"clkg":{"key":"blind"}}})";
    std::string quirk = R"({"ops":[{"op":"DefineDp","code":"percent_state","dpid":")" + n +
                        R"(","type":"value","mode":"R","values":"{\"min\":0,\"max\":100}"}],"meta":{"model":"M)" + n + R"("}})";
    std::string block = R"({"category":"cl","remap":{"control":{"alias":{"open":"close","close":"open"}}},
      "props":{"position":{"label":"Opening"}},"cover":{"settle":12.5,"invert_control":true},
      "converters":{"declarative":{"props":{"mode":{"type":"select","options":["a","b"],"rw":true}},
        "update":[{"if":{"op":"get","path":"status.mode"},"then":[{"set":"state.mode","value":1},{"emit":"mode","value":1}]}],
        "write":{"mode":[{"send":{"code":"mode","value":{"op":"get","path":"value"}}}]}}}})";
    root["entities"].obj_mut().insert_or_assign("cover_" + n, parse_or_abort(entity));
    root["platforms"].obj_mut().insert_or_assign("cover_" + n, parse_or_abort(platform));
    root["quirks"].obj_mut().insert_or_assign("prod_" + n, parse_or_abort(quirk));
    root["overrides"].obj_mut().insert_or_assign("prod_" + n, parse_or_abort(block));
    root["maps"].obj_mut().insert_or_assign("words_" + n, Value(zefa::json::Object{{"open", "open"}, {"close", "close"}}));
    root["strategies"].arr_mut().emplace_back("strategy_" + n);
  }
  // Packs reach the engine as request text: measure the parsed form.
  Value parsed = parse_or_abort(pack.dump());
  if (!zefa::rules::validate(parsed).ok()) std::abort();
  return parsed;
}

const Value& pack_of(size_t bytes) {
  static const Value small = make_pack(100 * 1024);
  static const Value large = make_pack(1024 * 1024);
  return bytes == 100 * 1024 ? small : large;
}

void BM_ValidateAndFingerprint(benchmark::State& state) {
  const Value& pack = pack_of(static_cast<size_t>(state.range(0)));
  const size_t size = pack.dump().size();
  for (auto _ : state) {
    auto r = zefa::runtime::validated(pack);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(zefa::runtime::fingerprint(pack));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_ValidateOnly(benchmark::State& state) {
  const Value& pack = pack_of(static_cast<size_t>(state.range(0)));
  const size_t size = pack.dump().size();
  for (auto _ : state) {
    auto r = zefa::rules::validate(pack);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_FingerprintOnly(benchmark::State& state) {
  const Value& pack = pack_of(static_cast<size_t>(state.range(0)));
  const size_t size = pack.dump().size();
  for (auto _ : state) benchmark::DoNotOptimize(zefa::runtime::fingerprint(pack));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// SHA-256 of the already written text, the floor for fingerprinting; the
// second argument 1 forces the portable code.
void BM_Sha256OfText(benchmark::State& state) {
  const std::string text = pack_of(static_cast<size_t>(state.range(0))).dump();
  const auto path = state.range(1) == 1 ? zefa::sha256::Path::Portable : zefa::sha256::Path::Extensions;
  for (auto _ : state) {
    zefa::sha256::Hasher h(path);
    h.update(text);
    benchmark::DoNotOptimize(h.finish());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

#ifdef ZEFA_HAVE_OPENSSL
// Reference: libcrypto's SHA-256 of the same text.
void BM_Sha256OfTextEvpDigest(benchmark::State& state) {
  const std::string text = pack_of(static_cast<size_t>(state.range(0))).dump();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha256(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
#endif

}  // namespace

BENCHMARK(BM_ValidateAndFingerprint)->Arg(100 * 1024)->Arg(1024 * 1024);
BENCHMARK(BM_ValidateOnly)->Arg(100 * 1024)->Arg(1024 * 1024);
BENCHMARK(BM_FingerprintOnly)->Arg(100 * 1024)->Arg(1024 * 1024);
BENCHMARK(BM_Sha256OfText)->Args({100 * 1024, 0})->Args({1024 * 1024, 0})->Args({1024 * 1024, 1});
#ifdef ZEFA_HAVE_OPENSSL
BENCHMARK(BM_Sha256OfTextEvpDigest)->Arg(100 * 1024)->Arg(1024 * 1024);
#endif
