// Operator dispatch, the special forms, and the comparison, arithmetic, type,
// logic and feature operators.
#include "expr/ops.hpp"

#include <array>
#include <memory>
#include <new>
#include <cmath>
#include <limits>

#include "data/data.hpp"
#include "expr/compiled.hpp"

namespace zefa::expr {

using detail::Access;
using detail::Node;
using detail::Refs;
using ops::Args;
using ops::arg;
using ops::Form;

namespace {

const Value kNoName("");

// Arguments without a heap allocation for the common short lists. The
// operand count is known before evaluating, so a longer list takes its room
// at once (no more than the operand array itself holds) and never moves.
class ArgList {
 public:
  explicit ArgList(uint32_t count)
      : data_(count <= kSmall ? small() : static_cast<Value*>(::operator new(count * sizeof(Value)))) {}
  ArgList(const ArgList&) = delete;
  ArgList& operator=(const ArgList&) = delete;
  ~ArgList() {
    std::destroy_n(data_, n_);
    if (data_ != small()) ::operator delete(data_);
  }

  // A new null argument, to be evaluated into; at most `count` of them.
  Value& next() noexcept { return *new (data_ + n_++) Value(); }
  // A new argument copied from `v`, without first making it null.
  void push(const Value& v) noexcept { new (data_ + n_++) Value(v); }
  Args args() const noexcept { return Args(data_, n_); }

 private:
  static constexpr size_t kSmall = 4;
  Value* small() noexcept { return std::launder(reinterpret_cast<Value*>(buf_)); }

