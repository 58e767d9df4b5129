// Shared helpers for the engine's tests.
#pragma once

#include <ostream>
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
  json::Value v;
  json::ParseError err;
  if (!json::parse(text, v, err)) throw std::runtime_error("bad test JSON: " + err.to_string());
  return v;
}

}  // namespace zefa::test
