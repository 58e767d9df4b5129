// Unicode text helpers shared by the datapoint strategies and the expression
// operators. Texts are UTF-8; every function is pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace zefa::text {

// Full Unicode lower-casing (root locale, no language tailoring): one
// character may become several, and a capital sigma at the end of a word
// becomes the final small sigma. ASCII-only texts take a fast path with the
// same result. Ill-formed UTF-8 sequences come back as U+FFFD; the engine
// only passes texts of JSON strings, which are always well-formed.
std::string lower(std::string_view s);

// Whether byte position `pos` of `s` starts a character or is the end: false
// inside a multi-byte UTF-8 character. Positions past the end count as the end.
inline bool on_boundary(std::string_view s, size_t pos) noexcept {
  return pos >= s.size() || (static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80;
}

}  // namespace zefa::text
