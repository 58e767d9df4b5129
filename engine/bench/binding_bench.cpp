// Reading every property of a 30-property descriptor after one report: all
// properties come from one plan whose entity state has 30 fields over 10
// datapoints. "Cached" shares one read cache across the pass, as the driver
// does, so the state is computed once; the reference "Uncached" gives every
// read a fresh cache, computing the state for each property.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "assembly/assembly.hpp"
#include "json.hpp"
#include "testing.hpp"

namespace {

using zefa::json::Value;
namespace assembly = zefa::assembly;

Value parse(const std::string& text) { return zefa::testing::parse_or_abort(text); }

struct Device {
  Value rules;
  Value status;
  std::vector<assembly::Plan> plans;
  assembly::Assembly assembled;
};

const Device& device() {
  static const Device d = [] {
    std::string fields, rows, roles, status;
    for (int i = 0; i < 30; ++i) {
      const std::string n = std::to_string(i), r = std::to_string(i % 10);
      fields += (i ? "," : "") + std::string(R"("f)") + n + R"(":{"op":"add","args":[{"op":"get","path":"values.r)" + r +
                R"("},{"op":"mul","args":[{"op":"get","path":"total"},)" + n + "]}]}";
      rows += (i ? "," : "") + std::string(R"({"name":"Prop )") + n + R"(","read":{"op":"get","path":"state.f)" + n +
              R"("},"definition":{"type":"number","min":0,"max":1000}})";
    }
    for (int i = 0; i < 10; ++i) {
      const std::string n = std::to_string(i);
      roles += (i ? "," : "") + std::string(R"("r)") + n + R"(":{"code":"dp)" + n +
               R"(","kind":"Integer","spec":{"min":0,"max":1000,"scale":1},"report_type":null})";
      status += (i ? "," : "") + std::string(R"("dp)") + n + R"(":)" + std::to_string(100 + i);
    }
    Device d;
    d.rules = parse(R"({"entities":{"meter":{"state":{"fields":{)" + fields + R"(}},"layout":[)" + rows + "]}}}");
    d.status = parse("{" + status + "}");
    d.plans.push_back(assembly::Plan::deserialize(
                          parse(R"({"platform":"meter","key":"m","identity":{},"roles":{)" + roles +
                                R"(},"depends_on":["dp0"],"slot_kind":null,"update_all":false,"config":{}})"))
                          .value());
    Value device = parse(R"({"id":"d","status":{}})");
    device.obj_mut().insert_or_assign("status", d.status);
    d.assembled = assembly::assemble(device, d.plans, Value(), false, d.rules).value();
    if (d.assembled.bindings.size() != 30) std::abort();
    return d;
  }();
  return d;
}

void read_all(benchmark::State& state, bool shared) {
  const Device& d = device();
  const Value& props = d.assembled.descriptor["props"];
  for (auto _ : state) {
    assembly::ReadCache cache;
    for (const auto& [name, binding] : d.assembled.bindings) {
      if (!shared) cache.clear();
      auto v = binding.read(d.plans, d.status, d.rules, props[name], cache);
      if (!v.ok()) std::abort();
      benchmark::DoNotOptimize(v);
    }
  }
  state.SetItemsProcessed(state.iterations() * 30);
}

void BM_BindingReadCached(benchmark::State& state) { read_all(state, true); }
void BM_BindingReadUncached(benchmark::State& state) { read_all(state, false); }

BENCHMARK(BM_BindingReadCached);
BENCHMARK(BM_BindingReadUncached);

}  // namespace
