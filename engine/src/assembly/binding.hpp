// Property bindings: where each property of the descriptor takes its value
// from, and how a command for it becomes datapoint writes.
//
// Bindings are plain values kept in the driver's state. Reading, writing
// and the readable test only read the plans, status and rule pack they are
// given (which must outlive the call); the read cache belongs to the caller
// and is touched by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>

#include "assembly/plan.hpp"
#include "data/role.hpp"
#include "error.hpp"
#include "json.hpp"
#include "record.hpp"

namespace zefa::assembly {

using json::Value;

// The alternatives of `Source`, defined apart so that each is complete (and
// default-constructible) before the variant that holds them.
namespace source {

// A row of the entity definition's "layout" (its index counts every row,
// skipped ones too) of plans[plan].
struct Layout {
  size_t plan = 0;
  size_t row = 0;
  static constexpr auto schema() {
    return record::Schema("Source::Layout", record::field("plan", &Layout::plan), record::field("row", &Layout::row));
  }
  friend bool operator==(const Layout&, const Layout&) = default;
};
// One datapoint through its role; a trigger is write-only and always writes
// `send`.
struct Dp {
  size_t plan = 0;
  data::Role role;
  bool trigger = false;
  Value send;
  static constexpr auto schema() {
    return record::Schema("Source::Dp", record::field("plan", &Dp::plan), record::field("role", &Dp::role),
                          record::field("trigger", &Dp::trigger), record::field("send", &Dp::send));
  }
  friend bool operator==(const Dp&, const Dp&) = default;
};
// A state machine of the driver, by its index in the driver's list; the
// driver serves it.
struct Machine {
  size_t index = 0;
  static constexpr auto schema() { return record::Schema("Source::Machine", record::field("index", &Machine::index)); }
  friend bool operator==(const Machine&, const Machine&) = default;
};
// The motion state of a cover; the driver serves it.
struct Motion {
  static constexpr auto schema() { return record::Schema("Source::Motion"); }
  friend bool operator==(const Motion&, const Motion&) = default;
};

}  // namespace source

// Where a property's value comes from; written as an object tagged by
// "kind" (first), the variant's members after it.
struct Source {
  using Layout = source::Layout;
  using Dp = source::Dp;
  using Machine = source::Machine;
  using Motion = source::Motion;

  std::variant<Layout, Dp, Machine, Motion> v;

  static constexpr auto schema() {
    return record::internally_tagged("Source", "kind", &Source::v, "layout", "dp", "machine", "motion");
  }
  friend bool operator==(const Source&, const Source&) = default;
};

// What one layout read of a plan shares with the other reads of that plan
// with the same total: the entity state, the role views and the role
// readings of the status.
struct ReadFrame {
  Value state;
  Value roles;
  Value values;
};

// The read cache of one pass over the bindings: frames by (plan index, bit
// pattern of the total). Valid only while the status, plans and rule pack
// it was filled from stay unchanged; never stored. Node-based, so a frame
// keeps its address while a scope refers to it.
struct FrameKey {
  size_t plan = 0;
  uint64_t total_bits = 0;
  friend bool operator==(const FrameKey&, const FrameKey&) = default;
};
struct FrameKeyHash {
  size_t operator()(const FrameKey& k) const noexcept;
};
using ReadCache = std::unordered_map<FrameKey, ReadFrame, FrameKeyHash>;

// One property's binding: its source, whether commands may write it, and
// the running total and last counted report time of an accumulating plan.
struct Binding {
  Source source;
  bool writable = false;
  double total = 0.0;
  Value last_ts;

  // An object with all four members, in this order; all are required.
  static constexpr auto schema() {
    return record::Schema("Binding", record::field("source", &Binding::source),
                          record::field("writable", &Binding::writable), record::field("total", &Binding::total),
                          record::field("last_ts", &Binding::last_ts))
        .object_only();
  }

  // The plan a layout or datapoint source reads through; null for the
  // driver's own sources (machine, motion) and for an index outside `plans`.
  const Plan* plan(std::span<const Plan> plans) const noexcept;

  // Whether reports can give the property a value: a layout row with a
  // non-null "read", or a datapoint that is not a trigger. Machine and
  // motion sources are the driver's and never readable here.
  bool readable(std::span<const Plan> plans, const Value& rules) const;

  // The property's current value (null: none), normalised by `il_value`
  // against its `definition` (the descriptor's property). A layout row's
  // "read" is evaluated over the plan's entity state, which `cache` shares
  // between the reads of one pass; a row whose "assume" sets roles of the
  // plan reads a changed status and bypasses the cache. A failed state
  // computation leaves the cache as it was. Failures are plain messages.
  // Machine and motion sources read null. `views`, when not empty, holds
  // entity::views of each plan's roles by plan index, kept by a caller whose
  // plans never change, so that no read builds them again.
  Result<Value, std::string> read(std::span<const Plan> plans, const Value& status, const Value& rules,
                                  const Value& definition, ReadCache& cache,
                                  std::span<const Value> views = {}) const;

  // The datapoint writes ({"code", "value"} objects) of a command giving the
  // property `value`: a layout row's "write" names the entity action to run;
  // a datapoint source writes through its role (a trigger its "send" value).
  // Conversion failures have the Value kind, action failures keep theirs;
  // machine and motion sources fail Unsupported "no write path".
  Result<json::Array> write(std::span<const Plan> plans, const Value& value, const Value& status, const Value& rules,
                            const Value& definition) const;

  friend bool operator==(const Binding&, const Binding&) = default;
};

}  // namespace zefa::assembly
