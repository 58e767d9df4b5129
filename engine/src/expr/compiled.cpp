#include "expr/compiled.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>

namespace zefa::expr::detail {

using ops::Form;

namespace {

// Variable names that loop forms bind when the expression names none.
const Value kItem("item");
const Value kNoName("");

const Value* member(const Value& v, std::string_view key) noexcept { return &v[key]; }

// The loop forms, which evaluate only the first operand and read "as" and "do".
bool loops(Form f) noexcept {
  return f == Form::Map || f == Form::Any || f == Form::All || f == Form::Find || f == Form::Count ||
         f == Form::Filter;
}

Refs refs_of(const Value* list) noexcept {
  if (!list || !list->is_array()) return {};
  return {&list->arr(), nullptr, static_cast<uint32_t>(list->arr().size())};
}

Fields fields_of(const Value* object) noexcept {
  if (!object || !object->is_object()) return {};
  return {&object->obj(), nullptr, static_cast<uint32_t>(object->obj().size())};
}

}  // namespace

Node read(const Value& expr, const Value& op) {
  Node n;
  n.expr = &expr;
  n.name = &op;
  n.entry = ops::find(op.str());
  n.form = n.entry ? n.entry->form : Form::Function;
  if (loops(n.form)) {
    n.args = refs_of(expr.find("args"));
    const Value* as = expr.find("as");
    n.name = !as ? &kItem : as->is_string() ? as : &kNoName;
    n.hash = Access::hash(n.name->str());
    n.a.value = member(expr, "do");
    return n;
  }
  switch (n.form) {
    case Form::Function:
    case Form::Or:
    case Form::And:
    case Form::Coalesce: n.args = refs_of(expr.find("args")); break;
    case Form::If:
      n.a.value = member(expr, "condition");
      n.b.value = member(expr, "then");
      n.c.value = member(expr, "else");
      break;
    case Form::Get:
      n.name = member(expr, "path");
      n.args = refs_of(n.name);
      n.b.value = member(expr, "default");
      break;
    case Form::Let:
      n.fields = fields_of(expr.find("bind"));
      n.a.value = member(expr, "in");
      break;
    case Form::Call:
      n.name = member(expr, "fn");
      n.args = refs_of(expr.find("args"));
      break;
    case Form::Error: n.a.value = member(expr, "message"); break;
    case Form::Record: n.fields = fields_of(expr.find("fields")); break;
    case Form::Flags:
      n.a.value = member(expr, "table");
      n.fields = fields_of(expr.find("when"));
      break;
    case Form::Literal: n.a.value = member(expr, "value"); break;
    default: break;  // the loop forms, read above
  }
  return n;
}

Stmt read(const Value& stmt) {
  Stmt st;
  st.stmt = &stmt;
  if (stmt.is_object()) {
    if (const Value* cond = stmt.find("if")) {
      st.kind = Stmt::Kind::If;
      st.expr.value = cond;
      st.then.value = member(stmt, "then");
      st.otherwise.value = member(stmt, "else");
    } else if (const Value* use = stmt.find("$use")) {
      st.kind = Stmt::Kind::Use;
      st.name = use;
    } else if (const Value* let = stmt.find("let")) {
      st.kind = Stmt::Kind::Let;
      // A name that is no string binds "" (its text), as a string.
      st.name = let->is_string() ? let : &kNoName;
      st.hash = Access::hash(st.name->str());
      st.expr.value = member(stmt, "value");
    }
  }
  return st;
}

// ---------------------------------------------------------------- arena

struct Arena::Block {
  Block* next;
  alignas(std::max_align_t) unsigned char data[1];
};

Arena::~Arena() {
  while (head_) {
    Block* next = head_->next;
    std::free(head_);
    head_ = next;
  }
}

void* Arena::bytes(size_t size, size_t align) {
  size_t at = (used_ + align - 1) & ~(align - 1);
  if (!head_ || at + size > room_) {
    const size_t room = std::max<size_t>(size, 4096 - sizeof(Block));
    void* mem = std::malloc(offsetof(Block, data) + room);
    if (!mem) throw std::bad_alloc();
    head_ = new (mem) Block{head_, {}};
    room_ = room;
    at = 0;
  }
  used_ = at + size;
  return head_->data + at;
}

// ---------------------------------------------------------------- compiling

namespace {

// Bounds on one compiled node: the shapes it holds and how deep it resolves
// operands. What lies beyond stays plain and is read when evaluated (and may
// become a cache entry of its own).
constexpr size_t kRootShapes = 4096;
constexpr uint64_t kDepth = limits::kNesting;
// Text paths of more segments are split as they are walked.
constexpr size_t kSegments = 16;

class Compiler {
 public:
  explicit Compiler(Root& root) : root_(root) {}

