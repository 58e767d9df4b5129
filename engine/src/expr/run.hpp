// The statement interpreter of rule programs. It carries out the statements
// that mean the same everywhere (conditionals, templates, local variables)
// and hands every other statement to a sink, which gives it its meaning:
// machines, entity builds and entity actions each bring their own.
#pragma once

#include <cstdint>

#include "error.hpp"
#include "expr/scope.hpp"

namespace zefa::expr {

// A statement sink. `exec` carries out one statement the interpreter does not
// handle itself; it may evaluate expressions in the scope and change its
// variables. It answers true to end the whole program (every nesting level)
// successfully, false to go on, or an error that ends the run.
class Effects {
 public:
  virtual ~Effects() = default;
  virtual Result<bool> exec(const Value& statement, Scope& scope) = 0;
};

// Runs a rule program (null or an array of statements) in `scope` with
// `sink`. Every statement, at every level, takes one unit of `budget` (the
// caller's, shared by all levels); `depth` is 0 for the caller's program.
// Returns whether the program was stopped. Nothing done before a failure is
// undone: callers that need all-or-nothing discard scope and sink.
// `program` is only read; it may be released by the run itself (through a
// binding) without harm, as the interpreter holds its own reference.
Result<bool> run(const Value& program, Scope& scope, Effects& sink, uint64_t& budget, uint64_t depth);

}  // namespace zefa::expr
