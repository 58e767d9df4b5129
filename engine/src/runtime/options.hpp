// The options a host chooses per driver, and its unit environment. Both are
// read with defaults from the "options" member of "create" and "open"; the
// driver's construction decides what each option does.
#pragma once

#include <optional>
#include <string>

#include "error.hpp"
#include "json.hpp"
#include "record.hpp"

namespace zefa::runtime {

// The host's unit environment. Read from an object or the array form
// [temperature_unit, allowed_units]; written by `serialize`.
struct HostEnv {
  std::string temperature_unit;
  json::Value allowed_units;

  static constexpr auto schema() {
    return record::Schema("HostEnv", record::field("temperature_unit", &HostEnv::temperature_unit, "C"),
                          record::field("allowed_units", &HostEnv::allowed_units, record::empty_object));
  }
  // Temperature unit "C", allowed units {}.
  static HostEnv make_default();
  // The record, or the reader's message.
  static Result<HostEnv, std::string> deserialize(const json::Value& v);
  // {"temperature_unit": text, "allowed_units": value}, in that order.
  json::Value serialize() const;
};

// The options of one driver. Read from an object (other members ignored) or
// the array form holding the fields in declared order, a short array leaving
// the rest at their defaults. Only ever read. The defaults are those of the
// schema: `make_default()`, not `DriverOptions{}`.
struct DriverOptions {
  std::optional<HostEnv> env;  // none: unit "C" and the pack's "host_units"
  bool use_quirks{};
  json::Value dpmap;  // any value; the driver demands an object of codes
  bool allow_hazardous{};
  bool expose_unused{};
  json::Value overrides;  // any value; override blocks by product or device id
  bool device_settings{};

  static constexpr auto schema() {
    return record::Schema("DriverOptions", record::field("env", &DriverOptions::env, record::empty),
                          record::field("use_quirks", &DriverOptions::use_quirks, true),
                          record::field("dpmap", &DriverOptions::dpmap, record::empty_object),
                          record::field("allow_hazardous", &DriverOptions::allow_hazardous, false),
                          record::field("expose_unused", &DriverOptions::expose_unused, false),
                          record::field("overrides", &DriverOptions::overrides, record::empty_object),
                          record::field("device_settings", &DriverOptions::device_settings, false));
  }
  // No environment, quirks on, empty "dpmap" and "overrides", switches off:
  // what the operations use when "options" is missing or null.
  static DriverOptions make_default();
  // The record, or the reader's message (callers put "options: " before it).
  static Result<DriverOptions, std::string> deserialize(const json::Value& v);
};

}  // namespace zefa::runtime
