// Whole requests through zefa_engine_eval, beside the bare cost of parsing
// the same request text and writing the same reply with the JSON core.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "json.hpp"
#include "testing.hpp"
#include "zefa_engine.h"

namespace {

std::string full_pack() {
  std::ifstream in(std::string(ZEFA_TEST_DATA) + "/rules_full.json");
  std::ostringstream s;
  s << in.rdbuf();
  return zefa::testing::parse_or_abort(s.str()).dump();
}

const std::string& pack() {
  static const std::string p = full_pack();
  return p;
}

void ensure_installed() {
  static const bool once = [] {
    std::string req = R"({"op":"install_rules","rules_id":"bench","rules":)" + pack() + "}";
    zefa_engine_free(zefa_engine_eval(req.c_str()));
    return true;
  }();
  (void)once;
}

const char* kAdapter =
    R"("adapter":{"entries":{"1":["switch","default",{}],"2":["bright","hb_range_v2",null],"3":["mode","enum",{}],)"
    R"("4":["temp","default",{}],"5":["colour","dj_v2_color_alg",null]},"enum_ranges":{},"unsupported":{},"remaps":{}},)"
    R"("dps":{"1":true,"2":128,"3":"auto","4":215,"5":"00780064000a"})";

std::string request(const char* op, bool inline_pack) {
  std::string r = std::string(R"({"op":")") + op + "\",";
  r += inline_pack ? R"("rules":)" + pack() : std::string(R"("rules_id":"bench")");
  if (std::string_view(op) == "strategy_read") r += R"(,"name":"hb_range_v2","value":128})";
  else r += std::string(",") + kAdapter + "}";
  return r;
}

void run(benchmark::State& st, const std::string& req) {
  ensure_installed();
  for (auto _ : st) {
    char* reply = zefa_engine_eval(req.c_str());
    benchmark::DoNotOptimize(reply);
    zefa_engine_free(reply);
  }
  st.SetItemsProcessed(st.iterations());
}

// The floor: parse the request text and write a reply of the same shape.
void bare(benchmark::State& st, const std::string& req) {
  ensure_installed();
  char* r = zefa_engine_eval(req.c_str());
  std::string reply_text(r);
  zefa_engine_free(r);
  const zefa::json::Value reply = zefa::testing::parse_or_abort(reply_text);
  for (auto _ : st) {
    auto v = zefa::json::parse(req);
    benchmark::DoNotOptimize(v);
    std::string out = reply.dump();
    benchmark::DoNotOptimize(out);
  }
  st.SetItemsProcessed(st.iterations());
}

void BM_StrategyReadById(benchmark::State& st) { run(st, request("strategy_read", false)); }
void BM_StrategyReadBare(benchmark::State& st) { bare(st, request("strategy_read", false)); }
void BM_AdapterReadById(benchmark::State& st) { run(st, request("adapter_read", false)); }
void BM_AdapterReadBare(benchmark::State& st) { bare(st, request("adapter_read", false)); }
void BM_StrategyReadInline(benchmark::State& st) {
  run(st, request("strategy_read", true));
  st.SetLabel("pack " + std::to_string(pack().size() / 1024) + " KiB");
}
void BM_AdapterReadInline(benchmark::State& st) {
  run(st, request("adapter_read", true));
  st.SetLabel("pack " + std::to_string(pack().size() / 1024) + " KiB");
}

BENCHMARK(BM_StrategyReadById);
BENCHMARK(BM_StrategyReadBare);
BENCHMARK(BM_AdapterReadById);
BENCHMARK(BM_AdapterReadBare);
BENCHMARK(BM_StrategyReadInline);
BENCHMARK(BM_AdapterReadInline);

}  // namespace