  alignas(Value) unsigned char buf_[kSmall * sizeof(Value)];
  Value* data_;
  size_t n_ = 0;  // constructed in data_
};

// Evaluates operands (an operand list or a path) in order into `out`; the
// first failure ends it.
template <class Out>
bool collect(Scope& s, const Refs& list, Out& out) {
  for (uint32_t i = 0; i < list.size; ++i)
    if (!Access::eval(s, list[i], out.next())) return false;
  return true;
}

// The same into an argument list, where a compiled literal is copied straight
// into its place. Inlined: every function operator call passes through here,
// and a call of its own costs as much as a literal operand.
[[gnu::always_inline]] inline bool collect(Scope& s, const Refs& list, ArgList& out) {
  for (uint32_t i = 0; i < list.size; ++i) {
    const detail::Ref r = list[i];
    if (r.node && r.node->literal) {
      if (!Access::charge_literal(s, *r.node)) return false;
      out.push(*r.node->expr);
    } else if (!Access::eval(s, r, out.next())) {
      return false;
    }
  }
  return true;
}

// The special forms write their result into `out` and answer false on
// failure, the message kept by the scope (see Scope::exec).

// ---------------------------------------------------------------- special forms

// The loop forms: evaluates "do" for each element of the collection (the
// first "args" element) with the loop variable bound to a copy of the
// element. `step` sees the element and the result; false stops the loop.
// The binding is cut back after every element; as "do" leaves the stack as
// it found it, the next element can take over the same binding instead.
// The collection is held until the loop ends and nothing changes it in
// place, so the binding can refer to the element instead of copying it.
// `list`, when given, gets room for a result per element.
template <class Step>
bool loop(Scope& s, const Node& n, Step step, json::Array* list = nullptr) {
  Value coll;
  if (n.args.size != 0 && !Access::eval(s, n.args[0], coll)) return false;
  if (!coll.is_array()) return true;
  if (list) list->reserve(coll.arr().size());
  const size_t mark = s.size();
  Value r;
  for (const Value& element : coll.arr()) {
    if (s.size() == mark + 1) {
      Access::rebind_last(s, element);
    } else {
      s.truncate(mark);
      Access::refer(s, *n.name, n.hash, element);
    }
    if (!Access::eval(s, n.a, r)) {
      s.truncate(mark);
      return false;
    }
    if (!step(element, r)) break;
  }
  s.truncate(mark);
  return true;
}

[[gnu::noinline]] bool form_map(Scope& s, const Node& n, Value& out) {
  json::Array list;
  const bool ok = loop(
      s, n,
      [&](const Value&, Value& r) {
        list.push_back(std::move(r));
        return true;
      },
      &list);
  out = Value(std::move(list));
  return ok;
}

[[gnu::noinline]] bool form_filter(Scope& s, const Node& n, Value& out) {
  json::Array list;
  const bool ok = loop(s, n, [&](const Value& el, const Value& r) {
    if (data::truth(r)) list.push_back(el);
    return true;
  });
  out = Value(std::move(list));
  return ok;
}

[[gnu::noinline]] bool form_find(Scope& s, const Node& n, Value& out) {
  out = Value();
  return loop(s, n, [&](const Value& el, const Value& r) {
    if (!data::truth(r)) return true;
    out = el;
    return false;
  });
}

[[gnu::noinline]] bool form_count(Scope& s, const Node& n, Value& out) {
  uint64_t count = 0;
  const bool ok = loop(s, n, [&](const Value&, const Value& r) {
    count += data::truth(r);
    return true;
  });
  out = Value(count);
  return ok;
}

bool each(Scope& s, const Node& n, bool any, bool& result) {
  result = !any;
  return loop(s, n, [&](const Value&, const Value& r) {
    if (data::truth(r) != any) return true;
    result = any;
    return false;
  });
}

[[gnu::noinline]] bool form_each(Scope& s, const Node& n, bool any, Value& out) {
  bool result;
  if (!each(s, n, any, result)) return false;
  out = Value(result);
  return true;
}

[[gnu::noinline]] bool form_if(Scope& s, const Node& n, Value& out) {
  Value c;
  if (!Access::eval(s, n.a, c)) return false;
  return Access::eval(s, data::truth(c) ? n.b : n.c, out);
}

// "and" stops at the first falsy result, "or" at the first truthy one.
[[gnu::noinline]] bool logic(Scope& s, const Node& n, bool stop_on, Value& out) {
  Value v;
  for (uint32_t i = 0; i < n.args.size; ++i) {
    if (!Access::eval(s, n.args[i], v)) return false;
    if (data::truth(v) == stop_on) {
      out = Value(stop_on);
      return true;
    }
  }
  out = Value(!stop_on);
  return true;
}

[[gnu::noinline]] bool form_coalesce(Scope& s, const Node& n, Value& out) {
  for (uint32_t i = 0; i < n.args.size; ++i) {
    if (!Access::eval(s, n.args[i], out)) return false;
    if (!out.is_null()) return true;
  }
  out = Value();
  return true;
}

// Reads a variable along "path". Segments of a text path are split as the
// walk goes, so a walk that stops early never looks at the rest of the text.
bool form_get(Scope& s, const Node& n, Value& out) {
  const Value& path = *n.name;
  const Value* cur = nullptr;
  if (n.segments) {
    cur = Access::lookup(s, n.segments[0], n.hash);
    for (uint32_t i = 1; cur && i < n.segment_count; ++i) cur = index_str(*cur, n.segments[i]);
  } else if (path.is_string()) {
    Segments segs(path.str());
    std::string_view seg;
    segs.next(seg);
    cur = s.lookup(seg);
    while (cur && segs.next(seg)) cur = index_str(*cur, seg);
  } else if (n.args.size != 0) {
    ArgList list(n.args.size);
    if (!collect(s, n.args, list)) return false;
    const Args segs = list.args();
    // The lookup follows the evaluation: evaluating may move the bindings.
    cur = s.lookup(segs[0].str());
    for (size_t i = 1; cur && i < segs.size(); ++i) cur = index(*cur, segs[i]);
  }
  if (!cur) return Access::eval(s, n.b, out);
  out = *cur;
  return true;
}

[[gnu::noinline]] bool form_let(Scope& s, const Node& n, Value& out) {
  Restore restore(s);
  for (uint32_t i = 0; i < n.fields.size; ++i) {
    const detail::Field f = n.fields[i];
    Value v;
    if (!Access::eval(s, f.value, v)) return false;
    if (f.hash != 0) {
      Access::push(s, *f.key, f.hash, std::move(v));
    } else {
      s.push_key(*f.key, std::move(v));
    }
  }
  return Access::eval(s, n.a, out);
}

[[gnu::noinline]] bool form_call(Scope& s, const Node& n, Value& out) {
  const Value& fn = *n.name;
  const Value* def = s.functions().find(fn.str());
  if (!def || !def->is_object()) return Access::failed(s, "unknown function " + std::string(fn.str()));
  ArgList list(n.args.size);
  if (!collect(s, n.args, list)) return false;
  Args args = list.args();
  Restore restore(s);
  const Value& params = (*def)["params"];
  if (params.is_array()) {
    // A parameter without an argument binds a fresh null, charged like a null
    // literal, so a long parameter list cannot bind without bound.
    const size_t missing = params.size() > args.size() ? params.size() - args.size() : 0;
    if (missing > s.nodes) return Access::failed(s, limits::kAllocationLimit);
    s.nodes -= missing;
    for (size_t i = 0; i < params.size(); ++i) {
      const Value& p = params.arr()[i];
      s.push_key(p.is_string() ? p : kNoName, arg(args, i));
    }
  }
  return Access::eval(s, detail::Ref{&(*def)["body"]}, out);
}

[[gnu::noinline]] bool form_error(Scope& s, const Node& n, Value&) {
  Value m;
  if (!Access::eval(s, n.a, m)) return false;
  return Access::failed(s, std::string(m.str()));
}

[[gnu::noinline]] bool form_record(Scope& s, const Node& n, Value& out) {
  json::Object fields;
  fields.reserve(n.fields.size);
  for (uint32_t i = 0; i < n.fields.size; ++i) {
    const detail::Field f = n.fields[i];
    Value v;
    if (!Access::eval(s, f.value, v)) return false;
    fields.push_unique(*f.key, std::move(v));  // a parsed object's keys are distinct
  }
  out = Value(std::move(fields));
  return true;
}

[[gnu::noinline]] bool form_flags(Scope& s, const Node& n, Value& out) {
  Value table;
  if (!Access::eval(s, n.a, table)) return false;
  int64_t acc = 0;
  Value v;
  for (uint32_t i = 0; i < n.fields.size; ++i) {
    const detail::Field f = n.fields[i];
    if (!Access::eval(s, f.value, v)) return false;
    if (data::truth(v)) acc |= s.feature(table.str(), f.key->str());
  }
  out = Value(static_cast<long long>(acc));
  return true;
}

// ---------------------------------------------------------------- function operators

bool numbers(Args a) noexcept { return arg(a, 0).is_number() && arg(a, 1).is_number(); }
// A number as a float, as `Value::to_f64` has it, without the call.
double f64(const Value& v) noexcept {
  return v.is_u64() ? static_cast<double>(v.as_u64()) : v.is_i64() ? static_cast<double>(v.as_i64()) : v.as_f64();
}
double x0(Args a) noexcept { return f64(arg(a, 0)); }  // only for numbers
double x1(Args a) noexcept { return f64(arg(a, 1)); }

Eval op_eq(Scope&, const Value&, Args a) { return Value(data::eq(arg(a, 0), arg(a, 1))); }
Eval op_ne(Scope&, const Value&, Args a) { return Value(!data::eq(arg(a, 0), arg(a, 1))); }
Eval op_same(Scope&, const Value&, Args a) { return Value(arg(a, 0) == arg(a, 1)); }

Eval op_lt(Scope&, const Value&, Args a) { return Value(numbers(a) && x0(a) < x1(a)); }
Eval op_le(Scope&, const Value&, Args a) { return Value(numbers(a) && x0(a) <= x1(a)); }
Eval op_gt(Scope&, const Value&, Args a) { return Value(numbers(a) && x0(a) > x1(a)); }
Eval op_ge(Scope&, const Value&, Args a) { return Value(numbers(a) && x0(a) >= x1(a)); }

Eval op_add(Scope&, const Value&, Args a) { return numbers(a) ? data::number(x0(a) + x1(a)) : Value(); }
Eval op_sub(Scope&, const Value&, Args a) { return numbers(a) ? data::number(x0(a) - x1(a)) : Value(); }
Eval op_mul(Scope&, const Value&, Args a) { return numbers(a) ? data::number(x0(a) * x1(a)) : Value(); }
Eval op_div(Scope&, const Value&, Args a) { return numbers(a) ? data::number(x0(a) / x1(a)) : Value(); }
Eval op_min(Scope&, const Value&, Args a) {
  return numbers(a) ? data::number(x1(a) < x0(a) ? x1(a) : x0(a)) : Value();
}
Eval op_max(Scope&, const Value&, Args a) {
  return numbers(a) ? data::number(x1(a) > x0(a) ? x1(a) : x0(a)) : Value();
}

Eval op_num(Scope&, const Value&, Args a) { return data::number(data::n(arg(a, 0))); }

Eval op_floor(Scope&, const Value&, Args a) {
  return arg(a, 0).is_number() ? data::number(std::floor(x0(a))) : Value();
}

// Ties to even, independent of the floating-point environment's rounding
// mode. Works on the magnitude, where a - floor(a) is exact.
Eval op_round_half_even(Scope&, const Value&, Args a) {
  return arg(a, 0).is_number() ? data::number(data::round_even(x0(a))) : Value();
}

Eval op_remap(Scope&, const Value&, Args a) {
  if (a.size() != 5) return Value();
  for (const Value& v : a)
    if (!v.is_number()) return Value();
  double x = a[0].to_f64(), in_lo = a[1].to_f64(), in_hi = a[2].to_f64();
  double out_lo = a[3].to_f64(), out_hi = a[4].to_f64();
  return data::number(out_lo + ((x - in_lo) / (in_hi - in_lo)) * (out_hi - out_lo));
}

Eval op_bit_test(Scope&, const Value&, Args a) {
  if (!arg(a, 0).is_number()) return Value(false);
  // The index is truncated before it is compared, so 63.5 names bit 63;
  // negative and not-a-number read as 0, too large as the largest index.
  const double d = data::n(arg(a, 1));
  const uint32_t i = !(d > 0) ? 0 : d >= 4294967296.0 ? UINT32_MAX : static_cast<uint32_t>(d);
  if (i > 63) return Value(false);
  const auto bits = static_cast<uint64_t>(data::trunc_i64(x0(a)));
  return Value(((bits >> i) & 1) != 0);
}

Eval op_type_of(Scope&, const Value&, Args a) {
  switch (arg(a, 0).type()) {
    case json::Type::Null: return Value("null");
    case json::Type::Bool: return Value("boolean");
    case json::Type::Number: return Value("number");
    case json::Type::String: return Value("string");
    case json::Type::Array: return Value("array");
    default: return Value("object");
  }
}

Eval op_is_null(Scope&, const Value&, Args a) { return Value(arg(a, 0).is_null()); }
Eval op_is_number(Scope&, const Value&, Args a) { return Value(arg(a, 0).is_number()); }
Eval op_is_integer(Scope&, const Value&, Args a) { return Value(arg(a, 0).is_integer()); }
Eval op_not(Scope&, const Value&, Args a) { return Value(!data::truth(arg(a, 0))); }
Eval op_truthy(Scope&, const Value&, Args a) { return Value(data::truth(arg(a, 0))); }
Eval op_some(Scope&, const Value&, Args a) { return data::truth(arg(a, 0)) ? arg(a, 0) : Value(); }

Eval op_flag(Scope& s, const Value&, Args a) {
  const int64_t mask = data::trunc_i64(data::n(arg(a, 2)));
  return Value((mask & s.feature(arg(a, 0).str(), arg(a, 1).str())) != 0);
}

// ---------------------------------------------------------------- dispatch

constexpr ops::Entry kSpecialForms[] = {
    {"if", Form::If},         {"or", Form::Or},         {"and", Form::And},       {"get", Form::Get},
    {"let", Form::Let},       {"map", Form::Map},       {"any", Form::Any},       {"all", Form::All},
    {"call", Form::Call},     {"find", Form::Find},     {"error", Form::Error},   {"count", Form::Count},
    {"flags", Form::Flags},   {"record", Form::Record}, {"filter", Form::Filter}, {"literal", Form::Literal},
    {"coalesce", Form::Coalesce},
};

constexpr ops::FunctionOp kCoreOps[] = {
    {"eq", op_eq},
    {"ne", op_ne},
    {"same", op_same},
    {"lt", op_lt},
    {"le", op_le},
    {"gt", op_gt},
    {"ge", op_ge},
    {"add", op_add},
    {"sub", op_sub},
    {"mul", op_mul},
    {"div", op_div},
    {"min", op_min},
    {"max", op_max},
    {"num", op_num},
    {"floor", op_floor},
    {"round_half_even", op_round_half_even},
    {"remap", op_remap},
    {"bit_test", op_bit_test},
    {"type_of", op_type_of},
    {"is_null", op_is_null},
    {"is_number", op_is_number},
    {"is_integer", op_is_integer},
    {"not", op_not},
    {"truthy", op_truthy},
    {"some", op_some},
    {"flag", op_flag},
};

// All operator names in one open-addressing table, built on first use.
class Table {
 public:
  Table() {
    for (const ops::Entry& f : kSpecialForms) insert(f);
    for (const ops::FunctionOp& f : kCoreOps) insert({f.name, Form::Function, f.fn});
    for (const ops::FunctionOp& f : ops::data_ops()) insert({f.name, Form::Function, f.fn});
  }

