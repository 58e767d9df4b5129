#include "driver/overrides.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/codecs.hpp"
#include "data/data.hpp"
#include "data/prepare.hpp"
#include "protocol.hpp"
#include "rules/overrides.hpp"

namespace zefa::driver::overrides {

namespace {

constexpr std::string_view kTables[] = {"function", "status_range", "status"};

std::string text_of(const Value& v) { return v.is_string() ? std::string(v.str()) : std::string(); }

// The member `name` of an object for writing, or nullptr when `v` is no
// object or lacks it.
Value* member_mut(Value& v, std::string_view name) { return v.is_object() ? v.obj_mut().find(name) : nullptr; }

// Datapoint-map values while the block's "dp" definitions are applied. A
// rename turns every entry that holds the old code into the new one; groups
// of entries sharing a code are joined instead of rewritten, so a long chain
// of renames costs no scan of the map per rename.
class CodeGroups {
 public:
  explicit CodeGroups(const Value& dpmap) {
    for (const json::Member& m : dpmap.obj())
      if (m.value.is_string()) entry_[std::string(m.name())] = group(m.value.str());
  }

  // The entry `id` now holds `code` (a define).
  void set(std::string_view id, std::string_view code) { entry_[std::string(id)] = group(code); }

  void rename(const std::string& from, const std::string& to) {
    auto it = by_name_.find(from);
    if (it == by_name_.end()) return;
    const size_t g = it->second;
    by_name_.erase(it);
    if (auto other = by_name_.find(to); other != by_name_.end()) {
      parent_[g] = other->second;
    } else {
      name_[g] = to;
      by_name_.emplace(to, g);
    }
  }

  // Writes the final codes back into the map; other members stay as they are.
  void apply(Value& dpmap) {
    if (!dpmap.is_object()) return;
    json::Object& o = dpmap.obj_mut();
    for (size_t i = 0; i < o.size(); ++i) {
      auto it = entry_.find(std::string(o.at(i).name()));
      if (it == entry_.end()) continue;
      const std::string& code = name_[root(it->second)];
      if (o.at(i).value.str() != code) o.value_at(i) = Value(code);
    }
  }

 private:
  size_t group(std::string_view code) {
    auto [it, fresh] = by_name_.try_emplace(std::string(code), parent_.size());
    if (fresh) {
      parent_.push_back(parent_.size());
      name_.emplace_back(code);
    }
    return it->second;
  }
  size_t root(size_t g) {
    while (parent_[g] != g) {
      parent_[g] = parent_[parent_[g]];
      g = parent_[g];
    }
    return g;
  }

