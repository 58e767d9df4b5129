#include "json.hpp"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <new>
#include <random>

namespace zefa::json {

namespace detail {

struct StrNode {
  std::atomic<uint32_t> rc;
  size_t len;
  char data[1];

  static StrNode* make(std::string_view s) {
    void* mem = std::malloc(offsetof(StrNode, data) + s.size() + 1);
    if (!mem) throw std::bad_alloc();
    auto* n = static_cast<StrNode*>(mem);
    new (&n->rc) std::atomic<uint32_t>(1);
    n->len = s.size();
    std::memcpy(n->data, s.data(), s.size());
    n->data[s.size()] = 0;
    return n;
  }
};

struct ArrNode {
  std::atomic<uint32_t> rc{1};
  Array items;
};

struct ObjNode {
  std::atomic<uint32_t> rc{1};
  Object obj;
};

}  // namespace detail

using detail::ArrNode;
using detail::ObjNode;
using detail::StrNode;

namespace {
const Array kEmptyArray;
const Object kEmptyObject;
const Value kNullValue;

template <class N>
void inc(void* p) noexcept {
  static_cast<N*>(p)->rc.fetch_add(1, std::memory_order_relaxed);
}
template <class N>
bool dec(void* p) noexcept {
  return static_cast<N*>(p)->rc.fetch_sub(1, std::memory_order_acq_rel) == 1;
}
}  // namespace

// ---------------------------------------------------------------- Value

Value::Value(std::string_view s) {
  if (s.size() <= kInline) {
    // Zero padding makes a short string's sixteen bytes its identity, which
    // key lookups compare in two words.
    std::memset(b_, 0, 16);
    b_[0] = kSStr;
    b_[1] = static_cast<unsigned char>(s.size());
    // An empty view may carry a null pointer, which memcpy must not see.
    if (!s.empty()) std::memcpy(b_ + 2, s.data(), s.size());
  } else {
    b_[0] = kLStr;
    store<void*>(StrNode::make(s));
  }
}

Value::Value(Array&& a) {
  auto* n = new ArrNode;
  n->items = std::move(a);
  b_[0] = kArr;
  store<void*>(n);
}
Value::Value(const Array& a) : Value(Array(a)) {}

Value::Value(Object&& o) {
  auto* n = new ObjNode;
  n->obj = std::move(o);
  b_[0] = kObj;
  store<void*>(n);
}
Value::Value(const Object& o) : Value(Object(o)) {}

Value Value::object() { return Value(Object{}); }

void Value::retain() const noexcept {
  switch (b_[0]) {
    case kLStr: inc<StrNode>(node()); break;
    case kArr: inc<ArrNode>(node()); break;
    case kObj: inc<ObjNode>(node()); break;
    default: break;
  }
}

// Destroying a deep value recurses once per level; values never nest beyond
// the parser's limit, so the recursion is bounded.
void Value::release() noexcept {
  void* p = node();
  switch (b_[0]) {
    case kLStr:
      if (dec<StrNode>(p)) std::free(p);
      break;
    case kArr:
      if (dec<ArrNode>(p)) delete static_cast<ArrNode*>(p);
      break;
    case kObj:
      if (dec<ObjNode>(p)) delete static_cast<ObjNode*>(p);
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
  if (b_[0] == kLStr) {
    auto* n = static_cast<const StrNode*>(node());
    return {n->data, n->len};
  }
  return {};
}

const Array& Value::arr() const noexcept {
  return b_[0] == kArr ? static_cast<const ArrNode*>(node())->items : kEmptyArray;
}
const Object& Value::obj() const noexcept {
  return b_[0] == kObj ? static_cast<const ObjNode*>(node())->obj : kEmptyObject;
}

Array& Value::arr_mut() {
  if (b_[0] != kArr) {
    *this = Value(Array{});
  } else {
    auto* n = static_cast<ArrNode*>(node());
    if (n->rc.load(std::memory_order_acquire) != 1) {
      auto* c = new ArrNode;
      c->items = n->items;
      Value t = from_ptr(kArr, c);
      swap(t);
    }
  }
  return static_cast<ArrNode*>(node())->items;
}

Object& Value::obj_mut() {
  if (b_[0] != kObj) {
    *this = Value(Object{});
  } else {
    auto* n = static_cast<ObjNode*>(node());
    if (n->rc.load(std::memory_order_acquire) != 1) {
      auto* c = new ObjNode;
      c->obj = n->obj;
      Value t = from_ptr(kObj, c);
      swap(t);
    }
  }
  return static_cast<ObjNode*>(node())->obj;
}

size_t Value::size() const noexcept {
  if (b_[0] == kArr) return arr().size();
  if (b_[0] == kObj) return obj().size();
  return 0;
}

const Value* Value::find(std::string_view key) const noexcept {
  return b_[0] == kObj ? obj().find(key) : nullptr;
}

const Value& Value::operator[](std::string_view key) const noexcept {
  const Value* v = find(key);
  return v ? *v : kNullValue;
}

const Value& Value::operator[](size_t i) const noexcept {
  if (b_[0] == kArr) {
    const Array& a = arr();
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
      if (a.node() == b.node()) return true;
      const Array& x = a.arr();
      const Array& y = b.arr();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i)
        if (!(x[i] == y[i])) return false;
      return true;
    }
    default:
      if (a.node() == b.node()) return true;
      return a.obj() == b.obj();
  }
}

