// Internal to the strategies: each family publishes its table of strategies,
// and the dispatch in strategies.cpp looks names up across the tables.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "error.hpp"
#include "json.hpp"

namespace zefa::adapter::family {

using json::Value;
using ReadResult = Result<Value, std::string>;

// What a null raw value reads as, before the strategy itself would run.
enum class OnNull { Serve, Empty, Null };

struct Strategy {
  std::string_view name;
  ReadResult (*read)(const Value& raw, const Value& config, const Value& rules);
  // nullptr: the strategy has no inverse.
  Result<Value> (*write)(const Value& value, const Value& config);
  // Whether `write` takes the value with JSON text parsed out of strings.
  bool write_parsed;
  OnNull on_null;
};

std::span<const Strategy> generic();   // "enum", "default"
std::span<const Strategy> lighting();  // "hb_*", "dj_*", "voice_atm_color"
std::span<const Strategy> metering();  // "db_v1_*"
std::span<const Strategy> records();   // timers, cleaning record, bit sets

// The payload text of a raw value: the string itself, "" for other types.
inline std::string_view payload(const Value& raw) noexcept { return raw.str(); }

}  // namespace zefa::adapter::family
