// Whole requests through zefa_engine_eval, and their reference: the bare
// cost of parsing the same request text and writing the same reply.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "json.hpp"
#include "zefa_engine.h"

namespace zefa::bench {

// Installs a rule pack (compact JSON text) under an id.
inline void install(const std::string& id, const std::string& pack) {
  const std::string req = R"({"op":"install_rules","rules_id":")" + id + R"(","rules":)" + pack + "}";
  zefa_engine_free(zefa_engine_eval(req.c_str()));
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
  char* r = zefa_engine_eval(req.c_str());
  json::Value reply;
  json::ParseError err;
  (void)json::parse(r, reply, err);
  zefa_engine_free(r);
  for (auto _ : st) {
    json::Value v;
    (void)json::parse(req, v, err);
    std::string out = reply.dump();
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(out);
  }
  st.SetItemsProcessed(st.iterations());
}

}  // namespace zefa::bench
