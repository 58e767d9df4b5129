// Helpers shared by the benchmarks that run whole requests.
#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "json.hpp"
#include "zefa_engine.h"

namespace zefa::bench {

inline json::Value parse(const std::string& text) {
  json::Value v;
  json::ParseError err;
  if (!json::parse(text, v, err)) throw std::runtime_error(err.to_string());
  return v;
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

}  // namespace zefa::bench
