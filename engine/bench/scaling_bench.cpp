// How whole requests grow with their input: "adapter_create", "adapter_read",
// "adapter_write" and "merge_rules" at 100 to 100,000 entries, through
// zefa_engine_eval, with Google Benchmark's fit of the growth (BigO). Each
// size sits beside the reference of parsing its request text and writing
// its reply with the JSON core, which is linear by construction.
//
//   zefa_bench --benchmark_filter='Scaling'
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>

#include "bench_util.hpp"

namespace {

using zefa::json::Value;
using zefa::bench::eval;
using zefa::bench::parse;

void ensure_installed() {
  static const bool once = (zefa::bench::install("scaling", zefa::bench::data_text("rules_full.json")), true);
  (void)once;
}

// Datapoint i: id "i", code "code_i"; strategies from the pack's list.
const char* const kStrategies[] = {"enum", "default", "hb_range_v1", "unlisted"};

std::string id(size_t i) { return std::to_string(100 + i); }
std::string code(size_t i) { return "code_" + std::to_string(i); }

std::string create_request(size_t n) {
  std::string ls, dpmap;
  for (size_t i = 0; i < n; ++i) {
    if (i) ls += ',', dpmap += ',';
    ls += "\"" + id(i) + "\":{\"status_code\":\"" + code(i) + "\",\"value_convert\":\"" + kStrategies[i % 4] +
          R"(","config_item":{"valueType":"Integer"}})";
    // Half the dp map names ids of the description, half new ones.
    dpmap += "\"" + id(i % 2 ? i : n + i) + "\":\"" + code(n + i) + "\"";
  }
  return R"({"op":"adapter_create","rules_id":"scaling","device":{"local_strategy":{)" + ls + R"(}},"dpmap":{)" +
         dpmap + "}}";
}

std::string adapter_doc(size_t n) {
  std::string entries;
  for (size_t i = 0; i < n; ++i) entries += (i ? ",\"" : "\"") + id(i) + "\":[\"" + code(i) + "\",\"default\",null]";
  return R"({"entries":{)" + entries + R"(},"enum_ranges":{},"unsupported":{},"remaps":{}})";
}

// The report lists the datapoints in reverse order.
std::string read_request(size_t n) {
  std::string dps;
  for (size_t i = n; i-- > 0;) dps += (i + 1 < n ? ",\"" : "\"") + id(i) + "\":" + std::to_string(i);
  return R"({"op":"adapter_read","rules_id":"scaling","adapter":)" + adapter_doc(n) + R"(,"dps":{)" + dps + "}}";
}

// One command per datapoint, in reverse order.
std::string write_request(size_t n) {
  std::string cmds;
  for (size_t i = n; i-- > 0;)
    cmds += (i + 1 < n ? ",{\"code\":\"" : "{\"code\":\"") + code(i) + "\",\"value\":" + std::to_string(i) + "}";
  return R"({"op":"adapter_write","adapter":)" + adapter_doc(n) + R"(,"commands":[)" + cmds + "]}";
}

// Small layers, each adding one map to the pack.
std::string merge_request(size_t n, bool tolerant) {
  std::string layers;
  for (size_t i = 0; i < n; ++i)
    layers += (i ? "," : "") + (R"({"source":"l)" + std::to_string(i) + R"(","rules":{"maps":{"m)" +
                                std::to_string(i) + R"(":{"on":"1","off":"0"}}}})");
  return R"({"op":"merge_rules","tolerant":)" + std::string(tolerant ? "true" : "false") +
         R"(,"base":)" + zefa::bench::data_text("rules_full.json") + R"(,"layers":[)" + layers + "]}";
}

using Builder = std::string (*)(size_t);

const std::string& request_of(Builder build, size_t n) {
  static std::map<std::pair<uintptr_t, size_t>, std::string> made;
  auto [it, fresh] = made.try_emplace({reinterpret_cast<uintptr_t>(build), n});
  if (fresh) it->second = build(n);
  return it->second;
}

void run(benchmark::State& state, Builder build) {
  ensure_installed();
  const size_t n = static_cast<size_t>(state.range(0));
  const std::string& req = request_of(build, n);
  if (eval(req).rfind(R"({"ok":true)", 0) != 0) state.SkipWithError("request failed");
  for (auto _ : state) {
    char* reply = zefa_engine_eval(req.c_str());
    benchmark::DoNotOptimize(reply);
    zefa_engine_free(reply);
  }
  state.SetComplexityN(state.range(0));
  state.SetLabel(std::to_string(req.size() / 1024) + " KiB");
}

// Reference: parse the request text, write the reply's value.
void reference(benchmark::State& state, Builder build) {
  ensure_installed();
  const size_t n = static_cast<size_t>(state.range(0));
  const std::string& req = request_of(build, n);
  const Value reply = parse(eval(req));
  for (auto _ : state) {
    Value v = parse(req);
    std::string out = reply.dump();
    benchmark::DoNotOptimize(out);
  }
  state.SetComplexityN(state.range(0));
}

std::string merge_strict(size_t n) { return merge_request(n, false); }
std::string merge_tolerant(size_t n) { return merge_request(n, true); }

void BM_ScalingAdapterCreate(benchmark::State& s) { run(s, create_request); }
void BM_ScalingAdapterCreateReference(benchmark::State& s) { reference(s, create_request); }
void BM_ScalingAdapterRead(benchmark::State& s) { run(s, read_request); }
void BM_ScalingAdapterReadReference(benchmark::State& s) { reference(s, read_request); }
void BM_ScalingAdapterWrite(benchmark::State& s) { run(s, write_request); }
void BM_ScalingAdapterWriteReference(benchmark::State& s) { reference(s, write_request); }
void BM_ScalingMergeRules(benchmark::State& s) { run(s, merge_strict); }
void BM_ScalingMergeRulesReference(benchmark::State& s) { reference(s, merge_strict); }
// Tolerant layering checks every intermediate pack in full, so it grows
// with layers times pack size; measured at smaller sizes.
void BM_ScalingMergeRulesTolerant(benchmark::State& s) { run(s, merge_tolerant); }

#define ZEFA_SCALING(fn, hi) \
  BENCHMARK(fn)->RangeMultiplier(10)->Range(100, hi)->Unit(benchmark::kMillisecond)->Complexity()

ZEFA_SCALING(BM_ScalingAdapterCreate, 100000);
ZEFA_SCALING(BM_ScalingAdapterCreateReference, 100000);
ZEFA_SCALING(BM_ScalingAdapterRead, 100000);
ZEFA_SCALING(BM_ScalingAdapterReadReference, 100000);
ZEFA_SCALING(BM_ScalingAdapterWrite, 100000);
ZEFA_SCALING(BM_ScalingAdapterWriteReference, 100000);
ZEFA_SCALING(BM_ScalingMergeRules, 100000);
ZEFA_SCALING(BM_ScalingMergeRulesReference, 100000);
BENCHMARK(BM_ScalingMergeRulesTolerant)->RangeMultiplier(4)->Range(100, 6400)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
