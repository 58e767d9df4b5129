#include "assembly/binding.hpp"

#include <bit>

#include "assembly/assembly.hpp"
#include "assembly/entity.hpp"
#include "testing.hpp"

namespace zefa::assembly {

namespace {

// Every read that computes an entity state passes here, so a test can count
// how often the cache spares the computation.
Result<Value, std::string> compute_state(const Plan& plan, const Value& status, const Value& rules, double total,
                                         Held held) {
  testing::fault_point("assembly:state");
  return entity::state(plan, status, rules, total, held);
}

// The status with the plan's roles named by "assume" set to the given
// values; null when "assume" sets none of them (the status stands as it is).
Value assumed_status(const Value& assume, const Plan& plan, const Value& status) {
  Value changed;
  for (const json::Member& m : assume.obj()) {
    const data::Role* role = plan.roles.find(m.name());
    if (!role) continue;
    if (changed.is_null()) changed = status.is_object() ? status : Value::object();
    changed.obj_mut().insert_or_assign(role->code, m.value);
  }
  return changed;
}

Result<Value, std::string> read_layout(const Source::Layout& src, double total, std::span<const Plan> plans,
                                       const Value& status, const Value& rules, const Value& definition,
                                       ReadCache& cache, std::span<const Value> views) {
  ZEFA_TRY(const Located at, layout(plans, src.plan, src.row, rules));
  const Plan& plan = *at.plan;
  const Value* kept = src.plan < views.size() ? &views[src.plan] : nullptr;
  const Value changed = assumed_status((*at.row)["assume"], plan, status);
  expr::Eval got = Value();
  if (changed.is_null()) {
    const FrameKey key{src.plan, std::bit_cast<uint64_t>(total)};
    auto it = cache.find(key);
    if (it == cache.end()) {
      // The state computation and the frame share one set of views and readings.
      Value roles = kept ? *kept : entity::views(plan.roles);
      Value values = entity::values(plan.roles, status);
      ZEFA_TRY(Value state, compute_state(plan, status, rules, total, {&roles, &values}));
      it = cache.emplace(key, ReadFrame{std::move(state), std::move(roles), std::move(values)}).first;
    }
    const ReadFrame& frame = it->second;
    expr::Scope scope = at.entity.base_scope(plan, status);
    scope.with("roles", frame.roles).with("values", frame.values).with("state", frame.state);
    scope.with("definition", definition);
    got = scope.eval((*at.row)["read"]);
  } else {
    const Value values = entity::values(plan.roles, changed);
    ZEFA_TRY(Value state, compute_state(plan, changed, rules, total, {kept, &values}));
    expr::Scope scope = at.entity.scope(plan, changed, {kept, &values});
    scope.push("state", std::move(state));
    scope.with("definition", definition);
    got = scope.eval((*at.row)["read"]);
  }
  if (!got.ok()) return got;
  return il_value(std::move(got).value(), definition);
}

Value read_dp(const Source::Dp& src, const Value& status, const Value& definition) {
  if (definition["type"].str() != "text") return il_value(src.role.read(status), definition);
  // A text property shows whatever the datapoint holds, as text.
  const Value& raw = status[src.role.code];
  if (raw.is_null() || raw.is_string()) return il_value(raw, definition);
  return il_value(Value(raw.dump()), definition);
}

Result<json::Array> write_layout(const Source::Layout& src, double total, std::span<const Plan> plans,
                                 const Value& value, const Value& status, const Value& rules,
                                 const Value& definition) {
  auto at = layout(plans, src.plan, src.row, rules);
  if (!at.ok()) return fail(std::move(at).error());
  const Plan& plan = *at->plan;
  auto state = entity::state(plan, status, rules, total);
  if (!state.ok()) return fail(std::move(state).error());
  expr::Scope scope = at->entity.scope(plan, status);
  scope.push("state", std::move(state).value());
  scope.with("definition", definition).with("value", value);
  auto request = scope.eval((*at->row)["write"]);
  if (!request.ok()) return fail(std::move(request).error());
  const Value& r = request.value();
  return entity::act(plan, r["action"].str(), r["args"], status, rules);
}

Result<json::Array> write_dp(const Source::Dp& src, const Value& value) {
  auto raw = src.role.write(src.trigger ? src.send : value);
  if (!raw.ok()) return fail(ErrorKind::Value, std::move(raw).error());
  return json::Array{Value(json::Object{{"code", Value(src.role.code)}, {"value", std::move(raw).value()}})};
}

}  // namespace

size_t FrameKeyHash::operator()(const FrameKey& k) const noexcept {
  return std::hash<uint64_t>{}(k.total_bits * 0x9E3779B97F4A7C15ull ^ k.plan);
}

const Plan* Binding::plan(std::span<const Plan> plans) const noexcept {
  size_t index = 0;
  if (const auto* l = std::get_if<Source::Layout>(&source.v)) index = l->plan;
  else if (const auto* d = std::get_if<Source::Dp>(&source.v)) index = d->plan;
  else return nullptr;
  return index < plans.size() ? &plans[index] : nullptr;
}

bool Binding::readable(std::span<const Plan> plans, const Value& rules) const {
  if (const auto* dp = std::get_if<Source::Dp>(&source.v)) return !dp->trigger;
  const auto* src = std::get_if<Source::Layout>(&source.v);
  if (!src) return false;
  auto at = layout(plans, src->plan, src->row, rules);
  if (!at.ok()) return false;
  const Value* read = at->row->find("read");
  return read && !read->is_null();
}

Result<Value, std::string> Binding::read(std::span<const Plan> plans, const Value& status, const Value& rules,
                                         const Value& definition, ReadCache& cache,
                                         std::span<const Value> views) const {
  if (const auto* src = std::get_if<Source::Layout>(&source.v))
    return read_layout(*src, total, plans, status, rules, definition, cache, views);
  if (const auto* src = std::get_if<Source::Dp>(&source.v)) return read_dp(*src, status, definition);
  return Value();
}

Result<json::Array> Binding::write(std::span<const Plan> plans, const Value& value, const Value& status,
                                   const Value& rules, const Value& definition) const {
  if (const auto* src = std::get_if<Source::Layout>(&source.v))
    return write_layout(*src, total, plans, value, status, rules, definition);
  if (const auto* src = std::get_if<Source::Dp>(&source.v)) return write_dp(*src, value);
  return fail(ErrorKind::Unsupported, "no write path");
}

}  // namespace zefa::assembly
