// Rule packs: the embedded schema, the engine's own validator for the subset
// of JSON Schema that the schema uses, full validation of a pack, and the
// composition of a pack from a base and patch layers.
//
// Every function here is pure apart from the one-time parse of the schema:
// safe to call from any number of threads at once. Failures are plain message
// texts; callers wrap them into an EngineError of kind Rules.
#pragma once

#include <string>
#include <string_view>

#include "error.hpp"
#include "json.hpp"

namespace zefa::rules {

using json::Value;

namespace schema {

// The parsed rule-pack schema (schema.hpp). Parsed on the first call
// (thread-safe one-time initialisation), never again; the reference stays
// valid for the life of the process and is read only.
const Value& SCHEMA();

}  // namespace schema

// Checks `instance` against the schema `node`, resolving "$ref" pointers
// against `root`. `path` is the instance's position, written into messages
// ("" for the top, "/key" and "/index" below). Stops at the first failure and
// returns its message. Walks the instance once; recursion follows the
// instance's own nesting only.
Status<std::string> check(const Value& instance, const Value& node, const Value& root, std::string_view path);

// Full validation of a pack: the schema, the cover defaults, the cover
// switch names and the override mapping, in that order. The version rule is
// not applied here (runtime::validated applies it first).
Status<std::string> validate(const Value& pack);

// Applies `patch` to `target` in place. Object patches are applied member by
// member; a member {"$delete": true} removes the key (the target's last
// member moves into its place), {"$append": [..]} appends to an array; any
// other patch value replaces. Cannot fail. The result nests no deeper than
// the deeper of target and patch.
void patch(Value& target, const Value& patch);

// Composes a pack from the "merge_rules" request: a copy of "base" with each
// of "layers" applied in order, "tolerant" skipping layers that would break
// the pack, then full validation. Returns {"rules", "sources", "warnings"};
// the request is not changed.
Result<Value, std::string> compose(const Value& request);

}  // namespace zefa::rules
