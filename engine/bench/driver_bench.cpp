// Drivers: "create" of a 20-datapoint device (a cover, a light, two sensors
// and eleven unused datapoints) by rules_id beside the bare cost of its
// request and reply; copying a driver, which must not grow with the
// configuration (the device description here); and the state document read
// and written beside RapidJSON parsing and writing the same text.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "driver/driver.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "bench_util.hpp"
#include "zefa_engine.h"

#ifdef ZEFA_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#endif

namespace {

using zefa::json::Value;

Value parse(const std::string& text) { return zefa::testing::parse_or_abort(text); }

// The test pack with category "zz" served by the cover, light and sensor
// platforms, so one device holds all three.
const Value& pack() {
  static const Value p = [] {
    std::ifstream in(std::string(ZEFA_TEST_DATA) + "/drivers_pack.json");
    std::ostringstream s;
    s << in.rdbuf();
    Value v = parse(s.str());
    Value& platforms = v.obj_mut()["platforms"];
    platforms.obj_mut()["cover"].obj_mut()["categories"].obj_mut().insert_or_assign(
        "zz", parse(R"({"key":"curtain"})"));
    platforms.obj_mut()["light"].obj_mut()["categories"].obj_mut().insert_or_assign("zz", parse(R"([{"key":"main"}])"));
    platforms.obj_mut()["sensor"].obj_mut()["categories"].obj_mut().insert_or_assign(
        "zz", parse(R"([{"key":"temperature"},{"key":"humidity"}])"));
    zefa::bench::install("drivers", v.dump());
    return v;
  }();
  return p;
}

std::string integer(int lo, int hi, int scale = 0) {
  return R"({"type":"Integer","values":"{\"min\":)" + std::to_string(lo) + R"(,\"max\":)" + std::to_string(hi) +
         R"(,\"scale\":)" + std::to_string(scale) + R"(,\"step\":1}"})";
}

// Six function and fourteen status datapoints; `noise` further status-range
// entries that no plan or adapter entry uses (configuration only).
Value device(int noise) {
  std::string f = R"({"control":{"type":"Enum","values":"{\"range\":[\"open\",\"stop\",\"close\"]}"},)"
                  R"("percent_control":)" + integer(0, 100) + R"(,"switch_led":{"type":"Boolean","values":"{}"},)"
                  R"("bright_value_v2":)" + integer(10, 1000) + R"(,"colour_data_v2":{"type":"Json","values":"{}"},)"
                  R"("switch_1":{"type":"Boolean","values":"{}"}})";
  std::string sr = R"({"percent_state":)" + integer(0, 100) + R"(,"va_temperature":)" + integer(-200, 600, 1) +
                   R"(,"va_humidity":)" + integer(0, 100);
  for (int i = 0; i < 11; ++i) sr += ",\"extra_" + std::to_string(i) + "\":" + integer(0, 1000);
  for (int i = 0; i < noise; ++i) sr += ",\"noise_" + std::to_string(i) + "\":" + integer(0, 1000);
  sr += "}";
  return parse(R"({"id":"bench1","category":"zz","product_id":"pb","function":)" + f + R"(,"status_range":)" + sr +
               R"(,"status":{"control":"stop","switch_led":true}})");
}

std::string create_request(bool unused) {
  pack();
  std::string dpmap = "{";
  for (int i = 0; i < 11; ++i)
    dpmap += std::string(i ? "," : "") + "\"" + std::to_string(100 + i) + "\":\"extra_" + std::to_string(i) + "\"";
  dpmap += "}";
  return R"({"op":"create","rules_id":"drivers","device":)" + device(0).dump() + R"(,"options":{"expose_unused":)" +
         (unused ? "true" : "false") + R"(,"dpmap":)" + dpmap + "}}";
}

void BM_CreateById(benchmark::State& st) { zefa::bench::run_request(st, create_request(true)); }
void BM_CreateBare(benchmark::State& st) { zefa::bench::bare_request(st, create_request(true)); }

void BM_DriverCopy(benchmark::State& st) {
  const int noise = static_cast<int>(st.range(0));
  auto d = zefa::driver::Driver::make(device(noise), zefa::driver::BuildOptions{}, pack());
  if (!d.ok()) {
    st.SkipWithError("driver construction failed");
    return;
  }
  for (auto _ : st) {
    zefa::driver::Driver copy = d.value();
    benchmark::DoNotOptimize(copy);
  }
  st.SetLabel("device description of " + std::to_string(d.value().cfg().device.dump().size() >> 10) + " KiB");
}

// The state document of the device without its unused datapoints.
const std::string& document() {
  static const std::string doc = [] {
    char* r = zefa_engine_eval(create_request(false).c_str());
    Value reply = parse(r);
    zefa_engine_free(r);
    return reply["value"]["driver"].dump();
  }();
  return doc;
}

void BM_DocumentReadWrite(benchmark::State& st) {
  const std::string& doc = document();
  for (auto _ : st) {
    Value v = parse(doc);
    auto d = zefa::driver::Driver::deserialize(v);
    std::string out = d.value().serialize().dump();
    benchmark::DoNotOptimize(out);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * doc.size()));
  st.SetLabel(std::to_string(doc.size()) + " bytes");
}

#ifdef ZEFA_HAVE_RAPIDJSON
void BM_DocumentRapidParseWrite(benchmark::State& st) {
  const std::string& doc = document();
  for (auto _ : st) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseFullPrecisionFlag>(doc.c_str(), doc.size());
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    d.Accept(w);
    benchmark::DoNotOptimize(buf);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * doc.size()));
  st.SetLabel(std::to_string(doc.size()) + " bytes");
}
BENCHMARK(BM_DocumentRapidParseWrite);
#endif

BENCHMARK(BM_CreateById)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateBare)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DriverCopy)->Arg(0)->Arg(200)->Arg(2000);
BENCHMARK(BM_DocumentReadWrite);

}  // namespace
