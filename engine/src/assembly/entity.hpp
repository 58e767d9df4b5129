// Entities: how a device becomes entity plans, and how an entity's state is
// read and its actions written.
//
// Classification offers each of the device's descriptors (per platform and
// device category) to the platform's entity definition, whose variants are
// small build programs run by the statement interpreter on the `Build` sink;
// the first variant that completes makes the descriptor's one plan. State
// descriptions are evaluated in a scope made from an existing plan, and
// action programs turn a named action into datapoint writes through the
// `Commands` sink.
//
// Everything here works on values the caller owns or lends: the rule pack,
// device and status are only read and must outlive the call (scopes borrow
// them); nothing is kept between calls, so any thread may call at any time.
// Failures are values: `EngineError`s, or plain messages where noted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/adapter.hpp"
#include "assembly/plan.hpp"
#include "data/role.hpp"
#include "error.hpp"
#include "expr/run.hpp"
#include "expr/scope.hpp"
#include "json.hpp"

namespace zefa::assembly {

using Roles = record::OrderedMap<std::string, data::Role>;

// What a caller already holds of a plan's scope variables for the status in
// question: "roles" (entity::views(plan.roles)) and "values"
// (entity::values(plan.roles, status)). A null member is built on the spot;
// a given one is bound by reference and must outlive the scope.
struct Held {
  const Value* views = nullptr;
  const Value* values = nullptr;
};

// The read context of one platform's entity, built on the spot. All three
// are borrowed and must outlive it and every scope it makes.
struct Entity {
  const Value& rules;
  std::string_view platform;
  const Value& definition;  // rules["entities"][platform]

  // A scope for an existing plan, with the rule pack's functions and fresh
  // budgets, binding "rules", "entity", "status", "key" (owned), "identity"
  // and "config" (the plan's, borrowed). The plan and status must outlive it.
  expr::Scope base_scope(const Plan& plan, const Value& status) const;
  // base_scope, then "roles" (the roles' views) and "values" (their readings
  // of the status), both in role order; what `held` gives is not built again.
  expr::Scope scope(const Plan& plan, const Value& status, Held held = {}) const;
};

// The sink of build programs: the statements "role", "require", "set" and
// "assert", tested in that order. A stop ends the program without a plan.
class Build final : public expr::Effects {
 public:
  explicit Build(const Value& device, Roles start = {}) : roles(std::move(start)), device(device) {}
  Result<bool> exec(const Value& statement, expr::Scope& scope) override;

  Roles roles;  // a name bound again keeps its first position
  const Value& device;
};

// The sink of action programs: "command" (through `Plan::cmd`), "send" (as
// it stands) and "fail" (the Value kind, with the evaluated text).
class Commands final : public expr::Effects {
 public:
  explicit Commands(const Plan& plan) : plan(plan) {}
  Result<bool> exec(const Value& statement, expr::Scope& scope) override;

  json::Array writes;  // {"code", "value"} objects, in statement order
  const Plan& plan;
};

namespace entity {

// Every budget of one entity run: statements per program run, and how deep
// variant groups may nest.
inline constexpr uint64_t kStatements = 10'000;
inline constexpr uint64_t kGroupNesting = 64;
// How deep a plan's identity and config may nest: plans travel inside replies
// and stored driver states, which must stay within the parser's limit.
inline constexpr int kPlanValueDepth = json::kMaxDepth - 8;

// The value, or the template it refers to: {"$use": name} is replaced by
// rules["templates"][name] (null when missing), at most 8 times; the value
// reached after the eighth replacement is returned as it is.
const Value& shared(const Value& rules, const Value& value) noexcept;

// Role name -> `Role::view`, and role name -> `Role::read` of the status
// (null when it does not read), in role order.
Value views(const Roles& roles);
Value values(const Roles& roles, const Value& status);

// The plans of a device, in platform then descriptor order. `only` filters
// platforms when it is an array (a platform takes part when some element is
// its name as a string); any other value lets all take part. The first
// error ends classification and no plan is returned.
Result<std::vector<Plan>> classify(const Value& device, const Value& env, const Value& rules, const Value& only);

// What variant tries of one descriptor may spend beyond the scope's budgets:
// each try and each statement run takes one unit, so a pack whose templates
// make an exponential tree of variants ends with an error instead of never.
struct Tries {
  uint64_t left = expr::limits::kOps;
};

// One variant (a group tried recursively, or a leaf built) in the scope of a
// descriptor: a plan, no plan, or an error. `depth` counts the groups around
// it; past kGroupNesting groups it fails "rule nesting limit exceeded". The
// scope is cut back to its length before returning, whatever happens.
Result<std::optional<Plan>> attempt(const Entity& entity, const Value& variant, expr::Scope& scope,
                                    const Value& device, Tries& tries, uint64_t depth = 0);

// Pushes a leaf's variables: "identity", "config" ({}), "roles", "values"
// and "plan" ({}). The guard cuts them off again.
expr::Restore open(expr::Scope& scope, Value identity, const Roles& roles, const Value& status);

// The only maker of plans: takes the innermost "plan", "identity" and
// "config" out of the scope. With an entity, its "role_order" puts roles
// first and its "update_all" is the default.
Plan finish(const Entity* entity, std::string platform, std::string key, Roles roles, expr::Scope& scope);

// The entity state of a plan: the definition's "state" → "bind" variables,
// then the "fields" object. No definition or no "fields" gives {}. A failure
// is the first evaluation's message. `held` as for Entity::scope.
Result<Value, std::string> state(const Plan& plan, const Value& status, const Value& rules, double total,
                                 Held held = {});

// The datapoint writes of an action: the program of "actions"[action], else
// of "actions"["*"]; neither fails Unsupported "no write path". A state
// failure is a plain-message error; program errors keep their kinds.
Result<json::Array> act(const Plan& plan, std::string_view action, const Value& args, const Value& status,
                        const Value& rules);

// Offers the datapoints that no exposed plan depends on to rules["unused"],
// one by one in id order (numeric ids by value, then the others by text),
// appending a plan for each that a variant accepts. On error the caller
// discards `plans`.
Status<> unused(const Value& device, const record::OrderedMap<std::string, adapter::DpEntry>& datapoints,
                std::vector<Plan>& plans, const Value& rules);

}  // namespace entity

}  // namespace zefa::assembly
