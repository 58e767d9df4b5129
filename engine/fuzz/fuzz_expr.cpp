// Any JSON as an expression, then as a rule program, in a scope over a small
// context: no crash, the scope comes back balanced, budgets only go down, and
// every value left in a binding can be written and read back. Met again (its
// shape then compiled, then found kept), the same input gives the same
// result, failure and budgets.
#include <cstdlib>
#include <string>
#include <vector>

#include "expr/run.hpp"
#include "json.hpp"
#include "testing.hpp"

namespace {

using zefa::json::Value;
namespace expr = zefa::expr;


// Takes "emit" (evaluates "value"), "set" (assigns along a dotted path) and
// "stop"; refuses anything else.
class Sink : public expr::Effects {
 public:
  std::vector<std::string> assigned;
  zefa::Result<bool> exec(const Value& st, expr::Scope& scope) override {
    if (st.find("emit")) {
      auto v = scope.eval(st["value"]);
      if (!v.ok()) return zefa::fail(v.error());
      return false;
    }
    if (const Value* path = st.find("set")) {
      auto v = scope.eval(st["value"]);
      if (!v.ok()) return zefa::fail(v.error());
      std::vector<std::string> segs = expr::split_path(path->str());
      auto r = scope.assign(segs, std::move(v).value());
      if (!r.ok()) return zefa::fail(r.error());
      assigned.push_back(segs[0]);
      return false;
    }
    if (st.find("stop")) return true;
    return zefa::fail("unknown statement");
  }
};

void check_readable(const Value& v) {
  if (v.depth() >= zefa::json::kMaxDepth) std::abort();
}

std::string outcome(const expr::Scope& s, const expr::Eval& r) {
  return (r.ok() ? r.value().dump() : "!" + r.error()) + " " + std::to_string(s.ops) + " " + std::to_string(s.nodes) +
         " " + std::to_string(s.bytes) + " " + std::to_string(s.size());
}

std::string run_outcome(const expr::Scope& s, const zefa::Result<bool>& r, const Sink& sink, uint64_t budget) {
  std::string out = (r.ok() ? (r.value() ? "stopped" : "done") : "!" + r.error().message) + " " +
                    std::to_string(budget) + " " + std::to_string(s.ops) + " " + std::to_string(s.size());
  for (const std::string& name : sink.assigned) {
    const Value* v = s.lookup(name);
    out += " " + name + "=" + (v ? v->dump() : "?");
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const Value input = std::move(*parsed);

  static const Value ctx = zefa::testing::parse_or_abort(R"({"a": {"b": [1, 2.5, "x"]}, "s": "text", "n": null, "xs": [0, 3, 4],
                                     "state": {"on": true}})");
  static const Value base_rules = zefa::testing::parse_or_abort(R"({"features": {"f": {"one": 1, "two": "2"}},
      "templates": {"t": [{"emit": 1, "value": {"op": "get", "path": "s"}}], "self": [{"$use": "self"}]},
      "functions": {"id": {"params": ["x"], "body": {"op": "get", "path": "x"}},
                    "rec": {"body": {"op": "call", "fn": "rec"}}}})");
  // The input may bring its own templates and functions.
  Value rules = base_rules;
  if (input.is_object()) {
    for (const char* key : {"templates", "functions"})
      if (const Value* v = input.find(key)) rules.obj_mut().insert_or_assign(key, *v);
  }
  const Value& functions = rules["functions"];

  auto fresh = [&] { return expr::Scope(functions).with_fields(ctx).with("rules", rules); };
  std::string first;
  for (int pass = 0; pass < 3; ++pass) {
    expr::Scope scope = fresh();
    const size_t vars = scope.size();
    const uint64_t ops = scope.ops, nodes = scope.nodes, bytes = scope.bytes;
    auto r = scope.eval(input);
    if (scope.depth != 0 || scope.size() != vars) std::abort();
    if (scope.ops > ops || scope.nodes > nodes || scope.bytes > bytes) std::abort();
    if (r.ok()) {
      uint64_t n = 0, b = 0;
      if (!expr::bounded::visit(r.value(), n, b, 0).ok()) std::abort();
    }
    const std::string got = outcome(scope, r);
    if (pass == 0) first = got;
    if (got != first) std::abort();
  }

  const Value& program = input.is_object() && input.find("program") ? input["program"] : input;
  for (int pass = 0; pass < 3; ++pass) {
    expr::Scope scope = fresh();
    Sink sink;
    uint64_t budget = 10'000;
    auto run = expr::run(program, scope, sink, budget, 0);
    if (scope.depth != 0 || budget > 10'000) std::abort();
    for (const std::string& name : sink.assigned)
      if (const Value* v = scope.lookup(name)) check_readable(*v);
    const std::string got = run_outcome(scope, run, sink, budget);
    if (pass == 0) first = got;
    if (got != first) std::abort();
  }
  return 0;
}