std::string Value::dump() const { return json::dump(*this); }
void Value::dump_to(std::string& out) const { json::dump_to(*this, out); }

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

// ---------------------------------------------------------------- Object

namespace {
// Below this many members a linear scan beats hashing.
constexpr size_t kIndexFrom = 24;
}

Object::Object(std::initializer_list<std::pair<std::string_view, Value>> init) {
  members_.reserve(init.size());
  for (const auto& [k, v] : init) insert_or_assign(k, v);
}

Object::Object(const Object& o) : members_(o.members_) {
  if (o.slots_) {
    slots_ = new uint32_t[size_t{o.mask_} + 1];
    std::memcpy(slots_, o.slots_, (size_t{o.mask_} + 1) * sizeof(uint32_t));
    mask_ = o.mask_;
  }
}

Object::Object(Object&& o) noexcept : members_(std::move(o.members_)), slots_(o.slots_), mask_(o.mask_) {
  o.slots_ = nullptr;
  o.mask_ = 0;
  o.members_.clear();
}

Object& Object::operator=(const Object& o) {
  if (this != &o) {
    Object t(o);
    *this = std::move(t);
  }
  return *this;
}

Object& Object::operator=(Object&& o) noexcept {
  if (this != &o) {
    delete[] slots_;
    members_ = std::move(o.members_);
    slots_ = o.slots_;
    mask_ = o.mask_;
    o.slots_ = nullptr;
    o.mask_ = 0;
    o.members_.clear();
  }
  return *this;
}

Object::~Object() { delete[] slots_; }

void Object::clear() {
  members_.clear();
  delete[] slots_;
  slots_ = nullptr;
  mask_ = 0;
}

size_t Object::index_find(std::string_view key, uint64_t h) const noexcept {
  size_t i = h & mask_;
  while (true) {
    uint32_t s = slots_[i];
    if (s == 0) return members_.size();
    if (members_[s - 1].key.str() == key) return s - 1;
    i = (i + 1) & mask_;
  }
}

size_t Object::index_of(std::string_view key) const noexcept {
  if (slots_) return index_find(key, hash_bytes(key, hash_seed()));
  if (key.size() <= Value::kInline) {
    const Value probe(key);
    for (size_t i = 0; i < members_.size(); ++i)
      if (members_[i].key.same(probe)) return i;
    return members_.size();
  }
  for (size_t i = 0; i < members_.size(); ++i)
    if (members_[i].key.str() == key) return i;
  return members_.size();
}

const Value* Object::find(std::string_view key) const noexcept {
  size_t i = index_of(key);
  return i < members_.size() ? &members_[i].value : nullptr;
}

Value* Object::find(std::string_view key) noexcept {
  size_t i = index_of(key);
  return i < members_.size() ? &members_[i].value : nullptr;
}

void Object::reserve(size_t n) {
  members_.reserve(n);
  if (n >= kIndexFrom && (!slots_ || n * 2 > size_t{mask_} + 1)) index_rebuild(n);
}

