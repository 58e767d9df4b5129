// State machines: statements, events, emitted-value checks, all-or-nothing
// invocation, reset, the JSON form and shared configuration.
#include "machine.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using machine::Machine;
using machine::MachineEffects;
using machine::MachineEvent;
using test::J;

// The properties every case may emit.
constexpr const char* kProps = R"({
  "mode": {"type": "select", "options": ["auto", "manual"]},
  "level": {"type": "number"},
  "on": {"type": "binary"},
  "label": {"type": "text"},
  "untyped": {}
})";

Value effects_json(const MachineEffects& e) {
  json::Object o;
  o.insert_or_assign("props", Value(e.props));
  o.insert_or_assign("timers", Value(e.timers));
  o.insert_or_assign("commands", Value(e.commands));
  return Value(std::move(o));
}

// "error: message", or the effects as {"props", "timers", "commands"}.
std::string outcome(const Result<MachineEffects>& r) {
  return r.ok() ? effects_json(r.value()).dump() : "error: " + r.error().message;
}

// A machine over `update` as its update program, with kProps and a state.
Machine with_update(const char* update, const char* state) {
  Value config = J(std::string(R"({"props":)") + kProps + R"(,"update":)" + update + "}");
  Machine m = Machine::make(config);
  Machine read = Machine::deserialize(J(std::string("[") + config.dump() + "," + state + "]")).value();
  EXPECT_TRUE(read.config() == m.config());
  return read;
}

struct Case {
  const char* update;
  const char* state;     // before
  const char* expected;  // outcome
  const char* after;     // state after; the state before when the run fails
};

void run_cases(const Case* begin, const Case* end, const char* context = "{}") {
  for (const Case* c = begin; c != end; ++c) {
    Machine m = with_update(c->update, c->state);
    Result<MachineEffects> r = m.invoke(MachineEvent::Update, J(context));
    EXPECT_EQ(outcome(r), c->expected) << c->update;
    EXPECT_EQ(m.state().dump(), J(c->after).dump()) << c->update;
  }
}

constexpr const char* kNone = R"({"props":{},"timers":{},"commands":[]})";

TEST(MachineSet, Paths) {
  const Case cases[] = {
      {R"([{"set":"state","value":5}])", "{}", kNone, "5"},
      {R"([{"set":"state.a.b","value":1}])", "7", kNone, R"({"a":{"b":1}})"},
      {R"([{"set":["state","a","b"],"value":1}])", "7", kNone, R"({"a":{"b":1}})"},
      {R"([{"set":"state.a","value":null}])", R"({"a":1,"b":2})", kNone, R"({"a":null,"b":2})"},
      {R"([{"set":"state.a"}])", R"({"a":1,"b":2})", kNone, R"({"a":null,"b":2})"},
      {R"([{"set":"state.a","value":3}])", R"({"a":1,"b":2})", kNone, R"({"a":3,"b":2})"},
      {R"([{"set":"state.c","value":3}])", R"({"a":1,"b":2})", kNone, R"({"a":1,"b":2,"c":3})"},
      {R"([{"set":"state.a.b","value":1}])", R"({"a":5,"z":0})", kNone, R"({"a":{"b":1},"z":0})"},
      {R"([{"set":"state.a.b.c","value":[1]}])", R"({"a":{"x":1}})", kNone, R"({"a":{"x":1,"b":{"c":[1]}}})"},
      {R"([{"set":"state.","value":1}])", "{}", kNone, R"({"":1})"},
      {R"([{"set":["state",5],"value":1}])", "{}", kNone, R"({"":1})"},
      {R"([{"set":"state.n","value":{"op":"add","args":[{"op":"get","path":"state.n"},1]}}])", R"({"n":4})", kNone,
       R"({"n":5})"},
      {R"([{"set":"status.a","value":1}])", "{}", "error: rules can assign only state slots", "{}"},
      {R"([{"set":"State","value":1}])", "{}", "error: rules can assign only state slots", "{}"},
      {R"([{"set":"","value":1}])", "{}", "error: rules can assign only state slots", "{}"},
      {R"([{"set":[],"value":1}])", "{}", "error: rules can assign only state slots", "{}"},
      {R"([{"set":5,"value":1}])", "{}", "error: rules can assign only state slots", "{}"},
      {R"([{"set":{"state":1},"value":1}])", "{}", "error: rules can assign only state slots", "{}"},
      // the path is checked before the value is evaluated
      {R"([{"set":"other","value":{"op":"error","message":"evaluated"}}])", "{}",
       "error: rules can assign only state slots", "{}"},
      {R"([{"set":"state.a","value":{"op":"error","message":"evaluated"}}])", "{}", "error: evaluated", "{}"},
      // "let" replaces the state binding as a whole; "set" then walks it
      {R"([{"let":"state","value":9}])", "{}", kNone, "9"},
      {R"([{"let":"state","value":1},{"set":"state.x","value":2}])", "{}", kNone, R"({"x":2})"},
      // a statement with "set" is a set whatever else it holds
      {R"([{"emit":"level","set":"state.x","value":1}])", "{}", kNone, R"({"x":1})"},
  };
  run_cases(std::begin(cases), std::end(cases));
}

