#include "json.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <stdexcept>

namespace zefa::json {

// Word-wise text handling and the long-string length reads assume it.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(Value) == 16 && sizeof(Member) == 32);
static_assert(sizeof(Array) == sizeof(Value) && sizeof(Object) == sizeof(Value));
static_assert(sizeof(detail::ArrNode) == 8 && sizeof(detail::ObjNode) == 8);

using detail::ArrNode;
using detail::ObjNode;
using detail::StrNode;

namespace {
const Array kEmptyArray;
const Object kEmptyObject;
const Value kNullValue;

// Below this many members a linear scan beats hashing.
constexpr size_t kIndexFrom = 16;
constexpr size_t kMaxCount = UINT32_MAX;
constexpr uint64_t kMaxText = (uint64_t{1} << 48) - 1;

void* allocate(size_t bytes) {
  void* p = std::malloc(bytes);
  if (!p) throw std::bad_alloc();
  return p;
}

// Nodes hold only bytewise-movable values, so growth may move them.
void* reallocate(void* old, size_t bytes) {
  void* p = std::realloc(old, bytes);
  if (!p) throw std::bad_alloc();
  return p;
}

// Drops one reference; true when it was the last. A sole owner skips the
// atomic read-modify-write: nobody else holds a reference to add one.
inline bool last_ref(std::atomic<uint32_t>& rc) noexcept {
  return rc.load(std::memory_order_acquire) == 1 || rc.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

size_t checked_count(size_t n) {
  if (n > kMaxCount) throw std::length_error("container too large");
  return n;
}

ArrNode* new_arr(size_t cap) {
  auto* n = static_cast<ArrNode*>(allocate(sizeof(ArrNode) + checked_count(cap) * sizeof(Value)));
  new (&n->rc) std::atomic<uint32_t>(1);
  n->cap = static_cast<uint32_t>(cap);
  return n;
}

// Index slots for a capacity: none below the threshold, else a power of two
// keeping the load at two thirds or less.
size_t slots_for(size_t cap) noexcept {
  return cap < kIndexFrom ? 0 : std::bit_ceil(cap + cap / 2);
}
uint32_t mask_of(const ObjNode* n) noexcept { return static_cast<uint32_t>(slots_for(n->cap) - 1); }

size_t obj_bytes(size_t cap) { return sizeof(ObjNode) + cap * sizeof(Member) + slots_for(cap) * sizeof(uint32_t); }

ObjNode* new_obj(size_t cap) {
  auto* n = static_cast<ObjNode*>(allocate(obj_bytes(checked_count(cap))));
  new (&n->rc) std::atomic<uint32_t>(1);
  n->cap = static_cast<uint32_t>(cap);
  if (size_t slots = slots_for(cap)) std::memset(n->slots(), 0, slots * sizeof(uint32_t));
  return n;
}

// Destroying a deep value recurses once per level; values never nest beyond
// the parser's limit, so the recursion is bounded.
void free_arr(ArrNode* n, size_t size) noexcept {
  Value* v = n->items();
  for (size_t i = 0; i < size; ++i) v[i].~Value();
  std::free(n);
}

void free_obj(ObjNode* n, size_t size) noexcept {
  Member* m = n->items();
  for (size_t i = 0; i < size; ++i) {
    m[i].key.~Value();
    m[i].value.~Value();
  }
  std::free(n);
}

uint64_t key_hash(std::string_view k) noexcept { return hash_bytes(k, hash_seed()); }

void index_add(ObjNode* n, size_t pos, uint64_t h) noexcept {
  uint32_t* s = n->slots();
  const uint32_t mask = mask_of(n);
  size_t i = h & mask;
  while (s[i] != 0) i = (i + 1) & mask;
  s[i] = static_cast<uint32_t>(pos + 1);
}

void index_rebuild(ObjNode* n, size_t size) noexcept {
  std::memset(n->slots(), 0, slots_for(n->cap) * sizeof(uint32_t));
  const Member* m = n->items();
  for (size_t pos = 0; pos < size; ++pos) index_add(n, pos, key_hash(m[pos].key.str()));
}

// The slot that refers to member position `pos`.
size_t index_slot_of(ObjNode* n, size_t pos) noexcept {
  const uint32_t* s = n->slots();
  const uint32_t mask = mask_of(n);
  size_t i = key_hash(n->items()[pos].key.str()) & mask;
  while (s[i] != pos + 1) i = (i + 1) & mask;
  return i;
}

// Frees the slot of member position `pos` by backward-shift deletion, so no
// tombstones accumulate.
void index_unlink(ObjNode* n, size_t pos) noexcept {
  uint32_t* s = n->slots();
  const Member* m = n->items();
  const uint32_t mask = mask_of(n);
  size_t i = index_slot_of(n, pos);
  size_t j = i;
  while (true) {
    j = (j + 1) & mask;
    if (s[j] == 0) break;
    size_t home = key_hash(m[s[j] - 1].key.str()) & mask;
    // Move slot j back into the hole at i when its home is not in (i, j].
    bool between = (i <= j) ? (home > i && home <= j) : (home > i || home <= j);
    if (!between) {
      s[i] = s[j];
      i = j;
    }
  }
  s[i] = 0;
}

// The position of `key`, or `size` when missing.
size_t index_find(ObjNode* n, size_t size, std::string_view key, uint64_t h) noexcept {
  const uint32_t* s = n->slots();
  const Member* m = n->items();
  const uint32_t mask = mask_of(n);
  size_t i = h & mask;
  while (true) {
    uint32_t at = s[i];
    if (at == 0) return size;
    if (m[at - 1].key.str() == key) return at - 1;
    i = (i + 1) & mask;
  }
}

// Six bits of a key for the duplicate filter of small objects: from the
// value's own bytes for a short key, from the text for a long one.
unsigned key_bits(const Value& k) noexcept {
  std::string_view s = k.str();
  uint64_t a = 0, b = s.size();
  if (s.size() >= 8) {
    std::memcpy(&a, s.data(), 8);
    uint64_t t;
    std::memcpy(&t, s.data() + s.size() - 8, 8);
    b ^= t * 0x9e3779b97f4a7c15ULL;
  } else if (!s.empty()) {
    std::memcpy(&a, s.data(), s.size());
  }
  return static_cast<unsigned>(((a ^ b) * 0xd6e8feb86659fd93ULL) >> 58);
}

}  // namespace

// ---------------------------------------------------------------- Value

Value::Value(std::string_view s) {
  std::memset(b_, 0, 16);
  if (s.size() <= kInline) {
    b_[0] = kSStr;
    b_[1] = static_cast<unsigned char>(s.size());
    // Short texts are made on every object lookup (the probe key): copied
    // with two overlapping fixed-size moves instead of a library call. An
    // empty view may carry a null pointer, which is then never read.
    const char* p = s.data();
    const size_t n = s.size();
    if (n >= 8) {
      std::memcpy(b_ + 2, p, 8);
      std::memcpy(b_ + 2 + n - 8, p + n - 8, 8);
    } else if (n >= 4) {
      std::memcpy(b_ + 2, p, 4);
      std::memcpy(b_ + 2 + n - 4, p + n - 4, 4);
    } else {
      for (size_t i = 0; i < n; ++i) b_[2 + i] = static_cast<unsigned char>(p[i]);
    }
    return;
  }
  if (s.size() > kMaxText) throw std::length_error("string too long");
  auto* n = static_cast<StrNode*>(allocate(sizeof(StrNode) + s.size()));
  new (&n->rc) std::atomic<uint32_t>(1);
  std::memcpy(n->text(), s.data(), s.size());
  b_[0] = kLStr;
  const uint64_t len = s.size();
  std::memcpy(b_ + 2, &len, 6);
  store<void*>(n);
}

Value::Value(Array&& a) noexcept {
  std::memcpy(b_, static_cast<const void*>(&a), 16);
  a.size_ = 0;
  a.n_ = nullptr;
}
Value::Value(const Array& a) : Value(Array(a)) {}

Value::Value(Object&& o) noexcept {
  std::memcpy(b_, static_cast<const void*>(&o), 16);
  o.size_ = 0;
  o.n_ = nullptr;
}
Value::Value(const Object& o) : Value(Object(o)) {}

void Value::release() noexcept {
  void* p = node();
  switch (b_[0]) {
    case kLStr:
      if (last_ref(static_cast<StrNode*>(p)->rc)) std::free(p);
      break;
    case kArr:
      if (p && last_ref(static_cast<ArrNode*>(p)->rc)) free_arr(static_cast<ArrNode*>(p), count());
      break;
    case kObj:
      if (p && last_ref(static_cast<ObjNode*>(p)->rc)) free_obj(static_cast<ObjNode*>(p), count());
      break;
    default: break;
  }
  b_[0] = kNull;
}

Type Value::type() const noexcept {
  switch (b_[0]) {
    case kNull: return Type::Null;
    case kFalse:
    case kTrue: return Type::Bool;
    case kU64:
    case kI64:
    case kF64: return Type::Number;
    case kSStr:
    case kLStr: return Type::String;
    case kArr: return Type::Array;
    default: return Type::Object;
  }
}

double Value::to_f64() const noexcept {
  switch (b_[0]) {
    case kU64: return static_cast<double>(as_u64());
    case kI64: return static_cast<double>(as_i64());
    case kF64: return as_f64();
    default: return 0.0;
  }
}

bool Value::get_i64(int64_t& out) const noexcept {
  if (b_[0] == kI64) {
    out = as_i64();
    return true;
  }
  if (b_[0] == kU64 && as_u64() <= static_cast<uint64_t>(INT64_MAX)) {
    out = static_cast<int64_t>(as_u64());
    return true;
  }
  return false;
}

std::string_view Value::str() const noexcept {
  if (b_[0] == kSStr) return {reinterpret_cast<const char*>(b_ + 2), b_[1]};
  if (b_[0] == kLStr) return {static_cast<StrNode*>(node())->text(), static_cast<size_t>(long_len())};
  return {};
}

const Array& Value::arr() const noexcept { return b_[0] == kArr ? handle<Array>() : kEmptyArray; }
const Object& Value::obj() const noexcept { return b_[0] == kObj ? handle<Object>() : kEmptyObject; }

Array& Value::arr_mut() {
  if (b_[0] != kArr) {
    *this = array();
  } else if (auto* n = static_cast<ArrNode*>(node()); n && n->rc.load(std::memory_order_acquire) != 1) {
    Value t(Array(handle<Array>()));
    swap(t);
  }
  return handle<Array>();
}

Object& Value::obj_mut() {
  if (b_[0] != kObj) {
    *this = object();
  } else if (auto* n = static_cast<ObjNode*>(node()); n && n->rc.load(std::memory_order_acquire) != 1) {
    Value t(Object(handle<Object>()));
    swap(t);
  }
  return handle<Object>();
}

size_t Value::size() const noexcept { return b_[0] == kArr || b_[0] == kObj ? count() : 0; }

const Value* Value::find(std::string_view key) const noexcept {
  return b_[0] == kObj ? handle<Object>().find(key) : nullptr;
}

const Value& Value::operator[](std::string_view key) const noexcept {
  const Value* v = find(key);
  return v ? *v : kNullValue;
}

const Value& Value::operator[](size_t i) const noexcept {
  if (b_[0] == kArr) {
    const Array& a = handle<Array>();
    if (i < a.size()) return a[i];
  }
  return kNullValue;
}

int Value::depth() const noexcept {
  int d = 0;
  if (b_[0] == kArr) {
    for (const Value& v : arr()) d = std::max(d, v.depth());
    return d + 1;
  }
  if (b_[0] == kObj) {
    for (const Member& m : obj()) d = std::max(d, m.value.depth());
    return d + 1;
  }
  return 0;
}

const Value* Value::pointer(std::string_view ptr) const noexcept {
  const Value* cur = this;
  if (ptr.empty()) return cur;
  if (ptr[0] != '/') return nullptr;
  std::string token;
  size_t pos = 1;
  while (true) {
    size_t end = ptr.find('/', pos);
    std::string_view raw = ptr.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    token.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '~') {
        if (i + 1 >= raw.size()) return nullptr;
        char c = raw[++i];
        if (c == '0') token += '~';
        else if (c == '1') token += '/';
        else return nullptr;
      } else {
        token += raw[i];
      }
    }
    if (cur->is_object()) {
      cur = cur->find(token);
      if (!cur) return nullptr;
    } else if (cur->is_array()) {
      // Array indices: decimal without leading zeros ("0" alone is fine).
      if (token.empty() || (token.size() > 1 && token[0] == '0')) return nullptr;
      size_t idx = 0;
      auto [p, ec] = std::from_chars(token.data(), token.data() + token.size(), idx);
      if (ec != std::errc() || p != token.data() + token.size()) return nullptr;
      const Array& a = cur->arr();
      if (idx >= a.size()) return nullptr;
      cur = &a[idx];
    } else {
      return nullptr;
    }
    if (end == std::string_view::npos) return cur;
    pos = end + 1;
  }
}

