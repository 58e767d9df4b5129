// Requests by "rules_id" from 1, 2, 4 and 8 threads at once, beside the
// control of parsing the same request text and writing the same reply with
// the JSON core on as many threads. Scaling efficiency at t threads is the
// throughput at t over t times the throughput at 1; the engine's should
// follow the control's.
//
//   zefa_bench --benchmark_filter='Threads'
//
// Then the registry under a re-install: one thread installs a 10 MB pack
// again and again under an id that holds it, which compares fingerprints and
// so writes and hashes the whole pack, while the benchmark thread reads by
// that id; the counters give the slowest read and its 99.9th percentile,
// beside the same reads with no install running.
//
//   zefa_bench --benchmark_filter='Reinstall'
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "json.hpp"
#include "zefa_engine.h"

namespace {

using zefa::json::Value;

Value parse(const std::string& text) {
  Value v;
  zefa::json::ParseError err;
  if (!zefa::json::parse(text, v, err)) throw std::runtime_error(err.to_string());
  return v;
}

std::string eval(const std::string& req) {
  char* r = zefa_engine_eval(req.c_str());
  std::string out(r);
  zefa_engine_free(r);
  return out;
}

std::string full_pack() {
  std::ifstream in(std::string(ZEFA_TEST_DATA) + "/rules_full.json");
  std::ostringstream s;
  s << in.rdbuf();
  return parse(s.str()).dump();
}

void install(const std::string& id, const std::string& pack) {
  std::string reply = eval(R"({"op":"install_rules","rules_id":")" + id + R"(","rules":)" + pack + "}");
  if (reply != R"({"ok":true,"value":true})") throw std::runtime_error(reply);
}

void ensure_installed() {
  static const bool once = [] {
    install("threads", full_pack());
    return true;
  }();
  (void)once;
}

const std::string kStrategyRead =
    R"({"op":"strategy_read","rules_id":"threads","name":"hb_range_v1","value":128,"config":null})";
const std::string kAdapterRead =
    R"({"op":"adapter_read","rules_id":"threads","adapter":{"entries":{"1":["switch","default",{}],)"
    R"("2":["bright","hb_range_v1",null],"3":["mode","enum",{"enumMappingMap":{"auto":{"value":"auto"}}}],)"
    R"("4":["temp","default",{}],"5":["colour","dj_v2_color_alg",null]},"enum_ranges":{},"unsupported":{},)"
    R"("remaps":{}},"dps":{"1":true,"2":128,"3":"auto","4":215,"5":"00780064000a"}})";

void engine(benchmark::State& st, const std::string& req) {
  ensure_installed();
  for (auto _ : st) {
    char* reply = zefa_engine_eval(req.c_str());
    benchmark::DoNotOptimize(reply);
    zefa_engine_free(reply);
  }
  st.SetItemsProcessed(st.iterations());
}

// The control: parse the request, write a reply of the same value.
void control(benchmark::State& st, const std::string& req) {
  ensure_installed();
  static const Value strategy_reply = parse(eval(kStrategyRead));
  static const Value adapter_reply = parse(eval(kAdapterRead));
  const Value& reply = &req == &kStrategyRead ? strategy_reply : adapter_reply;
  for (auto _ : st) {
    Value v = parse(req);
    std::string out = reply.dump();
    benchmark::DoNotOptimize(out);
  }
  st.SetItemsProcessed(st.iterations());
}

void BM_ThreadsStrategyReadById(benchmark::State& st) { engine(st, kStrategyRead); }
void BM_ThreadsStrategyReadControl(benchmark::State& st) { control(st, kStrategyRead); }
void BM_ThreadsAdapterReadById(benchmark::State& st) { engine(st, kAdapterRead); }
void BM_ThreadsAdapterReadControl(benchmark::State& st) { control(st, kAdapterRead); }

#define ZEFA_THREADS(fn) BENCHMARK(fn)->Threads(1)->Threads(2)->Threads(4)->Threads(8)->UseRealTime()
ZEFA_THREADS(BM_ThreadsStrategyReadById);
ZEFA_THREADS(BM_ThreadsStrategyReadControl);
ZEFA_THREADS(BM_ThreadsAdapterReadById);
ZEFA_THREADS(BM_ThreadsAdapterReadControl);

// A valid pack of about `bytes` of text: the full pack with many maps.
std::string pack_of_size(size_t bytes) {
  Value pack = parse(full_pack());
  zefa::json::Object& maps = pack.obj_mut()["maps"].obj_mut();
  const std::string word(80, 'w');
  for (size_t i = 0; pack.dump().size() < bytes; i += 1000)
    for (size_t j = i; j < i + 1000; ++j)
      maps.insert_or_assign("m" + std::to_string(j), Value(zefa::json::Object{{"on", word}, {"off", word}}));
  return pack.dump();
}

void reads_beside(benchmark::State& st, bool reinstalling) {
  static const std::string big = pack_of_size(10 << 20);
  static const bool once = (install("big", big), true);
  (void)once;
  const std::string req = R"({"op":"strategy_read","rules_id":"big","name":"hb_range_v1","value":128})";
  const std::string again = R"({"op":"install_rules","rules_id":"big","rules":)" + big + "}";
  std::atomic<bool> stop{false};
  std::atomic<long> installs{0};
  std::thread installer;
  if (reinstalling)
    installer = std::thread([&] {
      while (!stop.load()) {
        if (eval(again) != R"({"ok":true,"value":true})") std::abort();
        ++installs;
      }
    });
  std::vector<double> us;
  us.reserve(1 << 20);
  for (auto _ : st) {
    auto t0 = std::chrono::steady_clock::now();
    char* reply = zefa_engine_eval(req.c_str());
    auto t1 = std::chrono::steady_clock::now();
    zefa_engine_free(reply);
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  stop = true;
  if (installer.joinable()) installer.join();
  std::sort(us.begin(), us.end());
  st.counters["max_us"] = us.back();
  st.counters["p999_us"] = us[us.size() * 999 / 1000];
  st.counters["installs"] = static_cast<double>(installs.load());
  st.SetLabel(std::to_string(big.size() >> 20) + " MiB pack");
}

void BM_ReinstallBesideReads(benchmark::State& st) { reads_beside(st, true); }
void BM_ReinstallReadsAlone(benchmark::State& st) { reads_beside(st, false); }
BENCHMARK(BM_ReinstallBesideReads)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_ReinstallReadsAlone)->MinTime(3.0)->UseRealTime();

}  // namespace