TEST(MachineSet, PathLengthIsBoundedSoStatesReadBack) {
  auto path = [](size_t segments) {
    std::string p = "state";
    for (size_t i = 1; i < segments; ++i) p += ".s";
    return p;
  };
  Machine m = with_update(("[{\"set\":\"" + path(64) + "\",\"value\":{\"op\":\"get\",\"path\":\"deep\"}}]").c_str(),
                          "{}");
  // The deepest value an expression may produce: 64 levels.
  std::string deep = "1";
  for (int i = 0; i < 63; ++i) deep = "[" + deep + "]";
  Result<MachineEffects> r = m.invoke(MachineEvent::Update, J("{\"deep\":" + deep + "}"));
  ASSERT_TRUE(r.ok()) << r.error().message;
  Value back;
  json::ParseError err;
  EXPECT_TRUE(json::parse(m.serialize().dump(), back, err)) << err.to_string();

  Machine longer = with_update(("[{\"set\":\"" + path(65) + "\",\"value\":1}]").c_str(), "{}");
  EXPECT_EQ(outcome(longer.invoke(MachineEvent::Update, J("{}"))), "error: rule nesting limit exceeded");
  EXPECT_EQ(longer.state().dump(), "{}");
  json::Array segments(65, Value("x"));
  segments[0] = Value("state");
  json::Object set{{"set", Value(segments)}, {"value", Value(1)}};
  Machine with_array = Machine::deserialize(J("[{\"update\":[" + Value(set).dump() + "]},{}]")).value();
  EXPECT_EQ(outcome(with_array.invoke(MachineEvent::Update, J("{}"))), "error: rule nesting limit exceeded");
}

TEST(MachineEmit, ValuesAreNormalisedAndChecked) {
  const Case cases[] = {
      // a second emission keeps the first position
      {R"([{"emit":"level","value":1},{"emit":"on","value":true},{"emit":"level","value":3}])", "{}",
       R"({"props":{"level":3,"on":true},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"level","value":1.0}])", "{}", R"({"props":{"level":1},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"level","value":21.5}])", "{}", R"({"props":{"level":21.5},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"mode","value":"manual"}])", "{}", R"({"props":{"mode":"manual"},"timers":{},"commands":[]})",
       "{}"},
      // outside the options: null, and it passes
      {R"([{"emit":"mode","value":"eco"}])", "{}", R"({"props":{"mode":null},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"on","value":1}])", "{}", R"({"props":{"on":true},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"on","value":2}])", "{}", R"({"props":{"on":null},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"label"}])", "{}", R"({"props":{"label":null},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"untyped","value":null}])", "{}", R"({"props":{"untyped":null},"timers":{},"commands":[]})", "{}"},
      {R"([{"emit":"level","value":"5"}])", "{}", "error: converter value does not fit property level", "{}"},
      {R"([{"emit":"on","value":"yes"}])", "{}", "error: converter value does not fit property on", "{}"},
      {R"([{"emit":"label","value":1}])", "{}", "error: converter value does not fit property label", "{}"},
      {R"([{"emit":"untyped","value":1}])", "{}", "error: converter value does not fit property untyped", "{}"},
      {R"([{"emit":"nope","value":1}])", "{}", "error: converter emits undeclared property nope", "{}"},
      {R"([{"emit":5,"value":1}])", "{}", "error: converter emits undeclared property ", "{}"},
      // the first offending property in emission order decides
      {R"([{"emit":"level","value":"x"},{"emit":"nope","value":1}])", "{}",
       "error: converter value does not fit property level", "{}"},
      {R"([{"emit":"nope","value":1},{"emit":"level","value":"x"}])", "{}",
       "error: converter emits undeclared property nope", "{}"},
      {R"([{"emit":"level","value":{"op":"error","message":"no level"}}])", "{}", "error: no level", "{}"},
  };
  run_cases(std::begin(cases), std::end(cases));
}

