// The datapoint adapter on realistic devices: decoding a 20-datapoint report
// through mixed strategies, and building the adapter of a 50-datapoint
// device. Parsing the same JSON text is the reference measured alongside.
#include <benchmark/benchmark.h>

#include <string>

#include "adapter/adapter.hpp"
#include "json.hpp"
#include "testing.hpp"

using zefa::adapter::Adapter;
using zefa::json::Value;
using zefa::testing::parse_or_abort;

namespace {


const char* kRules =
    R"({"strategies":["enum","default","hb_range_v1","hb_range_v2","dj_v1_hsv_alg","voice_atm_color",)"
    R"("dj_v2_color_alg"]})";

// One raw payload and local-strategy item per datapoint: six enums, eight
// pass-through numbers and texts (two inverted, one aliased), and six
// lighting codecs.
struct Dp {
  const char* strategy;
  const char* raw;
};
const Dp kMixed[] = {
    {"enum", "\"1\""},  {"enum", "\"0\""},  {"enum", "true"},     {"enum", "\"2\""},  {"enum", "\"1\""},
    {"enum", "0"},      {"default", "40"},  {"default", "250"},   {"default", "\"b\""}, {"default", "true"},
    {"default", "12"},  {"default", "\"on\""}, {"default", "998"}, {"default", "\"text\""},
    {"hb_range_v1", "140"}, {"hb_range_v1", "\"200\""}, {"hb_range_v2", "128"},
    {"dj_v1_hsv_alg", "\"0000000078ff80\""}, {"voice_atm_color", "\"0000ff0168ffff\""},
    {"dj_v2_color_alg", "\"007803e803e8\""},
};

std::string device_text(int count, bool mixed) {
  std::string ls, sr;
  for (int i = 0; i < count; ++i) {
    const Dp& dp = kMixed[i % 20];
    std::string id = std::to_string(101 + i), code = "dp_code_" + std::to_string(i);
    std::string strategy = mixed ? dp.strategy : "default";
    if (i) ls += ',', sr += ',';
    ls += "\"" + id + "\":{\"value_convert\":\"" + strategy + "\",\"status_code\":\"" + code + "\",\"config_item\":";
    if (strategy == "enum")
      ls += R"({"valueType":"Enum","enumMappingMap":{"0":{"value":"off"},"1":{"value":"on"},"2":{"value":"auto"},)"
            R"("True":{"value":"yes"}}})";
    else
      ls += R"({"valueType":"Integer","valueDesc":"{\"min\":0,\"max\":1000}"})";
    ls += "}";
    if (strategy == "enum" && i % 3 == 0)
      sr += "\"" + code + R"(":{"type":"Enum","values":"{\"range\":[\"off\",\"on\",\"auto\",\"yes\"]}"})";
    else
      sr += "\"" + code + R"(":{"type":"Integer","values":"{\"min\":0,\"max\":1000,\"scale\":1,\"step\":1}"})";
  }
  return "{\"id\":\"bench\",\"product_id\":\"p1\",\"local_strategy\":{" + ls + "},\"status_range\":{" + sr +
         "},\"function\":{},\"status\":{}}";
}

std::string report_text(bool mixed) {
  std::string s = "{";
  for (int i = 0; i < 20; ++i) {
    if (i) s += ',';
    s += '"';
    s += std::to_string(101 + i);
    s += "\":";
    s += mixed ? kMixed[i].raw : "40";
  }
  return s + "}";
}

Adapter report_adapter(bool mixed) {
  Value device = parse_or_abort(device_text(20, mixed));
  Adapter a = Adapter::make(device, Value::object(), parse_or_abort(kRules));
  a.invert("dp_code_6", device);
  a.invert("dp_code_7", device);
  a.remaps.obj_mut()["dp_code_11"] = parse_or_abort(R"({"alias":{"on":true,"off":false}})");
  return a;
}

void BM_AdapterRead20Mixed(benchmark::State& state) {
  Adapter a = report_adapter(true);
  Value report = parse_or_abort(report_text(true)), rules = parse_or_abort(kRules);
  if (a.read(report, rules).size() != 20) state.SkipWithError("a datapoint did not decode");
  for (auto _ : state) benchmark::DoNotOptimize(a.read(report, rules));
}
BENCHMARK(BM_AdapterRead20Mixed);

// Reference: the same report through "default" only.
void BM_AdapterRead20Default(benchmark::State& state) {
  Adapter a = report_adapter(false);
  Value report = parse_or_abort(report_text(false)), rules = parse_or_abort(kRules);
  for (auto _ : state) benchmark::DoNotOptimize(a.read(report, rules));
}
BENCHMARK(BM_AdapterRead20Default);

// Reference: parsing the report's text.
void BM_ReportParse(benchmark::State& state) {
  std::string text = report_text(true);
  for (auto _ : state) benchmark::DoNotOptimize(parse_or_abort(text));
}
BENCHMARK(BM_ReportParse);

void BM_AdapterMake50(benchmark::State& state) {
  Value device = parse_or_abort(device_text(50, true)), rules = parse_or_abort(kRules);
  Value dpmap = parse_or_abort(R"({"101":"dp_code_0","200":"extra_a","201":"extra_b"})");
  for (auto _ : state) benchmark::DoNotOptimize(Adapter::make(device, dpmap, rules));
}
BENCHMARK(BM_AdapterMake50);

// Reference: parsing the 50-datapoint description's text.
void BM_DeviceParse50(benchmark::State& state) {
  std::string text = device_text(50, true);
  for (auto _ : state) benchmark::DoNotOptimize(parse_or_abort(text));
}
BENCHMARK(BM_DeviceParse50);

}  // namespace
