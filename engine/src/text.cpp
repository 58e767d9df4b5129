#include "text.hpp"

#include <unicode/ucasemap.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <limits>
#include <new>

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

// The root locale is named "": NULL would mean ICU's default locale, which
// ICU sets up from the process's environment (LC_ALL, LC_MESSAGES, LANG).
// Opened once, kept for the life of the process and then only read: the
// mapping functions take it const, so any number of threads may share it.
const UCaseMap* case_map() {
  static const UCaseMap* const map = [] {
    UErrorCode status = U_ZERO_ERROR;
    const UCaseMap* m = ucasemap_open("", 0, &status);
    if (U_FAILURE(status)) throw std::bad_alloc();  // its only way to fail
    return m;
  }();
  return map;
}

// ICU indexes with 32-bit lengths; texts beyond that (never seen in practice)
// keep their non-ASCII characters as they are.
std::string map_case(std::string_view s, bool to_upper) {
  std::string out(s);
  if (map_ascii(out, to_upper ? 'a' : 'A', to_upper ? 'A' : 'a') ||
      s.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2))
    return out;
  // ICU copies runs that map to themselves, so it is given the text with its
  // ASCII letters already mapped. Whether a sigma ends a word does not change:
  // a letter is cased in either case.
  const auto map = to_upper ? ucasemap_utf8ToUpper : ucasemap_utf8ToLower;
  const auto src_len = static_cast<int32_t>(out.size());
  // Room for the usual growth (a sharp s becomes "SS" at the same size, a
  // ligature grows); a text that grows beyond it is mapped again at its size.
  std::string mapped(s.size() + s.size() / 2 + 16, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = map(case_map(), mapped.data(), static_cast<int32_t>(mapped.size()), out.data(), src_len, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    mapped.resize(static_cast<size_t>(n));
    n = map(case_map(), mapped.data(), n, out.data(), src_len, &status);
  }
  if (U_FAILURE(status)) return out;
  mapped.resize(static_cast<size_t>(n));
  return mapped;
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

size_t white_space_at(std::string_view s) noexcept {
  auto b = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  unsigned c0 = b(0);
  if ((c0 >= 0x09 && c0 <= 0x0D) || c0 == 0x20) return 1;
  if (c0 == 0xC2) return (b(1) == 0x85 || b(1) == 0xA0) ? 2 : 0;  // U+0085, U+00A0
  if (c0 == 0xE1) return (b(1) == 0x9A && b(2) == 0x80) ? 3 : 0;  // U+1680
  if (c0 == 0xE3) return (b(1) == 0x80 && b(2) == 0x80) ? 3 : 0;  // U+3000
  if (c0 == 0xE2) {
    unsigned c1 = b(1), c2 = b(2);
    if (c1 == 0x80 && ((c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF)) return 3;
    if (c1 == 0x81 && c2 == 0x9F) return 3;  // U+205F
  }
  return 0;
}

std::string_view trim_white_space(std::string_view s) noexcept {
  while (size_t n = white_space_at(s)) s.remove_prefix(n);
  while (!s.empty()) {
    size_t start = s.size() - 1;
    while (start > 0 && !on_boundary(s, start)) --start;
    if (white_space_at(s.substr(start)) != s.size() - start) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
}

}  // namespace zefa::text
