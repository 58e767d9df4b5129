// Typical datapoint reports through their strategies, reading and writing.
// Reference in the same run: the same colour result built as a JSON object
// and written with `dumps_float`, against the strategies' streaming writer,
// and the bare Base64 decoding that the timer and meter strategies start with.
#include <benchmark/benchmark.h>

#include <string>

#include "data/codecs.hpp"
#include "adapter/strategies.hpp"
#include "json.hpp"

namespace {

using zefa::json::Value;
namespace adapter = zefa::adapter;

const Value kNull;

// A 14-character colour payload.
const Value kColour("0000000078ff80");
// A 48-character Base64 timer list: six 6-byte timers.
const Value kTimers = [] {
  std::vector<uint8_t> b;
  for (int i = 0; i < 6; ++i) b.insert(b.end(), {1, 0x3E, 0x01, static_cast<uint8_t>(0xE0 + i), 0x02, 0x58});
  return Value(zefa::data::b64_encode(b));
}();
// An 18-byte signed electricity record.
const Value kMeter = [] {
  std::vector<uint8_t> b = {2, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 0, 7, 0, 0, 200, 98, 0x03};
  return Value(zefa::data::b64_encode(b));
}();

void read(benchmark::State& state, const char* name, const Value& raw) {
  for (auto _ : state) {
    auto r = adapter::strategy_read(name, raw, kNull, kNull);
    benchmark::DoNotOptimize(r);
  }
}

void BM_ReadColour(benchmark::State& state) { read(state, "dj_v1_hsv_alg", kColour); }
void BM_ReadTimers(benchmark::State& state) { read(state, "cz_timer1_alg", kTimers); }
void BM_ReadElectricity(benchmark::State& state) { read(state, "db_v1_params", kMeter); }

void BM_WriteColour(benchmark::State& state) {
  Value v = adapter::strategy_read("dj_v1_hsv_alg", kColour, kNull, kNull).value();
  for (auto _ : state) {
    auto r = adapter::strategy_write("dj_v1_hsv_alg", v, kNull);
    benchmark::DoNotOptimize(r);
  }
}

void BM_WriteTimers(benchmark::State& state) {
  Value v = adapter::strategy_read("cz_timer1_alg", kTimers, kNull, kNull).value();
  for (auto _ : state) {
    auto r = adapter::strategy_write("cz_timer1_alg", v, kNull);
    benchmark::DoNotOptimize(r);
  }
}

// Reference: the colour result as a built object, then written.
void BM_RefColourViaObject(benchmark::State& state) {
  for (auto _ : state) {
    zefa::json::Object o;
    o.reserve(3);
    o.push_unique("h", 120.0);
    o.push_unique("s", 255.0);
    o.push_unique("v", 128.0);
    Value r = zefa::data::dumps_float(Value(std::move(o)), zefa::data::kColourKeys);
    benchmark::DoNotOptimize(r);
  }
}

// Reference: Base64 decoding alone.
void BM_RefBase64Timers(benchmark::State& state) {
  for (auto _ : state) {
    auto b = zefa::data::b64(kTimers);
    benchmark::DoNotOptimize(b);
  }
}

}  // namespace

BENCHMARK(BM_ReadColour);
BENCHMARK(BM_ReadTimers);
BENCHMARK(BM_ReadElectricity);
BENCHMARK(BM_WriteColour);
BENCHMARK(BM_WriteTimers);
BENCHMARK(BM_RefColourViaObject);
BENCHMARK(BM_RefBase64Timers);
