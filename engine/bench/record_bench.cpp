// Typed-record reading against the parse of the same text, in one run: the
// reader of a typical input should cost a small fraction of a microsecond.
#include <benchmark/benchmark.h>

#include <string>

#include "json.hpp"
#include "testing.hpp"
#include "protocol.hpp"
#include "record.hpp"
#include "runtime/options.hpp"

namespace {

using zefa::json::Value;
using zefa::testing::parse_or_abort;
using zefa::protocol::Input;
using zefa::protocol::Output;

constexpr const char* kMessage =
    R"({"type":"message","channel":"active","json":{"dps":{"1":true,"2":50,"3":"auto","101":"AAEC"},"t":1700000000}})";
constexpr const char* kCommand = R"({"type":"command","prop":"brightness","value":75})";
constexpr const char* kDescribe =
    R"({"type":"describe","seed":[{"type":"connected"},{"type":"message","channel":"state","json":{"dps":{"1":false}}}]})";
constexpr const char* kOptions =
    R"({"env":{"temperature_unit":"F","allowed_units":["F","C"]},"use_quirks":true,"dpmap":{"101":"mode"},"device_settings":true})";


template <class T>
void read_record(benchmark::State& state, const char* text) {
  Value v = parse_or_abort(text);
  for (auto _ : state) {
    auto r = zefa::record::read<T>(v);
    benchmark::DoNotOptimize(r);
  }
}

// Reference: parsing the text the input arrives in.
void parse_text(benchmark::State& state, const char* text) {
  std::string s(text);
  for (auto _ : state) {
    auto v = zefa::json::parse(s);
    benchmark::DoNotOptimize(v);
  }
}

void BM_WriteOutputs(benchmark::State& state) {
  std::vector<Output> outs{{Output::Value{"brightness", Value(75)}},
                           {Output::SetTimer{"c0:settle", 30}},
                           {Output::SendMessage{.json = parse_or_abort(R"({"dps":{"2":750}})")}}};
  for (auto _ : state) {
    Value v = zefa::record::write(outs);
    benchmark::DoNotOptimize(v);
  }
}

void read_input(benchmark::State& state, const char* text) { read_record<Input>(state, text); }
void read_options(benchmark::State& state, const char* text) {
  read_record<zefa::runtime::DriverOptions>(state, text);
}

}  // namespace

BENCHMARK_CAPTURE(read_input, message, kMessage);
BENCHMARK_CAPTURE(parse_text, message_reference, kMessage);
BENCHMARK_CAPTURE(read_input, command, kCommand);
BENCHMARK_CAPTURE(parse_text, command_reference, kCommand);
BENCHMARK_CAPTURE(read_input, describe, kDescribe);
BENCHMARK_CAPTURE(read_options, options, kOptions);
BENCHMARK(BM_WriteOutputs);
