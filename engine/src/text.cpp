#include "text.hpp"

#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <limits>

namespace zefa::text {

namespace {
// Maps ASCII letters from `from` to `to` in place; true when the text is all
// ASCII, so nothing is left for the full mapping to do.
bool map_ascii(std::string& s, char from, char to) noexcept {
  bool ascii = true;
  for (char& c : s) {
    if (c >= from && c <= from + 25) c = static_cast<char>(c - from + to);
    else if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  }
  return ascii;
}

// ICU indexes with 32-bit lengths; texts beyond that (never seen in practice)
// keep their non-ASCII characters as they are.
std::string map_case(std::string_view s, bool to_upper) {
  std::string out(s);
  if (map_ascii(out, to_upper ? 'a' : 'A', to_upper ? 'A' : 'a') ||
      s.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2))
    return out;
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
  if (to_upper) {
    u.toUpper(icu::Locale::getRoot());
  } else {
    u.toLower(icu::Locale::getRoot());
  }
  out.clear();
  u.toUTF8String(out);
  return out;
}
}  // namespace

std::string lower(std::string_view s) { return map_case(s, false); }

std::string upper(std::string_view s) { return map_case(s, true); }

std::string capitalize(std::string_view s) {
  if (s.empty()) return {};
  size_t first = 1;
  while (!on_boundary(s, first)) ++first;
  std::string out = upper(s.substr(0, first));
  out += lower(s.substr(first));
  return out;
}

size_t length(std::string_view s) noexcept {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::optional<std::string> from_utf16be(std::span<const uint8_t> bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size() / 2 * 3);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    uint32_t c = static_cast<uint32_t>(bytes[i]) << 8 | bytes[i + 1];
    if (U16_IS_TRAIL(c)) return std::nullopt;  // a low surrogate must follow a high one
    if (U16_IS_LEAD(c)) {
      if (i + 3 >= bytes.size()) return std::nullopt;
      const uint32_t trail = static_cast<uint32_t>(bytes[i + 2]) << 8 | bytes[i + 3];
      if (!U16_IS_TRAIL(trail)) return std::nullopt;
      c = U16_GET_SUPPLEMENTARY(c, trail);
      i += 2;
    }
    char buf[U8_MAX_LENGTH];
    int32_t n = 0;
    U8_APPEND_UNSAFE(buf, n, c);
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace zefa::text
