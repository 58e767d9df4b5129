// The operator table of the expression language, shared by the files that
// implement operators. Special forms read the expression's members
// themselves; function operators receive their evaluated "args".
//
// Adding a function operator means writing its function and naming it in one
// table entry: the core operators in ops.cpp, the data operators (collections,
// strings, bytes, colour, electricity) in data_ops.cpp.
#pragma once

#include <span>
#include <string_view>

#include "expr/scope.hpp"

namespace zefa::expr::ops {

// The evaluated arguments, in order.
using Args = std::span<const Value>;

// A function operator: the scope (for budgets, features and limits), the
// whole expression object (for members such as "default") and the arguments.
// Returns a new value, or a failure message (only the limit messages).
using Function = Eval (*)(Scope& scope, const Value& expr, Args args);

struct FunctionOp {
  std::string_view name;
  Function fn;
};

// Argument i, or null past the end (a missing argument reads as null).
inline const Value& arg(Args args, size_t i) noexcept {
  static const Value kNull;
  return i < args.size() ? args[i] : kNull;
}

// The data operators' table (data_ops.cpp).
std::span<const FunctionOp> data_ops() noexcept;

}  // namespace zefa::expr::ops
