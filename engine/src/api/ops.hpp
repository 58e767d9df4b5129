// The operations: one table of rows {name, class, handler, carried members}.
//
// api::request looks the request's "op" up in the table once, refuses a
// member the reply would carry too deep, does what the row's class needs
// before any of its operations runs, and calls the handler:
//   Plain  nothing; the handler reads the request alone;
//   Ruled  the rule pack is resolved first (inline "rules" or an installed
//          "rules_id"); a failure there is the reply;
//   Live   the driver named by "handle" is looked up first.
//
// Adding an operation touches one row (the table in request.cpp) and one
// handler (declared below with its class, defined in plain.cpp, ruled.cpp or
// live.cpp, or a file of their own such as drivers.cpp and inputs.cpp).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "api/registry.hpp"
#include "error.hpp"
#include "json.hpp"

namespace zefa::api {

enum class OpClass { Plain, Ruled, Live };

// The pack a Ruled request runs with: the request's own "rules" (validated
// for this request only) or an installed pack, borrowed from the registry
// for the length of the request (copy `*installed` to keep it longer).
// Its fingerprint is computed only by the operations that read it.
struct Rules {
  const json::Value* pack = nullptr;
  Borrowed installed;  // holds null for the request's own "rules"
};

// The pack's fingerprint: an installed pack's is computed once and kept, the
// request's own is computed here.
std::string fingerprint(const Rules& rules);

// What a handler receives: the request, its operation's name, and what the
// class resolved (null for the other classes).
struct Call {
  const json::Value& req;
  std::string_view op;
  const Rules* rules = nullptr;  // Ruled
  Opened* driver = nullptr;      // Live
};

using Handler = Result<json::Value> (*)(const Call&);

// A request member that the reply carries (or a later reply, for what the
// request installs), and by how many levels that reply can nest deeper than
// the member itself. The member may nest only so deep that the whole reply
// stays within the parser's limit.
struct Carried {
  std::string_view member;
  int levels = 0;
};

struct Operation {
  std::string_view name;
  OpClass cls;
  Handler run;
  // Only the members whose reply could outgrow the request: one the reply
  // nests no deeper than the request did needs no rule.
  std::array<Carried, 2> carried{};
};

// The row named by an "op" value: a name string, or a one-member object whose
// key is the name and whose value is null. Null when no row has the name.
const Operation* find_operation(const json::Value& op) noexcept;

// The Ruled class's first step.
Result<Rules> resolve(const json::Value& req);

namespace ops {

// Plain
Result<json::Value> merge_rules(const Call& c);
Result<json::Value> install_rules(const Call& c);
Result<json::Value> remove_rules(const Call& c);
Result<json::Value> merge(const Call& c);
Result<json::Value> status_quirk(const Call& c);
Result<json::Value> adapter_write(const Call& c);
Result<json::Value> strategy_write(const Call& c);
Result<json::Value> check(const Call& c);
Result<json::Value> carry(const Call& c);
Result<json::Value> settings(const Call& c);

// Ruled
Result<json::Value> create(const Call& c);
Result<json::Value> handle(const Call& c);
Result<json::Value> unused(const Call& c);
Result<json::Value> classify(const Call& c);
Result<json::Value> read(const Call& c);
Result<json::Value> write(const Call& c);
Result<json::Value> on_update(const Call& c);
Result<json::Value> quirk_schema(const Call& c);
Result<json::Value> device_info(const Call& c);
Result<json::Value> adapter_create(const Call& c);
Result<json::Value> adapter_read(const Call& c);
Result<json::Value> strategy_read(const Call& c);
Result<json::Value> open(const Call& c);

// Live
Result<json::Value> drive(const Call& c);
Result<json::Value> view(const Call& c);
Result<json::Value> snapshot(const Call& c);
Result<json::Value> carry_handle(const Call& c);
Result<json::Value> close(const Call& c);

}  // namespace ops

}  // namespace zefa::api