bool operator==(const Value& a, const Value& b) noexcept {
  if (a.b_[0] != b.b_[0]) {
    // Short and long strings of equal text cannot occur (the length decides),
    // but compare texts anyway to stay independent of that choice.
    if (a.is_string() && b.is_string()) return a.str() == b.str();
    return false;
  }
  switch (a.b_[0]) {
    case Value::kNull:
    case Value::kFalse:
    case Value::kTrue: return true;
    case Value::kU64: return a.as_u64() == b.as_u64();
    case Value::kI64: return a.as_i64() == b.as_i64();
    case Value::kF64: return a.as_f64() == b.as_f64();
    case Value::kSStr:
    case Value::kLStr: return a.str() == b.str();
    case Value::kArr: {
      const Array& x = a.arr();
      const Array& y = b.arr();
      if (x.size() != y.size()) return false;
      if (a.node() == b.node()) return true;
      for (size_t i = 0; i < x.size(); ++i)
        if (!(x[i] == y[i])) return false;
      return true;
    }
    default:
      if (a.count() == b.count() && a.node() == b.node()) return true;
      return a.obj() == b.obj();
  }
}

std::string Value::dump() const { return json::dump(*this); }
void Value::dump_to(std::string& out) const { json::dump_to(*this, out); }

// ---------------------------------------------------------------- Array

