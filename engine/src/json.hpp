// The engine's JSON core: one value type for every document the system reads,
// builds, stores or replies with.
//
// Values are cheap to copy: strings, arrays and objects live in shared,
// reference-counted nodes, and a mutable access first makes the node unique
// (copy on write), so a copy costs O(1) and a write copies only the path it
// touches. Reference counts are atomic: immutable values (installed rule
// packs) are shared between threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error.hpp"

namespace zefa::json {

// The parser refuses documents nested deeper than this; everything the engine
// builds stays within it so that stored documents can always be read back.
inline constexpr int kMaxDepth = 128;

enum class Type : uint8_t { Null, Bool, Number, String, Array, Object };

class Value;
class Object;
using Array = std::vector<Value>;

namespace detail {
struct StrNode;
struct ArrNode;
struct ObjNode;
}  // namespace detail

class Value {
 public:
  Value() noexcept { b_[0] = kNull; }
  Value(std::nullptr_t) noexcept { b_[0] = kNull; }
  Value(bool v) noexcept { b_[0] = v ? kTrue : kFalse; }
  Value(int v) noexcept { set_int(v); }
  Value(long v) noexcept { set_int(v); }
  Value(long long v) noexcept { set_int(v); }
  Value(unsigned v) noexcept { set_u64(v); }
  Value(unsigned long v) noexcept { set_u64(v); }
  Value(unsigned long long v) noexcept { set_u64(v); }
  Value(double v) noexcept {
    b_[0] = kF64;
    std::memcpy(b_ + 8, &v, 8);
  }
  Value(std::string_view s);
  Value(const char* s) : Value(std::string_view(s)) {}
  Value(const std::string& s) : Value(std::string_view(s)) {}
  Value(Array&& a);
  Value(const Array& a);
  Value(Object&& o);
  Value(const Object& o);

  Value(const Value& o) noexcept {
    std::memcpy(b_, o.b_, 16);
    retain();
  }
  Value(Value&& o) noexcept {
    std::memcpy(b_, o.b_, 16);
    o.b_[0] = kNull;
  }
  Value& operator=(const Value& o) noexcept {
    if (this != &o) {
      Value t(o);
      swap(t);
    }
    return *this;
  }
  Value& operator=(Value&& o) noexcept {
    if (this != &o) {
      Value t(std::move(o));
      swap(t);
    }
    return *this;
  }
  ~Value() {
    if (b_[0] >= kLStr) release();
  }
  void swap(Value& o) noexcept {
    unsigned char t[16];
    std::memcpy(t, b_, 16);
    std::memcpy(b_, o.b_, 16);
    std::memcpy(o.b_, t, 16);
  }

  static Value array() { return Value(Array{}); }
  static Value object();

  Type type() const noexcept;
  bool is_null() const noexcept { return b_[0] == kNull; }
  bool is_bool() const noexcept { return b_[0] == kFalse || b_[0] == kTrue; }
  bool is_number() const noexcept { return b_[0] >= kU64 && b_[0] <= kF64; }
  bool is_u64() const noexcept { return b_[0] == kU64; }
  bool is_i64() const noexcept { return b_[0] == kI64; }
  // Integer forms: unsigned for non-negative values, signed for negative ones.
  bool is_integer() const noexcept { return b_[0] == kU64 || b_[0] == kI64; }
  bool is_f64() const noexcept { return b_[0] == kF64; }
  bool is_string() const noexcept { return b_[0] == kSStr || b_[0] == kLStr; }
  bool is_array() const noexcept { return b_[0] == kArr; }
  bool is_object() const noexcept { return b_[0] == kObj; }

  bool as_bool() const noexcept { return b_[0] == kTrue; }
  uint64_t as_u64() const noexcept { return load<uint64_t>(); }
  int64_t as_i64() const noexcept { return load<int64_t>(); }
  double as_f64() const noexcept { return load<double>(); }
  // Any number as a double (integers convert with rounding); 0 otherwise.
  double to_f64() const noexcept;
  // The number as a signed integer when it is one in range.
  bool get_i64(int64_t& out) const noexcept;

