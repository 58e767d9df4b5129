// Override blocks: the JSON objects that correct one device's description and
// descriptor, keyed by product id or device id in the rule pack's and the
// driver options' "overrides" mappings.
//
// The checks here are static: they look only at the block and at the rule
// pack's "cover_defaults" and "cover_switches". Each returns success or the
// first failure as a plain message; callers give it the Override kind (shown
// "override: " and the message). All functions are pure and thread-safe;
// arguments are read only. Members are visited in their object order.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "error.hpp"
#include "json.hpp"

namespace zefa::rules::overrides {

using json::Value;
using Check = Status<std::string>;

// A whole mapping (key -> block): "overrides must be object" for a
// non-object; each block must be an object and pass validate(block, rules,
// false), its failure prefixed with "{key}: ".
Check validate_mapping(const Value& mapping, const Value& rules);

// One block. `strict` is false for each block of a mapping and true for the
// merged block of one device, which must also be complete (converter
// properties typed, write programs for writable properties, emitted names
// declared). A null block passes.
Check validate(const Value& block, const Value& rules, bool strict);

// The block's "cover" member; `top` is true at the block level, false inside
// a group object (which may not nest further). A key of the pack's
// "cover_defaults" holds a boolean; so may a key of its "cover_switches",
// whose other values are read as if it named nothing.
Check validate_cover(const Value& cover, const Value& rules, bool top);

// A property definition: a patch of an existing property (`is_new` false),
// or a new or declarative-converter property (`is_new` true).
Check validate_property(const Value& definition, bool is_new, bool strict);

// The declarative converter ("converters"."declarative").
Check validate_converter(const Value& converter, bool strict);

// A rule program at nesting `depth` (0 at the top; 63 is the deepest
// accepted). `props` is the converter's "props" (null when absent);
// `actions` false forbids "emit", "timer" and "send".
Check validate_program(const Value& program, const Value& props, int depth, bool strict, bool actions);

// Null passes; a non-object fails "must be object"; an object fails
// "unknown key {}" with its first key (in order) not in `allowed`.
Check unknown(const Value& value, std::span<const std::string_view> allowed);
Check unknown(const Value& value, std::initializer_list<std::string_view> allowed);

}  // namespace zefa::rules::overrides
