// Driver construction: `Driver::make` is the driver's one constructor (the
// "new" of every caller; the name is taken in C++).
#include "driver/construct.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "data/data.hpp"
#include "driver/overrides.hpp"
#include "driver/settings.hpp"

namespace zefa::driver {

namespace {

using assembly::Assembly;
using assembly::Binding;
using assembly::Plan;
using assembly::Source;

// A built state document is carried inside replies and requests two levels
// down ({"ok":..,"value":{"driver": document}}); it must stay within the
// parser's limit there.
constexpr int kMaxDocumentDepth = json::kMaxDepth - 2;

std::string_view text_of(const Value& v) { return v.str(); }

Status<> check_device(const Value& device) {
  if (!device["id"].is_string()) return fail(ErrorKind::Device, "device needs id");
  for (std::string_view table : {"function", "status_range", "status", "local_strategy"}) {
    const Value& t = device[table];
    if (!t.is_null() && !t.is_object())
      return fail(ErrorKind::Device, "device " + std::string(table) + " must be an object keyed by DP code or ID");
  }
  return ok_unit;
}

Status<> check_dpmap(const Value& dpmap) {
  bool fine = dpmap.is_object();
  for (const json::Member& m : dpmap.obj()) fine = fine && m.value.is_string() && !m.value.str().empty();
  if (!fine) return fail(ErrorKind::Request, "dpmap must be an object of nonempty codes");
  return ok_unit;
}

Value environment(const BuildOptions& options, const Value& rules) {
  if (!options.env.is_null()) return options.env;
  return Value(json::Object{{"temperature_unit", Value("C")}, {"allowed_units", rules["host_units"]}});
}

Result<std::vector<Plan>> plan_device(const overrides::Prepared& p, const adapter::Adapter& a, const Value& env,
                                      const BuildOptions& options, const Value& rules) {
  const Value* automatic = p.block.find("auto");
  if (automatic && automatic->is_bool() && !automatic->as_bool()) return std::vector<Plan>{};
  ZEFA_TRY(std::vector<Plan> plans, assembly::entity::classify(p.device, env, rules, Value()));
  const Value* unused = p.block.find("expose_unused");
  if (unused ? data::truth(*unused) : options.expose_unused) {
    ZEFA_CHECK(assembly::entity::unused(p.device, a.entries, plans, rules));
  }
  return plans;
}

Result<Assembly> assemble(const Value& device, const std::vector<Plan>& plans, const overrides::Prepared& p,
                          const BuildOptions& options, const Value& rules) {
  auto a = assembly::assemble(device, plans, p.info, options.allow_hazardous, rules);
  if (!a.ok()) return fail(ErrorKind::Engine, std::move(a).error());
  return std::move(a).value();
}

std::vector<cover::Cover> make_covers(const Assembly& a, const std::vector<Plan>& plans, const Value& block,
                                      const BuildOptions& options, const Value& rules) {
  std::vector<cover::Cover> covers;
  covers.reserve(a.covers.size());
  for (const assembly::CoverEntry& e : a.covers)
    covers.push_back(cover::make_covers(e, plans, rules, options.device_settings, block));
  return covers;
}

Value& remap_entry(adapter::Adapter& a, std::string_view code) {
  Value& entry = a.remaps.obj_mut()[code];
  if (!entry.is_object()) entry = Value::object();
  return entry;
}

// Open and close trade places throughout the alias map of a non-Boolean
// instruction datapoint.
void swap_open_close(adapter::Adapter& a, const cover::Cover& c, const Value& rules) {
  const data::Role& ins = *c.ins;
  const Value words = data::cover_words(ins, c.words, rules);
  const Value& open = words["open"];
  const Value& close = words["close"];
  json::Object swap;
  const json::Array range = ins.range();
  auto in_range = [&range](const Value& w) {
    return std::any_of(range.begin(), range.end(), [&](const Value& r) { return r == w; });
  };
  if (in_range(open) && in_range(close)) {
    swap.insert_or_assign(text_of(open), close);
    swap.insert_or_assign(text_of(close), open);
  }
  const Value& old_alias = a.remaps[ins.code]["alias"];
  const json::Object& current = old_alias.obj();
  std::unordered_set<std::string_view> shown;
  for (const json::Member& m : current)
    if (m.value.is_string()) shown.insert(m.value.str());
  std::vector<std::string_view> keys;
  keys.reserve(current.size() + swap.size());
  for (const json::Member& m : current) keys.push_back(m.name());
  for (const json::Member& m : swap)
    if (!shown.count(m.name())) keys.push_back(m.name());
  json::Object fresh;
  for (std::string_view k : keys) {
    const Value* held = current.find(k);
    const Value base = held ? *held : Value(k);
    const Value* swapped = swap.find(text_of(base));
    const Value& result = swapped ? *swapped : base;
    if (result.is_string() && result.str() == k) continue;
    fresh.insert_or_assign(k, result);
  }
  remap_entry(a, ins.code).obj_mut().insert_or_assign("alias", Value(std::move(fresh)));
}

void apply_inversions(adapter::Adapter& a, const cover::Cover& c, const Value& device, const Value& rules) {
  const rules::CoverSettings& s = c.settings;
  if (s.invert_position && c.cur) a.invert(c.cur->code, device);
  if (s.invert_set_position && c.setp && (!c.cur || c.cur->code != c.setp->code)) a.invert(c.setp->code, device);
  if (s.invert_tilt && c.tilt) a.invert(c.tilt->code, device);
  if (s.invert_control && c.ins && !c.setp) {
    if (c.ins->kind == protocol::DpKind::Boolean) a.invert(c.ins->code, device);
    else swap_open_close(a, c, rules);
  }
}

void add_motion_properties(Assembly& a, std::span<const cover::Motion> motions, const Value& rules) {
  if (motions.empty()) return;
  json::Object& props = a.descriptor.obj_mut()["props"].obj_mut();
  for (const cover::Motion& m : motions) {
    Value definition = rules["motion_property"];
    if (m.group) definition.obj_mut().insert_or_assign("group", Value(*m.group));
    props.insert_or_assign(m.prop, std::move(definition));
    a.bindings.insert_or_assign(m.prop, Binding{Source{Source::Motion{}}, false, 0.0, Value()});
  }
}

std::vector<Value> own_blocks(const Value& device, const Value& overrides) {
  std::vector<Value> out;
  out.reserve(2);
  for (std::string_view key : {"product_id", "id"}) {
    const Value* own = overrides.is_object() ? overrides.find(device[key].str()) : nullptr;
    out.push_back(own ? *own : Value());
  }
  return out;
}

}  // namespace

adapter::Adapter build_adapter(const Value& device, const Value& dpmap, const Value& block, const Value& rules) {
  adapter::Adapter a = adapter::Adapter::make(device, dpmap, rules);
  for (const json::Member& m : block["dp"].obj()) {
    const std::string_view code = m.value["code"].str();
    adapter::DpEntry* entry = a.entries.find(m.name());
    if (m.value.find("type")) {
      if (!entry || entry->code != code)
        a.entries.insert_or_assign(std::string(m.name()), {code, "default", Value::object()});
    } else if (entry) {
      entry->code = std::string(code);
    }
  }
  const std::vector<std::string> removed = data::codes(block["remove"]);
  const std::unordered_set<std::string_view> gone(removed.begin(), removed.end());
  adapter::Entries kept;
  kept.reserve(a.entries.size());
  for (const auto& [id, e] : a.entries)
    if (!gone.count(e.code)) kept.push_unique(id, e);
  a.entries = std::move(kept);
  for (const json::Member& m : block["remap"].obj()) {
    a.remaps.obj_mut().insert_or_assign(m.name(), m.value);
    a.set_bounds(m.name(), device);
  }
  return a;
}

std::optional<Value> without_target_positions(const Value& device, std::span<const cover::Cover> covers) {
  std::optional<Value> copy;
  for (const cover::Cover& c : covers) {
    if (!c.settings.position_from_target || !c.cur || !c.setp || c.cur->code == c.setp->code) continue;
    if (!copy) copy = device;
    for (std::string_view table : {"function", "status_range", "status"}) {
      Value* t = copy->obj_mut().find(table);
      if (t && t->is_object()) t->obj_mut().erase(c.cur->code);
    }
  }
  return copy;
}

Status<> check_cover_groups(const Value& block, std::span<const cover::Cover> covers) {
  std::unordered_set<std::string_view> groups;
  for (const cover::Cover& c : covers)
    if (c.group) groups.insert(*c.group);
  for (const json::Member& m : block["cover"].obj()) {
    if (!m.value.is_object() || groups.count(m.name())) continue;
    return fail(ErrorKind::Override,
                "cover." + std::string(m.name()) + ": the device has no cover in a group of that name");
  }
  return ok_unit;
}

Declarative declarative(Assembly& a, const Value& block) {
  Declarative out;
  const Value* conv = block["converters"].find("declarative");
  if (!conv) return out;
  const json::Object& defined = (*conv)["props"].obj();
  if (!defined.empty()) {
    json::Object& props = a.descriptor.obj_mut()["props"].obj_mut();
    for (const json::Member& m : defined) {
      out.names.emplace_back(m.name());
      props.insert_or_assign(m.name(), m.value);
      const bool writable = data::truth(m.value["rw"]) || m.value["type"].str() == "trigger";
      a.bindings.insert_or_assign(std::string(m.name()), Binding{Source{Source::Machine{0}}, writable, 0.0, Value()});
    }
  }
  out.machines.push_back(machine::Machine::make(*conv));
  return out;
}

std::vector<cover::Motion> cover_motions(std::span<const cover::Cover> covers, std::span<const std::string> names,
                                         const Value& rules) {
  std::vector<cover::Motion> out;
  const std::unordered_set<std::string_view> converter(names.begin(), names.end());
  for (const cover::Cover& c : covers) {
    std::string prop = c.prefix + "cover_state";
    if (converter.count(prop)) continue;
    const auto& mode = c.settings.state_source;
    if (!mode) continue;
    const bool distinct_target = c.setp && (!c.cur || c.cur->code != c.setp->code);
    bool fits = false;
    switch (*mode) {
      case protocol::StateSource::Control: fits = c.ins.has_value(); break;
      case protocol::StateSource::Inferred: fits = c.cur && (distinct_target || c.ins); break;
      case protocol::StateSource::None: fits = c.cur.has_value(); break;
    }
    if (!fits) continue;
    cover::Motion m;
    m.prop = std::move(prop);
    m.group = c.group;
    if (c.ins) {
      m.command = c.ins->code;
      m.words = data::cover_words(*c.ins, c.words, rules);
    } else {
      const Value& first = c.words[0];
      m.words = rules["maps"][c.words.is_array() && first.is_string() ? first.str() : std::string_view()];
    }
    if (distinct_target) m.target_code = c.setp->code;
    if (c.cur) m.position = c.cur->code;
    m.settle = c.settings.settle;
    m.mode = *mode;
    m.invert_report = c.settings.invert_reported_motion;
    out.push_back(std::move(m));
  }
  return out;
}

std::optional<DeltaSettings> delta_config(const Assembly& a, std::span<const Plan> plans, const Value& block) {
  for (const auto& [name, b] : a.bindings) {
    const Plan* plan = b.plan(plans);
    if (plan && plan->slot_kind == protocol::SlotKind::Delta) {
      const Value& accept = block["delta"]["accept_passive"];
      return DeltaSettings{accept.is_bool() && accept.as_bool()};
    }
  }
  return std::nullopt;
}

Result<Driver> Driver::make(const Value& device, const BuildOptions& options, const Value& rules) {
  ZEFA_CHECK(check_device(device));
  ZEFA_CHECK(check_dpmap(options.dpmap));
  auto prepared = overrides::prepare(device, {options.use_quirks, options.dpmap, options.overrides}, rules);
  if (!prepared.ok()) return fail(ErrorKind::Override, std::move(prepared).error());
  const overrides::Prepared& p = prepared.value();
  auto config = std::make_shared<DriverConfig>();
  config->device = p.device;
  config->block = p.block;
  config->adapter = build_adapter(p.device, p.dpmap, p.block, rules);
  const Value env = environment(options, rules);

  ZEFA_TRY(std::vector<Plan> plans, plan_device(p, config->adapter, env, options, rules));
  ZEFA_TRY(Assembly a, assemble(p.device, plans, p, options, rules));
  std::vector<cover::Cover> covers = make_covers(a, plans, p.block, options, rules);
  std::vector<bool> choices;
  for (const cover::Cover& c : covers) choices.push_back(c.position_choice);

  // A cover that takes its position from its set-position datapoint is
  // built again from a description without the position datapoint.
  Value working;
  if (std::optional<Value> copy = without_target_positions(p.device, covers)) {
    ZEFA_TRY(plans, assembly::entity::classify(*copy, env, rules, Value()));
    ZEFA_TRY(a, assemble(*copy, plans, p, options, rules));
    covers = make_covers(a, plans, p.block, options, rules);
    working = std::move(*copy);
  } else {
    working = p.device;
  }
  for (size_t i = 0; i < covers.size(); ++i) {
    covers[i].position_choice = i < choices.size() && choices[i];
    apply_inversions(config->adapter, covers[i], p.device, rules);
  }
  ZEFA_CHECK(check_cover_groups(p.block, covers));
  Declarative decl = declarative(a, p.block);
  std::vector<cover::Motion> motions = cover_motions(covers, decl.names, rules);
  add_motion_properties(a, motions, rules);
  std::optional<DeltaSettings> delta = delta_config(a, plans, p.block);
  Switches switches;
  if (options.device_settings) switches = config_switches(covers, a, delta.has_value(), decl.names, rules);
  if (auto patched = overrides::patch_descriptor(a, plans, p.block, working, rules); !patched.ok())
    return fail(ErrorKind::Override, std::move(patched).error());
  const json::Object& props = a.descriptor["props"].obj();
  for (auto& [name, s] : switches)
    if (props.contains(name)) config->switches.push_unique(name, std::move(s));
  config->own_blocks = own_blocks(device, options.overrides);
  config->plans = std::move(plans);
  config->derive();

  Driver d;
  d.config = std::move(config);
  d.assembly = std::move(a);
  d.covers = std::move(covers);
  d.motions = std::move(motions);
  d.delta = delta;
  d.machines = std::move(decl.machines);
  if (d.serialize().depth() > kMaxDocumentDepth)
    return fail(ErrorKind::Device, "device description nests too deeply");
  return d;
}

}  // namespace zefa::driver
