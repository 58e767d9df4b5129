// Classification: descriptors, variant tries and the build programs that
// make plans.
#include "assembly/entity.hpp"

#include <unordered_set>

#include "data/data.hpp"
#include "data/prepare.hpp"
#include "record.hpp"

namespace zefa::assembly {

using expr::Scope;

namespace {

// A list of texts as messages show paths: ["a", "b\"c"].
std::string quoted_list(std::span<const std::string> items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    record::quote(items[i], out);
  }
  return out + "]";
}

Result<bool> role_statement(Build& build, const Value& st, Scope& scope) {
  const std::string name(st["role"].str());
  ZEFA_TRY(Value codes_v, scope.eval(st["codes"]));
  const std::vector<std::string> codes = data::codes(codes_v);
  const bool prefer_function = st["prefer"].str() == "function";
  ZEFA_TRY(Value types_v, scope.eval(st["types"]));
  for (const std::string& type : data::codes(types_v)) {
    Result<std::optional<data::Role>, std::string> found = data::resolve(build.device, codes, type, prefer_function);
    if (!found.ok()) return fail(std::move(found).error());
    if (!found.value()) continue;
    data::Role role = std::move(*found.value());
    ZEFA_CHECK(scope.assign(std::vector<std::string>{"roles", name}, role.view()));
    ZEFA_CHECK(scope.assign(std::vector<std::string>{"values", name}, role.read(build.device["status"])));
    build.roles.insert_or_assign(name, std::move(role));
    return false;
  }
  const Value* required = st.find("required");
  return required && required->is_bool() && required->as_bool();
}

// An assignment to a plan variable whose result stays within the depth a
// plan may have.
expr::Done assign_bounded(Scope& scope, std::span<const std::string> path, Value value) {
  if (path.size() - 1 + static_cast<size_t>(value.depth()) > static_cast<size_t>(entity::kPlanValueDepth))
    return fail(expr::limits::kNestingLimit);
  return scope.assign(path, std::move(value));
}

Result<bool> set_statement(const Value& st, Scope& scope) {
  const Value& where = st["set"];
  std::vector<std::string> path = where.is_string() ? expr::split_path(where.str()) : data::codes(where);
  if (path.empty() || (path[0] != "identity" && path[0] != "config" && path[0] != "plan")) {
    static const std::string kAllowed = quoted_list(std::vector<std::string>{"identity", "config", "plan"});
    return fail("a variant can assign only " + kAllowed + ", not " + quoted_list(path));
  }
  if (const Value* merge = st.find("merge")) {
    ZEFA_TRY(Value members, scope.eval(*merge));
    path.emplace_back();
    for (const json::Member& m : members.obj()) {
      path.back().assign(m.name());
      ZEFA_CHECK(assign_bounded(scope, path, m.value));
    }
    return false;
  }
  ZEFA_TRY(Value v, scope.eval(st["value"]));
  ZEFA_CHECK(assign_bounded(scope, path, std::move(v)));
  return false;
}

// Moves the innermost binding's value out (null when unbound).
Value take(Scope& scope, std::string_view name) {
  Value* v = scope.lookup_mut(name);
  return v ? std::move(*v) : Value();
}

}  // namespace

// ---------------------------------------------------------------- scopes

Scope Entity::base_scope(const Plan& plan, const Value& status) const {
  Scope scope(rules["functions"]);
  scope.with("rules", rules).with("entity", definition).with("status", status);
  scope.push("key", Value(plan.key));
  scope.with("identity", plan.identity).with("config", plan.config);
  return scope;
}

Scope Entity::scope(const Plan& plan, const Value& status, Held held) const {
  Scope scope = base_scope(plan, status);
  if (held.views) scope.with("roles", *held.views);
  else scope.push("roles", entity::views(plan.roles));
  if (held.values) scope.with("values", *held.values);
  else scope.push("values", entity::values(plan.roles, status));
  return scope;
}