TEST(MachineTimer, Delays) {
  const Case cases[] = {
      {R"([{"timer":"t","after":null}])", "{}", R"({"props":{},"timers":{"t":null},"commands":[]})", "{}"},
      {R"([{"timer":"t"}])", "{}", R"({"props":{},"timers":{"t":null},"commands":[]})", "{}"},
      {R"([{"timer":"t","after":0}])", "{}", R"({"props":{},"timers":{"t":0.0},"commands":[]})", "{}"},
      {R"([{"timer":"t","after":-0.0}])", "{}", R"({"props":{},"timers":{"t":0.0},"commands":[]})", "{}"},
      {R"([{"timer":"t","after":2.5}])", "{}", R"({"props":{},"timers":{"t":2.5},"commands":[]})", "{}"},
      {R"([{"timer":"t","after":{"op":"mul","args":[2,3]}}])", "{}",
       R"({"props":{},"timers":{"t":6.0},"commands":[]})", "{}"},
      {R"([{"timer":"a","after":1},{"timer":"b","after":2},{"timer":"a","after":null}])", "{}",
       R"({"props":{},"timers":{"a":null,"b":2.0},"commands":[]})", "{}"},
      {R"([{"timer":7,"after":1}])", "{}", R"({"props":{},"timers":{"":1.0},"commands":[]})", "{}"},
      {R"([{"timer":"t","after":-1}])", "{}", "error: timer delay must be a finite nonnegative number or null", "{}"},
      {R"([{"timer":"t","after":"5"}])", "{}", "error: timer delay must be a finite nonnegative number or null", "{}"},
      {R"([{"timer":"t","after":true}])", "{}", "error: timer delay must be a finite nonnegative number or null", "{}"},
      {R"([{"timer":"t","after":[1]}])", "{}", "error: timer delay must be a finite nonnegative number or null", "{}"},
      {R"([{"timer":"t","after":{"a":1}}])", "{}", "error: timer delay must be a finite nonnegative number or null",
       "{}"},
  };
  run_cases(std::begin(cases), std::end(cases));
}

TEST(MachineSend, Commands) {
  const Case cases[] = {
      {R"([{"send":{"code":"switch"}}])", "{}",
       R"({"props":{},"timers":{},"commands":[{"code":"switch","value":null}]})", "{}"},
      {R"([{"send":{"value":1,"code":"a"}},{"send":{"code":"a","value":{"op":"get","path":"x"}}}])", "{}",
       R"({"props":{},"timers":{},"commands":[{"code":"a","value":1},{"code":"a","value":10}]})", "{}"},
      {R"([{"send":5}])", "{}", R"({"props":{},"timers":{},"commands":[{"code":null,"value":null}]})", "{}"},
      {R"([{"send":{"code":{"op":"error","message":"code"},"value":{"op":"error","message":"value"}}}])", "{}",
       "error: code", "{}"},
  };
  run_cases(std::begin(cases), std::end(cases), R"({"x":10})");
}

