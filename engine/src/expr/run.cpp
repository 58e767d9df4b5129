#include "expr/run.hpp"

#include "data/data.hpp"
#include "expr/compiled.hpp"

namespace zefa::expr {

namespace {

using detail::Access;
using detail::Block;
using detail::Stmt;

// Statements in order: compiled, or read from the elements of an array.
struct Steps {
  const Stmt* compiled = nullptr;
  const json::Array* raw = nullptr;
  size_t size = 0;
};

Result<bool> steps(Steps list, Scope& scope, Effects& sink, uint64_t& budget, uint64_t depth);

Result<bool> run_block(const Block& block, Scope& scope, Effects& sink, uint64_t& budget, uint64_t depth) {
  if (!block.program) return run(*block.value, scope, sink, budget, depth);
  // A compiled block is a non-empty array: only the depth is left to check.
  if (depth >= limits::kNesting) return fail(limits::kNestingLimit);
  return steps({block.program->stmts, nullptr, block.program->size}, scope, sink, budget, depth);
}

Result<bool> step(const Stmt& st, Scope& scope, Effects& sink, uint64_t& budget, uint64_t depth) {
  switch (st.kind) {
    case Stmt::Kind::If: {
      Value c;
      if (!Access::eval(scope, st.expr, c)) return fail(Access::failure(scope));
      return run_block(data::truth(c) ? st.then : st.otherwise, scope, sink, budget, depth + 1);
    }
    case Stmt::Kind::Use: {
      static const Value kRules("rules");
      static const uint64_t kRulesHash = Access::hash(kRules.str());
      const Value* rules = Access::lookup(scope, kRules.str(), kRulesHash, &kRules);
      if (!rules) return fail("templates need a rule pack");
      // No copy of the template is needed: run() holds the program it is
      // given before any statement can rebind "rules".
      return run((*rules)["templates"][st.name->str()], scope, sink, budget, depth + 1);
    }
    case Stmt::Kind::Let: {
      Value v;
      if (!Access::eval(scope, st.expr, v)) return fail(Access::failure(scope));
      Access::set(scope, *st.name, st.hash, std::move(v));
      return false;
    }
    case Stmt::Kind::Sink: break;
  }
  return sink.exec(*st.stmt, scope);
}

Result<bool> steps(Steps list, Scope& scope, Effects& sink, uint64_t& budget, uint64_t depth) {
  for (size_t i = 0; i < list.size; ++i) {
    if (budget == 0) return fail(limits::kInstructionLimit);
    --budget;
    Result<bool> r = list.compiled ? step(list.compiled[i], scope, sink, budget, depth)
                                   : step(detail::read((*list.raw)[i]), scope, sink, budget, depth);
    if (!r.ok() || r.value()) return r;
  }
  return false;
}

}  // namespace

Result<bool> run(const Value& program, Scope& scope, Effects& sink, uint64_t& budget, uint64_t depth) {
  if (depth >= limits::kNesting) return fail(limits::kNestingLimit);
  if (!program.is_null() && !program.is_array()) return fail("rule program must be an array");
  if (program.arr().empty()) return false;
  // The shape holds the program, as does `held` otherwise: a statement may
  // rebind the value that holds it (a "let" of "rules" while a template runs).
  if (const detail::Pinned shape = detail::compiled_program(program))
    return steps({shape.program().stmts, nullptr, shape.program().size}, scope, sink, budget, depth);
  const Value held = program;
  return steps({nullptr, &held.arr(), held.arr().size()}, scope, sink, budget, depth);
}

}  // namespace zefa::expr
