#include "machine/machine.hpp"

#include <array>
#include <cmath>
#include <string_view>
#include <vector>

#include "assembly/assembly.hpp"
#include "data/data.hpp"

namespace zefa::machine {

namespace {

constexpr uint64_t kStatementBudget = 10'000;
constexpr size_t kMaxSetPath = 61;  // segments of a "set" path, "state" included

Value initial_state(const Value& config) {
  const Value* initial = config.find("initial_state");
  return initial ? *initial : Value::object();
}

const Value& program_for(const Value& config, MachineEvent event, const Value& context) {
  switch (event) {
    case MachineEvent::Update: return config["update"];
    case MachineEvent::Timer: return config["timer"];
    case MachineEvent::Reset: return config["reset"];
    case MachineEvent::Write: return config["write"][context["prop"].str()];
  }
  return config["update"];
}

// A path's segments, at most one more than the walk accepts. Text paths split
// lazily, so a long one is never split in full.
class Path {
 public:
  explicit Path(const Value& path) {
    if (path.is_string()) {
      expr::Segments segments(path.str());
      for (std::string_view s; count_ <= expr::limits::kNesting && segments.next(s);) segments_[count_++] = s;
    } else {
      codes_ = data::codes(path);
      for (const std::string& s : codes_) {
        if (count_ > expr::limits::kNesting) break;
        segments_[count_++] = s;
      }
    }
  }
  Path(const Path&) = delete;
  Path& operator=(const Path&) = delete;
  size_t size() const noexcept { return count_; }
  std::string_view operator[](size_t i) const noexcept { return segments_[i]; }

 private:
  std::vector<std::string> codes_;
  std::array<std::string_view, expr::limits::kNesting + 1> segments_{};
  size_t count_ = 0;
};

// "set": unlike entity assignment, null is stored and never removes a member.
Result<bool> set(const Value& statement, const Value& target, expr::Scope& scope) {
  const Path path(target);
  if (path.size() == 0 || path[0] != "state") return fail("rules can assign only state slots");
  // A driver's state document holds a machine state three levels down and
  // travels two levels down in replies; with a value as deep as evaluation
  // allows, the deepest slot must leave the whole within the parser's limit.
  if (path.size() > kMaxSetPath) return fail(expr::limits::kNestingLimit);
  ZEFA_TRY(Value value, scope.eval(statement["value"]));
  Value* cur = scope.lookup_mut("state");
  if (!cur) return fail("no state");
  for (size_t i = 1; i < path.size(); ++i) {
    json::Object& o = cur->obj_mut();  // a non-object becomes {}
    Value* m = o.find(path[i]);
    cur = m ? m : &o.push_unique(Value(path[i]), Value());
  }
  *cur = std::move(value);
  return false;
}

}  // namespace

// ------------------------------------------------------------------ effects

Result<bool> MachineEffects::exec(const Value& statement, expr::Scope& scope) {
  if (const Value* target = statement.find("set")) return set(statement, *target, scope);
  if (const Value* name = statement.find("emit")) {
    ZEFA_TRY(Value value, scope.eval(statement["value"]));
    props.put(name->is_string() ? *name : Value(""), std::move(value));
    return false;
  }
  if (const Value* name = statement.find("timer")) {
    ZEFA_TRY(Value after, scope.eval(statement["after"]));
    Value delay;  // null: cancel
    if (!after.is_null()) {
      const double d = after.to_f64();
      if (!after.is_number() || !std::isfinite(d) || d < 0)
        return fail("timer delay must be a finite nonnegative number or null");
      delay = Value(d + 0.0);  // -0.0 is a delay of 0
    }
    timers.put(name->is_string() ? *name : Value(""), std::move(delay));
    return false;
  }
  if (const Value* send = statement.find("send")) {
    ZEFA_TRY(Value code, scope.eval((*send)["code"]));
    ZEFA_TRY(Value value, scope.eval((*send)["value"]));
    json::Object write;
    write.reserve(2);
    write.push_unique(Value("code"), std::move(code));
    write.push_unique(Value("value"), std::move(value));
    commands.emplace_back(std::move(write));
    return false;
  }
  return fail("unknown rule statement");
}

// ------------------------------------------------------------------ machine

Machine Machine::make(Value config) {
  Machine m;
  m.state_ = initial_state(config);
  m.config_ = std::move(config);
  return m;
}

Result<MachineEffects> Machine::invoke(MachineEvent event, const Value& context) {
  const Value& program = program_for(config_, event, context);
  expr::Scope scope = expr::Scope().with_fields(context).with("config", config_);
  scope.push("state", state_);
  MachineEffects effects;
  uint64_t budget = kStatementBudget;
  ZEFA_CHECK(expr::run(program, scope, effects, budget, 0));
  const Value* state = scope.lookup("state");
  if (!state) return fail("no state");
  Value next = *state;

  const Value& defs = config_["props"];
  for (size_t i = 0; i < effects.props.size(); ++i) {
    const std::string_view name = effects.props.at(i).name();
    const Value* def = defs.find(name);
    if (!def) return fail("converter emits undeclared property " + std::string(name));
    Value& value = effects.props.value_at(i);
    value = assembly::il_value(std::move(value), *def);
    if (!value.is_null() && !assembly::value_fits(value, *def))
      return fail("converter value does not fit property " + std::string(name));
  }
  state_ = std::move(next);
  return effects;
}

void Machine::reset() {
  static const Value kEmpty = Value::object();
  if (!invoke(MachineEvent::Reset, kEmpty).ok()) state_ = initial_state(config_);
}

}  // namespace zefa::machine
