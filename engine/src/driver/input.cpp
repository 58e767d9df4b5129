// Input handling: one host input applied to a driver. The caller hands in a
// driver it may discard (a copy, or a state just read from the host) and
// keeps it only when handling succeeds, so a failure may stop anywhere.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_set>

#include "assembly/binding.hpp"
#include "data/data.hpp"
#include "driver/check.hpp"
#include "driver/driver.hpp"
#include "driver/effects.hpp"

namespace zefa::driver {

namespace {

using protocol::Channel;
using protocol::Input;
using protocol::Output;
using protocol::RejectCode;

// Nested inputs (the seeds of "describe") below the host's own input.
constexpr unsigned kMaxInputDepth = 63;
// A report's values are kept in the state document, four levels into a
// reply that carries it (reply, value, driver, dps): deeper ones would make
// a document the parser can never read back.
constexpr int kMaxReportDepth = json::kMaxDepth - 3;

// The changed codes of one report, with a set beside them once the list is
// long, so that every binding asks in constant time.
struct Changed {
  std::vector<std::string> codes;
  std::unordered_set<std::string_view> index;

  void seal() {
    if (codes.size() > 8) index.insert(codes.begin(), codes.end());
  }
  bool affects(const assembly::Plan& plan) const {
    return index.empty() ? plan.affected(codes) : plan.affected(index);
  }
  Value json() const {
    json::Array list;
    list.reserve(codes.size());
    for (const std::string& c : codes) list.emplace_back(c);
    return Value(std::move(list));
  }
};

// What a motion tracker's update asks of the driver, as effects of its own.
machine::MachineEffects motion_effects(const cover::Motion::Update& u, bool with_timer) {
  machine::MachineEffects fx;
  if (u.patch.is_object()) fx.props = u.patch.obj();
  if (with_timer && u.action == cover::TimerAction::Arm) fx.timers.insert_or_assign("settle", Value(u.settle));
  if (with_timer && u.action == cover::TimerAction::Cancel) fx.timers.insert_or_assign("settle", Value());
  return fx;
}

void disconnect(Driver& d, Outputs& out) {
  d.linked = false;
  d.synced = false;
  d.codes = data::Table{};
  d.dps = data::Table{};
  const Value old = std::move(d.values.value);
  d.values = data::Table{};
  const Switches& switches = d.cfg().switches;
  for (const json::Member& m : old.obj()) {
    if (switches.find(m.name())) d.values.value.obj_mut().push_unique(m.key, m.value);
    else if (m.name() != "available") out.push_back(Output{Output::Absent{std::string(m.name())}});
  }
  d.values.value.obj_mut().insert_or_assign("available", Value(false));
  out.push_back(Output{Output::Value{"available", Value(false)}});
  for (machine::Machine& m : d.machines) m.reset();
  for (cover::Motion& m : d.motions) m.forget();
  std::vector<std::string> armed = std::move(d.timers);
  d.timers.clear();
  std::stable_sort(armed.begin(), armed.end());
  for (std::string& id : armed) out.push_back(Output{Output::CancelTimer{std::move(id)}});
}

// What one report means to the bindings.
struct Report {
  const Value& decoded;
  Changed changed;
  Value ts;               // the report time
  bool counting = false;  // delta slots may count it
  bool was_synced = false;
  bool active_channel = false;
};

// The one pass over the bindings: events of event slots, delta counting,
// and re-reads of every property the report concerns.
Status<> read_bindings(Driver& d, const Report& r, const Value& rules, Outputs& out) {
  const std::span<const assembly::Plan> plans = d.cfg().plans;
  const Value& props = d.assembly.descriptor["props"];
  assembly::ReadCache cache;
  for (size_t i = 0; i < d.assembly.bindings.size(); ++i) {
    const std::string& name = d.assembly.bindings.at(i).first;
    assembly::Binding& binding = d.assembly.bindings.value_at(i);
    const assembly::Plan* plan = binding.plan(plans);
    if (!plan) continue;
    if (plan->slot_kind == protocol::SlotKind::Event) {
      if (!r.active_channel) continue;
      ZEFA_TRY(const std::optional<Value> fired, plan->event(d.codes.value, r.changed.codes, rules));
      if (!fired) continue;
      const Value candidate = fired->is_array() && fired->size() > 0 ? (*fired)[size_t{0}] : Value();
      const json::Array& options = props[name]["options"].arr();
      if (std::find(options.begin(), options.end(), candidate) != options.end())
        out.push_back(Output{Output::Event{name, std::string(candidate.str())}});
      continue;
    }
    bool read = !r.was_synced;
    if (plan->slot_kind == protocol::SlotKind::Delta) {
      // Counting needs the report's own value of the first code; without it
      // (or without counting) the binding is read only for a first sync.
      const std::string* first = plan->depends_on.empty() ? nullptr : &plan->depends_on.front();
      const bool enabled = first && r.counting && r.decoded.find(*first) != nullptr;
      if (!read && !enabled) continue;
      if (!binding.readable(plans, rules)) continue;
      if (enabled && assembly::plan::accumulate(binding.total, binding.last_ts, d.codes.value[*first], r.ts, true)) read = true;
      if (!read) continue;
    } else {
      if (!read && !r.changed.affects(*plan)) continue;
      if (!binding.readable(plans, rules)) continue;
    }
    auto value = binding.read(plans, d.codes.value, rules, props[name], cache, d.cfg().views);
    if (!value.ok()) return fail(ErrorKind::Engine, std::move(value).error());
    d.set(name, value.value(), out);
  }
  return ok_unit;
}

Status<> message(Driver& d, const Input::Message& msg, const Value& rules, double now, Outputs& out) {
  d.describe(out);
  Value report = msg.json.is_object() ? msg.json : Value::object();
  Value t;
  if (report.find("t")) report.obj_mut().take("t", t);
  if (report.size() == 0) return ok_unit;
  if (report.depth() > kMaxReportDepth) return fail(ErrorKind::Request, "input nesting limit exceeded");
  // The count could not grow any further, and a document holding it came
  // from somewhere other than this engine.
  if (d.seq == std::numeric_limits<int64_t>::max()) return fail(ErrorKind::Request, "invalid driver state");

  data::merge(d.dps.value, report);
  Value decoded = d.cfg().adapter.read(report, rules);
  if (!decoded.is_object()) decoded = Value::object();
  const bool everything = msg.channel == Channel::Active || !d.synced;
  Report r{decoded, {}, {}, false, d.synced, msg.channel == Channel::Active};
  r.changed.codes.reserve(decoded.size());
  for (const json::Member& m : decoded.obj()) {
    const Value* current = everything ? nullptr : d.codes.value.find(m.name());
    if (everything || !current || !data::eq(*current, m.value)) r.changed.codes.emplace_back(m.name());
  }
  r.changed.seal();
  const bool active = everything ? msg.channel == Channel::Active
                                 : msg.channel == Channel::Passive && !r.changed.codes.empty();

  ++d.seq;
  int64_t own = 0;
  r.ts = t.is_bool() || t.get_i64(own) ? t : Value(static_cast<long long>(d.seq));
  data::merge(d.codes.value, decoded);
  if (!r.was_synced) {
    d.linked = true;
    d.synced = true;
    d.set("available", Value(true), out);
  }

  const size_t machine_count = d.machines.size();
  if (machine_count > 0) {
    const Value changed = r.changed.json();
    for (size_t i = 0; i < machine_count; ++i) {
      json::Object context;
      context.push_unique(Value("now"), Value(now));
      context.push_unique(Value("codes"), d.codes.value);
      context.push_unique(Value("changed"), changed);
      context.push_unique(Value("active"), Value(active));
      ZEFA_TRY(machine::MachineEffects fx,
               d.machines[i].invoke(machine::MachineEvent::Update, Value(std::move(context))));
      ZEFA_CHECK(d.apply_effects(i, std::move(fx), out));
    }
  }
  for (size_t j = 0; j < d.motions.size(); ++j) {
    const cover::Motion::Update u = d.motions[j].update(d.codes.value, r.changed.codes, active, false);
    ZEFA_CHECK(d.apply_effects(machine_count + j, motion_effects(u, true), out));
  }

  r.counting = msg.channel == Channel::Active ||
               (msg.channel == Channel::Passive && d.delta.has_value() && d.delta->accept_passive);
  return read_bindings(d, r, rules, out);
}

// A command never fails its input: every refusal and failure becomes a
// "reject".
void command(Driver& d, const Input::Command& cmd, const Value& rules, double now, Outputs& out) {
  auto accepted = check::check(d.assembly.descriptor, d.values.value, cmd.prop, cmd.value);
  if (!accepted.ok()) {
    out.push_back(reject(cmd.prop, accepted.error().code, accepted.error().reason));
    return;
  }
  const Value& value = accepted.value();
  if (const Setting* s = d.cfg().switches.find(cmd.prop)) {
    if (const auto* c = std::get_if<Setting::Cover>(&s->v)) {
      if (c->cover >= d.covers.size() || !rules::CoverSettings::set(d.covers[c->cover].settings, c->key, value)) {
        out.push_back(reject(cmd.prop, RejectCode::InvalidValue, "not a value of setting " + c->key));
        return;
      }
    } else if (d.delta) {
      d.delta->accept_passive = value.is_bool() && value.as_bool();
    }
    // What is published is the setting as it now stands, not the command.
    d.set(cmd.prop, d.switch_value(*s), out);
    out.push_back(Output{Output::SettingsChanged{d.settings_block()}});
    return;
  }
  const assembly::Binding* b = d.assembly.bindings.find(cmd.prop);
  if (!b || !b->writable) {
    out.push_back(reject(cmd.prop, RejectCode::Unsupported, "no write path"));
    return;
  }
  if (!d.linked) {
    out.push_back(reject(cmd.prop, RejectCode::Unavailable, "device link is down"));
    return;
  }
  auto refuse = [&](const EngineError& e) {
    out.push_back(reject(cmd.prop, e.kind == ErrorKind::Unsupported ? RejectCode::Unsupported : RejectCode::InvalidValue,
                         e.to_string()));
  };
  if (const auto* m = std::get_if<assembly::Source::Machine>(&b->source.v)) {
    const size_t k = m->index;
    if (k >= d.machines.size()) return refuse(EngineError{ErrorKind::Unsupported, "no write path"});
    json::Object context;
    context.push_unique(Value("prop"), Value(cmd.prop));
    context.push_unique(Value("value"), value);
    context.push_unique(Value("codes"), d.codes.value);
    context.push_unique(Value("now"), Value(now));
    const machine::Machine saved = d.machines[k];
    auto fx = d.machines[k].invoke(machine::MachineEvent::Write, Value(std::move(context)));
    if (!fx.ok()) return refuse(fx.error());
    if (Status<> applied = d.apply_effects(k, std::move(fx).value(), out); !applied.ok()) {
      d.machines[k] = saved;
      return refuse(applied.error());
    }
    return;
  }
  auto writes = b->write(d.cfg().plans, value, d.codes.value, rules, d.assembly.descriptor["props"][cmd.prop]);
  if (!writes.ok()) return refuse(writes.error());
  auto raw = d.cfg().adapter.write(writes.value());
  if (!raw.ok()) return refuse(raw.error());
  out.push_back(send(std::move(raw).value()));
}

Status<> timer(Driver& d, const std::string& name, double now, Outputs& out) {
  if (std::find(d.timers.begin(), d.timers.end(), name) == d.timers.end()) return ok_unit;
  std::erase(d.timers, name);
  const std::optional<TimerRef> ref = parse_timer_id(name);
  if (!ref) return ok_unit;
  const size_t machine_count = d.machines.size();
  if (ref->index < machine_count) {
    json::Object context;
    context.push_unique(Value("now"), Value(now));
    context.push_unique(Value("name"), Value(ref->name));
    context.push_unique(Value("codes"), d.codes.value);
    ZEFA_TRY(machine::MachineEffects fx,
             d.machines[ref->index].invoke(machine::MachineEvent::Timer, Value(std::move(context))));
    return d.apply_effects(ref->index, std::move(fx), out);
  }
  const uint64_t j = ref->index - machine_count;
  if (j >= d.motions.size() || ref->name != "settle") return ok_unit;
  const cover::Motion::Update u = d.motions[j].update(d.codes.value, {}, false, true);
  return d.apply_effects(ref->index, motion_effects(u, false), out);
}

Status<> handle_into(Driver& d, const Input& input, const Value& rules, unsigned depth, double now, Outputs& out) {
  if (depth > kMaxInputDepth) return fail(ErrorKind::Request, "input nesting limit exceeded");
  if (std::holds_alternative<Input::Connected>(input.v)) {
    d.linked = true;
    d.describe(out);
  } else if (std::holds_alternative<Input::Disconnected>(input.v)) {
    disconnect(d, out);
  } else if (const auto* msg = std::get_if<Input::Message>(&input.v)) {
    return message(d, *msg, rules, now, out);
  } else if (const auto* cmd = std::get_if<Input::Command>(&input.v)) {
    command(d, *cmd, rules, now, out);
  } else if (const auto* t = std::get_if<Input::Timer>(&input.v)) {
    return timer(d, t->name, now, out);
  } else {
    d.describe(out);
    for (const Input& seed : std::get<Input::Describe>(input.v).seed)
      ZEFA_CHECK(handle_into(d, seed, rules, depth + 1, now, out));
    if (!d.synced) d.set("available", Value(false), out);
  }
  return ok_unit;
}

}  // namespace

Result<Outputs> Driver::handle_inner(const Input& input, const Value& rules, unsigned depth, double now) {
  Outputs out;
  ZEFA_CHECK(handle_into(*this, input, rules, depth, now, out));
  return out;
}

}  // namespace zefa::driver
