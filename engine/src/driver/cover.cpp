#include "driver/cover.hpp"

#include <unordered_map>

#include "data/data.hpp"

namespace zefa::driver::cover {

namespace {

using Roles = record::OrderedMap<std::string, data::Role>;

std::optional<data::Role> role(const Roles& roles, const Value& name) {
  const data::Role* found = roles.find(name.is_string() ? name.str() : std::string_view());
  return found ? std::optional(*found) : std::nullopt;
}

// The first of `names` that is a role of the plan. The names come from the
// rule pack, so the roles are indexed once rather than scanned per name.
std::optional<data::Role> first_role(const Roles& roles, const Value& names) {
  std::unordered_map<std::string_view, const data::Role*> index;
  index.reserve(roles.size());
  for (const auto& [name, r] : roles) index.emplace(name, &r);
  for (const std::string& name : data::codes(names))
    if (auto it = index.find(name); it != index.end()) return *it->second;
  return std::nullopt;
}

}  // namespace

Cover make_covers(const assembly::CoverEntry& entry, std::span<const assembly::Plan> plans, const Value& rules,
                  bool device_settings, const Value& block) {
  // The entry comes from the assembly of these plans; an index past them
  // would be a fault elsewhere, and gives a cover without roles.
  static const Roles no_roles;
  static const Value none;
  const assembly::Plan* plan = entry.plan < plans.size() ? &plans[entry.plan] : nullptr;
  const Roles& roles = plan ? plan->roles : no_roles;
  const Value& definition = assembly::entity::shared(rules, plan ? rules["entities"][plan->platform]["cover"] : none);

  Cover c;
  c.plan = entry.plan;
  c.prefix = entry.prefix;
  c.group = entry.group;
  c.hazardous = entry.hazard;
  auto defaults = CoverSettings::from_rules(rules["cover_defaults"]);
  c.defaults = defaults.ok() ? defaults.value() : record::defaults<CoverSettings>();
  if (device_settings) c.defaults.state_source = protocol::StateSource::Inferred;
  c.settings = c.defaults;
  const Value part = own(block, entry.group);
  for (const json::Member& m : part.obj()) (void)CoverSettings::set(c.settings, m.name(), m.value);
  c.cur = first_role(roles, definition["position"]);
  c.setp = role(roles, definition["target"]);
  c.ins = role(roles, definition["instruction"]);
  c.tilt = role(roles, definition["tilt"]);
  c.position_choice = c.cur && c.setp && c.cur->code != c.setp->code;
  c.words = definition["words"];
  return c;
}

Value Cover::serialize() const { return record::write(*this); }

Value Cover::value(std::string_view key) const {
  const Value form = settings.serialize();
  const Value* member = form.find(key);
  return member ? *member : Value();
}

bool Cover::applies(std::string_view key) const {
  const bool distinct = !cur || !setp || cur->code != setp->code;
  if (key == "invert_position") return cur.has_value();
  if (key == "invert_set_position") return setp && distinct;
  if (key == "invert_control") return ins && !setp;
  if (key == "position_from_target") return position_choice;
  if (key == "state_source") return cur || ins;
  if (key == "invert_reported_motion") return ins && settings.state_source == protocol::StateSource::Control;
  return true;
}

Value own(const Value& block, const std::optional<std::string>& group) {
  const Value& part = block["cover"];
  if (!group) return part;
  return part[*group];
}

}  // namespace zefa::driver::cover