TEST(MachineInvoke, ScopeAndStatements) {
  const Case cases[] = {
      {R"([{"frob":1}])", "{}", "error: unknown rule statement", "{}"},
      {R"([5])", "{}", "error: unknown rule statement", "{}"},
      {R"({"set":"state","value":1})", "{}", "error: rule program must be an array", "{}"},
      {"null", R"({"a":1})", kNone, R"({"a":1})"},
      // no rule pack in a machine's scope unless the context brings one
      {R"([{"$use":"t"}])", "{}", "error: templates need a rule pack", "{}"},
      {R"([{"set":"state","value":{"op":"flag","args":["f","k"]}}])", "{}", kNone, "false"},
      {R"([{"set":"state","value":{"op":"call","fn":"f"}}])", "{}", "error: unknown function f", "{}"},
      // context members are variables; "config" and "state" are the machine's
      {R"([{"set":"state.x","value":{"op":"get","path":"x"}}])", "{}", kNone, R"({"x":10})"},
      {R"([{"set":"state.t","value":{"op":"get","path":"config.props.level.type"}}])", "{}", kNone,
       R"({"t":"number"})"},
      {R"([{"set":"state.s","value":{"op":"get","path":"state"}}])", R"({"k":1})", kNone, R"({"k":1,"s":{"k":1}})"},
      // "if" and "let" are the interpreter's
      {R"([{"let":"v","value":"auto"},{"if":{"op":"get","path":"x"},"then":[{"emit":"mode","value":{"op":"get","path":"v"}}]}])",
       "{}", R"({"props":{"mode":"auto"},"timers":{},"commands":[]})", "{}"},
  };
  run_cases(std::begin(cases), std::end(cases), R"({"x":10,"state":"ctx","config":"ctx"})");
}

TEST(MachineInvoke, TemplatesFromAContextRulePack) {
  Machine m = with_update(R"([{"$use":"t"}])", "{}");
  auto r = m.invoke(MachineEvent::Update, J(R"({"rules":{"templates":{"t":[{"set":"state.x","value":1}]}}})"));
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(m.state().dump(), R"({"x":1})");
}

