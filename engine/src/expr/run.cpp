#include "expr/run.hpp"

#include "data/data.hpp"

namespace zefa::expr {

Result<bool> run(const Value& program, Scope& scope, Effects& sink, uint64_t& budget, uint64_t depth) {
  if (depth >= limits::kNesting) return fail(limits::kNestingLimit);
  if (!program.is_null() && !program.is_array()) return fail("rule program must be an array");
  // A reference of our own: a statement may rebind the value that holds the
  // program (a "let" of "rules" while a template runs).
  const Value held = program;
  for (const Value& stmt : held.arr()) {
    if (budget == 0) return fail(limits::kInstructionLimit);
    --budget;
    if (stmt.is_object()) {
      if (const Value* cond = stmt.find("if")) {
        ZEFA_TRY(Value c, scope.eval(*cond));
        ZEFA_TRY(bool stop, run(data::truth(c) ? stmt["then"] : stmt["else"], scope, sink, budget, depth + 1));
        if (stop) return true;
        continue;
      }
      if (const Value* use = stmt.find("$use")) {
        const Value* rules = scope.lookup("rules");
        if (!rules) return fail("templates need a rule pack");
        const Value tpl = (*rules)["templates"][use->str()];
        ZEFA_TRY(bool stop, run(tpl, scope, sink, budget, depth + 1));
        if (stop) return true;
        continue;
      }
      if (const Value* let = stmt.find("let")) {
        ZEFA_TRY(Value v, scope.eval(stmt["value"]));
        scope.set(let->str(), std::move(v));
        continue;
      }
    }
    ZEFA_TRY(bool stop, sink.exec(stmt, scope));
    if (stop) return true;
  }
  return false;
}

}  // namespace zefa::expr
