#include "expr/scope.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "data/data.hpp"
#include "expr/compiled.hpp"
#include "text.hpp"

namespace zefa::expr {

namespace {

const Value kNull;

inline uint64_t sat_add(uint64_t a, uint64_t b) noexcept {
  uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? std::numeric_limits<uint64_t>::max() : r;
}

// Byte equality; names are short, so without a library call for them.
bool same_text(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  if (a.size() > 16) return a == b;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool read_hex(std::string_view s, uint64_t& out) noexcept {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  uint64_t v = 0;
  for (char c : s) {
    int d = hex_digit(c);
    if (d < 0 || v > (std::numeric_limits<uint64_t>::max() >> 4)) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  out = v;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- bindings

Scope::Scope() noexcept : Scope(kNull) {}

Scope::Scope(const Value& functions) noexcept : functions_(&functions), seed_(json::hash_seed()) {}

Scope::Probe Scope::find(std::string_view name, uint64_t hash) const noexcept {
  if (slots_.empty()) return {0, false};
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    uint32_t s = slots_[i];
    if (s == 0) return {i, false};
    const Binding& b = vars_[s - 1];
    if (b.hash == hash && same_text(b.name.str(), name)) return {i, true};
  }
}

void Scope::grow() {
  size_t cap = slots_.empty() ? 32 : slots_.size() * 2;
  slots_.assign(cap, 0);
  const size_t mask = cap - 1;
  // Later bindings overwrite earlier ones, so each slot ends at the innermost.
  for (size_t pos = 0; pos < vars_.size(); ++pos) {
    const Binding& b = vars_[pos];
    size_t i = b.hash & mask;
    while (slots_[i] != 0) {
      const Binding& o = vars_[slots_[i] - 1];
      if (o.hash == b.hash && o.name.str() == b.name.str()) break;
      i = (i + 1) & mask;
    }
    slots_[i] = static_cast<uint32_t>(pos + 1);
  }
}

void Scope::bind(const Value& name, uint64_t hash, Value own, const Value* ref) {
  if ((names_ + 1) * 2 > slots_.size()) grow();
  const Probe p = find(name.str(), hash);
  vars_.push_back(Binding{name, std::move(own), ref, hash, p.found ? slots_[p.slot] : 0});
  slots_[p.slot] = static_cast<uint32_t>(vars_.size());
  if (!p.found) ++names_;
}

Scope& Scope::with(std::string_view name, const Value& value) & {
  bind(Value(name), json::hash_bytes(name, seed_), Value(), &value);
  return *this;
}

Scope& Scope::with_fields(const Value& object) & {
  for (const json::Member& m : object.obj()) bind(m.key, json::hash_bytes(m.name(), seed_), Value(), &m.value);
  return *this;
}

void Scope::push(std::string_view name, Value value) {
  bind(Value(name), json::hash_bytes(name, seed_), std::move(value), nullptr);
}

void Scope::push_key(const Value& name, Value value) {
  bind(name, json::hash_bytes(name.str(), seed_), std::move(value), nullptr);
}

Scope::Binding* Scope::innermost(std::string_view name) noexcept {
  const Probe p = find(name, json::hash_bytes(name, seed_));
  return p.found ? &vars_[slots_[p.slot] - 1] : nullptr;
}

void Scope::set(std::string_view name, Value value) {
  if (Binding* b = innermost(name)) {
    b->own = std::move(value);
    b->ref = nullptr;
  } else {
    push(name, std::move(value));
  }
}

void Scope::set(const Value& name, uint64_t hash, Value value) {
  const Probe p = find(name.str(), hash);
  if (p.found) {
    Binding& b = vars_[slots_[p.slot] - 1];
    b.own = std::move(value);
    b.ref = nullptr;
  } else {
    bind(name, hash, std::move(value), nullptr);
  }
}

const Value* Scope::lookup(std::string_view name) const noexcept {
  const Probe p = find(name, json::hash_bytes(name, seed_));
  return p.found ? &vars_[slots_[p.slot] - 1].value() : nullptr;
}

Value* Scope::lookup_mut(std::string_view name) {
  Binding* b = innermost(name);
  if (!b) return nullptr;
  if (b->ref) {
    b->own = *b->ref;  // shares the node; the first write copies it
    b->ref = nullptr;
  }
  return &b->own;
}

void Scope::truncate(size_t count) noexcept {
  const size_t mask = slots_.size() - 1;
  while (vars_.size() > count) {
    const Binding& b = vars_.back();
    const uint32_t pos = static_cast<uint32_t>(vars_.size());
    size_t i = b.hash & mask;
    while (slots_[i] != pos) i = (i + 1) & mask;
    if (b.prev != 0) {
      slots_[i] = b.prev;
    } else {
      // Backward-shift deletion keeps every probe chain unbroken.
      size_t j = i;
      for (;;) {
        j = (j + 1) & mask;
        if (slots_[j] == 0) break;
        size_t home = vars_[slots_[j] - 1].hash & mask;
        bool movable = (j > i) ? (home <= i || home > j) : (home <= i && home > j);
        if (movable) {
          slots_[i] = slots_[j];
          i = j;
        }
      }
      slots_[i] = 0;
      --names_;
    }
    vars_.pop_back();
  }
}

// ---------------------------------------------------------------- evaluation

Done Scope::charge(const Value& value) {
  if (const char* f = take(value)) return fail(f);
  return ok_unit;
}

namespace {

// Depth-first measurement; the limit message, or nullptr.
const char* walk(const Value& value, uint64_t& nodes, uint64_t& bytes, uint64_t depth) noexcept {
  if (depth >= limits::kNesting) return limits::kNestingLimit;
  nodes = sat_add(nodes, 1);
  if (nodes > limits::kValueNodes) return limits::kValueSizeLimit;
  switch (value.type()) {
    case json::Type::String: bytes = sat_add(bytes, value.str().size()); break;
    case json::Type::Array:
      for (const Value& e : value.arr())
        if (const char* f = walk(e, nodes, bytes, depth + 1)) return f;
      break;
    case json::Type::Object:
      for (const json::Member& m : value.obj()) {
        bytes = sat_add(bytes, m.name().size());
        if (const char* f = walk(m.value, nodes, bytes, depth + 1)) return f;
      }
      break;
    default: break;
  }
  if (bytes > limits::kValueBytes) return limits::kTextSizeLimit;
  return nullptr;
}

}  // namespace

const char* Scope::take_container(const Value& value) noexcept {
  const detail::Measure m = detail::measure(value);
  return m.failure ? m.failure : take(m.nodes, m.bytes);
}

detail::Measure detail::measure(const Value& value) noexcept {
  Measure m;
  if (!(value.is_array() || value.is_object())) {
    // Scalars need no walk: one node and the string's bytes.
    m.nodes = 1;
    m.bytes = value.str().size();
    if (m.bytes > limits::kValueBytes) m.failure = limits::kTextSizeLimit;
  } else {
    m.failure = walk(value, m.nodes, m.bytes, 0);
  }
  return m;
}

Done bounded::visit(const Value& value, uint64_t& nodes, uint64_t& bytes, uint64_t depth) {
  if (const char* f = walk(value, nodes, bytes, depth)) return fail(f);
  return ok_unit;
}

Done Scope::assign(std::span<const std::string> path, Value value) {
  if (path.empty()) return fail("empty assignment path");
  Value* cur = lookup_mut(path[0]);
  if (!cur) return fail("unknown assignment target " + path[0]);
  // The last segment's member sits at depth path.size() - 1 of the binding's
  // value; a value at depth 64 could not be measured or read back.
  if (path.size() > limits::kNesting) return fail(limits::kNestingLimit);
  if (path.size() == 1) {
    *cur = std::move(value);
    return ok_unit;
  }
  for (size_t i = 1; i + 1 < path.size(); ++i) {
    json::Object& o = cur->obj_mut();  // a non-object becomes {}
    Value* m = o.find(path[i]);
    cur = m ? m : &o.push_unique(Value(path[i]), Value::object());
  }
  json::Object& o = cur->obj_mut();
  if (value.is_null()) {
    o.erase(path.back());
  } else {
    o.insert_or_assign(path.back(), std::move(value));
  }
  return ok_unit;
}

int64_t Scope::feature(std::string_view section, std::string_view key) const noexcept {
  const Value* rules = lookup("rules");
  if (!rules) return 0;
  return data::trunc_i64(data::n((*rules)["features"][section][key]));
}

// ---------------------------------------------------------------- shared routines

const Value* index_str(const Value& container, std::string_view key) noexcept {
  if (container.is_object()) return container.find(key);
  if (container.is_array()) {
    const std::optional<uint64_t> i = text::unsigned_decimal(key);
    if (i && *i < container.size()) return &container.arr()[*i];
  }
  return nullptr;
}

const Value* index(const Value& container, const Value& key) noexcept {
  if (container.is_object()) return container.find(key.str());
  if (container.is_array()) {
    if (key.is_string()) return index_str(container, key.str());
    if (key.is_u64() && key.as_u64() < container.size()) return &container.arr()[key.as_u64()];
  }
  return nullptr;
}

std::string text(const Value& value) {
  switch (value.type()) {
    case json::Type::Null: return {};
    case json::Type::Bool: return value.as_bool() ? "true" : "false";
    case json::Type::String: return std::string(value.str());
    case json::Type::Number: {
      double x = value.to_f64();
      if (std::fabs(x) < 1e15 && x == std::trunc(x)) {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(x));
        return std::string(buf, r.ptr);
      }
      return value.dump();
    }
    default: return value.dump();
  }
}

Value hex_ints(const Value& value, uint64_t digits, uint64_t count) {
  if (!value.is_string()) return Value();
  std::string_view s = value.str();
  uint64_t want;
  if (__builtin_mul_overflow(digits, count, &want) || s.size() != want) return Value();
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return Value();
  if (digits == 0) return count == 0 ? Value::array() : Value();
  json::Array out;
  out.reserve(count);  // at most the text's length, as digits >= 1
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t v;
    if (!read_hex(s.substr(i * digits, digits), v)) return Value();
    out.emplace_back(v);
  }
  return Value(std::move(out));
}

bool Segments::next(std::string_view& segment) noexcept {
  if (done_) return false;
  size_t dot = rest_.find('.');
  if (dot == std::string_view::npos) {
    segment = rest_;
    done_ = true;
  } else {
    segment = rest_.substr(0, dot);
    rest_.remove_prefix(dot + 1);
  }
  return true;
}

std::vector<std::string> split_path(std::string_view path) {
  std::vector<std::string> out;
  Segments segs(path);
  for (std::string_view s; segs.next(s);) out.emplace_back(s);
  return out;
}

}  // namespace zefa::expr