  Ref ref(Ref r, uint64_t depth) {
    if (!r.value || depth >= kDepth || !spend()) return r;
    const Value& v = *r.value;
    if (v.is_object()) {
      const Value* op = v.find("op");
      if (op && op->is_string()) return {&v, node(v, *op, depth)};
    }
    Node* n = root_.arena.make<Node>();
    n->literal = true;
    n->expr = &v;
    n->measure = measure(v);
    return {&v, n};
  }

  // Only called with a shape to spare.
  Node* node(const Value& expr, const Value& op, uint64_t depth) {
    Node* n = root_.arena.make<Node>();
    *n = read(expr, op);
    if (loops(n->form)) {
      n->args = refs(n->args, n->args.size == 0 ? 0 : 1, depth);  // only the first is evaluated
      n->a = ref(n->a, depth + 1);
      return n;
    }
    switch (n->form) {
      case Form::Literal: break;  // "value" is never evaluated
      case Form::Get:
        if (n->name->is_string()) {
          split(*n);
        } else {
          n->args = refs(n->args, n->args.size, depth);
        }
        n->b = ref(n->b, depth + 1);
        break;
      default:
        n->args = refs(n->args, n->args.size, depth);
        n->a = ref(n->a, depth + 1);
        n->b = ref(n->b, depth + 1);
        n->c = ref(n->c, depth + 1);
        n->fields = fields(n->fields, depth);
        break;
    }
    return n;
  }

  Block block(Block b, uint64_t depth) {
    const Value& v = *b.value;
    if (v.is_array() && !v.arr().empty() && depth < kDepth) b.program = program(v, depth);
    return b;
  }

  // nullptr when the program holds more statements than there are shapes to spare.
  const Program* program(const Value& list, uint64_t depth) {
    const json::Array& a = list.arr();
    if (a.size() > left_) return nullptr;
    left_ -= a.size();
    Stmt* stmts = root_.arena.make<Stmt>(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
      Stmt& st = stmts[i] = read(a[i]);
      if (st.kind == Stmt::Kind::If) {
        st.expr = ref(st.expr, 0);
        st.then = block(st.then, depth + 1);
        st.otherwise = block(st.otherwise, depth + 1);
      } else if (st.kind == Stmt::Kind::Let) {
        st.expr = ref(st.expr, 0);
      }
    }
    Program* p = root_.arena.make<Program>();
    *p = {stmts, static_cast<uint32_t>(a.size())};
    return p;
  }

  bool spend() noexcept {
    if (left_ == 0) return false;
    --left_;
    return true;
  }

  size_t spent() const noexcept { return kRootShapes - left_; }

 private:
  Refs refs(Refs list, uint32_t count, uint64_t depth) {
    if (count == 0) return list;
    Ref* out = root_.arena.make<Ref>(count);
    for (uint32_t i = 0; i < count; ++i) out[i] = ref(list[i], depth + 1);
    return {list.raw, out, count};
  }

  Fields fields(Fields list, uint64_t depth) {
    if (list.size == 0) return list;
    Field* out = root_.arena.make<Field>(list.size);
    for (uint32_t i = 0; i < list.size; ++i) {
      Field f = list[i];
      out[i] = {f.key, Access::hash(f.key->str()), ref(f.value, depth + 1)};
    }
    return {list.raw, out, list.size};
  }

  void split(Node& n) {
    std::string_view segments[kSegments];
    uint32_t count = 0;
    Segments walk(n.name->str());
    for (std::string_view s; walk.next(s);) {
      if (count == kSegments) return;
      segments[count++] = s;
    }
    auto* out = root_.arena.make<std::string_view>(count);
    std::copy(segments, segments + count, out);
    n.segments = out;
    n.segment_count = count;
    n.hash = Access::hash(out[0]);
  }