  std::vector<size_t> parent_;
  std::vector<std::string> name_;                     // valid at roots
  std::unordered_map<std::string, size_t> by_name_;   // current code -> root
  std::unordered_map<std::string, size_t> entry_;     // datapoint id -> group
};

// The datapoint ids a rename may name: the map as the options left it, and
// the codes the device's own "local_strategy" items stand for.
Value id_map(const Value& dpmap, const Value& device) {
  Value ids = dpmap;
  for (const json::Member& m : device["local_strategy"].obj()) {
    std::string code = data::strategy_code(m.value);
    if (!code.empty()) ids.obj_mut().insert_or_assign(m.name(), Value(code));
  }
  return ids;
}

// The override block of one device: its product id's block, then its own
// id's block merged over it; each is checked alone first.
Result<Value, std::string> merged_block(const Value& device, const Value& mapping, const Value& rules) {
  Value block = Value::object();
  for (std::string_view key : {"product_id", "id"}) {
    const Value& found = mapping[text_of(device[key])];
    if (found.is_null()) continue;
    ZEFA_CHECK(rules::overrides::validate(found, rules, false));
    data::merge(block, found);
  }
  return block;
}

Value define_op(std::string_view dpid, const Value& def) {
  const Value* mode = def.find("mode");
  const Value* values = def.find("values");
  const Value* report_type = def.find("report_type");
  return Value(json::Object{{"op", "DefineDp"},
                            {"dpid", dpid},
                            {"code", text_of(def["code"])},
                            {"type", def["type"]},
                            {"mode", mode ? *mode : Value("RW")},
                            {"values", values ? *values : Value::object()},
                            {"report_type", report_type ? *report_type : Value()}});
}

// The block's "dp" member: defines through the device patch operation,
// renames by the id map.
Result<Unit, std::string> apply_dp(Value& device, Value& dpmap, const Value& block, const Value& ids) {
  CodeGroups groups(dpmap);
  for (const json::Member& m : block["dp"].obj()) {
    const std::string code = text_of(m.value["code"]);
    if (m.value.find("type")) {
      data::patch_op(device, dpmap, define_op(m.name(), m.value));
      groups.set(m.name(), code);
      continue;
    }
    const std::string old = text_of(ids[m.name()]);
    if (old.empty()) {
      const std::string id(m.name());
      return fail("dp." + id + ": no dp " + id + " to rename");
    }
    for (std::string_view table : kTables) {
      Value* t = member_mut(device, table);
      if (!t || !t->is_object()) continue;
      Value moved;
      if (t->obj_mut().take(old, moved)) t->obj_mut().insert_or_assign(code, std::move(moved));
    }
    groups.rename(old, code);
  }
  groups.apply(dpmap);
  return ok_unit;
}

// An Enum entry's range with every word the alias names replaced by the
// alias's value. Values that parse to something other than an object (or
// nothing) have no range to rewrite and stay as they are.
void alias_range(Value& entry, const Value& alias) {
  const Value* type = entry.find("type");
  if (!type || protocol::DpKind::parse(type->str()) != protocol::DpKind::Enum) return;
  Value values = data::parse(entry["values"]);
  if (values.is_null()) values = Value::object();
  if (!values.is_object()) return;
  json::Array range;
  for (const Value& item : values["range"].arr()) {
    const Value* to = alias.find(item.str());
    range.push_back(to ? *to : item);
  }
  values.obj_mut().insert_or_assign("range", Value(std::move(range)));
  entry.obj_mut().insert_or_assign("values", std::move(values));
}

void apply_remap(Value& device, const Value& block) {
  for (const json::Member& m : block["remap"].obj()) {
    const Value& alias = m.value["alias"];
    for (std::string_view table : {"function", "status_range"}) {
      Value* t = member_mut(device, table);
      Value* entry = t ? member_mut(*t, m.name()) : nullptr;
      if (entry) alias_range(*entry, alias);
    }
    Value* status = member_mut(device, "status");
    Value* current = status ? member_mut(*status, m.name()) : nullptr;
    if (!current || !current->is_string()) continue;
    if (const Value* to = alias.find(current->str())) *current = *to;
  }
}

void apply_remove(Value& device, Value& dpmap, const Value& block) {
  const std::vector<std::string> codes = data::codes(block["remove"]);
  if (codes.empty()) return;
  for (const std::string& code : codes)
    for (std::string_view table : kTables)
      if (Value* t = member_mut(device, table); t && t->is_object()) t->obj_mut().erase(code);
  // Filtered once for all codes: removal keeps the order of the rest, so the
  // result is the same as code by code.
  const std::unordered_set<std::string_view> gone(codes.begin(), codes.end());
  json::Object kept;
  for (const json::Member& m : dpmap.obj())
    if (!m.value.is_string() || !gone.contains(m.value.str())) kept.push_unique(m.key, m.value);
  if (kept.size() != dpmap.size()) dpmap = Value(std::move(kept));
}

// The bindings by name while a block is applied. Hidden bindings are only
// marked and dropped together by `finish`, which keeps the order of the
// rest, so no patch scans the list.
class BindingIndex {
 public:
  using Bindings = record::OrderedMap<std::string, assembly::Binding>;

  explicit BindingIndex(Bindings& bindings) : bindings_(bindings) {
    size_t i = 0;
    for (const auto& entry : bindings_) pos_.emplace(entry.first, i++);
    dead_.assign(bindings_.size(), false);
  }

  assembly::Binding* find(const std::string& name) {
    auto it = pos_.find(name);
    return it == pos_.end() ? nullptr : &bindings_.value_at(it->second);
  }

  void erase(const std::string& name) {
    auto it = pos_.find(name);
    if (it == pos_.end()) return;
    dead_[it->second] = true;
    pos_.erase(it);
  }

  // Replaces the binding of that name in place, or appends it.
  void put(const std::string& name, assembly::Binding binding) {
    if (assembly::Binding* b = find(name)) {
      *b = std::move(binding);
      return;
    }
    pos_.emplace(name, bindings_.size());
    dead_.push_back(false);
    bindings_.push_unique(name, std::move(binding));
  }

  void finish() {
    if (std::find(dead_.begin(), dead_.end(), true) == dead_.end()) return;
    Bindings kept;
    kept.reserve(bindings_.size());
    size_t i = 0;
    for (auto& entry : bindings_)
      if (!dead_[i++]) kept.push_unique(std::move(entry.first), std::move(entry.second));
    bindings_ = std::move(kept);
  }

