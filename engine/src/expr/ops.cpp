// Operator dispatch, the special forms, and the comparison, arithmetic, type,
// logic and feature operators.
#include "expr/ops.hpp"

#include <array>
#include <cmath>
#include <limits>

#include "data/data.hpp"

namespace zefa::expr {

using ops::Args;
using ops::arg;

namespace {

// Variable names that operators bind when the expression names none.
const Value kItem("item");
const Value kNoName("");

// Arguments without a heap allocation for the common short lists.
class ArgList {
 public:
  void push_back(Value v) {
    if (n_ < small_.size()) {
      small_[n_++] = std::move(v);
      return;
    }
    if (spill_.empty()) spill_.assign(std::make_move_iterator(small_.begin()), std::make_move_iterator(small_.end()));
    spill_.push_back(std::move(v));
  }
  Args args() const noexcept { return spill_.empty() ? Args(small_.data(), n_) : Args(spill_); }

 private:
  std::array<Value, 4> small_;
  size_t n_ = 0;
  std::vector<Value> spill_;
};

// Evaluates the elements of a list (an operand list or a path) in order into
// `out`; the first failure ends it. Anything but an array adds nothing.
template <class Out>
Done collect(Scope& s, const Value& list, Out& out) {
  for (const Value& e : list.arr()) {
    ZEFA_TRY(Value v, s.eval(e));
    out.push_back(std::move(v));
  }
  return ok_unit;
}

// ---------------------------------------------------------------- special forms

// The loop forms: evaluates "do" for each element of the collection (the
// first "args" element) with the loop variable bound to a copy of the
// element. `step` sees the element and the result; false stops the loop.
template <class Step>
Done loop(Scope& s, const Value& expr, Step step) {
  const Value* args = expr.find("args");
  Value coll;
  if (args && args->is_array() && !args->arr().empty()) {
    ZEFA_TRY(coll, s.eval(args->arr()[0]));
  }
  if (!coll.is_array()) return ok_unit;
  const Value* as = expr.find("as");
  const Value& name = !as ? kItem : as->is_string() ? *as : kNoName;
  const Value& body = expr["do"];
  const size_t mark = s.size();
  for (const Value& element : coll.arr()) {
    s.push_key(name, element);
    Eval r = s.eval(body);
    s.truncate(mark);
    if (!r.ok()) return failure_of(std::move(r));
    if (!step(element, r.value())) break;
  }
  return ok_unit;
}

Eval form_map(Scope& s, const Value& e) {
  json::Array out;
  ZEFA_CHECK(loop(s, e, [&](const Value&, Value& r) {
    out.push_back(std::move(r));
    return true;
  }));
  return Value(std::move(out));
}

Eval form_filter(Scope& s, const Value& e) {
  json::Array out;
  ZEFA_CHECK(loop(s, e, [&](const Value& el, const Value& r) {
    if (data::truth(r)) out.push_back(el);
    return true;
  }));
  return Value(std::move(out));
}

Eval form_find(Scope& s, const Value& e) {
  Value found;
  ZEFA_CHECK(loop(s, e, [&](const Value& el, const Value& r) {
    if (!data::truth(r)) return true;
    found = el;
    return false;
  }));
  return found;
}

Eval form_count(Scope& s, const Value& e) {
  uint64_t n = 0;
  ZEFA_CHECK(loop(s, e, [&](const Value&, const Value& r) {
    n += data::truth(r);
    return true;
  }));
  return Value(n);
}

Eval form_any(Scope& s, const Value& e) {
  ZEFA_TRY(bool r, s.each(e, true));
  return Value(r);
}

Eval form_all(Scope& s, const Value& e) {
  ZEFA_TRY(bool r, s.each(e, false));
  return Value(r);
}

Eval form_if(Scope& s, const Value& e) {
  ZEFA_TRY(Value c, s.eval(e["condition"]));
  return s.eval(data::truth(c) ? e["then"] : e["else"]);
}

// "and" stops at the first falsy result, "or" at the first truthy one.
Eval logic(Scope& s, const Value& e, bool stop_on) {
  for (const Value& x : e["args"].arr()) {
    ZEFA_TRY(Value v, s.eval(x));
    if (data::truth(v) == stop_on) return Value(stop_on);
  }
  return Value(!stop_on);
}

Eval form_and(Scope& s, const Value& e) { return logic(s, e, false); }
Eval form_or(Scope& s, const Value& e) { return logic(s, e, true); }

Eval form_coalesce(Scope& s, const Value& e) {
  for (const Value& x : e["args"].arr()) {
    ZEFA_TRY(Value v, s.eval(x));
    if (!v.is_null()) return v;
  }
  return Value();
}

// Reads a variable along "path". Segments of a text path are split as the
// walk goes, so a walk that stops early never looks at the rest of the text.
Eval form_get(Scope& s, const Value& e) {
  const Value& path = e["path"];
  const Value* cur = nullptr;
  if (path.is_string()) {
    Segments segs(path.str());
    std::string_view seg;
    segs.next(seg);
    cur = s.lookup(seg);
    while (cur && segs.next(seg)) cur = index_str(*cur, seg);
  } else if (path.is_array() && !path.arr().empty()) {
    json::Array segs;
    ZEFA_CHECK(collect(s, path, segs));
    // The lookup follows the evaluation: evaluating may move the bindings.
    cur = s.lookup(segs[0].str());
    for (size_t i = 1; cur && i < segs.size(); ++i) cur = index(*cur, segs[i]);
  }
  if (cur) return *cur;
  return s.eval(e["default"]);
}

Eval form_let(Scope& s, const Value& e) {
  Restore restore(s);
  for (const json::Member& m : e["bind"].obj()) {
    ZEFA_TRY(Value v, s.eval(m.value));
    s.push_key(m.key, std::move(v));
  }
  return s.eval(e["in"]);
}

Eval form_call(Scope& s, const Value& e) {
  const Value& fn = e["fn"];
  const Value* def = s.functions().find(fn.str());
  if (!def || !def->is_object()) return fail("unknown function " + std::string(fn.str()));
  ArgList list;
  ZEFA_CHECK(collect(s, e["args"], list));
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

Eval form_error(Scope& s, const Value& e) {
  ZEFA_TRY(Value m, s.eval(e["message"]));
  return fail(std::string(m.str()));
}

Eval form_record(Scope& s, const Value& e) {
  json::Object out;
  const json::Object& fields = e["fields"].obj();
  out.reserve(fields.size());
  for (const json::Member& m : fields) {
    ZEFA_TRY(Value v, s.eval(m.value));
    out.push_unique(m.key, std::move(v));  // a parsed object's keys are distinct
  }
  return Value(std::move(out));
}

Eval form_flags(Scope& s, const Value& e) {
  ZEFA_TRY(Value table, s.eval(e["table"]));
  int64_t acc = 0;
  for (const json::Member& m : e["when"].obj()) {
    ZEFA_TRY(Value v, s.eval(m.value));
    if (data::truth(v)) acc |= s.feature(table.str(), m.name());
  }
  return Value(static_cast<long long>(acc));
}

Eval form_literal(Scope&, const Value& e) { return e["value"]; }

// ---------------------------------------------------------------- function operators

bool numbers(Args a) noexcept { return arg(a, 0).is_number() && arg(a, 1).is_number(); }
double x0(Args a) noexcept { return arg(a, 0).to_f64(); }
double x1(Args a) noexcept { return arg(a, 1).to_f64(); }

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

using Special = Eval (*)(Scope&, const Value& expr);

struct SpecialForm {
  std::string_view name;
  Special fn;
};

constexpr SpecialForm kSpecialForms[] = {
    {"if", form_if},         {"or", form_or},         {"and", form_and},       {"get", form_get},
    {"let", form_let},       {"map", form_map},       {"any", form_any},       {"all", form_all},
    {"call", form_call},     {"find", form_find},     {"error", form_error},   {"count", form_count},
    {"flags", form_flags},   {"record", form_record}, {"filter", form_filter}, {"literal", form_literal},
    {"coalesce", form_coalesce},
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
  struct Entry {
    std::string_view name;
    Special special = nullptr;
    ops::Function function = nullptr;
  };

  Table() {
    for (const SpecialForm& f : kSpecialForms) insert({f.name, f.fn, nullptr});
    for (const ops::FunctionOp& f : kCoreOps) insert({f.name, nullptr, f.fn});
    for (const ops::FunctionOp& f : ops::data_ops()) insert({f.name, nullptr, f.fn});
  }

  const Entry* find(std::string_view name) const noexcept {
    if (name.size() > kLongest) return nullptr;
    for (size_t i = hash(name);; i = (i + 1) & kMask) {
      const Entry& e = slots_[i];
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
  void insert(Entry e) {
    size_t i = hash(e.name);
    while (!slots_[i].name.empty()) i = (i + 1) & kMask;
    slots_[i] = e;
  }

  std::array<Entry, kMask + 1> slots_{};
};

const Table& table() {
  static const Table t;
  return t;
}

}  // namespace

Eval Scope::op(std::string_view name, const Value& expr) {
  const Table::Entry* e = table().find(name);
  if (e && e->special) return e->special(*this, expr);
  ArgList list;
  ZEFA_CHECK(collect(*this, expr["args"], list));
  if (!e) return fail("unknown expression op " + std::string(name));
  return e->function(*this, expr, list.args());
}

Result<json::Array, std::string> Scope::eval_args(const Value& expr) {
  json::Array out;
  ZEFA_CHECK(collect(*this, expr["args"], out));
  return out;
}

Result<bool, std::string> Scope::each(const Value& expr, bool any) {
  bool result = !any;
  ZEFA_CHECK(loop(*this, expr, [&](const Value&, const Value& r) {
    if (data::truth(r) != any) return true;
    result = any;
    return false;
  }));
  return result;
}

}  // namespace zefa::expr
