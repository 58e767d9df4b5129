// The steps of driver construction that only construction uses
// (Driver::make, construct.cpp). Pure functions of their arguments apart from
// the values passed by mutable reference; none fails unless it says so.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "adapter/adapter.hpp"
#include "assembly/assembly.hpp"
#include "driver/cover.hpp"
#include "driver/driver.hpp"
#include "driver/motion.hpp"
#include "error.hpp"
#include "json.hpp"
#include "machine/machine.hpp"

namespace zefa::driver {

// The adapter of a prepared description, then the block's "dp" definitions
// (an id already converted under that code keeps its strategy; otherwise it
// becomes a plain entry in its place) and renames, its "remove" codes and its
// "remap" entries (each with the datapoint's bounds).
adapter::Adapter build_adapter(const Value& device, const Value& dpmap, const Value& block, const Value& rules);

// A copy of the description without the position datapoints of covers that
// take their position from a distinct set-position datapoint; none when no
// cover does.
std::optional<Value> without_target_positions(const Value& device, std::span<const cover::Cover> covers);

// Every per-group member (an object) of the block's "cover" must name some
// cover's group: Override "cover.{name}: the device has no cover in a group
// of that name".
Status<> check_cover_groups(const Value& block, std::span<const cover::Cover> covers);

// The declarative converter of the block: its properties go into the
// descriptor and bindings (machine 0), and one machine serves them all, also
// when it declares none. Returns the machines and the property names.
struct Declarative {
  std::vector<machine::Machine> machines;
  std::vector<std::string> names;
};
Declarative declarative(assembly::Assembly& assembly, const Value& block);

// One motion tracker per cover whose state source has what it needs and
// whose motion property no declarative property has taken.
std::vector<cover::Motion> cover_motions(std::span<const cover::Cover> covers, std::span<const std::string> names,
                                         const Value& rules);

// Delta settings when some datapoint or layout binding reads a delta plan.
std::optional<DeltaSettings> delta_config(const assembly::Assembly& assembly,
                                          std::span<const assembly::Plan> plans, const Value& block);

}  // namespace zefa::driver
