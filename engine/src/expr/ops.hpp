// The operator table of the expression language, shared by the files that
// implement operators. Special forms read the expression's members
// themselves; function operators receive their evaluated "args".
//
// Adding a function operator means writing its function and naming it in one
// table entry: the core operators in ops.cpp, the data operators (collections,
// strings, bytes, colour, electricity) in data_ops.cpp.
#pragma once

#include <cstdint>
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

// What an operator name stands for: a function operator, or one of the
// special forms, which read the expression's members themselves.
enum class Form : uint8_t {
  Function,
  If,
  Or,
  And,
  Get,
  Let,
  Map,
  Any,
  All,
  Call,
  Find,
  Error,
  Count,
  Flags,
  Record,
  Filter,
  Literal,
  Coalesce,
};

struct Entry {
  std::string_view name;
  Form form = Form::Function;
  Function fn = nullptr;  // set for Form::Function
};

// The operator of that name, or nullptr when there is none.
const Entry* find(std::string_view name) noexcept;

// What a missing argument reads as.
inline const Value kNoArg;

// Argument i, or null past the end (a missing argument reads as null).
inline const Value& arg(Args args, size_t i) noexcept { return i < args.size() ? args[i] : kNoArg; }

// The data operators' table (data_ops.cpp).
std::span<const FunctionOp> data_ops() noexcept;

}  // namespace zefa::expr::ops