  // The text of a string value; empty for other types.
  std::string_view str() const noexcept;

  // Read access: an empty array / object for other types.
  const Array& arr() const noexcept;
  const Object& obj() const noexcept;
  // Write access, copying a shared node first. The value must already be of
  // that type; other types are replaced by an empty one.
  Array& arr_mut();
  Object& obj_mut();

  size_t size() const noexcept;  // members or elements; 0 for scalars
  // Object member lookup; nullptr when not an object or missing.
  const Value* find(std::string_view key) const noexcept;
  // Member or element, or a null value when missing.
  const Value& operator[](std::string_view key) const noexcept;
  const Value& operator[](const char* key) const noexcept { return (*this)[std::string_view(key)]; }
  const Value& operator[](size_t i) const noexcept;
  const Value& operator[](int i) const noexcept { return (*this)[static_cast<size_t>(i)]; }

  // RFC 6901 lookup; nullptr when the pointer does not resolve.
  const Value* pointer(std::string_view ptr) const noexcept;

  // Exact equality: 1 and 1.0 differ; objects are equal in any member order.
  friend bool operator==(const Value& a, const Value& b) noexcept;

  // Same node or same scalar bits: a cheap test for "certainly equal".
  bool same(const Value& o) const noexcept { return std::memcmp(b_, o.b_, 16) == 0; }

  // Nesting depth: 0 for scalars, 1 + deepest child for containers.
  int depth() const noexcept;

  std::string dump() const;
  void dump_to(std::string& out) const;

 private:
  friend class Object;
  friend struct detail::ArrNode;
  friend struct detail::ObjNode;
  enum : unsigned char {
    kNull,
    kFalse,
    kTrue,
    kU64,
    kI64,
    kF64,
    kSStr,
    // heap-backed kinds from here on
    kLStr,
    kArr,
    kObj,
  };
  static constexpr size_t kInline = 14;  // bytes 2..15 hold a short string

  template <class T>
  T load() const noexcept {
    T v;
    std::memcpy(&v, b_ + 8, sizeof v);
    return v;
  }
  template <class T>
  void store(T v) noexcept {
    std::memcpy(b_ + 8, &v, sizeof v);
  }
  void set_int(long long v) noexcept {
    if (v >= 0) {
      set_u64(static_cast<uint64_t>(v));
    } else {
      b_[0] = kI64;
      store<int64_t>(v);
    }
  }
  void set_u64(uint64_t v) noexcept {
    b_[0] = kU64;
    store<uint64_t>(v);
  }
  void* node() const noexcept { return load<void*>(); }
  void retain() const noexcept;
  void release() noexcept;
  static Value from_ptr(unsigned char tag, void* p) noexcept {
    Value v;
    v.b_[0] = tag;
    v.store<void*>(p);
    return v;
  }

  alignas(8) unsigned char b_[16];
};

struct Member {
  Value key;  // always a string
  Value value;
  std::string_view name() const noexcept { return key.str(); }
};

// An object: members in insertion order, with a hash index once it grows
// beyond a few members so lookups never scan large objects.
class Object {
 public:
  Object() = default;
  Object(std::initializer_list<std::pair<std::string_view, Value>> init);
  Object(const Object& o);
  Object(Object&& o) noexcept;
  Object& operator=(const Object& o);
  Object& operator=(Object&& o) noexcept;
  ~Object();

  size_t size() const noexcept { return members_.size(); }
  bool empty() const noexcept { return members_.empty(); }
  auto begin() const noexcept { return members_.cbegin(); }
  auto end() const noexcept { return members_.cend(); }
  const Member& at(size_t i) const noexcept { return members_[i]; }
  // Mutable member values by position (keys stay fixed).
  Value& value_at(size_t i) noexcept { return members_[i].value; }

  const Value* find(std::string_view key) const noexcept;
  Value* find(std::string_view key) noexcept;
  bool contains(std::string_view key) const noexcept { return find(key) != nullptr; }
  // Position of the member, or size() when missing.
  size_t index_of(std::string_view key) const noexcept;

