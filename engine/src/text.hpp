// Unicode text helpers shared by the datapoint strategies and the expression
// operators. Texts are UTF-8; every function is pure and thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zefa::text {

// Full Unicode lower-casing (root locale, no language tailoring): one
// character may become several, and a capital sigma at the end of a word
// becomes the final small sigma. ASCII-only texts take a fast path with the
// same result. Reads neither the process's locale nor its environment.
// Ill-formed UTF-8 sequences are kept as they are; the engine only passes
// texts of JSON strings, which are always well-formed.
std::string lower(std::string_view s);

// Full Unicode upper-casing (root locale): one character may become several
// ("\u00DF" gives "SS"). Same fast path and ill-formed input rule as `lower`.
std::string upper(std::string_view s);

// The first character upper-cased by `upper`, followed by the rest of the
// text lower-cased on its own by `lower` (so the rest's final-sigma context
// starts after the first character). The empty text stays empty.
std::string capitalize(std::string_view s);

// Number of characters (Unicode scalar values) of a well-formed UTF-8 text.
size_t length(std::string_view s) noexcept;

// UTF-16 code units, two bytes each with the high byte first, as UTF-8.
// nullopt for an odd number of bytes or an unpaired surrogate.
std::optional<std::string> from_utf16be(std::span<const uint8_t> bytes);

// Whether byte position `pos` of `s` starts a character or is the end: false
// inside a multi-byte UTF-8 character. Positions past the end count as the end.
inline bool on_boundary(std::string_view s, size_t pos) noexcept {
  return pos >= s.size() || (static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80;
}

// Length in bytes of the Unicode White_Space character that starts `s`, or 0.
size_t white_space_at(std::string_view s) noexcept;
// `s` without leading and trailing Unicode White_Space.
std::string_view trim_white_space(std::string_view s) noexcept;

// A count or index written in a text (a timer id, an array index in a path,
// a datapoint id, a time of day): an optional "+", then one or more ASCII
// digits, below 2^64. Anything else, a sign "-" included, is none.
inline std::optional<uint64_t> unsigned_decimal(std::string_view s) noexcept {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, static_cast<uint64_t>(c - '0'), &v))
      return std::nullopt;
  }
  return v;
}

}  // namespace zefa::text