namespace entity {

const Value& shared(const Value& rules, const Value& value) noexcept {
  const Value* v = &value;
  for (int i = 0; i < 8; ++i) {
    const Value* use = v->find("$use");
    if (!use || !use->is_string()) break;
    v = &rules["templates"][use->str()];
  }
  return *v;
}

Value views(const Roles& roles) {
  json::Object out;
  out.reserve(roles.size());
  for (const auto& [name, role] : roles) out.push_unique(Value(name), role.view());
  return Value(std::move(out));
}

Value values(const Roles& roles, const Value& status) {
  json::Object out;
  out.reserve(roles.size());
  for (const auto& [name, role] : roles) out.push_unique(Value(name), role.read(status));
  return Value(std::move(out));
}

// ---------------------------------------------------------------- build

}  // namespace entity

Result<bool> Build::exec(const Value& st, Scope& scope) {
  if (st.is_object()) {
    if (st.find("role")) return role_statement(*this, st, scope);
    if (const Value* cond = st.find("require")) {
      ZEFA_TRY(Value c, scope.eval(*cond));
      return !data::truth(c);
    }
    if (st.find("set")) return set_statement(st, scope);
    if (const Value* cond = st.find("assert")) {
      ZEFA_TRY(Value c, scope.eval(*cond));
      if (data::truth(c)) return false;
      ZEFA_TRY(Value message, scope.eval(st["error"]));
      return fail(expr::text(message));
    }
  }
  return fail("unknown spec statement " + st.dump());
}

