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

// Arguments without a heap allocation for the common short lists.
class ArgList {
 public:
  ArgList() noexcept {}
  ArgList(const ArgList&) = delete;
  ArgList& operator=(const ArgList&) = delete;
  ~ArgList() { std::destroy_n(small(), n_); }

  void push_back(Value v) {
    if (spill_.empty()) {
      if (n_ < kSmall) {
        new (small() + n_++) Value(std::move(v));
        return;
      }
      spill_.reserve(2 * kSmall);
      for (size_t i = 0; i < n_; ++i) spill_.push_back(std::move(small()[i]));
    }
    spill_.push_back(std::move(v));
  }
  Args args() noexcept { return spill_.empty() ? Args(small(), n_) : Args(spill_); }

 private:
  static constexpr size_t kSmall = 4;
  Value* small() noexcept { return std::launder(reinterpret_cast<Value*>(buf_)); }

  alignas(Value) unsigned char buf_[kSmall * sizeof(Value)];
  size_t n_ = 0;  // constructed in buf_
  std::vector<Value> spill_;
};

// Evaluates operands (an operand list or a path) in order into `out`; the
// first failure ends it.
template <class Out>
Done collect(Scope& s, const Refs& list, Out& out) {
  for (uint32_t i = 0; i < list.size; ++i) {
    ZEFA_TRY(Value v, Access::eval(s, list[i]));
    out.push_back(std::move(v));
  }
  return ok_unit;
}

// ---------------------------------------------------------------- special forms

// The loop forms: evaluates "do" for each element of the collection (the
// first "args" element) with the loop variable bound to a copy of the
// element. `step` sees the element and the result; false stops the loop.
// The binding is cut back after every element; as "do" leaves the stack as
// it found it, the next element can take over the same binding instead.
// The collection is held until the loop ends and nothing changes it in
// place, so the binding can refer to the element instead of copying it.
// `out`, when given, gets room for a result per element.
template <class Step>
Done loop(Scope& s, const Node& n, Step step, json::Array* out = nullptr) {
  Value coll;
  if (n.args.size != 0) {
    ZEFA_TRY(coll, Access::eval(s, n.args[0]));
  }
  if (!coll.is_array()) return ok_unit;
  if (out) out->reserve(coll.arr().size());
  const size_t mark = s.size();
  for (const Value& element : coll.arr()) {
    // A referring binding reads as a copy would; `coll` holds the element.
    if (s.size() == mark + 1) {
      Access::rebind_last(s, element);
    } else {
      s.truncate(mark);
      Access::refer(s, *n.name, n.hash, element);
    }
    Eval r = Access::eval(s, n.a);
    if (!r.ok()) {
      s.truncate(mark);
      return failure_of(std::move(r));
    }
    if (!step(element, r.value())) break;
  }
  s.truncate(mark);
  return ok_unit;
}

[[gnu::noinline]] Eval form_map(Scope& s, const Node& n) {
  json::Array out;
  ZEFA_CHECK(loop(
      s, n,
      [&](const Value&, Value& r) {
        out.push_back(std::move(r));
        return true;
      },
      &out));
  return Value(std::move(out));
}

[[gnu::noinline]] Eval form_filter(Scope& s, const Node& n) {
  json::Array out;
  ZEFA_CHECK(loop(s, n, [&](const Value& el, const Value& r) {
    if (data::truth(r)) out.push_back(el);
    return true;
  }));
  return Value(std::move(out));
}

[[gnu::noinline]] Eval form_find(Scope& s, const Node& n) {
  Value found;
  ZEFA_CHECK(loop(s, n, [&](const Value& el, const Value& r) {
    if (!data::truth(r)) return true;
    found = el;
    return false;
  }));
  return found;
}

[[gnu::noinline]] Eval form_count(Scope& s, const Node& n) {
  uint64_t count = 0;
  ZEFA_CHECK(loop(s, n, [&](const Value&, const Value& r) {
    count += data::truth(r);
    return true;
  }));
  return Value(count);
}

