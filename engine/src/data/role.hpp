// Datapoint roles: one datapoint of a device bound to a role of an entity (a
// cover's position, a light's switch), with the conversions between the
// datapoint's raw status and the entity's value.
//
// Roles are plain immutable values: every operation is a pure function of its
// arguments, safe on any thread, and a copy shares nothing observable with its
// source. Device descriptions are untrusted; a lookup that meets a missing or
// mistyped member reads it as null.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "error.hpp"
#include "json.hpp"
#include "protocol.hpp"
#include "record.hpp"

namespace zefa::data {

using json::Value;

struct Role {
  std::string code;
  protocol::DpKind kind{};
  // The datapoint's parsed "values": Integer roles hold integer "min", "max",
  // "scale" and "step"; Enum roles a "range" list; any may say "inverted".
  Value spec;
  // The "report_type" of the datapoint's "status_range" entry, or null.
  Value report_type;

  // Written {"code", "kind", "spec", "report_type"}; read from that object
  // (all four required, other members ignored) or a four-element array.
  static constexpr auto schema() {
    return record::Schema("Role", record::field("code", &Role::code), record::field("kind", &Role::kind),
                          record::field("spec", &Role::spec), record::field("report_type", &Role::report_type));
  }

  // Raw status -> entity value: status[code] converted by kind; null when it
  // is missing or does not fit (out of range, wrong type, not in the range).
  // Integer results are always floats (25 reads 25.0 at scale 0).
  Value read(const Value& status) const;
  // Entity value -> datapoint value, or "invalid numeric value", "value out
  // of range", "invalid boolean value" or "invalid enum value". Integer values
  // are scaled and rounded half to even; the result is an integer.
  Result<Value, std::string> write(const Value& value) const;
  // {"code", "kind", "spec", "report_type", "range", "lo", "hi", "step",
  // "scale"}: what rule programs see; bounds and step divided by the factor.
  Value view() const;

  // spec "min" and "max" as numbers, in raw (unscaled) units.
  double lo() const noexcept;
  double hi() const noexcept;
  // The factor 10^trunc(spec "scale"): scale 2 gives 100, -1 gives 0.1.
  double scale() const noexcept;
  // spec "range" when it is an array, else empty.
  json::Array range() const;

  friend bool operator==(const Role&, const Role&) = default;
};

// The first datapoint among `codes` whose entry (in "function" then
// "status_range", the other way round without prefer_function) has the
// wanted kind, named canonically ("Integer", "Enum", ...). None when nothing
// fits. Integer specs are normalised to integers; their faults, and an empty
// wanted kind, are messages: "schema {code}: missing integer field",
// "schema {code}: invalid integer {field}", "invalid dp kind".
Result<std::optional<Role>, std::string> resolve(const Value& device, std::span<const std::string> codes,
                                                 std::string_view kind, bool prefer_function);

// The open, close and stop words that drive a cover through `role`: fixed
// booleans for a Boolean role, else the first of the rule pack's "maps" named
// by `names` (read as codes) whose open and close words are both in the
// role's range, falling back to the first named set. Null without names.
Value cover_words(const Role& role, const Value& names, const Value& rules);

}  // namespace zefa::data
