// Value codecs: the small pure conversions that the datapoint strategies, the
// datapoint adapter and the byte and colour operators of the expression
// language are built from; they live in data/, below both, because
// expressions and the adapter never include each other. Every function here
// is pure, keeps no state and is safe to call from any thread; results are
// new values owned by the caller. Inputs may be arbitrary device data: any
// length, any bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "json.hpp"

namespace zefa::data {

using json::Value;
// A decoded byte string. An absent result (std::nullopt) is distinct from an
// empty byte string, which is a valid decoding.
using Bytes = std::vector<uint8_t>;

// ---- Hexadecimal ----------------------------------------------------------

// The unsigned hexadecimal number in byte positions [start, end) of `text`,
// both cut to the text's length, as the nearest double. An empty slice is 0.
// The slice is an optional "+" and one or more digits of either case; a value
// of 2^64 or more, any other character, start after end, or a position that
// falls inside a multi-byte UTF-8 character fails with "invalid hex".
Result<double, std::string> hx(std::string_view text, size_t start, size_t end);

// Hexadecimal byte text: Unicode White_Space removed wherever it stands, then
// pairs of hex digits (either case; "+" and one digit also reads as a pair).
// An odd count, a bad pair or non-ASCII text left over gives nullopt; the
// empty (or all white-space) text gives an empty byte string.
std::optional<Bytes> hexbytes(std::string_view text);

// Appends `v` in lower-case hexadecimal, zero-padded to at least `width`
// digits; a negative value is written as its 16-digit two's complement.
void append_hex(std::string& out, int64_t v, size_t width);

// ---- Base64 (RFC 4648, standard alphabet) ---------------------------------

// Decodes a JSON string as Base64; nullopt for any other JSON type. Every
// character outside A-Z, a-z, 0-9, "+", "/" and "=" is dropped first; the
// rest must be canonical: a multiple of four characters, "=" only as an
// encoder writes it, zero leftover bits in the last data character.
std::optional<Bytes> b64(const Value& v);
// The same over a text.
std::optional<Bytes> b64_text(std::string_view text);
// Standard padded Base64 of `bytes`.
std::string b64_encode(std::span<const uint8_t> bytes);

// ---- Colour -----------------------------------------------------------------

struct Rgb {
  double r, g, b;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// HSV to RGB, all on the scale 0 to 1 (h in turns, wrapping: h = 1 is h = 0,
// h = -0.5 is h = 0.5). s = 0 gives grey (v, v, v).
Rgb hsv_rgb(double h, double s, double v) noexcept;

// Hue in degrees [0, 360] and saturation as the fraction (max - min) / max of
// an RGB colour on the scale 0 to 1; both 0 for grey.
struct Hs {
  double h, s;
};
Hs rgb_hs(double r, double g, double b) noexcept;

// Six hexadecimal characters "rrggbb" to {"h", "s", "v"} (hue in degrees,
// saturation and value on 0-255), each rounded to one decimal, all JSON
// floats. A bad digit fails with "invalid hex".
Result<Value, std::string> rgb_object(std::string_view text);

// ---- Numbers ----------------------------------------------------------------

// x correctly rounded to `decimals` digits after the point from its exact
// binary value, ties to even (0.25 -> 0.2; 0.35 -> 0.3 as it lies below the
// tie). Infinities and not-a-number come back unchanged.
double rounded(unsigned decimals, double x) noexcept;

// ---- Electricity meter record -------------------------------------------------

// Decodes a meter record into {"voltage", "current", "power",
// "reactive_power", "apparent_power", "power_factor"}: null for fewer than 8
// bytes; the last three are null in the short form (any length of 8 or more
// without a long-form header); 17 bytes with header 01 0F and 18 bytes with
// header 02 0F are the long forms, the latter with a sign byte.
Value electricity(std::span<const uint8_t> bytes);

// The same record as fields, for callers that read them directly rather
// than through the object: JSON null members stand for the absent ones.
struct MeterRecord {
  Value voltage, current, power, reactive_power, apparent_power, power_factor;
};
std::optional<MeterRecord> meter_record(std::span<const uint8_t> bytes);

// ---- Text form ----------------------------------------------------------------

// A float-key list: numbers under these member names keep their form in the
// text form; all others are normalised by the number-emission rule.
using FloatKeys = std::span<const std::string_view>;
inline constexpr std::string_view kColourKeys[] = {"h", "s", "v"};
inline constexpr std::string_view kElectricityKeys[] = {
    "voltage", "electricCurrent", "power", "reactivePower", "apparentPower", "powerFactor", "electricTotal"};

// The text form of `v` as a JSON string: JSON text with ", " between items
// and ": " after member names. A number whose member name (the array's own
// name for array items, "" at the top) is in `keys` is written as it is;
// other floats are written as integers when integral and below 9.22e18 in
// magnitude, and integers stay integers below that magnitude.
Value dumps_float(Value v, FloatKeys keys);

// ---- Datapoint descriptions ---------------------------------------------------

// The default value of a datapoint from its "config_item": by "valueType"
// (any letter case) "enum" gives the first item of valueDesc's "range" (or
// null), "boolean" false, "integer" valueDesc's "min" (or null); anything
// else, or a non-text valueType, gives "". (The codec named "default".)
Value default_value(const Value& config);

// The datapoint code a "local_strategy" item stands for: the last member name
// of its config_item's "statusFormat" (JSON, possibly as text) when that is a
// non-empty object, else its "status_code" text, else "".
std::string strategy_code(const Value& item);

}  // namespace zefa::data
