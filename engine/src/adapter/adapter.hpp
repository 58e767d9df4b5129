// The datapoint adapter: the per-device translator between a device's
// datapoint ids with raw payloads and datapoint codes with decoded values,
// each datapoint through a named local strategy.
//
// An adapter is a plain value with no hidden state: everything it knows is in
// its four members, and two adapters with equal documents behave alike. It is
// built once from a device description (`Adapter::make`), carried as its JSON
// document (the record reader/writer: `record::read<Adapter>`,
// `record::write`), and used to decode reports and encode commands. Its owner
// changes `entries` and `remaps` directly where it needs to.
//
// `read`, `write` and `flip` only read the adapter and may run on any thread
// at once; `invert` and `set_bounds` change it and need exclusive access.
// Carried documents are untrusted: members of unexpected types read as empty
// and never fault.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "error.hpp"
#include "json.hpp"
#include "record.hpp"

namespace zefa::adapter {

using json::Value;

// How one datapoint is converted: its code, the strategy name and the
// strategy's configuration (the "local_strategy" item's "config_item").
struct DpEntry {
  std::string code;
  std::string strategy;
  Value config;

  DpEntry() = default;
  DpEntry(std::string_view code_, std::string_view strategy_, Value config_)
      : code(code_), strategy(strategy_), config(std::move(config_)) {}

  // Written and read as the array [code, strategy, config].
  static constexpr auto schema() {
    return record::Schema("DpEntry", record::field("code", &DpEntry::code),
                          record::field("strategy", &DpEntry::strategy), record::field("config", &DpEntry::config))
        .array_only()
        .kind("tuple struct");
  }
  friend bool operator==(const DpEntry&, const DpEntry&) = default;
};

// Datapoint id -> how it is converted, in insertion order.
using Entries = record::OrderedMap<std::string, DpEntry>;

// The entries of an adapter by datapoint code: the first entry, in order,
// holding each code. Built in one pass over the entries (small adapters are
// scanned instead), so matching many commands costs linear time. The entries
// must outlive the index and stay unchanged.
class CodeIndex {
 public:
  explicit CodeIndex(const Entries& entries);
  // The first entry with this code (id and entry), or nullptr.
  const Entries::Entry* find(std::string_view code) const;

 private:
  const Entries& entries_;
  record::PositionIndex first_;  // empty when scanned
};

struct Adapter {
  // Datapoint id -> how it is converted, in insertion order.
  Entries entries;
  // Datapoint code -> the allowed values of an Enum datapoint ("range").
  Value enum_ranges = Value::object();
  // Datapoint id -> a strategy the rule pack does not list (decoded by
  // "default" instead).
  Value unsupported = Value::object();
  // Datapoint code -> {"invert": bool, "bounds": [min, max], "alias":
  // {device word: value shown}}, each member optional.
  Value remaps = Value::object();

  // Written {"entries", "enum_ranges", "unsupported", "remaps"}, "entries" as
  // an object of id -> [code, strategy, config]. Read from that object (all
  // four members required) or a four-element array.
  static constexpr auto schema() {
    return record::Schema("Adapter", record::field("entries", &Adapter::entries),
                          record::field("enum_ranges", &Adapter::enum_ranges),
                          record::field("unsupported", &Adapter::unsupported),
                          record::field("remaps", &Adapter::remaps));
  }

  // Builds the adapter of a prepared device description: one entry per
  // "local_strategy" item naming a datapoint code (its strategy when the rule
  // pack's "strategies" lists it, else "default" and an `unsupported` note),
  // then (code, "default", {}) for each further id of `dpmap`, and the Enum
  // ranges of "status_range". Never fails.
  static Adapter make(const Value& device, const Value& dpmap, const Value& rules);

  // Decodes a report (datapoint id -> raw value) into datapoint code -> value
  // in the report's order. Ids without an entry, failed conversions and Enum
  // values outside their range are left out. Never fails.
  Value read(const Value& dps, const Value& rules) const;

  // Encodes commands ({"code", "value"} objects) into datapoint id -> raw
  // value. Fails (Unsupported) with "no dp for command" for an empty list and
  // "no dp for {code}" for a code without an entry; a strategy's error is
  // returned unchanged. Nothing is returned on failure.
  Result<Value> write(std::span<const Value> commands) const;
  // The same with the index of this adapter's entries already built.
  Result<Value> write(std::span<const Value> commands, const CodeIndex& by_code) const;

  // `value` turned over when `code` is marked inverted: a number mirrored in
  // its recorded bounds (unchanged without bounds), a boolean negated; any
  // other value, or an unmarked code, comes back as it is.
  Value flip(std::string_view code, const Value& value) const;

  // Toggles the code's "invert" mark (a missing mark counts as false), then
  // records its bounds as `set_bounds` does.
  void invert(std::string_view code, const Value& device);

  // For an Integer datapoint (its "status_range" entry when present, else its
  // "function" entry) records remaps[code]["bounds"] = [min, max] of its
  // parsed values; other datapoints are left alone.
  void set_bounds(std::string_view code, const Value& device);
  // Both create `remaps` and remaps[code] as objects when they are null or
  // missing, and change nothing when a carried document holds another type
  // there.

  friend bool operator==(const Adapter&, const Adapter&) = default;
};

}  // namespace zefa::adapter
