// The evaluation scope of the expression language: the variables an
// expression sees, the function table of operator "call", and the budgets
// that bound one evaluation whatever the rule pack contains.
//
// A scope serves one evaluation (one entity computation, one machine
// invocation) on one thread and is never shared or serialized; it takes no
// locks. The values it refers to may be read by other threads at the same
// time, provided nobody changes them while the scope exists. Failures are
// plain message texts; the statement interpreter and its callers turn them
// into `EngineError`s of the plain-message kind.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "json.hpp"

namespace zefa::expr {

using json::Value;

// Every limit of an evaluation, with its message, in one place.
namespace limits {
inline constexpr uint64_t kOps = 1'000'000;          // operator evaluations per scope
inline constexpr uint64_t kNodes = 1'000'000;        // value nodes per scope
inline constexpr uint64_t kBytes = 16'777'216;       // text bytes per scope
inline constexpr uint64_t kNesting = 64;             // operator calls, statements, value levels
inline constexpr uint64_t kValueNodes = 100'000;     // nodes of one value
inline constexpr uint64_t kValueBytes = 1'048'576;   // text bytes of one value

inline constexpr const char* kEvaluationLimit = "rule evaluation limit exceeded";
inline constexpr const char* kNestingLimit = "rule nesting limit exceeded";
inline constexpr const char* kValueSizeLimit = "rule value size limit exceeded";
inline constexpr const char* kTextSizeLimit = "rule text size limit exceeded";
inline constexpr const char* kAllocationLimit = "rule allocation limit exceeded";
inline constexpr const char* kInstructionLimit = "rule instruction limit exceeded";
}  // namespace limits

// A value or a failure message.
using Eval = Result<Value, std::string>;
// Success or a failure message.
using Done = Status<std::string>;

namespace detail {
struct Node;
struct Measure;
struct Access;

// A vector whose first N elements live inside it: a scope of a few bindings
// then costs no allocation.
template <class T, size_t N>
class Small {
 public:
  Small() noexcept = default;
  Small(Small&& o) noexcept { take(o); }
  Small& operator=(Small&& o) noexcept {
    if (this != &o) {
      release();
      take(o);
    }
    return *this;
  }
  Small(const Small&) = delete;
  Small& operator=(const Small&) = delete;
  ~Small() { release(); }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* data() noexcept { return heap_ ? heap_ : local(); }
  const T* data() const noexcept { return heap_ ? heap_ : local(); }
  T& operator[](size_t i) noexcept { return data()[i]; }
  const T& operator[](size_t i) const noexcept { return data()[i]; }
  T& back() noexcept { return data()[size_ - 1]; }

  void push_back(T&& v) {
    if (size_ == cap_) regrow(cap_ * 2);
    new (data() + size_) T(std::move(v));
    ++size_;
  }
  void pop_back() noexcept { data()[--size_].~T(); }
  // Exactly n copies of v.
  void assign(size_t n, const T& v) {
    clear();
    if (n > cap_) regrow(n);
    for (size_t i = 0; i < n; ++i) new (data() + i) T(v);
    size_ = n;
  }

 private:
  T* local() noexcept { return std::launder(reinterpret_cast<T*>(local_)); }
  const T* local() const noexcept { return std::launder(reinterpret_cast<const T*>(local_)); }
  void clear() noexcept {
    if constexpr (std::is_trivially_destructible_v<T>) {
      size_ = 0;
    } else {
      while (size_ > 0) pop_back();
    }
  }
  void release() noexcept {
    clear();
    ::operator delete(heap_);
    heap_ = nullptr;
    cap_ = N;
  }
  void regrow(size_t cap) {
    T* fresh = static_cast<T*>(::operator new(cap * sizeof(T)));
    T* old = data();
    for (size_t i = 0; i < size_; ++i) {
      new (fresh + i) T(std::move(old[i]));
      old[i].~T();
    }
    ::operator delete(heap_);
    heap_ = fresh;
    cap_ = cap;
  }
  void take(Small& o) noexcept {
    if (o.heap_) {
      heap_ = o.heap_;
      cap_ = o.cap_;
      size_ = o.size_;
      o.heap_ = nullptr;
      o.cap_ = N;
      o.size_ = 0;
      return;
    }
    if constexpr (std::is_trivially_copyable_v<T>) {
      std::memcpy(local_, o.local_, o.size_ * sizeof(T));
    } else {
      for (size_t i = 0; i < o.size_; ++i) new (local() + i) T(std::move(o.local()[i]));
    }
    size_ = o.size_;
    o.clear();
  }

