// The shape of expressions and rule programs: what evaluating one reads
// before it can do any work (the operator, the operand list and named
// members, the segments of a path, the kind of each statement), apart from
// the work itself, so that it can be read once per node.
//
// A node met for the first time is read shallowly: its operands stay plain
// values, each read in turn when it is evaluated. A node met again is
// compiled: operands are resolved recursively and literals measured once.
// Compiled shapes live in a cache of the calling thread, keyed by the node's
// address. Each entry holds a reference to its node, so while the entry
// exists the node is neither freed (its address cannot come back for another
// node) nor changed in place (a shared node is copied before any write).
// No cache is shared between threads, so none takes a lock.
//
// Internal to the expression module: the scope, the operators and the
// statement interpreter.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>
#include <type_traits>

#include "expr/ops.hpp"
#include "expr/scope.hpp"

namespace zefa::expr::detail {

struct Node;
struct Program;

// An operand: its compiled shape, or the plain value to evaluate.
struct Ref {
  const Value* value = nullptr;  // never null once read
  const Node* node = nullptr;
};

// Operands in order: compiled, or the elements of an array value.
struct Refs {
  const json::Array* raw = nullptr;
  const Ref* refs = nullptr;
  uint32_t size = 0;
  Ref operator[](size_t i) const noexcept { return refs ? refs[i] : Ref{&(*raw)[i]}; }
};

// A named operand (a member of "bind", "fields" or "when").
struct Field {
  const Value* key = nullptr;
  uint64_t hash = 0;  // of the key, when compiled; 0 when not known
  Ref value;
};

struct Fields {
  const json::Object* raw = nullptr;
  const Field* fields = nullptr;
  uint32_t size = 0;
  Field operator[](size_t i) const noexcept {
    if (fields) return fields[i];
    const json::Member& m = raw->at(i);
    return {&m.key, 0, Ref{&m.value}};
  }
};

// The budget a value takes when charged: the outcome of measuring it.
struct Measure {
  uint64_t nodes = 0;
  uint64_t bytes = 0;
  const char* failure = nullptr;  // one of the limit messages, or nullptr
};
Measure measure(const Value& value) noexcept;

// One expression: an operator call or a literal.
struct Node {
  bool literal = false;
  ops::Form form = ops::Form::Function;
  const Value* expr = nullptr;        // the expression; for a literal, the value
  const ops::Entry* entry = nullptr;  // nullptr: no operator of that name
  const Value* name = nullptr;        // "op"; loops: the variable; "call": "fn"; "get": "path"
  uint64_t hash = 0;                  // loops: of the variable; "get": of the first segment
  Refs args;                          // "args"; "get": an array path
  Ref a, b, c;                        // the form's members, in the order the form reads them
  Fields fields;                      // "bind", "fields", "when"
  const std::string_view* segments = nullptr;  // "get" with a text path, compiled
  uint32_t segment_count = 0;
  Measure measure;  // a compiled literal
};

// Reads an operator call (`op` is its "op" member, a string) shallowly.
Node read(const Value& expr, const Value& op);

// One statement of a rule program, and a program as its statements.
struct Block {
  const Value* value = nullptr;
  const Program* program = nullptr;  // compiled: a non-empty array
};

struct Stmt {
  enum class Kind : uint8_t { If, Use, Let, Sink };
  Kind kind = Kind::Sink;
  const Value* stmt = nullptr;
  Ref expr;                // "if", or the "value" of a "let"
  Block then, otherwise;   // "then", "else"
  const Value* name = nullptr;  // "$use", "let"
  uint64_t hash = 0;            // "let": of the name's text
};

Stmt read(const Value& stmt);

struct Program {
  const Stmt* stmts = nullptr;
  uint32_t size = 0;
};

// Storage for the shapes of one compiled node: every piece lives as long as
// the node's cache entry and is freed with it at once.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();
  // Room for `n` objects of a trivially destructible type, value-initialized.
  template <class T>
  T* make(size_t n = 1) {
    static_assert(std::is_trivially_destructible_v<T>);
    T* p = static_cast<T*>(bytes(sizeof(T) * n, alignof(T)));
    for (size_t i = 0; i < n; ++i) new (p + i) T();
    return p;
  }

 private:
  void* bytes(size_t size, size_t align);
  struct Block;
  Block* head_ = nullptr;
  size_t used_ = 0, room_ = 0;
};

