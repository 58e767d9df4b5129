// The output side of a driver: the outputs that one input produces, the two
// self-contained outputs ("send_message" and "reject"), and the ids under
// which the driver arms timers.
//
// One index space names the sources of effects: the driver's state machines
// first, then its motion trackers. A timer armed by effect source i under its
// own name n has the id "c{i}:{n}", and the host hands that id back when the
// timer expires.
//
// Pure functions, safe on any thread. The publishing half (`Driver::set`,
// `Driver::describe`, `Driver::apply_effects`) works on a driver and is
// declared with it (driver.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json.hpp"
#include "protocol.hpp"

namespace zefa::driver {

// The outputs of one input, in the order the host must carry them out.
using Outputs = std::vector<protocol::Output>;

// "send_message" on the channel "set" with {"dps": writes}; `writes` is the
// datapoint id -> raw value object of Adapter::write.
protocol::Output send(json::Value writes);

// "reject" {"prop", "code", "reason"}.
protocol::Output reject(std::string_view prop, protocol::RejectCode code, std::string_view reason);

// "c{index}:{name}": the index in decimal, the name as it is (it may hold ":").
std::string timer_id(uint64_t index, std::string_view name);

// An id split back into its effect index and its own name (a view into the
// id). None unless the text before the first ":" is "c" followed by an
// unsigned decimal number that fits 64 bits, optionally after one "+"
// ("c+0:tick" names index 0).
struct TimerRef {
  uint64_t index = 0;
  std::string_view name;
};
std::optional<TimerRef> parse_timer_id(std::string_view id);

// The outputs as the JSON array of a reply.
json::Value outputs_json(const Outputs& outputs);

}  // namespace zefa::driver
