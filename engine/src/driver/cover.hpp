// The covers of a device: blinds, curtains, shutters and the like, whose
// position, set-position, instruction (open/close/stop) and tilt datapoints
// the driver treats on their own. A `Cover` is kept in the driver's state,
// one per cover the assembly found; its settings (rules::CoverSettings) say
// which datapoints are inverted and how its motion is tracked (motion.hpp).
//
// Plain values: a copy shares nothing observable with its source (JSON
// members are shared copy-on-write nodes, so a copy is cheap). Every function
// is pure and thread-safe; none fails.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "assembly/assembly.hpp"
#include "data/role.hpp"
#include "json.hpp"
#include "record.hpp"
#include "rules/cover_settings.hpp"

namespace zefa::driver::cover {

using json::Value;
using rules::CoverSettings;

struct Cover {
  size_t plan = 0;                   // index of the cover's plan in the driver's plans
  std::string prefix;                // group name + "_", or empty: prefix of its property names
  std::optional<std::string> group;  // group name; none for an ungrouped cover
  bool hazardous = false;            // its settings switches are exposed read-only
  CoverSettings defaults;            // before any override block; never changes
  CoverSettings settings;            // in force: defaults + override block + switch commands
  std::optional<data::Role> cur;     // position
  std::optional<data::Role> setp;    // set-position (target)
  std::optional<data::Role> ins;     // instruction: open, close, stop
  std::optional<data::Role> tilt;
  bool position_choice = false;        // cur and setp present with different codes
  std::vector<std::string> switches;   // setting names exposed as switches, in order added
  Value words;                         // the cover definition's "words": names of the pack's "maps"

  // Object form: other members are ignored; group and the four roles may be
  // missing (null). Array form: exactly the thirteen fields in order.
  static constexpr auto schema() {
    return record::Schema(
        "Cover", record::field("plan", &Cover::plan), record::field("prefix", &Cover::prefix),
        record::field("group", &Cover::group), record::field("hazardous", &Cover::hazardous),
        record::field("defaults", &Cover::defaults), record::field("settings", &Cover::settings),
        record::field("cur", &Cover::cur), record::field("setp", &Cover::setp), record::field("ins", &Cover::ins),
        record::field("tilt", &Cover::tilt), record::field("position_choice", &Cover::position_choice),
        record::field("switches", &Cover::switches), record::field("words", &Cover::words));
  }

  // The thirteen members in declaration order; absent group and roles null.
  Value serialize() const;

  // The member `key` of the settings' JSON form (a copy); null when `key`
  // names no setting.
  Value value(std::string_view key) const;

  // Whether setting `key` means anything for this cover: inversions need
  // their datapoint, a position choice needs distinct position and
  // set-position codes, motion tracking needs a position or an instruction,
  // inverted reported motion needs an instruction while the settings in force
  // take their state from control. Settle, tilt inversion and any key naming
  // no setting always apply.
  bool applies(std::string_view key) const;

  friend bool operator==(const Cover&, const Cover&) = default;
};

// Builds the cover of one entry of the assembly's covers list. `plans`: the
// driver's plans; `rules`: the rule pack, whose "cover_defaults" give the
// defaults (all field defaults when they do not read) and whose entity
// definition of the plan's platform names the cover's roles and words in
// its "cover" member; `device_settings`: the driver option, which makes the
// default state source "inferred"; `block`: the device's merged override
// block, whose part for this cover (`own`) is applied member by member, a
// member that does not set a field being skipped. Switches start empty.
Cover make_covers(const assembly::CoverEntry& entry, std::span<const assembly::Plan> plans, const Value& rules,
                  bool device_settings, const Value& block);

// The part of an override block that concerns one cover: the block's "cover"
// member for an ungrouped cover, that member's member `group` for a grouped
// one; null where a step finds no object or no such member.
Value own(const Value& block, const std::optional<std::string>& group);

}  // namespace zefa::driver::cover
