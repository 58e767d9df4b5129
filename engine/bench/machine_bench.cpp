// One invocation of a state machine's update program: a dozen statements
// with sets, a few emits, a timer and a send, over a driver-like context.
// The reference runs the same program through the statement interpreter with
// a sink that only evaluates, in a scope built once: the floor of the work
// an invocation cannot avoid. The difference is the machine's own cost:
// scope, state copy, effects, value checks and the all-or-nothing commit.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "expr/run.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "machine/machine.hpp"

namespace {

using zefa::json::Value;
using zefa::testing::parse_or_abort;
namespace expr = zefa::expr;
using zefa::machine::Machine;
using zefa::machine::MachineEvent;


const Value& config() {
  static const Value c = parse_or_abort(R"({
    "initial_state": {"mode": "auto", "level": 0, "count": 0, "last": null, "history": {"a": 1, "b": 2}},
    "props": {
      "mode": {"type": "select", "options": ["auto", "manual", "eco"]},
      "level": {"type": "number", "min": 0, "max": 10},
      "heating": {"type": "binary"},
      "summary": {"type": "text"}
    },
    "update": [
      {"let": "raw", "value": {"op": "get", "path": "status.mode"}},
      {"let": "temp", "value": {"op": "get", "path": "status.temp"}},
      {"if": {"op": "get", "path": "raw"},
       "then": [{"set": "state.mode", "value": {"op": "get", "path": "raw"}},
                {"emit": "mode", "value": {"op": "get", "path": "raw"}}]},
      {"set": "state.level", "value": {"op": "div", "args": [{"op": "get", "path": "temp"}, 10]}},
      {"set": "state.count", "value": {"op": "add", "args": [{"op": "get", "path": "state.count"}, 1]}},
      {"set": ["state", "last"], "value": {"op": "get", "path": "status.ts"}},
      {"emit": "level", "value": {"op": "get", "path": "state.level"}},
      {"emit": "heating", "value": {"op": "gt", "args": [{"op": "get", "path": "temp"}, 200]}},
      {"emit": "summary", "value": {"op": "get", "path": "state.mode"}},
      {"timer": "poll", "after": 30},
      {"send": {"code": "ack", "value": {"op": "get", "path": "state.count"}}}
    ]})");
  return c;
}

const Value& context() {
  static const Value c = parse_or_abort(R"({"status": {"mode": "manual", "temp": 215, "ts": 1700000000, "switch": true,
                                              "countdown": 0, "fault": 0},
                                   "changed": ["mode", "temp"]})");
  return c;
}

// Evaluates what each machine statement evaluates and keeps nothing.
class EvalOnly final : public expr::Effects {
 public:
  zefa::Result<bool> exec(const Value& st, expr::Scope& scope) override {
    for (const char* key : {"value", "after"})
      if (const Value* e = st.find(key)) {
        auto v = scope.eval(*e);
        benchmark::DoNotOptimize(v);
      }
    if (const Value* send = st.find("send")) {
      auto v = scope.eval((*send)["value"]);
      benchmark::DoNotOptimize(v);
    }
    return false;
  }
};

void BM_ReferenceRunEvalOnly(benchmark::State& state) {
  const Value st = config()["initial_state"];
  const Value& program = config()["update"];
  expr::Scope scope = expr::Scope().with_fields(context()).with("config", config());
  scope.push("state", st);
  const size_t base = scope.size();
  EvalOnly sink;
  for (auto _ : state) {
    scope.truncate(base);
    scope.ops = expr::limits::kOps;
    scope.nodes = expr::limits::kNodes;
    scope.bytes = expr::limits::kBytes;
    uint64_t budget = 10'000;
    auto r = expr::run(program, scope, sink, budget, 0);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReferenceRunEvalOnly);

void BM_MachineInvokeUpdate(benchmark::State& state) {
  const Machine start = Machine::make(config());
  for (auto _ : state) {
    Machine m = start;  // every iteration from the same state
    auto r = m.invoke(MachineEvent::Update, context());
    if (!r.ok()) state.SkipWithError(r.error().message.c_str());
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MachineInvokeUpdate);

void BM_MachineInvokeUpdateRepeated(benchmark::State& state) {
  Machine m = Machine::make(config());
  for (auto _ : state) {
    auto r = m.invoke(MachineEvent::Update, context());
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MachineInvokeUpdateRepeated);

}  // namespace