TEST(MachineInvoke, StatementBudget) {
  auto program = [](size_t n) {
    std::string p = "[";
    for (size_t i = 0; i < n; ++i) p += std::string(i ? "," : "") + R"({"set":"state.n","value":1})";
    return p + "]";
  };
  Machine fits = with_update(program(10'000).c_str(), "{}");
  EXPECT_EQ(outcome(fits.invoke(MachineEvent::Update, J("{}"))), kNone);
  EXPECT_EQ(fits.state().dump(), R"({"n":1})");
  Machine over = with_update(program(10'001).c_str(), "{}");
  EXPECT_EQ(outcome(over.invoke(MachineEvent::Update, J("{}"))), "error: rule instruction limit exceeded");
  EXPECT_EQ(over.state().dump(), "{}");
}

TEST(MachineInvoke, AllOrNothing) {
  // Each program changes the state, emits, arms a timer and sends before it
  // fails; none of it survives.
  const char* prefix =
      R"({"set":"state.a","value":2},{"let":"state","value":{"x":1}},{"emit":"level","value":1},)"
      R"({"timer":"t","after":1},{"send":{"code":"c","value":1}})";
  const char* failures[][2] = {
      {R"({"emit":"nope","value":1})", "converter emits undeclared property nope"},
      {R"({"emit":"level","value":"x"})", "converter value does not fit property level"},
      {R"({"set":"state","value":{"op":"error","message":"late"}})", "late"},
      {R"({"timer":"t","after":-1})", "timer delay must be a finite nonnegative number or null"},
      {R"({"if":true,"then":{"set":"state","value":1}})", "rule program must be an array"},
      {R"({"unknown":1})", "unknown rule statement"},
  };
  for (const auto& f : failures) {
    Machine m = with_update((std::string("[") + prefix + "," + f[0] + "]").c_str(), R"({"a":1})");
    const Machine before = m;
    Result<MachineEffects> r = m.invoke(MachineEvent::Update, J("{}"));
    ASSERT_FALSE(r.ok()) << f[0];
    EXPECT_EQ(r.error(), EngineError::from(f[1]));
    EXPECT_EQ(m.state().dump(), R"({"a":1})") << f[0];
    EXPECT_TRUE(m.state().same(before.state())) << f[0];
  }
}

TEST(MachineInvoke, Events) {
  const Value config = J(std::string(R"({"props":)") + kProps + R"(,
      "update": [{"set": "state.e", "value": "update"}],
      "timer": [{"set": "state.e", "value": "timer"}, {"timer": "poll", "after": null}],
      "reset": [{"set": "state.e", "value": "reset"}],
      "write": {
        "mode": [{"send": {"code": "mode", "value": {"op": "get", "path": "value"}}},
                 {"emit": "mode", "value": {"op": "get", "path": "value"}}],
        "": [{"set": "state.e", "value": "unnamed"}]
      }})");
  struct EventCase {
    MachineEvent event;
    const char* context;
    const char* expected;
    const char* state;
  } cases[] = {
      {MachineEvent::Update, "{}", kNone, R"({"e":"update"})"},
      {MachineEvent::Timer, "{}", R"({"props":{},"timers":{"poll":null},"commands":[]})", R"({"e":"timer"})"},
      {MachineEvent::Reset, "{}", kNone, R"({"e":"reset"})"},
      {MachineEvent::Write, R"({"prop":"mode","value":"manual"})",
       R"({"props":{"mode":"manual"},"timers":{},"commands":[{"code":"mode","value":"manual"}]})", "{}"},
      {MachineEvent::Write, R"({"prop":"level","value":1})", kNone, "{}"},
      {MachineEvent::Write, R"({"prop":5})", kNone, R"({"e":"unnamed"})"},
      {MachineEvent::Write, "{}", kNone, R"({"e":"unnamed"})"},
  };
  for (const auto& c : cases) {
    Machine m = Machine::make(config);
    EXPECT_EQ(outcome(m.invoke(c.event, J(c.context))), c.expected) << c.context;
    EXPECT_EQ(m.state().dump(), c.state) << c.context;
  }
  // Events with no program run nothing.
  Machine bare = Machine::make(J(R"({"initial_state": 3})"));
  for (MachineEvent e : {MachineEvent::Update, MachineEvent::Timer, MachineEvent::Reset, MachineEvent::Write}) {
    EXPECT_EQ(outcome(bare.invoke(e, J(R"({"prop":"x"})"))), kNone);
    EXPECT_EQ(bare.state().dump(), "3");
  }
}

TEST(Machine, InitialState) {
  const char* cases[][2] = {
      {"{}", "{}"},
      {R"({"initial_state": null})", "null"},
      {R"({"initial_state": {"a": [1]}})", R"({"a":[1]})"},
      {R"({"initial_state": 0})", "0"},
      {"[1]", "{}"},
      {"null", "{}"},
  };
  for (const auto& c : cases) EXPECT_EQ(Machine::make(J(c[0])).state().dump(), c[1]) << c[0];
}

TEST(Machine, Reset) {
  struct ResetCase {
    const char* config;
    const char* state;  // before the reset
    const char* after;
  } cases[] = {
      // a failing program restores "initial_state", or {} without one
      {R"({"initial_state":{"i":1},"reset":[{"set":"state.r","value":1},{"op":"x"}]})", R"({"s":1})", R"({"i":1})"},
      {R"({"reset":[{"set":"nope","value":1}]})", R"({"s":1})", "{}"},
      {R"({"initial_state":null,"reset":5})", R"({"s":1})", "null"},
      // a succeeding one keeps its state; what it emits is dropped
      {R"({"initial_state":{"i":1},"props":{"p":{"type":"number"}},"reset":[{"set":"state.r","value":1},{"emit":"p","value":2},{"timer":"t","after":1}]})",
       R"({"s":1})", R"({"s":1,"r":1})"},
      // an undeclared emission fails inside and so restores "initial_state"
      {R"({"initial_state":{"i":1},"reset":[{"set":"state.r","value":1},{"emit":"p","value":2}]})", R"({"s":1})",
       R"({"i":1})"},
      // the context is empty
      {R"({"reset":[{"set":"state.p","value":{"op":"get","path":"prop","default":"none"}}]})", "{}",
       R"({"p":"none"})"},
      {R"({"initial_state":1})", "5", "5"},
  };
  for (const auto& c : cases) {
    Machine m = Machine::deserialize(J(std::string("[") + c.config + "," + c.state + "]")).value();
    m.reset();
    EXPECT_EQ(m.state().dump(), c.after) << c.config;
  }
}

TEST(Machine, JsonForm) {
  struct FormCase {
    const char* json;
    const char* expected;  // the machine written back, or "error: " and the message
  } cases[] = {
      {R"({"config":{"a":1},"state":2})", R"({"config":{"a":1},"state":2})"},
      {R"({"state":2,"config":{"a":1},"other":0})", R"({"config":{"a":1},"state":2})"},
      {R"({"config":null,"state":null})", R"({"config":null,"state":null})"},
      {R"([{"a":1},2])", R"({"config":{"a":1},"state":2})"},
      {R"({"state":2})", "error: missing field `config`"},
      {R"({"config":1})", "error: missing field `state`"},
      {"{}", "error: missing field `config`"},
      {"[]", "error: invalid length 0, expected struct Machine with 2 elements"},
      {"[1]", "error: invalid length 1, expected struct Machine with 2 elements"},
      {"[1,2,3]", "error: invalid length 3, expected fewer elements in array"},
      {"5", "error: invalid type: integer `5`, expected struct Machine"},
      {"null", "error: invalid type: null, expected struct Machine"},
  };
  for (const auto& c : cases) {
    auto r = Machine::deserialize(J(c.json));
    EXPECT_EQ(r.ok() ? r.value().serialize().dump() : "error: " + r.error(), c.expected) << c.json;
  }
  const Machine m = Machine::make(J(R"({"initial_state":{"x":[1,2]},"update":[]})"));
  EXPECT_EQ(Machine::deserialize(m.serialize()).value().serialize(), m.serialize());
}

TEST(Machine, CopiesShareTheConfiguration) {
  const Value config = J(std::string(R"({"props":)") + kProps + R"(,"update":[{"set":"state.n","value":1}]})");
  Machine a = Machine::make(config);
  Machine b = a;
  std::vector<Machine> copies(3, b);
  // One node: the configuration is held by reference, never copied.
  EXPECT_TRUE(a.config().same(config));
  EXPECT_TRUE(b.config().same(config));
  for (const Machine& c : copies) EXPECT_TRUE(c.config().same(config));
  // A machine read from a document shares the document's configuration.
  const Value doc = a.serialize();
  EXPECT_TRUE(Machine::deserialize(doc).value().config().same(doc["config"]));
  // The states are separate: a copy's invocation leaves the original alone.
  ASSERT_TRUE(b.invoke(MachineEvent::Update, J("{}")).ok());
  EXPECT_EQ(b.state().dump(), R"({"n":1})");
  EXPECT_EQ(a.state().dump(), "{}");
  EXPECT_TRUE(a.config().same(b.config()));
}

TEST(MachineConcurrency, CopiesInvokeOnManyThreads) {
  const Value config = J(std::string(R"({"props":)") + kProps + R"(,
      "initial_state": {"n": 0, "log": []},
      "update": [{"set": "state.n", "value": {"op": "add", "args": [{"op": "get", "path": "state.n"}, 1]}},
                 {"emit": "level", "value": {"op": "get", "path": "state.n"}},
                 {"timer": "t", "after": 1}]})");
  const Machine original = Machine::make(config);
  std::vector<std::thread> threads;
  std::vector<int> good(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      Machine m = original;
      const Value ctx = J(R"({"x": 1})");
      for (int i = 1; i <= 200; ++i) {
        auto r = m.invoke(MachineEvent::Update, ctx);
        if (r.ok() && *r.value().props.find("level") == Value(i)) ++good[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int g : good) EXPECT_EQ(g, 200);
  EXPECT_EQ(original.state().dump(), R"({"n":0,"log":[]})");
}

}  // namespace
}  // namespace zefa