// A cache entry: the node it was compiled from and its shape.
struct Root {
  Value source;  // holds the node: see the file comment
  Arena arena;
  const Node* node = nullptr;
  const Program* program = nullptr;
  size_t size = 0;     // shapes compiled (nodes and statements)
  uint64_t used = 0;   // when last found, for replacement
  uint32_t pins = 0;   // evaluations running it
  bool dropped = false;  // out of the cache: freed when the last pin goes
};

// A compiled shape held from the calling thread's cache for as long as it is
// in use: the cache may drop the entry meanwhile (nested evaluations insert
// others), but it is freed only when the last holder lets go.
class Pinned {
 public:
  Pinned() noexcept = default;
  explicit Pinned(Root* root) noexcept : root_(root) {
    if (root_) ++root_->pins;
  }
  Pinned(const Pinned&) = delete;
  Pinned& operator=(const Pinned&) = delete;
  ~Pinned() {
    if (root_ && --root_->pins == 0 && root_->dropped) delete root_;
  }

  explicit operator bool() const noexcept { return root_ != nullptr; }
  const Node& node() const noexcept { return *root_->node; }
  const Program& program() const noexcept { return *root_->program; }

 private:
  Root* root_ = nullptr;
};

// The compiled shape of an object expression, or of a non-empty array as a
// rule program; empty when the node is met for the first time (read it
// shallowly then). The result must be let go of on the calling thread.
Pinned compiled_expression(const Value& object);
Pinned compiled_program(const Value& array);

// The number of compiled shapes the calling thread's cache holds.
size_t cached_shapes() noexcept;

// The scope's internals that the operators and the interpreter use.
struct Access {
  // Evaluates into `out`; false on failure, the message then in `failure`.
  static bool eval(Scope& s, const Ref& r, Value& out) {
    if (!r.node) return s.eval_into(*r.value, out);
    if (!r.node->literal) return s.exec(*r.node, out);
    // Literal operands are the most common of all: taken here, without a call.
    if (!charge_literal(s, *r.node)) return false;
    out = *r.node->expr;
    return true;
  }
  // Charges a compiled literal as evaluating it would; its value is then
  // *node.expr, for the caller to copy where it needs it.
  static bool charge_literal(Scope& s, const Node& node) noexcept {
    const Measure& m = node.measure;
    if (const char* f = m.failure ? m.failure : s.take(m.nodes, m.bytes)) return s.failed(f);
    return true;
  }
  static std::string failure(Scope& s) noexcept { return std::move(s.failure_); }
  template <class Message>
  static bool failed(Scope& s, Message&& message) {
    return s.failed(std::forward<Message>(message));
  }
  static void push(Scope& s, const Value& name, uint64_t hash, Value value) {
    s.bind(name, hash, std::move(value), nullptr);
  }
  // What Scope::set does, with the name as a string value and its hash.
  static void set(Scope& s, const Value& name, uint64_t hash, Value value) {
    s.set(name, hash, std::move(value));
  }
  // A referring binding: `value` must outlive it and stay unchanged.
  static void refer(Scope& s, const Value& name, uint64_t hash, const Value& value) {
    s.bind(name, hash, Value(), &value);
  }
  // The innermost binding, which the caller made with `refer`, refers to
  // another value.
  static void rebind_last(Scope& s, const Value& value) noexcept { s.vars_.back().ref = &value; }
  // The innermost binding of `name` (with its hash, and as a string value
  // when the caller has one at hand: equal names are then mostly the same
  // bits, found without comparing texts).
  static const Value* lookup(const Scope& s, std::string_view name, uint64_t hash,
                             const Value* as_value = nullptr) noexcept {
    if (s.slots_.empty()) return nullptr;
    const size_t mask = s.slots_.size() - 1;
    const uint32_t* slots = s.slots_.data();
    const Scope::Binding* vars = s.vars_.data();
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const uint32_t at = slots[i];
      if (at == 0) return nullptr;
      const Scope::Binding& b = vars[at - 1];
      if (b.hash == hash && ((as_value && b.name.same(*as_value)) || b.name.str() == name)) return &b.value();
    }
  }
  static uint64_t hash(std::string_view name) noexcept { return json::hash_bytes(name, json::hash_seed()); }
};

}  // namespace zefa::expr::detail
