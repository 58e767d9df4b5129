// Shared helpers for the engine's tests.
#pragma once

#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "json.hpp"

namespace zefa::json {
// GoogleTest prints values as their compact text.
inline void PrintTo(const Value& v, std::ostream* os) { *os << v.dump(); }
}  // namespace zefa::json

namespace zefa::test {

// Parses a JSON text that the test knows to be valid.
inline json::Value J(std::string_view text) {
  auto v = json::parse(text);
  if (!v) throw std::runtime_error("bad test JSON: " + v.error().to_string());
  return std::move(v).value();
}

#ifdef ZEFA_TEST_DATA
// Parses a JSON file of the shared test data (engine/tests/data).
inline json::Value load(std::string_view name) {
  std::ifstream in(std::string(ZEFA_TEST_DATA) + "/" + std::string(name), std::ios::binary);
  if (!in) throw std::runtime_error("missing test data " + std::string(name));
  std::ostringstream text;
  text << in.rdbuf();
  return J(text.str());
}
#endif

}  // namespace zefa::test
