// Entity assembly: turning a device's plans into the descriptor the host sees
// and the bindings that read and write its properties (binding.hpp), and the
// normalisation of property values, which the state machines also use for
// the values they publish.
//
// Assembly only reads the device, plans and rule pack it is given; every
// function here is pure and may run on any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "assembly/binding.hpp"
#include "assembly/entity.hpp"
#include "assembly/plan.hpp"
#include "error.hpp"
#include "expr/scope.hpp"
#include "json.hpp"
#include "record.hpp"

namespace zefa::assembly {

using json::Value;

// A plan whose entity definition says "cover": the driver builds a cover
// model for it. Written as the array [plan, prefix, group, hazard].
struct CoverEntry {
  size_t plan = 0;
  std::string prefix;                // "" or the group name and "_"
  std::optional<std::string> group;  // none for the device's own properties
  bool hazard = false;
  static constexpr auto schema() {
    return record::Schema("CoverEntry", record::field("plan", &CoverEntry::plan),
                          record::field("prefix", &CoverEntry::prefix), record::field("group", &CoverEntry::group),
                          record::field("hazard", &CoverEntry::hazard))
        .array_only()
        .kind("tuple struct");
  }
  friend bool operator==(const CoverEntry&, const CoverEntry&) = default;
};

// What assembly makes of a device: the descriptor the host sees, one
// binding per property (in descriptor order, "available" aside), the plans
// the rule pack declines to expose ("platform:key") and the covers.
// The descriptor is a shared value: copies of an assembly share it until
// one of them changes it.
struct Assembly {
  Value descriptor;
  record::OrderedMap<std::string, Binding> bindings;
  std::vector<std::string> unsupported;
  std::vector<CoverEntry> covers;

  // An object with these four members in this order, all required; other
  // members are ignored when read.
  static constexpr auto schema() {
    return record::Schema("Assembly", record::field("descriptor", &Assembly::descriptor),
                          record::field("bindings", &Assembly::bindings),
                          record::field("unsupported", &Assembly::unsupported),
                          record::field("covers", &Assembly::covers))
        .object_only();
  }
  friend bool operator==(const Assembly&, const Assembly&) = default;
};

// Assembles a device: `device` is the prepared description (its "id",
// "product_id", "name" and "status" are read), `info` the device
// information ("manufacturer", "model"), `allow_hazardous` the driver
// option. Plans whose platform has no entity definition are skipped. The
// first composite plan gives the descriptor its "kind" and "class"; later
// composite plans become groups whose property names carry the group name.
// Any failing evaluation ends assembly with its message.
Result<Assembly, std::string> assemble(const Value& device, std::span<const Plan> plans, const Value& info,
                                       bool allow_hazardous, const Value& rules);

// An object of expressions evaluated in `scope`, member by member in order
// (a template reference is followed first): null results are left out, the
// first failure is returned. Anything but an object gives {}.
Result<Value, std::string> definition(const Value& value, const Value& rules, expr::Scope& scope);

// A layout source resolved: the plan, its layout row (null when the row no
// longer exists) and the plan's entity. Both point into `plans` and `rules`.
struct Located {
  const Plan* plan;
  const Value* row;
  Entity entity;
};
// Fails "binding refers to a missing plan" or "binding refers to an unknown
// entity".
Result<Located, std::string> layout(std::span<const Plan> plans, size_t plan, size_t row, const Value& rules);

// Normalises a value read or emitted for a property against the property's
// definition (a descriptor property: its "type" and "options" are read).
// Null stands for "no value". Never fails, has no other effect; pure and
// thread-safe.
//   "select": a non-null value must equal (strictly: 1 and 1.0 differ) an
//             element of the "options" array, else null; a member comes
//             back exactly as it is (1.0 stays a float);
//   "binary": a number 0 gives false, 1 true, any other number null;
//   then non-numbers are returned unchanged; a float that is not finite gives
//   null, an integral float below 9.22e18 in magnitude becomes an integer,
//   other floats stay. Integers are kept exactly as they are.
Value il_value(Value value, const Value& definition);

// A property name made from a text, unique among the keys of `props`: the
// text fully lower-cased (Unicode), then every character other than 0-9 and
// a-z replaced by one "_" (whatever its encoded length); the empty result
// becomes "prop". A name taken in `props`, or "available" (the link
// property), gets the first free suffix "_2", "_3", ...
std::string name(std::string_view text, const json::Object& props);

// Whether a value suits a property definition (read only; never fails):
// "text" takes a string, "binary" a boolean, "number" any number, "select" a
// value strictly equal (1 and 1.0 differ) to an element of its "options"
// array. Any other or missing type fits nothing.
bool value_fits(const Value& value, const Value& definition) noexcept;

}  // namespace zefa::assembly
