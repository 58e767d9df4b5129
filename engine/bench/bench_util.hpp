// Helpers shared by the benchmarks that run whole requests.
#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>

#include "expr/scope.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "zefa_engine.h"

namespace zefa::bench {

inline json::Value parse(const std::string& text) { return testing::parse_or_abort(text); }

// Evaluates `e` in `s` once per iteration, the budgets refilled each time as
// for a fresh evaluation. Answers the operations the last evaluation charged.
inline uint64_t eval_each_iteration(benchmark::State& state, expr::Scope& s, const json::Value& e) {
  uint64_t charged = 0;
  for (auto _ : state) {
    s.ops = expr::limits::kOps;
    s.nodes = expr::limits::kNodes;
    s.bytes = expr::limits::kBytes;
    auto r = s.eval(e);
    if (!r.ok()) state.SkipWithError(r.error().c_str());
    benchmark::DoNotOptimize(r);
    charged = expr::limits::kOps - s.ops;
  }
  return charged;
}

// The reply text of one request.
inline std::string eval(const std::string& req) {
  char* r = zefa_engine_eval(req.c_str());
  std::string out(r);
  zefa_engine_free(r);
  return out;
}

// A file of the test data (engine/tests/data) as compact JSON text.
inline std::string data_text(const std::string& name) {
  std::ifstream in(std::string(ZEFA_TEST_DATA) + "/" + name);
  std::ostringstream s;
  s << in.rdbuf();
  return parse(s.str()).dump();
}

// Installs a pack under an id; anything but success is a fault of the run.
inline void install(const std::string& id, const std::string& pack) {
  std::string reply = eval(R"({"op":"install_rules","rules_id":")" + id + R"(","rules":)" + pack + "}");
  if (reply != R"({"ok":true,"value":true})") throw std::runtime_error(reply);
}

inline void run_request(benchmark::State& st, const std::string& req) {
  for (auto _ : st) {
    char* reply = zefa_engine_eval(req.c_str());
    benchmark::DoNotOptimize(reply);
    zefa_engine_free(reply);
  }
  st.SetItemsProcessed(st.iterations());
}

// The floor: parse the request text and write a reply of the same shape.
inline void bare_request(benchmark::State& st, const std::string& req) {
  const json::Value reply = parse(eval(req));
  for (auto _ : st) {
    json::Value v = parse(req);
    std::string out = reply.dump();
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(out);
  }
  st.SetItemsProcessed(st.iterations());
}

}  // namespace zefa::bench
