// The expression evaluator on representative expressions and a small rule
// program. items/s counts operator evaluations. The references do the
// arithmetic of "add" and of the map directly on the same values, the floor
// an interpreter could reach. Each expression is evaluated again and again,
// as an installed rule pack's are: from the second time on its shape is
// read from the thread's cache.
#include <benchmark/benchmark.h>

#include <string>

#include "data/data.hpp"
#include "expr/run.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "bench_util.hpp"

namespace {

using zefa::json::Value;
using zefa::testing::parse_or_abort;
namespace expr = zefa::expr;


const Value& context() {
  static const Value ctx = [] {
    std::string items = "[";
    for (int i = 0; i < 100; ++i) items += (i ? "," : "") + std::to_string(i);
    items += "]";
    return parse_or_abort(R"({"device": {"id": "bf01", "status": {"temp": 215, "mode": "auto", "dps": {"1": true}}},
                     "x": 12, "scale": 1, "items": )" +
                 items + "}");
  }();
  return ctx;
}

// Evaluates `text` once per iteration in one scope whose budgets are reset.
void eval_loop(benchmark::State& state, const std::string& text) {
  const Value e = parse_or_abort(text);
  expr::Scope s = expr::Scope().with_fields(context());
  const uint64_t per_eval = zefa::bench::eval_each_iteration(state, s, e);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * per_eval));
}

void BM_ReferenceAdd(benchmark::State& state) {
  const Value a(1), b(2);
  for (auto _ : state) {
    Value x = a, y = b;
    Value r = zefa::data::number(zefa::data::n(x) + zefa::data::n(y));
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReferenceAdd);

void BM_ExprAddLiterals(benchmark::State& state) { eval_loop(state, R"({"op":"add","args":[1,2]})"); }
BENCHMARK(BM_ExprAddLiterals);

void BM_ExprGetNestedPath(benchmark::State& state) {
  eval_loop(state, R"({"op":"get","path":"device.status.temp"})");
}
BENCHMARK(BM_ExprGetNestedPath);

void BM_ExprIfCompare(benchmark::State& state) {
  eval_loop(state, R"({"op":"if","condition":{"op":"gt","args":[{"op":"get","path":"x"},10]},
                       "then":"hot","else":"cold"})");
}
BENCHMARK(BM_ExprIfCompare);

void BM_ExprMap100(benchmark::State& state) {
  eval_loop(state, R"({"op":"map","args":[{"op":"get","path":"items"}],
                       "do":{"op":"add","args":[{"op":"get","path":"item"},1]}})");
}
BENCHMARK(BM_ExprMap100);

// The same map as a plain loop over the same values; items/s counts elements.
void BM_ReferenceMap100(benchmark::State& state) {
  const Value& items = context()["items"];
  for (auto _ : state) {
    zefa::json::Array out;
    for (const Value& x : items.arr()) out.push_back(zefa::data::number(zefa::data::n(x) + 1));
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * items.size()));
}
BENCHMARK(BM_ReferenceMap100);

// Operator-heavy: scaling, rounding, clamping and a feature test in one.
void BM_ExprOperatorHeavy(benchmark::State& state) {
  eval_loop(state, R"({"op":"coalesce","args":[
      {"op":"if","condition":{"op":"and","args":[
           {"op":"is_number","args":[{"op":"get","path":"device.status.temp"}]},
           {"op":"not","args":[{"op":"eq","args":[{"op":"get","path":"device.status.mode"},"off"]}]}]},
       "then":{"op":"max","args":[0,{"op":"min","args":[100,
           {"op":"round_half_even","args":[{"op":"remap","args":[
               {"op":"div","args":[{"op":"get","path":"device.status.temp"},10]},0,40,0,100]}]}]}]},
       "else":null},
      -1]})");
}
BENCHMARK(BM_ExprOperatorHeavy);

class Collect : public expr::Effects {
 public:
  zefa::json::Array out;
  zefa::Result<bool> exec(const Value& st, expr::Scope& scope) override {
    auto v = scope.eval(st["value"]);
    if (!v.ok()) return zefa::fail(v.error());
    out.push_back(std::move(v).value());
    return false;
  }
};

// A typical machine-sized program: locals, a conditional, a template.
void BM_RunTypicalProgram(benchmark::State& state) {
  const Value rules = parse_or_abort(R"({"templates": {"report": [
      {"emit": "mode", "value": {"op": "get", "path": "device.status.mode"}}]}})");
  const Value program = parse_or_abort(R"([
      {"let": "t", "value": {"op": "div", "args": [{"op": "get", "path": "device.status.temp"}, 10]}},
      {"if": {"op": "gt", "args": [{"op": "get", "path": "t"}, 20]},
       "then": [{"emit": "hot", "value": true}, {"emit": "temp", "value": {"op": "get", "path": "t"}}],
       "else": [{"emit": "hot", "value": false}]},
      {"$use": "report"}
  ])");
  uint64_t statements = 0;
  for (auto _ : state) {
    expr::Scope s = expr::Scope().with_fields(context()).with("rules", rules);
    Collect sink;
    uint64_t budget = 10'000;
    auto r = expr::run(program, s, sink, budget, 0);
    if (!r.ok()) state.SkipWithError(r.error().message.c_str());
    benchmark::DoNotOptimize(sink.out);
    statements = 10'000 - budget;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * statements));
}
BENCHMARK(BM_RunTypicalProgram);

}  // namespace
