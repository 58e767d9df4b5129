// State machines: the rule-driven machines behind a rule pack's declarative
// converter properties. A machine holds the property's definition (its
// configuration) and a JSON state; the driver invokes it for an event, and
// the machine runs the matching rule program and reports what it produced:
// property values, timers to arm or cancel, and datapoint writes. An
// invocation is all or nothing: the state changes only when it succeeds.
//
// The configuration members read: "initial_state" (any value), "update",
// "timer" and "reset" (rule programs), "write" (property name -> rule
// program) and "props" (property name -> property definition, the names a
// program may emit). A missing program is empty.
#pragma once

#include <string>

#include "error.hpp"
#include "expr/run.hpp"
#include "json.hpp"
#include "record.hpp"

namespace zefa::machine {

using json::Value;

// The event an invocation is for; each runs the configuration's program of
// that name ("write" picks the program of the context's "prop").
enum class MachineEvent { Update, Timer, Reset, Write };

// What one invocation produced, and the statement sink that collects it
// ("set", "emit", "timer", "send"). Lives for one invocation; never
// serialized.
struct MachineEffects final : expr::Effects {
  // Emitted values by property name. Emitting a name again replaces its
  // value in its first position.
  json::Object props;
  // Timers by name: a float delay to arm after, or null to cancel. A second
  // statement for a name replaces the entry in its first position. The delay
  // is finite and not negative; it is not interpreted here.
  json::Object timers;
  // Datapoint writes, {"code": .., "value": ..}, in the order sent.
  json::Array commands;

  static MachineEffects make_default() { return MachineEffects{}; }

  // Carries out one machine statement (tested in the order set, emit, timer,
  // send); evaluates only "value", "after" and the members of "send".
  // Answers false (go on), or a plain-message error:
  //   set   "rules can assign only state slots" (path not under "state"),
  //         "rule nesting limit exceeded" (a path of more than 61 segments,
  //         so that a driver holding the state can always be read back),
  //         "no state" (no binding named "state");
  //   timer "timer delay must be a finite nonnegative number or null";
  //   other "unknown rule statement".
  Result<bool> exec(const Value& statement, expr::Scope& scope) override;
};

class Machine {
 public:
  // A machine with a null configuration and a null state; reading a machine
  // starts from it.
  Machine() = default;

  // A machine for a configuration: the state is a copy of its
  // "initial_state" when present (null included), else {}. Never fails.
  // The configuration is kept by reference count, not copied, and is never
  // changed; copies of the machine share it.
  static Machine make(Value config);

  const Value& config() const noexcept { return config_; }
  const Value& state() const noexcept { return state_; }

  // Runs the program for `event` in a scope of the context's members (by
  // reference), "config" (by reference) and "state" (a copy of the state),
  // with the starting budgets, no function table and 10,000 statements.
  // Emitted values are normalised against their definitions in "props"
  // (assembly::il_value) and, unless null, must fit them
  // (assembly::value_fits). On success the state becomes the
  // program's "state" and the effects are returned; on failure the machine
  // is unchanged and the error (plain-message kind) is returned, with
  // "converter emits undeclared property {}" and "converter value does not
  // fit property {}" added to the statement and expression messages.
  // `context` is only read and must not be changed during the call.
  Result<MachineEffects> invoke(MachineEvent event, const Value& context);

  // Runs the "reset" program with an empty context and drops its effects;
  // when it fails, the state returns to the initial state. Never fails.
  void reset();

  // JSON form {"config", "state"}; also read from [config, state]. Both are
  // required; reading fails with the record reader's messages.
  Value serialize() const { return record::write(*this); }
  static Result<Machine, std::string> deserialize(const Value& v) { return record::read<Machine>(v); }

  static constexpr auto schema() {
    return record::Schema("Machine", record::field("config", &Machine::config_),
                          record::field("state", &Machine::state_));
  }
  friend bool operator==(const Machine&, const Machine&) = default;

 private:
  Value config_;  // shared, read only
  Value state_;
};

}  // namespace zefa::machine
