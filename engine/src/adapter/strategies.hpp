// Local strategies: the named conversions between a datapoint's raw payload,
// as a device reports it, and the value the rest of the engine works with.
// Names are protocol keys, matched byte for byte. All strategies are pure:
// they read their arguments, build a new result and keep nothing, so they are
// safe to call from any thread. Payloads are untrusted device data: every
// JSON value of any size gives a result or one of the messages below.
#pragma once

#include <string>
#include <string_view>

#include "error.hpp"
#include "json.hpp"

namespace zefa::adapter {

using json::Value;

// Decodes `raw` with the strategy `name`. `config` is the datapoint's
// "config_item" (read by "enum" and "default"), `rules` the rule-pack
// document (read by "db_v1_alarm" for its "meter_alarms"). "enum" and
// "default" run whatever raw is; otherwise a null raw gives "" for
// "hb_range_v1", "hb_range_v2" and "hb_jsq_lightv1" and null for every other
// name; an unknown name gives a copy of raw. Failure is a plain message such
// as "invalid hex", "invalid base64" or "invalid timer"; callers choose how to
// report it.
Result<Value, std::string> strategy_read(std::string_view name, const Value& raw, const Value& config,
                                         const Value& rules);

// Encodes `value` into the raw payload for the strategy `name`. Strings that
// hold JSON text are parsed first, except for "enum", "default" and
// "hb_jsq_lightv1", which take the value as it is. A name without an inverse
// (unknown names included) fails with "this dp's value conversion has no
// inverse" of the Unsupported kind; a bad timer time fails with the plain
// message "invalid time" (Engine kind).
Result<Value> strategy_write(std::string_view name, const Value& value, const Value& config);

}  // namespace zefa::adapter