Array::Array(std::initializer_list<Value> init) {
  reserve(init.size());
  for (const Value& v : init) append(Value(v));
}

Array::Array(size_t n, const Value& v) {
  reserve(n);
  for (size_t i = 0; i < n; ++i) append(Value(v));
}

Array::Array(const Array& o) {
  if (o.empty()) return;
  n_ = new_arr(o.size_);
  std::memcpy(static_cast<void*>(n_->items()), o.data(), o.size_ * sizeof(Value));
  size_ = o.size_;
  for (const Value& v : *this) v.retain();
}

Array& Array::operator=(const Array& o) {
  if (this != &o) {
    Array t(o);
    swap(t);
  }
  return *this;
}

Array& Array::operator=(Array&& o) noexcept {
  if (this != &o) {
    Array t(std::move(o));
    swap(t);
  }
  return *this;
}

Array::~Array() {
  if (n_ && last_ref(n_->rc)) free_arr(n_, size_);
}

Array Array::relocated(Value* src, size_t n) {
  Array a;
  if (n == 0) return a;
  a.n_ = new_arr(n);
  std::memcpy(static_cast<void*>(a.n_->items()), src, n * sizeof(Value));
  a.size_ = static_cast<uint32_t>(n);
  return a;
}

// Moves to a node of `cap` elements. A node some copy still shares (written
// through a handle taken before the copy) is left to it intact.
void Array::reshape(size_t cap) {
  if (n_ && n_->rc.load(std::memory_order_acquire) == 1) {
    n_ = static_cast<ArrNode*>(reallocate(n_, sizeof(ArrNode) + checked_count(cap) * sizeof(Value)));
    n_->cap = static_cast<uint32_t>(cap);
    return;
  }
  ArrNode* n = new_arr(cap);
  if (n_) {
    std::memcpy(static_cast<void*>(n->items()), n_->items(), size_ * sizeof(Value));
    for (size_t i = 0; i < size_; ++i) n->items()[i].retain();
    if (last_ref(n_->rc)) free_arr(n_, size_);
  }
  n_ = n;
}

void Array::grow(size_t want) { reshape(std::max<size_t>({want, capacity() * 2, 4})); }

void Array::reserve(size_t n) {
  if (n > capacity()) reshape(n);
}

Value& Array::append(Value&& v) {
  if (size_ == capacity()) grow(size_ + size_t{1});
  Value* slot = n_->items() + size_;
  std::memcpy(static_cast<void*>(slot), &v, sizeof(Value));
  v.clear_bits(Value::kNull);
  ++size_;
  return *slot;
}

void Array::pop_back() noexcept {
  n_->items()[size_ - 1].~Value();
  --size_;
}

void Array::clear() noexcept {
  Array t(std::move(*this));
}

void Array::resize(size_t n) {
  while (size() > n) pop_back();
  reserve(n);
  while (size() < n) append(Value());
}

Value* Array::insert(const Value* pos, Value v) {
  const size_t at = static_cast<size_t>(pos - begin());
  if (size_ == capacity()) grow(size_ + size_t{1});
  Value* items = n_->items();
  std::memmove(static_cast<void*>(items + at + 1), items + at, (size_ - at) * sizeof(Value));
  std::memcpy(static_cast<void*>(items + at), &v, sizeof(Value));
  v.clear_bits(Value::kNull);
  ++size_;
  return items + at;
}

void Array::splice(size_t at, Array& items) {
  const size_t k = items.size();
  if (k == 0) return;
  if (size_ + k > capacity()) reshape(std::max(size_ + k, capacity() * 2));
  Value* v = n_->items();
  std::memmove(static_cast<void*>(v + at + k), v + at, (size_ - at) * sizeof(Value));
  std::memcpy(static_cast<void*>(v + at), items.data(), k * sizeof(Value));
  size_ += static_cast<uint32_t>(k);
  items.size_ = 0;  // taken over bytewise
}

Value* Array::erase(const Value* first, const Value* last) noexcept {
  const size_t at = static_cast<size_t>(first - begin());
  const size_t k = static_cast<size_t>(last - first);
  if (k == 0) return begin() + at;
  Value* v = n_->items();
  for (size_t i = at; i < at + k; ++i) v[i].~Value();
  std::memmove(static_cast<void*>(v + at), v + at + k, (size_ - at - k) * sizeof(Value));
  size_ -= static_cast<uint32_t>(k);
  return v + at;
}

// ---------------------------------------------------------------- Object

Object::Object(std::initializer_list<std::pair<std::string_view, Value>> init) {
  reserve(init.size());
  for (const auto& [k, v] : init) insert_or_assign(k, v);
}

// The copy keeps the capacity, so members and index copy bytewise (the
// count, which other threads may be changing, is not read).
Object::Object(const Object& o) {
  if (o.empty()) return;
  n_ = new_obj(o.n_->cap);
  std::memcpy(static_cast<void*>(n_->items()), o.n_->items(), obj_bytes(o.n_->cap) - sizeof(ObjNode));
  size_ = o.size_;
  for (const Member& m : *this) {
    m.key.retain();
    m.value.retain();
  }
}

Object& Object::operator=(const Object& o) {
  if (this != &o) {
    Object t(o);
    swap(t);
  }
  return *this;
}

Object& Object::operator=(Object&& o) noexcept {
  if (this != &o) {
    Object t(std::move(o));
    swap(t);
  }
  return *this;
}

Object::~Object() {
  if (n_ && last_ref(n_->rc)) free_obj(n_, size_);
}

void Object::clear() noexcept {
  Object t(std::move(*this));
}

Object Object::relocated(Member* src, size_t n) {
  Object o;
  if (n == 0) return o;
  ObjNode* node = o.n_ = new_obj(n);
  const bool indexed = slots_for(n) != 0;
  Member* dst = node->items();
  size_t out = 0;
  // Repeated keys are rare: small objects pass each key through a 64-bit
  // filter and only look back on a hit; large ones find repeats in the index
  // they need anyway.
  uint64_t seen = 0;
  for (size_t i = 0; i < n; ++i) {
    Member& m = src[i];
    size_t at = out;
    if (indexed) {
      const uint64_t h = key_hash(m.key.str());
      at = index_find(node, out, m.key.str(), h);
      if (at == out) index_add(node, out, h);
    } else {
      const uint64_t bit = uint64_t{1} << key_bits(m.key);
      if (seen & bit) {
        for (at = 0; at < out && !(dst[at].key == m.key); ++at) {
        }
      }
      seen |= bit;
    }
    if (at < out) {
      dst[at].value = std::move(m.value);
      m.key.~Value();
      m.value.~Value();
      continue;
    }
    std::memcpy(static_cast<void*>(dst + out), &m, sizeof(Member));
    ++out;
  }
  o.size_ = static_cast<uint32_t>(out);
  return o;
}

// Moves to a node of `cap` members, rebuilding the index. A node some copy
// still shares (written through a handle taken before the copy) is left to
// it intact.
void Object::reshape(size_t cap) {
  if (n_ && n_->rc.load(std::memory_order_acquire) == 1) {
    n_ = static_cast<ObjNode*>(reallocate(n_, obj_bytes(checked_count(cap))));
    n_->cap = static_cast<uint32_t>(cap);
  } else {
    ObjNode* n = new_obj(cap);
    if (n_) {
      std::memcpy(static_cast<void*>(n->items()), n_->items(), size_ * sizeof(Member));
      for (size_t i = 0; i < size_; ++i) {
        n->items()[i].key.retain();
        n->items()[i].value.retain();
      }
      if (last_ref(n_->rc)) free_obj(n_, size_);
    }
    n_ = n;
  }
  if (slots_for(cap)) index_rebuild(n_, size_);
}

void Object::grow(size_t want) { reshape(std::max({want, size_t{n_ ? n_->cap : 0} * 2, size_t{4}})); }

void Object::reserve(size_t n) {
  if (n > (n_ ? n_->cap : 0)) reshape(n);
}

size_t Object::index_of(std::string_view key) const noexcept {
  if (!n_) return 0;
  if (slots_for(n_->cap)) return index_find(n_, size_, key, key_hash(key));
  const Member* m = n_->items();
  const size_t n = size_;
  if (key.size() <= Value::kInline) {
    const Value probe(key);
    for (size_t i = 0; i < n; ++i)
      if (m[i].key.same(probe)) return i;
    return n;
  }
  for (size_t i = 0; i < n; ++i)
    if (m[i].key.str() == key) return i;
  return n;
}

const Value* Object::find(std::string_view key) const noexcept {
  size_t i = index_of(key);
  return i < size_ ? &n_->items()[i].value : nullptr;
}

Value* Object::find(std::string_view key) noexcept {
  size_t i = index_of(key);
  return i < size_ ? &n_->items()[i].value : nullptr;
}

Value& Object::push_unique(Value key, Value v) {
  const size_t pos = size_;
  if (!n_ || pos == n_->cap) grow(pos + 1);
  Member* m = n_->items() + pos;
  std::memcpy(static_cast<void*>(&m->key), &key, sizeof(Value));
  std::memcpy(static_cast<void*>(&m->value), &v, sizeof(Value));
  key.clear_bits(Value::kNull);
  v.clear_bits(Value::kNull);
  size_ = static_cast<uint32_t>(pos + 1);
  if (slots_for(n_->cap)) index_add(n_, pos, key_hash(m->key.str()));
  return m->value;
}

