// Random machine configurations and events: no crash; a failed invocation
// leaves the state untouched; a successful one emits only declared values
// that fit, timers with valid delays and well-formed writes; the
// configuration is never changed; every state can be written and read back.
//
// Input: {"config": configuration, "events": [{"event": 0-3, "ctx": context}]}
// (at most 8 events), or any other value, taken as a configuration and
// driven by every event once, or read as a machine's JSON form.
#include <cmath>
#include <cstdlib>
#include <string>

#include "assembly/assembly.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "machine/machine.hpp"

namespace {

using zefa::json::Value;
using zefa::machine::Machine;
using zefa::machine::MachineEffects;
using zefa::machine::MachineEvent;

using zefa::testing::check;

void check_readable(const Machine& m) {
  (void)zefa::testing::parse_or_abort(m.serialize().dump());
}

void drive(Machine& m, MachineEvent event, const Value& ctx) {
  const Value config = m.config();
  const Value before = m.state();
  auto r = m.invoke(event, ctx);
  check(m.config().same(config));
  if (!r.ok()) {
    check(m.state().same(before));
    check(!r.error().message.empty());
    return;
  }
  const MachineEffects& e = r.value();
  for (const auto& p : e.props) {
    const Value* def = config["props"].find(p.name());
    check(def != nullptr);
    check(p.value.is_null() || zefa::assembly::value_fits(p.value, *def));
  }
  for (const auto& t : e.timers) {
    const Value& d = t.value;
    check(d.is_null() || (d.is_f64() && std::isfinite(d.as_f64()) && d.as_f64() >= 0));
  }
  for (const Value& c : e.commands) check(c.size() == 2 && c.obj().at(0).name() == "code");
  check_readable(m);
}

MachineEvent event_of(const Value& v) {
  return static_cast<MachineEvent>(v["event"].as_u64() % 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const Value input = std::move(*parsed);

  if (input.is_object() && input.find("config")) {
    Machine m = Machine::make(input["config"]);
    size_t n = 0;
    for (const Value& ev : input["events"].arr()) {
      if (++n > 8) break;
      drive(m, event_of(ev), ev["ctx"]);
    }
    Machine copy = m;
    copy.reset();
    check(copy.config().same(m.config()));
    check_readable(copy);
  } else {
    static const Value ctx = zefa::testing::parse_or_abort(
        R"({"prop": "mode", "value": "auto", "status": {"mode": "manual", "temp": 215}})");
    Machine m = Machine::make(input);
    for (MachineEvent e : {MachineEvent::Update, MachineEvent::Timer, MachineEvent::Write, MachineEvent::Reset})
      drive(m, e, ctx);
    m.reset();
    check_readable(m);
  }

  auto read = Machine::deserialize(input);
  if (read.ok()) {
    Machine m = std::move(read).value();
    check(m.config().same(input.is_array() ? input[0] : input["config"]));
    drive(m, MachineEvent::Update, Value::object());
  }
  return 0;
}
