// Entity requests: "read" of a typical entity and "classify" of a device
// against a pack of 50 entity definitions, each beside the bare cost of
// parsing the same request and writing the same reply; and classification
// alone (no request text) as the device grows.
#include <benchmark/benchmark.h>

#include <string>

#include "assembly/entity.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "bench_util.hpp"
#include "zefa_engine.h"

namespace {

using zefa::json::Value;

constexpr int kEntities = 50;

std::string num(int i) { return std::to_string(i); }

// Each definition tries a variant that binds two roles and writes identity
// and config, then a fallback variant whose required role is missing.
std::string pack_text() {
  std::string platforms, entities;
  for (int i = 0; i < kEntities; ++i) {
    const std::string p = "\"p" + num(i) + "\"";
    if (i) platforms += ",", entities += ",";
    platforms += p + R"(:{"table":"t","categories":{"dev":{"key":"k)" + num(i) + R"("}}})";
    entities += p + R"(:{"variants":[{"when":{"op":"get","path":"status.dp_)" + num((i * 7) % 20) + R"("},"steps":[)"
                R"({"role":"main","codes":["dp_)" + num(i % 20) + R"(","x_)" + num(i) +
                R"("],"types":["Integer","Boolean"],"required":true},)"
                R"({"role":"aux","codes":["dp_)" + num((i + 1) % 20) + R"("],"types":["Enum","Integer"]},)"
                R"({"set":"identity.name","value":{"op":"str_concat","args":["e",{"op":"get","path":"key"}]}},)"
                R"({"set":"config.scale","value":{"op":"get","path":"roles.main.scale"}}]},)"
                R"({"steps":[{"role":"main","codes":["missing"],"types":["Boolean"],"required":true}]}],)"
                R"("state":{"bind":{"v":{"op":"get","path":"values.main"}},"fields":{"value":{"op":"get","path":"v"},)"
                R"("on":{"op":"truthy","args":[{"op":"get","path":"v"}]},"aux":{"op":"get","path":"values.aux"}}},)"
                R"("actions":{"set":[{"command":{"role":"main","value":{"op":"get","path":"args.value"}}}]}})";
  }
  return R"({"version":1,"platforms":{)" + platforms + R"(},"entities":{)" + entities +
         R"(},"unused":{"role":"dp","variants":[]},"templates":{},"functions":{},"quirks":{},"units":{},)"
         R"("host_units":{},"maps":{},"features":{},"constants":{},"cover_defaults":{},"cover_switches":{},)"
         R"("motion_property":{},"strategies":["default"]})";
}

// A device of n datapoints: even ones Integer, odd ones Boolean, every third
// status value 0 so that some "when" tests fail.
std::string device_text(int n) {
  std::string function, status;
  for (int k = 0; k < n; ++k) {
    const std::string code = "\"dp_" + num(k) + "\"";
    if (k) function += ",", status += ",";
    function += code + (k % 2 ? R"(:{"type":"Boolean","values":"{}"})"
                              : R"(:{"type":"Integer","values":"{\"min\":0,\"max\":1000,\"scale\":1,\"step\":1}"})");
    status += code + ":" + (k % 3 == 0 ? "0" : k % 2 ? "true" : num(k * 10));
  }
  return R"({"id":"bench","category":"dev","function":{)" + function + R"(},"status_range":{},"status":{)" + status +
         "}}";
}

Value parsed(const std::string& text) { return zefa::testing::parse_or_abort(text); }

const std::string& pack() {
  static const std::string p = pack_text();
  return p;
}

void ensure_installed() {
  static const bool once = (zefa::bench::install("entity_bench", pack()), true);
  (void)once;
}

std::string classify_request() {
  return R"({"op":"classify","rules_id":"entity_bench","device":)" + device_text(20) + "}";
}

// The plan of the first entity, as classification makes it, read against
// the device's status.
std::string read_request() {
  ensure_installed();
  const Value device = parsed(device_text(20));
  auto plans = zefa::assembly::entity::classify(device, Value(), parsed(pack()), Value());
  return R"({"op":"read","rules_id":"entity_bench","plan":)" + plans.value().front().serialize().dump() +
         R"(,"status":)" + device["status"].dump() + "}";
}

void run(benchmark::State& st, const std::string& req) {
  ensure_installed();
  zefa::bench::run_request(st, req);
}

void bare(benchmark::State& st, const std::string& req) {
  ensure_installed();
  zefa::bench::bare_request(st, req);
}

void BM_EntityReadById(benchmark::State& st) { run(st, read_request()); }
void BM_EntityReadBare(benchmark::State& st) { bare(st, read_request()); }
void BM_Classify20ById(benchmark::State& st) { run(st, classify_request()); }
void BM_Classify20Bare(benchmark::State& st) { bare(st, classify_request()); }

// Classification alone: 50 definitions (100 variants) against n datapoints.
void BM_ClassifyDatapoints(benchmark::State& st) {
  const Value rules = parsed(pack());
  const Value device = parsed(device_text(static_cast<int>(st.range(0))));
  size_t plans = 0;
  for (auto _ : st) {
    auto r = zefa::assembly::entity::classify(device, Value(), rules, Value());
    plans = r.value().size();
    benchmark::DoNotOptimize(r);
  }
  st.SetLabel(std::to_string(plans) + " plans");
  st.SetItemsProcessed(st.iterations());
}

BENCHMARK(BM_EntityReadById);
BENCHMARK(BM_EntityReadBare);
BENCHMARK(BM_Classify20ById);
BENCHMARK(BM_Classify20Bare);
BENCHMARK(BM_ClassifyDatapoints)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace
