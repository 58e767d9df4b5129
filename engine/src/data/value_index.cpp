#include "data/value_index.hpp"

#include <cstring>

namespace zefa::data {

namespace {

// Short lists are cheaper to scan than to hash.
constexpr size_t kScan = 16;

uint64_t mix(uint64_t x) noexcept {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb3f97f4a7c15ULL;
  x ^= x >> 33;
  return x;
}

}  // namespace

uint64_t value_hash(const Value& v, uint64_t seed) noexcept {
  switch (v.type()) {
    case json::Type::Null: return mix(seed ^ 1);
    case json::Type::Bool: return mix(seed ^ (v.as_bool() ? 3 : 2));
    case json::Type::Number: {
      if (v.is_u64()) return mix(seed ^ 0x10 ^ mix(v.as_u64()));
      if (v.is_i64()) return mix(seed ^ 0x20 ^ mix(static_cast<uint64_t>(v.as_i64())));
      double d = v.as_f64();
      if (d == 0) d = 0;
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return mix(seed ^ 0x30 ^ mix(bits));
    }
    case json::Type::String: return json::hash_bytes(v.str(), seed);
    case json::Type::Array: {
      uint64_t h = mix(seed ^ 0x40 ^ v.size());
      for (const Value& item : v.arr()) h = mix(h * 31 + value_hash(item, seed));
      return h;
    }
    case json::Type::Object: {
      uint64_t h = mix(seed ^ 0x50 ^ v.size());
      for (const json::Member& m : v.obj())
        h += mix(json::hash_bytes(m.name(), seed) ^ (value_hash(m.value, seed) * 3));
      return h;
    }
  }
  return 0;
}

ValueIndex::ValueIndex(const json::Array& items) {
  items_.reserve(items.size());
  for (const Value& v : items) items_.push_back(&v);
  build();
}

ValueIndex::ValueIndex(const json::Object& members) {
  items_.reserve(members.size());
  for (const json::Member& m : members) items_.push_back(&m.value);
  build();
}

void ValueIndex::build() {
  if (items_.size() <= kScan) return;
  index_.reset(items_.size());
  const uint64_t seed = json::hash_seed();
  for (size_t i = 0; i < items_.size(); ++i) {
    const uint64_t h = value_hash(*items_[i], seed);
    // Only the first of equal items is indexed, so a hit is the first one.
    if (index_.find(h, [&](size_t j) { return *items_[j] == *items_[i]; }) == npos) index_.put(h, i);
  }
}

size_t ValueIndex::first(const Value& v) const {
  if (index_.empty()) {
    for (size_t i = 0; i < items_.size(); ++i)
      if (*items_[i] == v) return i;
    return npos;
  }
  return index_.find(value_hash(v, json::hash_seed()), [&](size_t j) { return *items_[j] == v; });
}

}  // namespace zefa::data