void Object::index_rebuild(size_t room) {
  delete[] slots_;
  slots_ = nullptr;
  mask_ = 0;
  size_t want = std::max(room, members_.size());
  if (want < kIndexFrom) return;
  size_t cap = 32;
  while (cap < want * 2) cap <<= 1;
  slots_ = new uint32_t[cap]();
  mask_ = static_cast<uint32_t>(cap - 1);
  const uint64_t seed = hash_seed();
  for (size_t pos = 0; pos < members_.size(); ++pos) {
    size_t i = hash_bytes(members_[pos].key.str(), seed) & mask_;
    while (slots_[i] != 0) i = (i + 1) & mask_;
    slots_[i] = static_cast<uint32_t>(pos + 1);
  }
}

// Called after members_[pos] was appended.
void Object::index_insert(size_t pos) {
  if (!slots_) {
    if (members_.size() >= kIndexFrom) index_rebuild();
    return;
  }
  if (members_.size() * 2 > size_t{mask_} + 1) {
    index_rebuild();
    return;
  }
  size_t i = hash_bytes(members_[pos].key.str(), hash_seed()) & mask_;
  while (slots_[i] != 0) i = (i + 1) & mask_;
  slots_[i] = static_cast<uint32_t>(pos + 1);
}

// Removes the slot that refers to position `pos` (backward-shift deletion,
// so no tombstones accumulate).
void Object::index_remove(size_t pos) {
  const uint64_t seed = hash_seed();
  size_t i = hash_bytes(members_[pos].key.str(), seed) & mask_;
  while (slots_[i] != pos + 1) i = (i + 1) & mask_;
  size_t j = i;
  while (true) {
    j = (j + 1) & mask_;
    if (slots_[j] == 0) break;
    size_t home = hash_bytes(members_[slots_[j] - 1].key.str(), seed) & mask_;
    // Move slot j back into the hole at i when its home is not in (i, j].
    bool between = (i <= j) ? (home > i && home <= j) : (home > i || home <= j);
    if (!between) {
      slots_[i] = slots_[j];
      i = j;
    }
  }
  slots_[i] = 0;
}

Value& Object::push_unique(Value key, Value v) {
  members_.push_back(Member{std::move(key), std::move(v)});
  index_insert(members_.size() - 1);
  return members_.back().value;
}

Value& Object::insert_or_assign(std::string_view key, Value v) {
  size_t i = index_of(key);
  if (i < members_.size()) {
    members_[i].value = std::move(v);
    return members_[i].value;
  }
  return push_unique(Value(key), std::move(v));
}

Value& Object::put(Value key, Value v) {
  size_t i = index_of(key.str());
  if (i < members_.size()) {
    members_[i].value = std::move(v);
    return members_[i].value;
  }
  return push_unique(std::move(key), std::move(v));
}

Value& Object::operator[](std::string_view key) {
  size_t i = index_of(key);
  if (i < members_.size()) return members_[i].value;
  return push_unique(Value(key), Value());
}

bool Object::take(std::string_view key, Value& out) {
  size_t i = index_of(key);
  if (i >= members_.size()) return false;
  out = std::move(members_[i].value);
  size_t last = members_.size() - 1;
  if (slots_) {
    index_remove(i);
    if (i != last) {
      index_remove(last);
    }
  }
  if (i != last) members_[i] = std::move(members_[last]);
  members_.pop_back();
  if (slots_ && i != last) {
    // Re-register the moved member at its new position.
    const uint64_t seed = hash_seed();
    size_t s = hash_bytes(members_[i].key.str(), seed) & mask_;
    while (slots_[s] != 0) s = (s + 1) & mask_;
    slots_[s] = static_cast<uint32_t>(i + 1);
  }
  return true;
}

bool Object::erase(std::string_view key) {
  Value dummy;
  return take(key, dummy);
}

bool Object::erase_ordered(std::string_view key) {
  size_t i = index_of(key);
  if (i >= members_.size()) return false;
  members_.erase(members_.begin() + static_cast<ptrdiff_t>(i));
  if (slots_) index_rebuild();
  return true;
}

bool operator==(const Object& a, const Object& b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const Member& m = a.members_[i];
    // Same position first: equal objects are usually in the same order.
    const Member& n = b.members_[i];
    const Value* other = n.key.str() == m.key.str() ? &n.value : b.find(m.key.str());
    if (!other || !(m.value == *other)) return false;
  }
  return true;
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