  T* heap_ = nullptr;
  size_t size_ = 0, cap_ = N;
  alignas(T) unsigned char local_[N * sizeof(T)];
};
}  // namespace detail

class Scope {
 public:
  // `functions` is where "call" looks functions up (the rule pack's
  // "functions" member, or null); it must outlive the scope and is only read.
  Scope() noexcept;
  explicit Scope(const Value& functions) noexcept;
  Scope(const Value&&) = delete;
  Scope(Scope&&) noexcept = default;
  Scope& operator=(Scope&&) noexcept = default;
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  // Budgets, taken from as the evaluation goes and never refunded.
  uint64_t ops = limits::kOps;      // operator evaluations still allowed
  uint64_t depth = 0;               // current nesting of operator calls
  uint64_t nodes = limits::kNodes;  // value nodes still allowed
  uint64_t bytes = limits::kBytes;  // text bytes still allowed

  // ---- variables: a stack whose innermost binding of a name wins.

  // Builder: binds `name` to `value` by reference. The value is never
  // changed through the scope and must outlive it (a context, the rule pack,
  // a machine's configuration); writing to the binding copies it first.
  Scope& with(std::string_view name, const Value& value) &;
  Scope&& with(std::string_view name, const Value& value) && { return std::move(with(name, value)); }
  Scope& with(std::string_view, const Value&&) & = delete;
  Scope&& with(std::string_view, const Value&&) && = delete;
  // Builder: binds every member of an object by reference, in member order;
  // anything else binds nothing. Same lifetime rule as `with`.
  Scope& with_fields(const Value& object) &;
  Scope&& with_fields(const Value& object) && { return std::move(with_fields(object)); }
  Scope& with_fields(const Value&&) & = delete;
  Scope&& with_fields(const Value&&) && = delete;

  // Appends a binding that owns its value; it becomes the innermost.
  void push(std::string_view name, Value value);
  // The same with the name given as a string value, such as an object's key
  // (its text is shared, not copied).
  void push_key(const Value& name, Value value);
  // The innermost binding of `name` takes the value (and owns it from now
  // on); without one the value is pushed.
  void set(std::string_view name, Value value);
  // The value of the innermost binding of `name`, or nullptr. The pointer is
  // valid until the variable stack next changes.
  const Value* lookup(std::string_view name) const noexcept;
  // The value of the innermost binding of `name`, for changing in place: a
  // referring binding first becomes an owned copy. nullptr when unbound.
  // Valid until the variable stack next changes.
  Value* lookup_mut(std::string_view name);
  // Number of bindings, and cutting the stack back to `count` (later
  // bindings are released; nothing happens when it is not longer).
  size_t size() const noexcept { return vars_.size(); }
  void truncate(size_t count) noexcept;

  const Value& functions() const noexcept { return *functions_; }

  // ---- evaluation

  // An object with a string "op" is an operator call: it takes one unit of
  // `ops`, may nest 64 deep, and its result is charged. Any other value is a
  // literal: charged, then returned as a copy (not looked into).
  // The shape of an object met more than once on a thread is read once and
  // kept (see expr/compiled.hpp); the budgets are charged the same either way.
  Eval eval(const Value& expr);
  // The elements of the expression's "args" (when an array), evaluated in
  // order; the first failure is returned.
  Result<json::Array, std::string> eval_args(const Value& expr);
  // Operators "any" (any = true) and "all" (any = false).
  Result<bool, std::string> each(const Value& expr, bool any);

  // Measures a value (per-value limits) and takes its size from `nodes` and
  // `bytes`. When the nodes fit but the bytes do not, `nodes` stays reduced.
  Done charge(const Value& value);

  // Assignment along a path: path[0] names the innermost binding to change,
  // later segments walk (and create) objects; a null value removes the last
  // member. Paths of more than 64 segments are refused, so assignments never
  // build values deeper than the engine can read back.
  Done assign(std::span<const std::string> path, Value value);

  // rules.features[section][key] of the innermost "rules" binding, as an
  // integer (numeric coercion, truncated, saturating); 0 when missing.
  int64_t feature(std::string_view section, std::string_view key) const noexcept;

 private:
  friend struct detail::Access;

