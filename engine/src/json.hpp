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
#include <cstddef>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "error.hpp"

namespace zefa::json {

// The parser refuses documents nested deeper than this; everything the engine
// builds stays within it so that stored documents can always be read back.
inline constexpr int kMaxDepth = 128;

enum class Type : uint8_t { Null, Bool, Number, String, Array, Object };

class Value;
class Array;
class Object;
struct Member;

namespace detail {
// Every node starts with its reference count. A container's size lives in
// the value that holds it: a shared node never changes, and a node is only
// written through its single holder. Sizes are 32-bit: a container of four
// billion members needs more memory than any input can bring.
struct StrNode {
  std::atomic<uint32_t> rc;
  char* text() noexcept { return reinterpret_cast<char*>(this + 1); }
};
struct ArrNode {
  std::atomic<uint32_t> rc;
  uint32_t cap;
  Value* items() noexcept { return reinterpret_cast<Value*>(this + 1); }
};
// Members, then (from a capacity of a few members on) the index: a power of
// two of slots, open addressing with linear probing over member positions
// + 1, 0 marking a free slot.
struct ObjNode {
  std::atomic<uint32_t> rc;
  uint32_t cap;
  Member* items() noexcept { return reinterpret_cast<Member*>(this + 1); }
  uint32_t* slots() noexcept;
};
}  // namespace detail

class Value {
 public:
  Value() noexcept { clear_bits(kNull); }
  Value(std::nullptr_t) noexcept { clear_bits(kNull); }
  Value(bool v) noexcept { clear_bits(v ? kTrue : kFalse); }
  Value(int v) noexcept { set_int(v); }
  Value(long v) noexcept { set_int(v); }
  Value(long long v) noexcept { set_int(v); }
  Value(unsigned v) noexcept { set_u64(v); }
  Value(unsigned long v) noexcept { set_u64(v); }
  Value(unsigned long long v) noexcept { set_u64(v); }
  Value(double v) noexcept {
    clear_bits(kF64);
    store(v);
  }
  Value(std::string_view s);
  Value(const char* s) : Value(std::string_view(s)) {}
  Value(const std::string& s) : Value(std::string_view(s)) {}
  // Taking a container over costs nothing; an empty one allocates nothing.
  Value(Array&& a) noexcept;
  Value(const Array& a);
  Value(Object&& o) noexcept;
  Value(const Object& o);

  Value(const Value& o) noexcept {
    std::memcpy(b_, o.b_, 16);
    retain();
  }
  Value(Value&& o) noexcept {
    std::memcpy(b_, o.b_, 16);
    o.clear_bits(kNull);
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

  // Empty containers: no allocation.
  static Value array() noexcept {
    Value v;
    v.b_[0] = kArr;
    return v;
  }
  static Value object() noexcept {
    Value v;
    v.b_[0] = kObj;
    return v;
  }

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
  friend class Array;
  friend class Object;
  friend class Parser;
  friend class Writer;
  enum : unsigned char {
    kNull,
    kFalse,
    kTrue,
    kU64,
    kI64,
    kF64,
    kSStr,
    // heap-backed kinds from here on (containers only when not empty)
    kLStr,
    kArr,
    kObj,
  };
  // Bytes 2..15 hold a short string, zero padded, so that its sixteen bytes
  // are its identity; a long string keeps its length in bytes 2..7. An array
  // or object is its handle (class Array / Object): tag, size in bytes 4..7,
  // node in bytes 8..15 (none while empty).
  static constexpr size_t kInline = 14;

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
  void clear_bits(unsigned char tag) noexcept {
    std::memset(b_, 0, 16);
    b_[0] = tag;
  }
  void set_int(long long v) noexcept {
    if (v >= 0) {
      set_u64(static_cast<uint64_t>(v));
    } else {
      clear_bits(kI64);
      store<int64_t>(v);
    }
  }
  void set_u64(uint64_t v) noexcept {
    clear_bits(kU64);
    store<uint64_t>(v);
  }
  uint64_t long_len() const noexcept {
    uint64_t n = 0;
    std::memcpy(&n, b_ + 2, 6);
    return n;
  }
  void* node() const noexcept { return load<void*>(); }
  void retain() const noexcept;
  void release() noexcept;
  // The container handle an array or object value is.
  template <class H>
  H& handle() noexcept {
    return *std::launder(reinterpret_cast<H*>(b_));
  }
  template <class H>
  const H& handle() const noexcept {
    return *std::launder(reinterpret_cast<const H*>(b_));
  }
  uint32_t count() const noexcept {
    uint32_t n;
    std::memcpy(&n, b_ + 4, 4);
    return n;
  }

  alignas(8) unsigned char b_[16];
};

// An array: a vector of values whose elements and bookkeeping share one
// allocation (none while empty). A value holding an array holds this
// allocation itself, so handing an array to a value costs nothing.
class Array {
 public:
  using value_type = Value;
  using size_type = size_t;
  using difference_type = ptrdiff_t;
  using reference = Value&;
  using const_reference = const Value&;
  using pointer = Value*;
  using const_pointer = const Value*;
  using iterator = Value*;
  using const_iterator = const Value*;

