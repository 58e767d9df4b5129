// Entity assembly: turning a device's plans into the descriptor the host sees
// and the bindings that read and write its properties.
//
// For now this holds the normalisation of property values, which the state
// machines also use for the values they publish; the assembly of descriptor
// and bindings joins it here.
#pragma once

#include <string>
#include <string_view>

#include "json.hpp"

namespace zefa::assembly {

using json::Value;

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