  Root& root_;
  size_t left_ = kRootShapes;
};

std::unique_ptr<Root> compile(const Value& v) {
  auto root = std::make_unique<Root>();
  root->source = v;
  Compiler c(*root);
  if (v.is_array()) {
    root->program = c.program(root->source, 0);
    if (!root->program) return nullptr;
  } else {
    root->node = c.ref(Ref{&root->source}, 0).node;
  }
  root->size = c.spent();
  return root;
}

// ---------------------------------------------------------------- the cache

// Set-associative, keyed by node address, least recently found replaced. A
// node is compiled when it is met the second time: values built for one
// evaluation then never reach the cache, which would only churn it.
class Cache {
 public:
  Cache() = default;
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;
  ~Cache() { clear(); }

  Root* find(const void* key, const Value& v) {
    Way* set = sets_[index(key, kSetBits)];
    for (size_t w = 0; w < kWays; ++w) {
      // The entry holds its node, so a matching address is that very node.
      if (set[w].key == key && set[w].root->source.same(v)) {
        set[w].root->used = ++clock_;
        return set[w].root;
      }
    }
    const void*& hint = hints_[index(key, kHintBits)];
    if (hint != key) {
      hint = key;
      return nullptr;
    }
    hint = nullptr;
    std::unique_ptr<Root> root = compile(v);
    if (!root) return nullptr;
    if (shapes_ + root->size > kShapes) clear();
    Way* victim = &set[0];
    for (size_t w = 0; w < kWays; ++w) {
      if (set[w].key == key || !set[w].root) {
        victim = &set[w];
        break;
      }
      if (set[w].root->used < victim->root->used) victim = &set[w];
    }
    if (victim->root) drop(victim->root);
    root->used = ++clock_;
    shapes_ += root->size;
    ++count_;
    *victim = {key, root.release()};
    return victim->root;
  }

  size_t count() const noexcept { return count_; }

 private:
  static constexpr unsigned kSetBits = 8, kHintBits = 10;
  static constexpr size_t kWays = 4;
  // Shapes held per thread; past it the cache starts afresh.
  static constexpr size_t kShapes = 32768;

  struct Way {
    const void* key = nullptr;
    Root* root = nullptr;
  };

  static size_t index(const void* key, unsigned bits) noexcept {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(key) >> 4) * 0x9e3779b97f4a7c15ULL >> (64 - bits));
  }

  void drop(Root* root) noexcept {
    shapes_ -= root->size;
    --count_;
    if (root->pins != 0) {
      root->dropped = true;
    } else {
      delete root;
    }
  }

  void clear() noexcept {
    for (auto& set : sets_)
      for (Way& w : set) {
        if (w.root) drop(w.root);
        w = {};
      }
  }

  Way sets_[size_t{1} << kSetBits][kWays] = {};
  const void* hints_[size_t{1} << kHintBits] = {};
  uint64_t clock_ = 0;
  size_t shapes_ = 0, count_ = 0;
};

thread_local Cache* t_cache = nullptr;
thread_local bool t_closed = false;

// The calling thread's cache, made on first use; nullptr once the thread's
// storage is being torn down.
Cache* cache() {
  if (Cache* c = t_cache) return c;
  if (t_closed) return nullptr;
  struct Owner {
    std::unique_ptr<Cache> cache = std::make_unique<Cache>();
    ~Owner() {
      t_cache = nullptr;
      t_closed = true;
    }
  };
  static thread_local Owner owner;
  t_cache = owner.cache.get();
  return t_cache;
}

}  // namespace

// The key is the address of the container handle, which for an object or
// array value is the value itself: taken as such, without a call to reach it.
Pinned compiled_expression(const Value& object) {
  Cache* c = cache();
  return Pinned(c ? c->find(&object, object) : nullptr);
}

Pinned compiled_program(const Value& array) {
  Cache* c = cache();
  return Pinned(c ? c->find(&array, array) : nullptr);
}

size_t cached_shapes() noexcept {
  Cache* c = t_cache;
  return c ? c->count() : 0;
}

}  // namespace zefa::expr::detail