Result<bool, std::string> each(Scope& s, const Node& n, bool any) {
  bool result = !any;
  ZEFA_CHECK(loop(s, n, [&](const Value&, const Value& r) {
    if (data::truth(r) != any) return true;
    result = any;
    return false;
  }));
  return result;
}

[[gnu::noinline]] Eval form_any(Scope& s, const Node& n) {
  ZEFA_TRY(bool r, each(s, n, true));
  return Value(r);
}

[[gnu::noinline]] Eval form_all(Scope& s, const Node& n) {
  ZEFA_TRY(bool r, each(s, n, false));
  return Value(r);
}

[[gnu::noinline]] Eval form_if(Scope& s, const Node& n) {
  ZEFA_TRY(Value c, Access::eval(s, n.a));
  return Access::eval(s, data::truth(c) ? n.b : n.c);
}

// "and" stops at the first falsy result, "or" at the first truthy one.
[[gnu::noinline]] Eval logic(Scope& s, const Node& n, bool stop_on) {
  for (uint32_t i = 0; i < n.args.size; ++i) {
    ZEFA_TRY(Value v, Access::eval(s, n.args[i]));
    if (data::truth(v) == stop_on) return Value(stop_on);
  }
  return Value(!stop_on);
}

[[gnu::noinline]] Eval form_coalesce(Scope& s, const Node& n) {
  for (uint32_t i = 0; i < n.args.size; ++i) {
    ZEFA_TRY(Value v, Access::eval(s, n.args[i]));
    if (!v.is_null()) return v;
  }
  return Value();
}

// Reads a variable along "path". Segments of a text path are split as the
// walk goes, so a walk that stops early never looks at the rest of the text.
Eval form_get(Scope& s, const Node& n) {
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
    ArgList list;
    ZEFA_CHECK(collect(s, n.args, list));
    const Args segs = list.args();
    // The lookup follows the evaluation: evaluating may move the bindings.
    cur = s.lookup(segs[0].str());
    for (size_t i = 1; cur && i < segs.size(); ++i) cur = index(*cur, segs[i]);
  }
  if (cur) return *cur;
  return Access::eval(s, n.b);
}

[[gnu::noinline]] Eval form_let(Scope& s, const Node& n) {
  Restore restore(s);
  for (uint32_t i = 0; i < n.fields.size; ++i) {
    const detail::Field f = n.fields[i];
    ZEFA_TRY(Value v, Access::eval(s, f.value));
    if (f.hash != 0) {
      Access::push(s, *f.key, f.hash, std::move(v));
    } else {
      s.push_key(*f.key, std::move(v));
    }
  }
  return Access::eval(s, n.a);
}

[[gnu::noinline]] Eval form_call(Scope& s, const Node& n) {
  const Value& fn = *n.name;
  const Value* def = s.functions().find(fn.str());
  if (!def || !def->is_object()) return fail("unknown function " + std::string(fn.str()));
  ArgList list;
  ZEFA_CHECK(collect(s, n.args, list));
  Args args = list.args();
  Restore restore(s);
  const Value& params = (*def)["params"];
  if (params.is_array()) {
    // A parameter without an argument binds a fresh null, charged like a null
    // literal, so a long parameter list cannot bind without bound.
    const size_t missing = params.size() > args.size() ? params.size() - args.size() : 0;
    if (missing > s.nodes) return fail(limits::kAllocationLimit);
    s.nodes -= missing;
    for (size_t i = 0; i < params.size(); ++i) {
      const Value& p = params.arr()[i];
      s.push_key(p.is_string() ? p : kNoName, arg(args, i));
    }
  }
  return s.eval((*def)["body"]);
}

[[gnu::noinline]] Eval form_error(Scope& s, const Node& n) {
  ZEFA_TRY(Value m, Access::eval(s, n.a));
  return fail(std::string(m.str()));
}