  const ops::Entry* find(std::string_view name) const noexcept {
    if (name.size() > kLongest) return nullptr;
    for (size_t i = hash(name);; i = (i + 1) & kMask) {
      const ops::Entry& e = slots_[i];
      if (e.name.empty()) return nullptr;
      if (e.name == name) return &e;
    }
  }

 private:
  static constexpr size_t kMask = 255;
  static constexpr size_t kLongest = 15;

  static size_t hash(std::string_view s) noexcept {
    uint32_t h = 2166136261u;
    for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return (h ^ (h >> 13)) & kMask;
  }
  void insert(ops::Entry e) {
    size_t i = hash(e.name);
    while (!slots_[i].name.empty()) i = (i + 1) & kMask;
    slots_[i] = e;
  }

  std::array<ops::Entry, kMask + 1> slots_{};
};

const Table& table() {
  static const Table t;
  return t;
}

}  // namespace

const ops::Entry* ops::find(std::string_view name) noexcept { return table().find(name); }

Eval Scope::eval(const Value& expr) {
  Value out;
  if (!eval_into(expr, out)) return fail(std::move(failure_));
  return out;
}

bool Scope::eval_into(const Value& expr, Value& out) {
  if (expr.is_object()) {
    if (const detail::Pinned shape = detail::compiled_expression(expr)) return exec(shape.node(), out);
    const Value* name = expr.find("op");
    if (name && name->is_string()) return exec(detail::read(expr, *name), out);
  }
  if (const char* f = take(expr)) return failed(f);
  out = expr;
  return true;
}

bool Scope::exec(const Node& node, Value& out) {
  if (node.literal) {
    const detail::Measure& m = node.measure;
    if (const char* f = m.failure ? m.failure : take(m.nodes, m.bytes)) return failed(f);
    out = *node.expr;
    return true;
  }
  if (ops == 0) return failed(limits::kEvaluationLimit);
  --ops;
  if (depth >= limits::kNesting) return failed(limits::kNestingLimit);
  ++depth;
  bool ok;
  if (node.form == Form::Get && node.segment_count == 1) {
    // A plain variable, the most common operator call, without the dispatch.
    // The path is then the variable's name itself.
    const Value* v = Access::lookup(*this, node.segments[0], node.hash, node.name);
    ok = v ? (out = *v, true) : Access::eval(*this, node.b, out);
  } else {
    ok = op(node, out);
  }
  --depth;
  if (!ok) return false;
  if (const char* f = take(out)) {
    out = Value();
    return failed(f);
  }
  return true;
}

bool Scope::op(const Node& n, Value& out) {
  switch (n.form) {
    case Form::Function: break;
    case Form::If: return form_if(*this, n, out);
    case Form::Or: return logic(*this, n, true, out);
    case Form::And: return logic(*this, n, false, out);
    case Form::Get: return form_get(*this, n, out);
    case Form::Let: return form_let(*this, n, out);
    case Form::Map: return form_map(*this, n, out);
    case Form::Any: return form_each(*this, n, true, out);
    case Form::All: return form_each(*this, n, false, out);
    case Form::Call: return form_call(*this, n, out);
    case Form::Find: return form_find(*this, n, out);
    case Form::Error: return form_error(*this, n, out);
    case Form::Count: return form_count(*this, n, out);
    case Form::Flags: return form_flags(*this, n, out);
    case Form::Record: return form_record(*this, n, out);
    case Form::Filter: return form_filter(*this, n, out);
    case Form::Literal: out = *n.a.value; return true;
    case Form::Coalesce: return form_coalesce(*this, n, out);
  }
  ArgList list(n.args.size);
  if (!collect(*this, n.args, list)) return false;
  if (!n.entry) return failed("unknown expression op " + std::string(n.name->str()));
  Eval r = n.entry->fn(*this, *n.expr, list.args());
  if (!r.ok()) return failed(std::move(r).error());
  out = std::move(r).value();
  return true;
}

Result<json::Array, std::string> Scope::eval_args(const Value& expr) {
  struct Into {
    json::Array list;
    Value& next() { return list.emplace_back(); }
  } into;
  const Value& args = expr["args"];
  if (!collect(*this, Refs{&args.arr(), nullptr, static_cast<uint32_t>(args.arr().size())}, into))
    return fail(std::move(failure_));
  return std::move(into.list);
}

Result<bool, std::string> Scope::each(const Value& expr, bool any) {
  static const Value kAny("any"), kAll("all");
  bool result;
  if (!zefa::expr::each(*this, detail::read(expr, any ? kAny : kAll), any, result)) return fail(std::move(failure_));
  return result;
}

}  // namespace zefa::expr
