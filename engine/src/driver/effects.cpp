#include "driver/effects.hpp"

#include <algorithm>

#include "data/data.hpp"
#include "driver/driver.hpp"
#include "text.hpp"

namespace zefa::driver {

using protocol::Output;

Output send(json::Value writes) {
  json::Object message;
  message.push_unique(Value("dps"), std::move(writes));
  return Output{Output::SendMessage{protocol::SendChannel::Set, Value(std::move(message))}};
}

Output reject(std::string_view prop, protocol::RejectCode code, std::string_view reason) {
  return Output{Output::Reject{std::string(prop), code, std::string(reason)}};
}

std::string timer_id(uint64_t index, std::string_view name) {
  const std::string digits = std::to_string(index);
  std::string id;
  id.reserve(digits.size() + name.size() + 2);
  id.push_back('c');
  id.append(digits);
  id.push_back(':');
  id.append(name);
  return id;
}

std::optional<TimerRef> parse_timer_id(std::string_view id) {
  const size_t colon = id.find(':');
  if (colon == std::string_view::npos || colon == 0 || id[0] != 'c') return std::nullopt;
  const std::optional<uint64_t> index = text::unsigned_decimal(id.substr(1, colon - 1));
  if (!index) return std::nullopt;
  TimerRef ref;
  ref.index = *index;
  ref.name = id.substr(colon + 1);
  return ref;
}

json::Value outputs_json(const Outputs& outputs) {
  json::Array list;
  list.reserve(outputs.size());
  for (const Output& o : outputs) list.push_back(o.serialize());
  return Value(std::move(list));
}

Value Driver::switch_value(const Setting& setting) const {
  if (const auto* c = std::get_if<Setting::Cover>(&setting.v))
    return c->cover < covers.size() ? covers[c->cover].value(c->key) : Value();
  return Value(delta.has_value() && delta->accept_passive);
}

void Driver::set(std::string_view prop, const Value& value, Outputs& out) {
  // Looked at before writing: a table shared with the driver this one was
  // copied from is copied only when something really changes.
  const Value* old = values.value.find(prop);
  if (value.is_null()) {
    if (!old) return;
    values.value.obj_mut().erase(prop);
    out.push_back(Output{Output::Absent{std::string(prop)}});
    return;
  }
  if (old && data::eq(*old, value)) return;
  values.value.obj_mut().insert_or_assign(prop, value);
  out.push_back(Output{Output::Value{std::string(prop), value}});
}

void Driver::describe(Outputs& out) {
  if (described) return;
  described = true;
  out.push_back(Output{Output::Descriptor{assembly.descriptor}});
  const Value& props = assembly.descriptor["props"];
  for (const cover::Motion& m : motions)
    if (m.mode != protocol::StateSource::Inferred && props.find(m.prop)) out.push_back(Output{Output::Absent{m.prop}});
  for (const auto& [name, setting] : cfg().switches) set(name, switch_value(setting), out);
}

Status<> Driver::apply_effects(size_t index, machine::MachineEffects effects, Outputs& out) {
  // Writes are encoded before anything else is applied, so a failure leaves
  // the driver and the outputs as they were.
  Value dps;
  const bool sends = !effects.commands.empty();
  if (sends) {
    if (!linked) return fail(ErrorKind::Unsupported, "device link is down");
    ZEFA_TRY(dps, cfg().adapter.write(effects.commands));
  }
  const bool from_motion = index >= machines.size();
  for (const json::Member& p : effects.props) {
    const assembly::Binding* b = assembly.bindings.find(p.name());
    if (!b) continue;
    const auto* m = std::get_if<assembly::Source::Machine>(&b->source.v);
    const bool own = m ? m->index == index : (from_motion && std::holds_alternative<assembly::Source::Motion>(b->source.v));
    if (own) set(p.name(), p.value, out);
  }
  for (const json::Member& t : effects.timers) {
    std::string id = timer_id(index, t.name());
    const bool armed = std::find(timers.begin(), timers.end(), id) != timers.end();
    if (!t.value.is_null()) {
      if (!armed) timers.push_back(id);
      out.push_back(Output{Output::SetTimer{std::move(id), t.value.to_f64()}});
    } else if (armed) {
      std::erase(timers, id);
      out.push_back(Output{Output::CancelTimer{std::move(id)}});
    }
  }
  if (sends) out.push_back(send(std::move(dps)));
  return ok_unit;
}

}  // namespace zefa::driver
