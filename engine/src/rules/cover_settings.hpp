// `CoverSettings`, the settings of one cover: inversions, settle time and
// motion state source, with their JSON form and the rules that read them from
// a rule pack ("cover_defaults", "cover_switches") and change them one field
// at a time. Rule-pack validation checks them here; the driver's covers and
// overrides use them from above.
//
// Plain values: copy freely; every function is pure and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "error.hpp"
#include "json.hpp"
#include "protocol.hpp"
#include "record.hpp"

namespace zefa::rules {

using protocol::StateSource;

// Settle reads any JSON number as a double and is written by the value rule
// for computed numbers (30.0 as 30, 2.5 as 2.5, non-finite as null).
struct SettleCodec {
  static bool read(const json::Value& v, double& out, record::Reader& r) { return record::Codec<double>::read(v, out, r); }
  static json::Value write(double x);
};

struct CoverSettings {
  bool invert_position = false;       // position datapoint inverted
  bool invert_set_position = false;   // set-position datapoint inverted
  bool invert_control = false;        // instruction's open and close swapped
  double settle = 0;                  // settle delay of the motion tracker
  bool invert_tilt = false;           // tilt datapoint inverted
  bool position_from_target = false;  // position taken from the set-position datapoint
  std::optional<StateSource> state_source;  // none: no motion tracking
  bool invert_reported_motion = false;      // reported motion directions swapped

  // Every field may be missing (object or shorter array) and takes its
  // default; a member naming no field fails.
  static constexpr auto schema() {
    return record::Schema("CoverSettings",
                          record::field("invert_position", &CoverSettings::invert_position, false),
                          record::field("invert_set_position", &CoverSettings::invert_set_position, false),
                          record::field("invert_control", &CoverSettings::invert_control, false),
                          record::field<SettleCodec>("settle", &CoverSettings::settle, 0.0),
                          record::field("invert_tilt", &CoverSettings::invert_tilt, false),
                          record::field("position_from_target", &CoverSettings::position_from_target, false),
                          record::field("state_source", &CoverSettings::state_source, record::empty),
                          record::field("invert_reported_motion", &CoverSettings::invert_reported_motion, false))
        .deny_unknown_fields();
  }

  // The JSON form: the eight members in declaration order.
  json::Value serialize() const;

  // Reads the rule pack's "cover_defaults" (null when missing). A failure is
  // "cover_defaults: " and the reader's message; null and other non-records
  // fail as an invalid type, expected "struct CoverSettings".
  static Result<CoverSettings, std::string> from_rules(const json::Value& value);

  // True exactly for the eight field names (case-sensitive).
  static bool known(std::string_view key);

  // Sets one field from a JSON value by the reading rules. False, with the
  // settings unchanged, when `key` names no field or the value does not read
  // (a string for a boolean or for settle, an unknown state source name).
  static bool set(CoverSettings& settings, std::string_view key, const json::Value& value);

  friend bool operator==(const CoverSettings&, const CoverSettings&) = default;
};

}  // namespace zefa::rules
