// Settings switches: a driver's own settings (per cover, the cover settings
// the rule pack's "cover_switches" names; the counting of passive reports)
// offered to the host as configuration properties, and the settings block
// that tells the host which settings differ from its own override blocks.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "assembly/assembly.hpp"
#include "driver/cover.hpp"
#include "driver/driver.hpp"
#include "json.hpp"

namespace zefa::driver {

// Makes the switches of a driver under construction: one property per cover
// and setting of rules["cover_switches"] (in cover order, then that
// object's order) that applies to the cover, is not left to a declarative
// property in place of the cover's motion tracker, and whose name
// "{prefix}cover_{key}" the descriptor does not have yet; then
// "delta_accept_passive" when `has_delta`. Adds each definition to the
// descriptor's "props" and each setting name to its cover's `switches`.
// Never fails.
Switches config_switches(std::vector<cover::Cover>& covers, assembly::Assembly& assembly, bool has_delta,
                         std::span<const std::string> declarative, const Value& rules);

}  // namespace zefa::driver
