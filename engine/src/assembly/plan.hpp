// The plan: one entity instance of a device, as classification builds it and
// as the driver and the host carry it. A plan never changes once built; the
// operations here only read it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "data/role.hpp"
#include "error.hpp"
#include "json.hpp"
#include "protocol.hpp"
#include "record.hpp"

namespace zefa::assembly {

using json::Value;

struct Plan {
  std::string platform;  // selects rules["entities"][platform]
  std::string key;       // the descriptor's key, possibly empty
  Value identity;
  record::OrderedMap<std::string, data::Role> roles;  // in role order
  std::vector<std::string> depends_on;  // the first code alone decides `event`
  std::optional<protocol::SlotKind> slot_kind;
  bool update_all = false;
  Value config;

  // Written with all eight members in this order ("slot_kind" null when
  // none); read from an object (members in any order, others ignored,
  // "slot_kind" may be missing) or from an array of the eight values.
  static constexpr auto schema() {
    return record::Schema("Plan", record::field("platform", &Plan::platform), record::field("key", &Plan::key),
                          record::field("identity", &Plan::identity), record::field("roles", &Plan::roles),
                          record::field("depends_on", &Plan::depends_on), record::field("slot_kind", &Plan::slot_kind),
                          record::field("update_all", &Plan::update_all), record::field("config", &Plan::config));
  }
  Value serialize() const { return record::write(*this); }
  static Result<Plan, std::string> deserialize(const Value& v) { return record::read<Plan>(v); }

  // The datapoint write {"code", "value"} for a command to one role: fails
  // Unsupported "{role} not available" for a role the plan lacks, and with
  // the Value kind and the conversion's message when the role refuses it.
  Result<Value> cmd(std::string_view role, const Value& value) const;

  // Whether a report that changed `changed` concerns the plan: always with
  // update_all, else when some code of depends_on was changed.
  bool affected(std::span<const std::string> changed) const;
  // The same against the changed codes as a set, for callers that ask about
  // many plans for one long list.
  bool affected(const std::unordered_set<std::string_view>& changed) const;

  // The event a report fires: none unless depends_on's first code is among
  // `changed`; then the entity state's "event" member when it is truthy. A
  // failing state evaluation is a plain-message (Engine kind) error.
  Result<std::optional<Value>> event(const Value& status, std::span<const std::string> changed,
                                     const Value& rules) const;

  friend bool operator==(const Plan&, const Plan&) = default;
};

namespace plan {

// Counts one report of a delta slot into the running total. Nothing happens
// (false) when not enabled, when the value or the time stamp is null, when
// the time stamp equals the last counted one exactly (5 and 5.0 differ), or
// when the value's number or the new sum is not finite, which could never be
// stored and read back. Otherwise the number (`data::n`) is added, the time
// stamp kept, and the result is true.
bool accumulate(double& total, Value& last_ts, const Value& value, const Value& ts, bool enabled);

}  // namespace plan

}  // namespace zefa::assembly