[[gnu::noinline]] Eval form_record(Scope& s, const Node& n) {
  json::Object out;
  out.reserve(n.fields.size);
  for (uint32_t i = 0; i < n.fields.size; ++i) {
    const detail::Field f = n.fields[i];
    ZEFA_TRY(Value v, Access::eval(s, f.value));
    out.push_unique(*f.key, std::move(v));  // a parsed object's keys are distinct
  }
  return Value(std::move(out));
}

[[gnu::noinline]] Eval form_flags(Scope& s, const Node& n) {
  ZEFA_TRY(Value table, Access::eval(s, n.a));
  int64_t acc = 0;
  for (uint32_t i = 0; i < n.fields.size; ++i) {
    const detail::Field f = n.fields[i];
    ZEFA_TRY(Value v, Access::eval(s, f.value));
    if (data::truth(v)) acc |= s.feature(table.str(), f.key->str());
  }
  return Value(static_cast<long long>(acc));
}

[[gnu::noinline]] Eval form_literal(Scope&, const Node& n) { return *n.a.value; }

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
  double i = data::n(arg(a, 1));
  if (!(i > 0)) i = 0;  // negative and not-a-number
  if (i > 63) return Value(false);
  const auto bits = static_cast<uint64_t>(data::trunc_i64(x0(a)));
  return Value(((bits >> static_cast<unsigned>(i)) & 1) != 0);
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
  if (expr.is_object()) {
    if (const detail::Pinned shape = detail::compiled_expression(expr)) return exec(shape.node());
    const Value* name = expr.find("op");
    if (name && name->is_string()) return exec(detail::read(expr, *name));
  }
  if (const char* f = take(expr)) return fail(f);
  return expr;
}

Eval Scope::exec(const Node& node) {
  if (node.literal) {
    const detail::Measure& m = node.measure;
    if (const char* f = m.failure ? m.failure : take(m.nodes, m.bytes)) return fail(f);
    return *node.expr;
  }
  if (ops == 0) return fail(limits::kEvaluationLimit);
  --ops;
  if (depth >= limits::kNesting) return fail(limits::kNestingLimit);
  ++depth;
  Eval r = op(node);
  --depth;
  // One result object throughout, which the caller's receives in place.
  if (r.ok()) {
    if (const char* f = take(r.value())) r = fail(f);
  }
  return r;
}

Eval Scope::op(const Node& n) {
  switch (n.form) {
    case Form::Function: break;
    case Form::If: return form_if(*this, n);
    case Form::Or: return logic(*this, n, true);
    case Form::And: return logic(*this, n, false);
    case Form::Get: return form_get(*this, n);
    case Form::Let: return form_let(*this, n);
    case Form::Map: return form_map(*this, n);
    case Form::Any: return form_any(*this, n);
    case Form::All: return form_all(*this, n);
    case Form::Call: return form_call(*this, n);
    case Form::Find: return form_find(*this, n);
    case Form::Error: return form_error(*this, n);
    case Form::Count: return form_count(*this, n);
    case Form::Flags: return form_flags(*this, n);
    case Form::Record: return form_record(*this, n);
    case Form::Filter: return form_filter(*this, n);
    case Form::Literal: return form_literal(*this, n);
    case Form::Coalesce: return form_coalesce(*this, n);
  }
  ArgList list;
  ZEFA_CHECK(collect(*this, n.args, list));
  if (!n.entry) return fail("unknown expression op " + std::string(n.name->str()));
  return n.entry->fn(*this, *n.expr, list.args());
}

Result<json::Array, std::string> Scope::eval_args(const Value& expr) {
  json::Array out;
  const Value& args = expr["args"];
  ZEFA_CHECK(collect(*this, Refs{&args.arr(), nullptr, static_cast<uint32_t>(args.arr().size())}, out));
  return out;
}

Result<bool, std::string> Scope::each(const Value& expr, bool any) {
  static const Value kAny("any"), kAll("all");
  return zefa::expr::each(*this, detail::read(expr, any ? kAny : kAll), any);
}

}  // namespace zefa::expr
