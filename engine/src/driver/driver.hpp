// The device driver: one device's whole state, kept as one JSON document (the
// driver state document) between the host's calls, or in memory by the live
// form (runtime/).
//
// A driver is two parts. Its configuration (`DriverConfig`) is built once by
// `Driver::make` and never changes; copies of a driver share it by reference
// count. Its state (assembly, covers, motions, tables, flags, machines ...)
// is owned by each copy; input handling works on a copy of the state and
// keeps it only when the input succeeds, so a copy must stay cheap: the JSON
// members inside are shared copy-on-write nodes.
//
// Every function here is pure apart from the driver it is called on and may
// run on any thread; a driver itself is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "adapter/adapter.hpp"
#include "assembly/assembly.hpp"
#include "assembly/plan.hpp"
#include "data/data.hpp"
#include "driver/cover.hpp"
#include "driver/effects.hpp"
#include "driver/motion.hpp"
#include "error.hpp"
#include "json.hpp"
#include "machine/machine.hpp"
#include "protocol.hpp"
#include "record.hpp"

namespace zefa::driver {

using json::Value;

// ---------------------------------------------------------------- settings

namespace setting {
// The switch sets DeltaSettings::accept_passive.
struct AcceptPassive {
  static constexpr auto schema() { return record::Schema("Setting::AcceptPassive").unit(); }
  friend bool operator==(const AcceptPassive&, const AcceptPassive&) = default;
};
// The switch sets the setting `key` (a CoverSettings field name) of
// covers[cover].
struct Cover {
  size_t cover = 0;
  std::string key;
  static constexpr auto schema() {
    return record::Schema("Setting::Cover", record::field("cover", &Cover::cover), record::field("key", &Cover::key));
  }
  friend bool operator==(const Cover&, const Cover&) = default;
};
}  // namespace setting

// How a settings switch is applied. Written "accept_passive" or
// {"cover": {"cover": index, "key": name}}; read also from
// {"accept_passive": null}, {"accept_passive": {}} and {"cover": [index, key]}.
struct Setting {
  using AcceptPassive = setting::AcceptPassive;
  using Cover = setting::Cover;
  std::variant<AcceptPassive, Cover> v;
  static constexpr auto schema() {
    return record::externally_tagged("Setting", &Setting::v, "accept_passive", "cover");
  }
  friend bool operator==(const Setting&, const Setting&) = default;
};

// Settings of a device whose bindings count delta datapoints: whether reports
// on the passive channel count. Read from {"accept_passive": bool} (no other
// member) or [bool].
struct DeltaSettings {
  bool accept_passive = false;
  static constexpr auto schema() {
    return record::Schema("DeltaSettings", record::field("accept_passive", &DeltaSettings::accept_passive))
        .deny_unknown_fields();
  }
  friend bool operator==(const DeltaSettings&, const DeltaSettings&) = default;
};

using Switches = record::OrderedMap<std::string, Setting>;

// ----------------------------------------------------------- configuration

// What construction fixes for the driver's whole life. Shared read-only by
// every copy of the driver.
struct DriverConfig {
  Value device;                     // the prepared description
  Value block;                      // the merged override block
  std::vector<assembly::Plan> plans;
  adapter::Adapter adapter;
  Switches switches;                // switch property -> what it changes, in creation order
  std::vector<Value> own_blocks;    // the host's blocks for the product id and the device id
  // entity::views of each plan's roles, by plan index: derived from `plans`
  // by `derive` and never written to the state document. Plans never
  // change, and every report's reads would otherwise build them again.
  std::vector<Value> views;

  // Fills the derived members; called once the plans are in place.
  void derive();
  friend bool operator==(const DriverConfig&, const DriverConfig&) = default;
};

// The options construction reads; the engine interface fills them from the
// host's driver options.
struct BuildOptions {
  Value env;  // the host's unit environment as JSON; null: "C" and the pack's "host_units"
  bool use_quirks = true;
  Value dpmap = Value::object();
  bool allow_hazardous = false;
  bool expose_unused = false;
  Value overrides = Value::object();
  bool device_settings = false;
};

// ------------------------------------------------------------------ driver

struct Driver {
  std::shared_ptr<const DriverConfig> config;  // never null in a built or read driver

