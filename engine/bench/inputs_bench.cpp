// Driver inputs, through zefa_engine_eval:
//   "drive": a typical report (one datapoint, a new value each time) on a
//   live curtain-and-lamp driver, with 20 and with 200 datapoints (the
//   extra ones exposed as unused sensors): the cost must not follow the
//   size of the state;
//   "handle": the same kind of report on a ~6 KB state document, beside the
//   bare cost of parsing its request and writing its reply.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "json.hpp"
#include "bench_util.hpp"
#include "zefa_engine.h"

namespace {

using zefa::json::Value;

Value data_file(const char* name) { return zefa::bench::parse(zefa::bench::data_text(name)); }

void ensure_installed() {
  static const bool once = (zefa::bench::install("lamp", data_file("curtain_lamp_pack.json").dump()), true);
  (void)once;
}

Value call(const Value& req) { return zefa::bench::parse(zefa::bench::eval(req.dump())); }

// A synced live driver of the curtain-and-lamp device with `extra` more
// Integer datapoints, exposed as sensors.
uint64_t open_driver(int extra) {
  ensure_installed();
  Value device = data_file("curtain_lamp_device.json");
  Value options = Value(zefa::json::Object{{"expose_unused", Value(true)}, {"device_settings", Value(true)}});
  zefa::json::Object dpmap{{"1", Value("control")},   {"2", Value("percent_control")}, {"3", Value("percent_state")},
                           {"17", Value("add_ele")},  {"20", Value("switch_led")},     {"22", Value("bright_value")},
                           {"40", Value("child_lock")}, {"101", Value("switch_mode1")}};
  zefa::json::Object report;
  Value& ranges = device.obj_mut()["status_range"];
  for (int i = 0; i < extra; ++i) {
    const std::string code = "s" + std::to_string(i), id = std::to_string(200 + i);
    ranges.obj_mut().insert_or_assign(code, Value(zefa::json::Object{
                                                {"type", Value("Integer")},
                                                {"values", Value(R"({"min":0,"max":1000,"scale":0,"step":1})")}}));
    dpmap.insert_or_assign(id, Value(code));
    report.insert_or_assign(id, Value(i));
  }
  options.obj_mut().insert_or_assign("dpmap", Value(std::move(dpmap)));
  const Value opened = call(Value(zefa::json::Object{
      {"op", Value("open")}, {"rules_id", Value("lamp")}, {"device", device}, {"options", options}}));
  const uint64_t handle = opened["value"]["handle"].as_u64();
  report.insert_or_assign("1", Value("stop"));
  report.insert_or_assign("3", Value(0));
  report.insert_or_assign("20", Value(true));
  report.insert_or_assign("22", Value(500));
  (void)call(Value(zefa::json::Object{
      {"op", Value("drive")},
      {"handle", Value(handle)},
      {"now", Value(1.0)},
      {"input", Value(zefa::json::Object{
                    {"type", Value("message")}, {"channel", Value("active")}, {"json", Value(std::move(report))}})}}));
  return handle;
}

std::string drive_request(uint64_t handle, int brightness) {
  return R"({"op":"drive","handle":)" + std::to_string(handle) +
         R"(,"now":2.5,"input":{"type":"message","channel":"active","json":{"22":)" + std::to_string(brightness) +
         R"(,"t":1700000000}}})";
}

void drive(benchmark::State& st) {
  const uint64_t handle = open_driver(static_cast<int>(st.range(0)) - 8);
  const std::string requests[2] = {drive_request(handle, 300), drive_request(handle, 700)};
  size_t i = 0;
  for (auto _ : st) {
    char* reply = zefa_engine_eval(requests[i++ & 1].c_str());
    benchmark::DoNotOptimize(reply);
    zefa_engine_free(reply);
  }
  st.SetLabel(std::to_string(st.range(0)) + " datapoints");
}

std::string handle_request() {
  ensure_installed();
  const Value doc = data_file("lamp_driver.json");
  return R"({"op":"handle","rules_id":"lamp","now":5.0,"driver":)" + doc.dump() +
         R"(,"input":{"type":"message","channel":"active","json":{"20":true,"22":700,"t":3}}})";
}

void BM_DriveReport(benchmark::State& st) { drive(st); }
void BM_HandleReport(benchmark::State& st) {
  const std::string req = handle_request();
  zefa::bench::run_request(st, req);
  st.SetLabel("state document " + std::to_string(data_file("lamp_driver.json").dump().size()) + " bytes");
}
void BM_HandleReportBare(benchmark::State& st) { zefa::bench::bare_request(st, handle_request()); }

BENCHMARK(BM_DriveReport)->Arg(20)->Arg(200)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_HandleReport)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_HandleReportBare)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
