// Shared helpers for the strategy tests: results rendered as one text each,
// so table rows can hold the exact expected output.
#pragma once

#include <string>
#include <string_view>

#include "adapter/strategies.hpp"
#include "test_util.hpp"

namespace zefa::test {

// A string result as its content, any other value as "=" and compact JSON,
// a failure as "!" and the message as the host would see it.
inline std::string show(const json::Value& v) { return v.is_string() ? std::string(v.str()) : "=" + v.dump(); }

inline std::string read(std::string_view name, std::string_view raw, std::string_view config = "null",
                        std::string_view rules = "null") {
  auto r = adapter::strategy_read(name, J(raw), J(config), J(rules));
  return r.ok() ? show(r.value()) : "!" + r.error();
}

inline std::string write(std::string_view name, std::string_view value, std::string_view config = "null") {
  auto r = adapter::strategy_write(name, J(value), J(config));
  return r.ok() ? show(r.value()) : "!" + r.error().to_string();
}

// A JSON string literal holding `text`, for payloads given as raw text.
inline std::string jstr(std::string_view text) { return json::Value(text).dump(); }

}  // namespace zefa::test