  struct Binding {
    Value name;  // always a string
    Value own;
    const Value* ref = nullptr;  // set: a referring binding
    uint64_t hash = 0;
    uint32_t prev = 0;  // index + 1 of the binding this one hides; 0 none
    const Value& value() const noexcept { return ref ? *ref : own; }
  };

  // Evaluation writes into the caller's value and answers false on failure,
  // the message kept in `failure_` until the public entry hands it on.
  bool eval_into(const Value& expr, Value& out);
  // A read shape: an operator call or a literal.
  bool exec(const detail::Node& node, Value& out);
  bool op(const detail::Node& node, Value& out);
  bool failed(const char* message) {
    failure_ = message;
    return false;
  }
  bool failed(std::string&& message) noexcept {
    failure_ = std::move(message);
    return false;
  }
  // Takes a size from `nodes` and `bytes`: the limit message, or nullptr.
  const char* take(uint64_t n, uint64_t b) noexcept {
    if (n <= nodes) {
      nodes -= n;
      if (b <= bytes) {
        bytes -= b;
        return nullptr;
      }
    }
    return limits::kAllocationLimit;
  }
  // Measures a value and takes its size: what `charge` does, as a message.
  const char* take(const Value& value) noexcept {
    if (value.is_array() || value.is_object()) return take_container(value);
    const uint64_t b = value.is_string() ? value.str().size() : 0;
    return b > limits::kValueBytes ? limits::kTextSizeLimit : take(1, b);
  }
  const char* take_container(const Value& value) noexcept;
  void bind(const Value& name, uint64_t hash, Value own, const Value* ref);
  struct Probe {
    size_t slot;
    bool found;
  };
  Probe find(std::string_view name, uint64_t hash) const noexcept;
  Binding* innermost(std::string_view name) noexcept;
  void set(const Value& name, uint64_t hash, Value value);
  void grow();

  const Value* functions_;
  uint64_t seed_;
  // Room for the bindings of an entity read (rules, entity, status, key,
  // identity, config, roles, values, state, definition, the state's own
  // variables) without going to the heap.
  detail::Small<Binding, 16> vars_;
  // Open addressing over binding positions + 1 (0 is empty): each slot names
  // the innermost binding of one name, so lookups do not scan the stack.
  detail::Small<uint32_t, 32> slots_;
  size_t names_ = 0;
  std::string failure_;
};

// Cuts a scope's variable stack back, when it ends, to the length it had
// when the guard was made. The scope must outlive the guard.
class Restore {
 public:
  explicit Restore(Scope& scope) noexcept : scope_(&scope), count_(scope.size()) {}
  Restore(Restore&& o) noexcept : scope_(o.scope_), count_(o.count_) { o.scope_ = nullptr; }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;
  Restore& operator=(Restore&&) = delete;
  ~Restore() {
    if (scope_) scope_->truncate(count_);
  }

 private:
  Scope* scope_;
  size_t count_;
};

namespace bounded {
// Depth-first measurement of a value: every value is a node, string and key
// bytes are text. Counters are updated in place and saturate. Fails past 64
// levels, 100,000 nodes or 1,048,576 bytes.
Done visit(const Value& value, uint64_t& nodes, uint64_t& bytes, uint64_t depth);
}  // namespace bounded

// One step along a path: an object member by string key (a non-string key
// selects the member named ""), an array element by a non-negative integer
// or an unsigned decimal text ("+" allowed). nullptr when nothing is
// selected. The result points into `container`.
const Value* index(const Value& container, const Value& key) noexcept;
// The same with a text key.
const Value* index_str(const Value& container, std::string_view key) noexcept;

// Text form: null "", strings themselves, booleans "true"/"false", integral
// numbers below 1e15 in magnitude without fraction, other numbers, arrays
// and objects as compact JSON.
std::string text(const Value& value);

// `count` unsigned hexadecimal fields of `digits` characters each, read from
// an ASCII string of exactly digits * count bytes; null when anything fails.
Value hex_ints(const Value& value, uint64_t digits, uint64_t count);

// The segments of a path text, split at every full stop; nothing is dropped
// ("" is one empty segment, "a." ends in an empty one). Yields lazily, so a
// walk that stops early never splits the rest.
class Segments {
 public:
  explicit Segments(std::string_view path) noexcept : rest_(path) {}
  bool next(std::string_view& segment) noexcept;

 private:
  std::string_view rest_;
  bool done_ = false;
};
std::vector<std::string> split_path(std::string_view path);

}  // namespace zefa::expr
