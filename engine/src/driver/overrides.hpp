// Override application: the host's and the rule pack's override blocks for
// one device, applied to its description before the adapter and the plans
// are built (`prepare`), and to its descriptor and bindings once they are
// assembled (`patch_descriptor`).
//
// The static checks of blocks and mappings live in rules/overrides, below
// the rule-pack validation that also needs them; everything here runs them
// again on what one device actually receives.
//
// Failures are plain messages; driver construction wraps them as override
// errors ("override: " and the message). All functions are pure apart from
// the values passed by mutable reference and may run on any thread.
#pragma once

#include <string>
#include <vector>

#include "assembly/assembly.hpp"
#include "assembly/plan.hpp"
#include "error.hpp"
#include "json.hpp"

namespace zefa::driver::overrides {

using json::Value;

// The members of a driver's options that preparation reads, with the
// options' defaults.
struct Options {
  bool use_quirks = true;
  Value dpmap = Value::object();      // datapoint id -> code
  Value overrides = Value::object();  // the host's mapping: key -> block
};

// What preparation hands to the adapter, classification and assembly.
struct Prepared {
  Value device;  // the corrected copy of the description
  Value block;   // the merged override block of this device; {} when none
  Value dpmap;   // datapoint id -> code, after quirk, options and the block
  Value info;    // {"manufacturer", "model", "model_id"}
};

// Prepares a device description: applies the rule pack's quirk for its
// product (unless the options turn quirks off), merges the options' dpmap,
// checks the options' mapping, merges the blocks of the device's product id
// and then of its id (the device's own block wins member by member), checks
// the merged block as complete, and applies its "category", "dp" (defines
// and renames), "remap" (aliases) and "remove" members to a copy of the
// description. The input is never changed; on failure nothing is returned.
// Fails with the first message of the block checks, or
// "dp.{id}: no dp {id} to rename" for a rename of an id that neither the
// datapoint map nor "local_strategy" knows.
Result<Prepared, std::string> prepare(const Value& device, const Options& options, const Value& rules);

// Applies the merged block's "props" and "device" members to an assembled
// device, then drops the descriptor's groups that no property names (and
// "groups" itself when none is left). A patch (no "src") changes, hides or
// makes read-only an existing property and its binding; a new property
// ("src") is made from the datapoint of that code in `device` (the prepared
// description): its definition in the descriptor, a plan "override" appended
// to `plans`, and a datapoint binding. The descriptor is copied before its
// first change when other assemblies share it. Fails with the first of
// "props.available cannot be overridden", "props.{name}: no such property",
// "{member} only applies to number", "trigger/event cannot be made read
// only", "props.{name}.src: no dp {code}", "property type does not fit dp",
// "dp is not writable", "invalid dp kind"; changes made before a failure
// stay, and the caller is expected to drop the whole construction.
Status<std::string> patch_descriptor(assembly::Assembly& assembly, std::vector<assembly::Plan>& plans,
                                     const Value& block, const Value& device, const Value& rules);

// Whether a value suits a property definition: the one test the state
// machines apply to what they publish (see assembly::value_fits).
using assembly::value_fits;

}  // namespace zefa::driver::overrides