 private:
  Bindings& bindings_;
  std::unordered_map<std::string, size_t> pos_;
  std::vector<bool> dead_;
};

constexpr std::string_view kTexts[] = {"label", "class", "category", "unit", "series", "role"};

bool is(const Value& v, std::string_view text) { return v.is_string() && v.str() == text; }

// A member read without inserting it (an object's own operator[] would).
const Value& member(const json::Object& o, std::string_view key) {
  static const Value none;
  const Value* v = o.find(key);
  return v ? *v : none;
}

// Whether `role` is one of the pack's "rw_roles", the roles that only make
// sense on a writable property.
bool rw_role(const Value& role, const Value& rules) {
  const json::Array& roles = rules["rw_roles"].arr();
  return std::find(roles.begin(), roles.end(), role) != roles.end();
}

// A patch of an existing property: changed entries, hidden, or made
// read-only.
Status<std::string> patch_property(json::Object& props, const std::string& name, const Value& p,
                                   BindingIndex& bindings, const Value& rules) {
  Value* prop = props.find(name);
  if (!prop) return fail("props." + name + ": no such property");
  if (data::truth(p["hide"])) {
    props.erase(name);
    bindings.erase(name);
    return ok_unit;
  }
  json::Object& def = prop->obj_mut();
  for (std::string_view key : kTexts) {
    const Value* v = p.find(key);
    if (!v) continue;
    if (v->is_null()) {
      def.erase(key);
      continue;
    }
    if ((key == "unit" || key == "series") && !is(member(def, "type"), "number"))
      return fail(std::string(key) + " only applies to number");
    def.insert_or_assign(key, *v);
  }
  const Value* rw = p.find("rw");
  if (!rw || !rw->is_bool() || rw->as_bool()) return ok_unit;
  const Value& type = member(def, "type");
  if (is(type, "trigger") || is(type, "event")) return fail("trigger/event cannot be made read only");
  def.erase("rw");
  if (const Value* role = def.find("role"); role && rw_role(*role, rules)) def.erase("role");
  if (assembly::Binding* b = bindings.find(name)) b->writable = false;
  return ok_unit;
}

// The property type a datapoint of this kind offers.
std::string_view offered_type(std::optional<protocol::DpKind> kind) {
  if (!kind) return "text";
  switch (*kind) {
    case protocol::DpKind::Integer: return "number";
    case protocol::DpKind::Boolean: return "binary";
    case protocol::DpKind::Enum: return "select";
    default: return "text";
  }
}

// A property fed by one datapoint: its definition, an "override" plan of
// its own and a datapoint binding.
Status<std::string> new_property(json::Object& props, const std::string& name, const Value& p,
                                 BindingIndex& bindings, std::vector<assembly::Plan>& plans, const Value& device) {
  const std::string code = text_of(p["src"]);
  const Value* dp = device["status_range"].find(code);
  if (!dp) dp = device["function"].find(code);
  if (!dp) return fail("props." + name + ".src: no dp " + code);
  const auto kind = protocol::DpKind::parse((*dp)["type"].str());
  const std::string_view offered = offered_type(kind);
  const Value* given = p.find("type");
  const std::string type = given ? text_of(*given) : std::string(offered);
  const bool trigger = type == "trigger";
  if (!trigger && type != "text" && type != offered) return fail("property type does not fit dp");

  const bool in_function = device["function"].find(code) != nullptr;
  bool writable = false;
  if (trigger) {
    if (!in_function) return fail("dp is not writable");
  } else if (type != "text") {
    const Value* rw = p.find("rw");
    writable = rw ? data::truth(*rw) : in_function;
    if (writable && !in_function) return fail("dp is not writable");
  }
  if (!kind) return fail("invalid dp kind");
  data::Role role{code, *kind, data::parse((*dp)["values"]), Value()};

  json::Object def;
  def.insert_or_assign("type", Value(type));
  def.insert_or_assign("src", Value(code));
  if (writable) def.insert_or_assign("rw", Value(true));
  auto given_or = [&p](std::string_view key, Value fallback) {
    const Value* v = p.find(key);
    return v ? *v : fallback;
  };
  if (type == "number") {
    const double scale = role.scale();
    def.insert_or_assign("min", given_or("min", data::number(role.lo() / scale)));
    def.insert_or_assign("max", given_or("max", data::number(role.hi() / scale)));
    def.insert_or_assign("step", given_or("step", data::number(data::n(role.spec["step"]) / scale)));
    if (Value unit = given_or("unit", role.spec["unit"]); data::truth(unit)) def.insert_or_assign("unit", unit);
  } else if (type == "select") {
    const Value& options = p["options"];
    def.insert_or_assign("options", data::truth(options) ? options : Value(role.range()));
  }
  for (std::string_view key : {"role", "label", "class", "category", "series"})
    if (const Value* v = p.find(key); v && !v->is_null()) def.insert_or_assign(key, *v);

  assembly::Plan plan;
  plan.platform = "override";
  plan.key = code;
  plan.identity = Value::object();
  plan.depends_on = {code};
  plan.config = Value::object();
  const size_t index = plans.size();
  plans.push_back(std::move(plan));
  props.insert_or_assign(name, Value(std::move(def)));
  assembly::Binding binding;
  binding.source.v = assembly::Source::Dp{index, std::move(role), trigger, p["send"]};
  binding.writable = trigger || writable;
  bindings.put(name, std::move(binding));
  return ok_unit;
}

Status<std::string> patch_props(Value& descriptor, BindingIndex& bindings, std::vector<assembly::Plan>& plans,
                                const Value& block, const Value& device, const Value& rules) {
  for (const json::Member& m : block["props"].obj()) {
    const std::string name(m.name());
    if (name == "available") return fail("props.available cannot be overridden");
    Value* props = member_mut(descriptor, "props");
    if (!props || !props->is_object()) return fail("props." + name + ": no such property");
    if (m.value.find("src")) {
      ZEFA_CHECK(new_property(props->obj_mut(), name, m.value, bindings, plans, device));
    } else {
      ZEFA_CHECK(patch_property(props->obj_mut(), name, m.value, bindings, rules));
    }
  }
  return ok_unit;
}

// Keeps the descriptor's groups that some property names; "groups" goes
// when none is left.
void prune_groups(Value& descriptor) {
  const Value* groups = descriptor.find("groups");
  if (!groups || !groups->is_object()) return;
  std::unordered_set<std::string_view> named;
  for (const json::Member& m : descriptor["props"].obj())
    if (const Value& g = m.value["group"]; g.is_string()) named.insert(g.str());
  json::Object kept;
  for (const json::Member& m : groups->obj())
    if (named.contains(m.name())) kept.push_unique(m.key, m.value);
  if (kept.size() == groups->size()) return;
  Value pruned(std::move(kept));
  named.clear();
  if (pruned.size() == 0) {
    descriptor.obj_mut().erase("groups");
  } else {
    descriptor.obj_mut().insert_or_assign("groups", std::move(pruned));
  }
}

}  // namespace

Status<std::string> patch_descriptor(assembly::Assembly& assembly, std::vector<assembly::Plan>& plans,
                                     const Value& block, const Value& device, const Value& rules) {
  Value& descriptor = assembly.descriptor;
  BindingIndex bindings(assembly.bindings);
  auto patched = patch_props(descriptor, bindings, plans, block, device, rules);
  bindings.finish();
  if (!patched.ok()) return patched;
  if (descriptor.is_object()) {
    for (const json::Member& m : block["device"].obj()) {
      if (m.value.is_null()) {
        if (descriptor.find(m.name())) descriptor.obj_mut().erase(m.name());
      } else {
        descriptor.obj_mut().insert_or_assign(m.name(), m.value);
      }
    }
  }
  prune_groups(descriptor);
  return ok_unit;
}

Result<Prepared, std::string> prepare(const Value& device_in, const Options& options, const Value& rules) {
  Value device = device_in;
  data::ensure_tables(device);
  Value dpmap = Value::object();

  Value quirk;
  if (options.use_quirks) quirk = rules["quirks"][text_of(device["product_id"])];
  data::apply_quirk(device, dpmap, quirk);
  if (Value* status = member_mut(device, "status")) data::map_initial_status(*status, quirk);
  Value info = data::device_info(device, quirk, rules);

  data::merge(dpmap, options.dpmap);
  const Value ids = id_map(dpmap, device);

  ZEFA_CHECK(rules::overrides::validate_mapping(options.overrides, rules));
  Value mapping = rules["overrides"].is_object() ? rules["overrides"] : Value::object();
  data::merge(mapping, options.overrides);
  ZEFA_TRY(Value block, merged_block(device, mapping, rules));
  ZEFA_CHECK(rules::overrides::validate(block, rules, true));

  if (const Value& category = block["category"]; data::truth(category) && device.is_object())
    device.obj_mut().insert_or_assign("category", category);
  ZEFA_CHECK(apply_dp(device, dpmap, block, ids));
  apply_remap(device, block);
  apply_remove(device, dpmap, block);
  return Prepared{std::move(device), std::move(block), std::move(dpmap), std::move(info)};
}

}  // namespace zefa::driver::overrides