Value& Object::insert_or_assign(std::string_view key, Value v) {
  size_t i = index_of(key);
  if (i < size_) return n_->items()[i].value = std::move(v);
  return push_unique(Value(key), std::move(v));
}

Value& Object::put(Value key, Value v) {
  size_t i = index_of(key.str());
  if (i < size_) return n_->items()[i].value = std::move(v);
  return push_unique(std::move(key), std::move(v));
}

Value& Object::operator[](std::string_view key) {
  size_t i = index_of(key);
  if (i < size_) return n_->items()[i].value;
  return push_unique(Value(key), Value());
}

void Object::remove_at(size_t i, Value* out) {
  Member* m = n_->items();
  const size_t last = size_ - 1;
  if (slots_for(n_->cap)) {
    index_unlink(n_, i);
    if (i != last) n_->slots()[index_slot_of(n_, last)] = static_cast<uint32_t>(i + 1);
  }
  if (out) *out = std::move(m[i].value);
  m[i].key.~Value();
  m[i].value.~Value();
  if (i != last) std::memcpy(static_cast<void*>(m + i), m + last, sizeof(Member));
  size_ = static_cast<uint32_t>(last);
}

bool Object::take(std::string_view key, Value& out) {
  size_t i = index_of(key);
  if (i >= size_) return false;
  remove_at(i, &out);
  return true;
}

bool Object::erase(std::string_view key) {
  size_t i = index_of(key);
  if (i >= size_) return false;
  remove_at(i, nullptr);
  return true;
}

bool Object::erase_ordered(std::string_view key) {
  size_t i = index_of(key);
  if (i >= size_) return false;
  Member* m = n_->items();
  if (size_t slots = slots_for(n_->cap)) {
    index_unlink(n_, i);
    // Members after i move down one place.
    uint32_t* s = n_->slots();
    for (size_t j = 0; j < slots; ++j)
      if (s[j] > i + 1) --s[j];
  }
  m[i].key.~Value();
  m[i].value.~Value();
  std::memmove(static_cast<void*>(m + i), m + i + 1, (size_ - i - 1) * sizeof(Member));
  --size_;
  return true;
}

bool operator==(const Object& a, const Object& b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const Member& m = a.at(i);
    // Same position first: equal objects are usually in the same order.
    const Member& n = b.at(i);
    const Value* other = n.key.str() == m.key.str() ? &n.value : b.find(m.key.str());
    if (!other || !(m.value == *other)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- hashing

uint64_t hash_seed() noexcept {
  static const uint64_t seed = [] {
    uint64_t s = 0x9e3779b97f4a7c15ULL;
    try {
      std::random_device rd;
      s ^= (static_cast<uint64_t>(rd()) << 32) ^ rd();
    } catch (...) {
      s ^= reinterpret_cast<uintptr_t>(&s);
    }
    return s;
  }();
  return seed;
}

namespace {
inline uint64_t mix(uint64_t a, uint64_t b) noexcept {
  __uint128_t r = static_cast<__uint128_t>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}
}  // namespace

uint64_t hash_bytes(std::string_view s, uint64_t seed) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size();
  uint64_t h = seed ^ (n * 0xa0761d6478bd642fULL);
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = mix(h ^ w, 0xe7037ed1a0b428dbULL);
    p += 8;
    n -= 8;
  }
  uint64_t w = 0;
  for (size_t i = 0; i < n; ++i) w |= static_cast<uint64_t>(p[i]) << (8 * i);
  return mix(h ^ w, 0x8ebc6af09c88c6e3ULL) ^ h;
}

// ---------------------------------------------------------------- UTF-8

bool valid_utf8(std::string_view s) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* e = p + s.size();
  while (p < e) {
    // ASCII fast path, eight bytes at a time.
    while (e - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if (w & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p >= e) break;
    unsigned c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t n;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (static_cast<size_t>(e - p) <= n) return false;
    for (size_t i = 1; i <= n; ++i) {
      unsigned d = p[i];
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    p += n + 1;
  }
  return true;
}

}  // namespace zefa::json
