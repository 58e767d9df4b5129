// Device data: the value rules every part of the engine judges and converts
// JSON values by, and status tables. Device preparation (prepare.hpp),
// datapoint roles (role.hpp), the value codecs (codecs.hpp) and the text form
// (text_form.hpp) are its other parts.
#pragma once

#include <string>
#include <vector>

#include "error.hpp"
#include "json.hpp"

namespace zefa::data {

using json::Value;

// Truthiness: null, false, 0, "", [] and {} are false.
bool truth(const Value& v) noexcept;
// Numeric coercion: numbers as themselves, decimal strings read, true 1;
// everything else 0.
double n(const Value& v) noexcept;
// Reads a decimal float text exactly as `n` accepts it; false when it does not.
bool read_float(std::string_view s, double& out) noexcept;
// Loose equality: booleans and numbers compare as floats, all else exactly.
bool eq(const Value& a, const Value& b) noexcept;
// The one rule for emitting a computed number: integral values below 9.22e18
// in magnitude become integers, non-finite values null.
Value number(double d);
// Toward zero into a signed 64-bit integer, saturating at its bounds;
// not-a-number gives 0.
int64_t trunc_i64(double d) noexcept;
// Nearest integer, exact halves to the even one, whatever the FPU mode.
double round_even(double x) noexcept;
// A string holding JSON text is parsed (null when it does not parse); any
// other value is returned as it is. Parsed values end up inside roles,
// adapters, plans and driver states, which must stay readable by the
// parser's own nesting limit; text nested deeper than kEmbeddedDepth
// therefore counts as not parsing.
inline constexpr int kEmbeddedDepth = 64;
Value parse(const Value& v);
// A list of codes: array elements as texts ("" for non-strings), a string
// alone, else nothing.
std::vector<std::string> codes(const Value& v);
// Deep merge of `src` into `dst` when both are objects; nothing is removed.
void merge(Value& dst, const Value& src);
// The value when an object (array), else an empty one.
Value obj(const Value& v);
json::Array arr(const Value& v);

// A status or value table: a JSON object, empty by default.
struct Table {
  Value value = Value::object();

  static Table make_default() { return Table{}; }
  Value serialize() const { return value; }
  static Result<Table, std::string> deserialize(const Value& v);
  friend bool operator==(const Table& a, const Table& b) { return a.value == b.value; }
};

}  // namespace zefa::data
