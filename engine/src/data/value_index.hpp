// JSON values found by exact equality without scanning: a hash that agrees
// with operator==, and an index of a list's items by value. Lookups of one
// list in a loop over input use the index, so they cost linear time overall.
#pragma once

#include <cstdint>
#include <vector>

#include "json.hpp"
#include "record.hpp"

namespace zefa::data {

using json::Value;

// Agrees with exact equality: object members combine independently of their
// order, 0.0 and -0.0 hash alike. Recursion follows the value's own nesting,
// which is bounded.
uint64_t value_hash(const Value& v, uint64_t seed) noexcept;

// The items of an array, or the member values of an object, by value: the
// position of the first item equal to a given value. Built in one pass;
// lists of a few items are scanned instead. The list must outlive the index
// and stay unchanged.
class ValueIndex {
 public:
  static constexpr size_t npos = record::PositionIndex::npos;

  explicit ValueIndex(const json::Array& items);
  explicit ValueIndex(const json::Object& members);

  // Position of the first item equal to `v`, or npos.
  size_t first(const Value& v) const;
  bool contains(const Value& v) const { return first(v) != npos; }

 private:
  void build();

  std::vector<const Value*> items_;
  record::PositionIndex index_;  // empty for short lists
};

}  // namespace zefa::data
