#include "text.hpp"

#include <unicode/locid.h>
#include <unicode/stringpiece.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <limits>

namespace zefa::text {

namespace {
bool lower_ascii(std::string& s) noexcept {
  bool ascii = true;
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    else if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  }
  return ascii;
}
}  // namespace

std::string lower(std::string_view s) {
  std::string out(s);
  // ICU indexes with 32-bit lengths; texts beyond that (never seen in
  // practice) keep their non-ASCII characters as they are.
  if (lower_ascii(out) || s.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 2)) return out;
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
  u.toLower(icu::Locale::getRoot());
  out.clear();
  u.toUTF8String(out);
  return out;
}

}  // namespace zefa::text
