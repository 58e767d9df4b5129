// Device preparation: normalising a host's device description and correcting
// it by the rule pack's quirk before roles and the adapter look at it.
//
// Descriptions and quirks are untrusted: every operation here accepts any JSON
// value, reports no error and never fails abruptly. Absent members read as
// null, ops that do not apply are ignored. Where an operation writes into a
// member that should be an object, a null (or missing) member becomes an empty
// object; a member of any other type is left as it is and the write is dropped.
//
// All functions are pure apart from the values passed by mutable reference,
// which the caller owns; they keep no state and may run on any thread.
#pragma once

#include "json.hpp"

namespace zefa::data {

using json::Value;

// Makes "function", "status_range" and "status" objects, in that order: a
// missing one is appended, a non-object one replaced in its place. A null
// device first becomes an empty object; any other non-object is left alone.
void ensure_tables(Value& device);

// Evaluates a quirk condition against a status table. Non-objects are their
// own (copied) result; an object's first member names the operator ("and",
// "or", "not", "ge", "status", "is_int"); {} and unknown operators give null.
Value cond(const Value& condition, const Value& status);

// Applies the quirk's "ops" in order through `patch_op`. An op carrying a
// "when" member (even null) applies only when `cond` of it over the device's
// current "status" is truthy, so later ops see earlier changes.
void apply_quirk(Value& device, Value& dpmap, const Value& quirk);

// One patch op: "DefineDp", "RemoveDp", "SetCategory" or "TypeOverride"
// (names exact). Removals move the table's last member into the freed place.
// "DefineDp" records dpid -> code in `dpmap`; "RemoveDp" drops the id again.
// Expects the tables made by `ensure_tables`; other ops are ignored.
void patch_op(Value& device, Value& dpmap, const Value& op);

// Applies the quirk's "MapInitialStatus" ops to a status table: the first
// [from, to] pair whose from loosely equals (`data::eq`) the code's current
// value replaces it by to. "when" is not consulted.
void map_initial_status(Value& status, const Value& quirk);

// {"manufacturer", "model", "model_id"}: from the quirk's "meta" when its
// manufacturer is truthy, else the rule pack's constant manufacturer with the
// device's "product_name" and "product_id". Members are copies, null when
// missing.
Value device_info(const Value& device, const Value& quirk, const Value& rules);

// An entity identity: the value's members (when an object) without those
// whose key begins with "$", then the defaults' members whose keys are still
// missing, in the defaults' order.
Value identity(const Value& ident, const Value& defaults);

}  // namespace zefa::data