  Array() noexcept = default;
  Array(std::initializer_list<Value> init);
  Array(size_t n, const Value& v);
  template <class It, class = std::enable_if_t<!std::is_integral_v<It>>>
  Array(It first, It last) {
    for (; first != last; ++first) emplace_back(*first);
  }
  Array(const Array& o);
  Array(Array&& o) noexcept : size_(o.size_), n_(o.n_) {
    o.size_ = 0;
    o.n_ = nullptr;
  }
  Array& operator=(const Array& o);
  Array& operator=(Array&& o) noexcept;
  ~Array();
  void swap(Array& o) noexcept {
    std::swap(size_, o.size_);
    std::swap(n_, o.n_);
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size() == 0; }
  size_t capacity() const noexcept;
  Value* data() noexcept;
  const Value* data() const noexcept;
  Value* begin() noexcept { return data(); }
  Value* end() noexcept { return data() + size(); }
  const Value* begin() const noexcept { return data(); }
  const Value* end() const noexcept { return data() + size(); }
  const Value* cbegin() const noexcept { return begin(); }
  const Value* cend() const noexcept { return end(); }
  Value& operator[](size_t i) noexcept { return data()[i]; }
  const Value& operator[](size_t i) const noexcept { return data()[i]; }
  Value& front() noexcept { return data()[0]; }
  const Value& front() const noexcept { return data()[0]; }
  Value& back() noexcept { return data()[size() - 1]; }
  const Value& back() const noexcept { return data()[size() - 1]; }

  void reserve(size_t n);
  void push_back(const Value& v) { emplace_back(v); }
  void push_back(Value&& v) { emplace_back(std::move(v)); }
  template <class... A>
  Value& emplace_back(A&&... a) {
    Value v(std::forward<A>(a)...);
    return append(std::move(v));
  }
  void pop_back() noexcept;
  void clear() noexcept;
  void resize(size_t n);
  Value* insert(const Value* pos, Value v);
  template <class It>
  Value* insert(const Value* pos, It first, It last) {
    const size_t at = static_cast<size_t>(pos - begin());
    Array tail(first, last);
    splice(at, tail);
    return begin() + at;
  }
  Value* erase(const Value* pos) noexcept { return erase(pos, pos + 1); }
  Value* erase(const Value* first, const Value* last) noexcept;
  template <class It>
  void assign(It first, It last) {
    Array t(first, last);
    swap(t);
  }

 private:
  friend class Value;
  friend class Parser;
  // An array of exactly `n` values taken over bytewise from `src`.
  static Array relocated(Value* src, size_t n);
  Value& append(Value&& v);
  void grow(size_t want);
  void reshape(size_t cap);
  void splice(size_t at, Array& items);

  // The same layout as a value holding the array.
  unsigned char tag_ = Value::kArr;
  unsigned char unused_[3] = {};
  uint32_t size_ = 0;
  detail::ArrNode* n_ = nullptr;
};

struct Member {
  Value key;  // always a string
  Value value;
  std::string_view name() const noexcept { return key.str(); }
};

// An object: members in insertion order, in one allocation (none while
// empty). Beyond a few members the same allocation carries a hash index, so
// lookups never scan large objects.
class Object {
 public:
  Object() noexcept = default;
  Object(std::initializer_list<std::pair<std::string_view, Value>> init);
  Object(const Object& o);
  Object(Object&& o) noexcept : size_(o.size_), n_(o.n_) {
    o.size_ = 0;
    o.n_ = nullptr;
  }
  Object& operator=(const Object& o);
  Object& operator=(Object&& o) noexcept;
  ~Object();

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const Member* begin() const noexcept;
  const Member* end() const noexcept { return begin() + size(); }
  const Member& at(size_t i) const noexcept { return begin()[i]; }
  // Mutable member values by position (keys stay fixed).
  Value& value_at(size_t i) noexcept { return members()[i].value; }

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
  void clear() noexcept;
  // Room for n members (and their index) without regrowth.
  void reserve(size_t n);

  friend bool operator==(const Object& a, const Object& b) noexcept;

 private:
  friend class Value;
  friend class Parser;
  // An object of the `n` members taken over bytewise from `src`; a repeated
  // key keeps the last value at the first key's position.
  static Object relocated(Member* src, size_t n);
  Member* members() noexcept;
  void grow(size_t want);
  void reshape(size_t cap);
  void remove_at(size_t i, Value* out);
  void swap(Object& o) noexcept {
    std::swap(size_, o.size_);
    std::swap(n_, o.n_);
  }

  // The same layout as a value holding the object.
  unsigned char tag_ = Value::kObj;
  unsigned char unused_[3] = {};
  uint32_t size_ = 0;
  detail::ObjNode* n_ = nullptr;
};

inline void Value::retain() const noexcept {
  if (b_[0] < kLStr) return;
  void* p = node();
  switch (b_[0]) {
    case kLStr: static_cast<detail::StrNode*>(p)->rc.fetch_add(1, std::memory_order_relaxed); break;
    case kArr:
      if (p) static_cast<detail::ArrNode*>(p)->rc.fetch_add(1, std::memory_order_relaxed);
      break;
    default:
      if (p) static_cast<detail::ObjNode*>(p)->rc.fetch_add(1, std::memory_order_relaxed);
  }
}

inline uint32_t* detail::ObjNode::slots() noexcept { return reinterpret_cast<uint32_t*>(items() + cap); }

inline size_t Array::capacity() const noexcept { return n_ ? n_->cap : 0; }
inline Value* Array::data() noexcept { return n_ ? n_->items() : nullptr; }
inline const Value* Array::data() const noexcept { return n_ ? n_->items() : nullptr; }
inline const Member* Object::begin() const noexcept { return n_ ? n_->items() : nullptr; }
inline Member* Object::members() noexcept { return n_ ? n_->items() : nullptr; }

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
// value will be embedded inside other documents. `depth`, when given, gets
// the parsed value's nesting depth (as `Value::depth`) without another pass.
Result<Value, ParseError> parse(std::string_view text, int max_depth = kMaxDepth, int* depth = nullptr);

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