  assembly::Assembly assembly;
  std::vector<cover::Cover> covers;
  std::vector<cover::Motion> motions;
  std::optional<DeltaSettings> delta;
  std::vector<std::string> timers;  // armed timer ids, in arming order
  data::Table codes;                // datapoint values by code, decoded
  data::Table dps;                  // raw datapoint values by id, as reported
  data::Table values;               // last published value per property
  bool described = false;
  bool linked = false;
  bool synced = false;
  int64_t seq = 0;
  std::vector<machine::Machine> machines;
  std::string rules_fingerprint;

  const DriverConfig& cfg() const noexcept { return *config; }

  // Same configuration (the same shared one) and equal state: what "left as
  // it was" means, without writing either document.
  friend bool operator==(const Driver&, const Driver&) = default;

  // Builds a driver from a device description, the options and a validated
  // rule pack (`make` stands for the constructor every caller means by
  // "new": the word is taken in C++). The fingerprint is left empty for the
  // caller to record. Errors: kind Device for the description's basic checks
  // and for a description nesting so deeply that the state document could
  // not be read back; Request for a bad "dpmap"; Override for the override
  // blocks and cover groups; Engine for a failed assembly; classification's
  // own errors unchanged.
  static Result<Driver> make(const Value& device, const BuildOptions& options, const Value& rules);

  // The state document: the twenty members, configuration first. Cannot fail.
  Value serialize() const;
  // Reads a state document: state members first (the first missing one is
  // reported before any configuration member), then the configuration;
  // unknown members are dropped. The kinds inside the plans and the binding
  // sources also read from {"name": {}}; they are written back as the name.
  // Fails with the record reader's message.
  static Result<Driver, std::string> deserialize(const Value& v);

  // Whether a document from the host holds together: a descriptor object
  // with an object "props", two own blocks, binding, switch and cover
  // indices in range. Fails Request "invalid driver state". Read only.
  Status<> validate_state() const;

  // Takes the report counter (the larger) and the running totals of delta
  // bindings reading the same datapoints from `old` into this rebuilt
  // driver. Cannot fail; `old` is only read.
  void carry(const Driver& old);

  // The settings that differ from what the host's own blocks imply, as an
  // override block {"cover": ..., "delta": ...}; {} when nothing differs.
  Value settings_block() const;

  // ---- input handling (input.cpp) and outputs (effects.cpp)

  // Applies one host input and returns the outputs for the host, in order.
  // `depth` is 0 for the host's own input; the seeds of "describe" run one
  // level deeper, and an input more than 63 levels down fails Request "input
  // nesting limit exceeded". `now` is the host's time, finite. A failure may
  // leave the driver half-changed: callers run it on a driver they can drop
  // (a copy, or a state just read) and keep it only on success. Commands
  // never fail: their refusals are "reject" outputs.
  Result<Outputs> handle_inner(const protocol::Input& input, const Value& rules, unsigned depth, double now);

  // Publishes `value` as property `prop` when it differs loosely (data::eq)
  // from the last published one: "value", or for null "absent" when a value
  // was published. Appends to `out`.
  void set(std::string_view prop, const Value& value, Outputs& out);

  // The first-time description: the descriptor, "absent" for the properties
  // of motion trackers that do not infer, the switches' values. Nothing on
  // later calls.
  void describe(Outputs& out);

  // Applies one run's effects of effect source `index` (machines first, then
  // motion trackers): datapoint writes are encoded first, and their failure
  // ("device link is down" or the adapter's, kind Unsupported) leaves the
  // driver and `out` untouched; then the values of properties bound to that
  // source, the timers ("c{index}:{name}"), and one "send_message".
  Status<> apply_effects(size_t index, machine::MachineEffects effects, Outputs& out);

  // A switch's current value: the cover's setting, or whether passive
  // reports count (false without delta settings).
  Value switch_value(const Setting& setting) const;
};

}  // namespace zefa::driver

namespace zefa::record {
// Setting reads {"accept_passive": {}} like {"accept_passive": null}.
template <>
struct Codec<driver::Setting> {
  static bool read(const json::Value& v, driver::Setting& out, Reader& r);
  static json::Value write(const driver::Setting& x);
};
}  // namespace zefa::record