namespace entity {

expr::Restore open(Scope& scope, Value identity, const Roles& roles, const Value& status) {
  expr::Restore guard(scope);
  scope.push("identity", std::move(identity));
  scope.push("config", Value::object());
  scope.push("roles", views(roles));
  scope.push("values", values(roles, status));
  scope.push("plan", Value::object());
  return guard;
}

Plan finish(const Entity* entity, std::string platform, std::string key, Roles roles, Scope& scope) {
  const Value options = take(scope, "plan");
  Plan plan;
  plan.platform = std::move(platform);
  plan.key = std::move(key);

  if (entity) {
    const Value& order = shared(entity->rules, entity->definition["role_order"]);
    if (order.is_array()) {
      Roles sorted;
      std::unordered_set<std::string> placed;
      for (const std::string& name : data::codes(order))
        if (const data::Role* r = roles.find(name); r && placed.insert(name).second) sorted.push_unique(name, *r);
      for (auto& [name, role] : roles)
        if (!placed.contains(name)) sorted.push_unique(name, std::move(role));
      roles = std::move(sorted);
    }
  }

  plan.depends_on = data::codes(options["depends_on"]);
  if (plan.depends_on.empty()) {
    std::unordered_set<std::string_view> seen;
    for (const auto& [name, role] : roles)
      if (seen.insert(role.code).second) plan.depends_on.push_back(role.code);
  }
  plan.identity = take(scope, "identity");
  plan.config = take(scope, "config");
  const Value& slot = options["slot_kind"];
  if (slot.is_string() && slot.str() == "event") plan.slot_kind = protocol::SlotKind::Event;
  if (slot.is_string() && slot.str() == "delta") plan.slot_kind = protocol::SlotKind::Delta;
  plan.update_all = data::truth(options["update_all"]);
  if (!plan.update_all && entity) plan.update_all = data::truth(shared(entity->rules, entity->definition["update_all"]));
  plan.roles = std::move(roles);
  return plan;
}

// ---------------------------------------------------------------- variants

namespace {

// Takes one unit of the descriptor's try budget.
Status<> spend(Tries& tries, uint64_t units) {
  if (tries.left < units) return fail(expr::limits::kInstructionLimit);
  tries.left -= units;
  return ok_unit;
}

// Runs a build program with a fresh statement budget, charging what it used
// to the descriptor's tries as well.
Result<bool> build_run(const Value& program, Scope& scope, Build& build, Tries& tries) {
  uint64_t budget = kStatements;
  ZEFA_TRY(bool stopped, expr::run(program, scope, build, budget, 0));
  ZEFA_CHECK(spend(tries, kStatements - budget));
  return stopped;
}

Result<std::optional<Plan>> group(const Entity& entity, const Value& v, Scope& scope, const Value& device,
                                  Tries& tries, uint64_t depth) {
  if (depth >= kGroupNesting) return fail(expr::limits::kNestingLimit);
  const Value& subs = shared(entity.rules, v["variants"]);
  json::Array passes;
  if (const Value* each = v.find("each")) {
    ZEFA_TRY(Value list, scope.eval(*each));
    if (list.is_array()) passes = list.arr();
  } else {
    passes.emplace_back();
  }
  const Value* as = v.find("as");
  const Value name = !as ? Value("item") : as->is_string() ? *as : Value("");
  for (Value& pass : passes) {
    expr::Restore guard(scope);
    scope.push_key(name, std::move(pass));
    for (const Value& sub : subs.arr()) {
      ZEFA_TRY(std::optional<Plan> plan, attempt(entity, sub, scope, device, tries, depth + 1));
      if (plan) return plan;
    }
  }
  return std::optional<Plan>();
}

Result<std::optional<Plan>> leaf(const Entity& entity, const Value& v, Scope& scope, const Value& device,
                                 Tries& tries) {
  const Value* found = scope.lookup("desc");
  const Value desc = found ? *found : Value();
  const Value& key = desc["key"];
  expr::Restore guard = open(scope, data::identity(desc, entity.rules["identity_defaults"]), Roles{}, device["status"]);
  Build build(device);
  ZEFA_TRY(bool stopped, build_run(shared(entity.rules, v["steps"]), scope, build, tries));
  if (stopped) return std::optional<Plan>();
  ZEFA_TRY(stopped, build_run(shared(entity.rules, entity.definition["finish"]), scope, build, tries));
  if (stopped) return std::optional<Plan>();
  return std::optional<Plan>(
      finish(&entity, std::string(entity.platform), std::string(key.str()), std::move(build.roles), scope));
}

}  // namespace

Result<std::optional<Plan>> attempt(const Entity& entity, const Value& variant, Scope& scope, const Value& device,
                                    Tries& tries, uint64_t depth) {
  ZEFA_CHECK(spend(tries, 1));
  const Value& v = shared(entity.rules, variant);
  if (const Value* when = v.find("when")) {
    ZEFA_TRY(Value ok, scope.eval(*when));
    if (!data::truth(ok)) return std::optional<Plan>();
  }
  if (v.find("variants")) return group(entity, v, scope, device, tries, depth);
  return leaf(entity, v, scope, device, tries);
}

Result<std::vector<Plan>> classify(const Value& device, const Value& env, const Value& rules, const Value& only) {
  std::vector<Plan> plans;
  const Value& category = device["category"];
  const std::string_view category_name = category.str();
  const Value& entities = rules["entities"];
  std::unordered_set<std::string_view> named;
  for (const Value& e : only.arr())
    if (e.is_string()) named.insert(e.str());
  for (const json::Member& platform : rules["platforms"].obj()) {
    if (only.is_array() && !named.contains(platform.name())) continue;
    const Value& descs = platform.value["categories"][category_name];
    const Value* definition = entities.find(platform.name());
    if (!definition || !(descs.is_object() || descs.is_array())) continue;
    const Entity entity{rules, platform.name(), *definition};
    const Value& variants = shared(rules, (*definition)["variants"]);
    const std::span<const Value> list = descs.is_object() ? std::span<const Value>(&descs, 1) : descs.arr();
    for (const Value& desc : list) {
      Scope scope(rules["functions"]);
      scope.with("rules", rules).with("entity", *definition).with("device", device);
      scope.with("status", device["status"]).with("env", env).with("desc", desc);
      scope.push("key", desc["key"]);
      Tries tries;
      for (const Value& variant : variants.arr()) {
        ZEFA_TRY(std::optional<Plan> plan, attempt(entity, variant, scope, device, tries));
        if (plan) {
          plans.push_back(std::move(*plan));
          break;
        }
      }
    }
  }
  return plans;
}

}  // namespace entity

}  // namespace zefa::assembly