  // Assigning to an existing key keeps its place; a new key goes last.
  Value& insert_or_assign(std::string_view key, Value v);
  // The same with a key that is already a string value (no copy of it).
  Value& put(Value key, Value v);
  // The member's value, inserting null at the end when missing.
  Value& operator[](std::string_view key);
  // Appends without looking for an existing key; the caller guarantees the
  // key is new (used by builders that know their keys are distinct).
  Value& push_unique(Value key, Value v);

  // Removal moves the last member into the freed place.
  bool erase(std::string_view key);
  // Removal that keeps the order of the remaining members.
  bool erase_ordered(std::string_view key);
  // Removes the member (last member moves into its place) and returns its value.
  bool take(std::string_view key, Value& out);
  void clear();
  // Room for n members (and their index) without regrowth.
  void reserve(size_t n);

  friend bool operator==(const Object& a, const Object& b) noexcept;

 private:
  friend class Value;
  void index_insert(size_t pos);
  void index_remove(size_t pos);
  void index_rebuild(size_t room = 0);
  size_t index_find(std::string_view key, uint64_t h) const noexcept;

  std::vector<Member> members_;
  // Open addressing (linear probing) over member positions + 1; 0 is empty.
  uint32_t* slots_ = nullptr;
  uint32_t mask_ = 0;
};

// An ordered map for the system's own records: find, insert-or-assign that
// keeps a key's position, order-keeping erase, ordered iteration.
template <class K, class V>
class OrderedMap {
 public:
  using Entry = std::pair<K, V>;
  size_t size() const noexcept { return items_.size(); }
  bool empty() const noexcept { return items_.empty(); }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }
  auto begin() noexcept { return items_.begin(); }
  auto end() noexcept { return items_.end(); }
  template <class Q>
  const V* find(const Q& k) const noexcept {
    for (const auto& e : items_)
      if (e.first == k) return &e.second;
    return nullptr;
  }
  template <class Q>
  V* find(const Q& k) noexcept {
    for (auto& e : items_)
      if (e.first == k) return &e.second;
    return nullptr;
  }
  V& insert_or_assign(K k, V v) {
    if (V* p = find(k)) {
      *p = std::move(v);
      return *p;
    }
    items_.emplace_back(std::move(k), std::move(v));
    return items_.back().second;
  }
  // Appends without looking for an existing key; the caller guarantees the
  // key is new (readers of parsed objects, whose keys are distinct).
  V& push_unique(K k, V v) {
    items_.emplace_back(std::move(k), std::move(v));
    return items_.back().second;
  }
  void reserve(size_t n) { items_.reserve(n); }
  V& operator[](const K& k) {
    if (V* p = find(k)) return *p;
    items_.emplace_back(k, V{});
    return items_.back().second;
  }
  template <class Q>
  bool erase(const Q& k) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
      if (it->first == k) {
        items_.erase(it);
        return true;
      }
    return false;
  }
  void clear() noexcept { items_.clear(); }
  friend bool operator==(const OrderedMap& a, const OrderedMap& b) { return a.items_ == b.items_; }

 private:
  std::vector<Entry> items_;
};

struct ParseError {
  std::string message;  // e.g. "expected value"
  size_t line = 0;
  size_t column = 0;
  // message + " at line L column C"
  std::string to_string() const;
};

// Strict RFC 8259 parsing of UTF-8 text. The text must be valid UTF-8 (the
// entry points check it). `max_depth` below the default serves texts whose
// value will be embedded inside other documents.
Result<Value, ParseError> parse(std::string_view text, int max_depth = kMaxDepth);

// Compact JSON text.
std::string dump(const Value& v);
void dump_to(const Value& v, std::string& out);
// Shortest text of a double that reads back to it, in the system's notation.
void write_double(double d, std::string& out);
void write_string(std::string_view s, std::string& out);

// True when `s` is well-formed UTF-8.
bool valid_utf8(std::string_view s) noexcept;

// Process-wide random seed for hashing (taken from the OS once).
uint64_t hash_seed() noexcept;
uint64_t hash_bytes(std::string_view s, uint64_t seed) noexcept;

}  // namespace zefa::json
