#include "text.hpp"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include "fn_cases.hpp"

using zefa::json::Value;
using zefa::test::Args;
namespace text = zefa::text;

TEST(Text, Cases) {
  zefa::test::run_cases("text_ops.json", {
      {"lower", [](const Args& a) { return Value(text::lower(a[0].str())); }},
      {"upper", [](const Args& a) { return Value(text::upper(a[0].str())); }},
      {"capitalize", [](const Args& a) { return Value(text::capitalize(a[0].str())); }},
      {"length", [](const Args& a) { return Value(text::length(a[0].str())); }},
      {"on_boundary", [](const Args& a) { return Value(text::on_boundary(a[0].str(), a[1].as_u64())); }},
      {"trim_white_space", [](const Args& a) { return Value(text::trim_white_space(a[0].str())); }},
      {"from_utf16be", [](const Args& a) {
         std::string b = zefa::test::bytes(a[0]);
         auto s = text::from_utf16be({reinterpret_cast<const uint8_t*>(b.data()), b.size()});
         return s ? Value(*s) : Value();
       }},
  });
}

// Every Unicode scalar value maps as ICU's own string class maps it in the
// root locale: alone, and where it decides whether a capital sigma ends a word
// (before the sigma, or after it, the sigma behind a letter).
TEST(Text, CaseMappingMatchesIcuRootOnEveryCodePoint) {
  auto utf8 = [](const icu::UnicodeString& u) {
    std::string s;
    u.toUTF8String(s);
    return s;
  };
  const icu::UnicodeString sigma(static_cast<UChar32>(0x03A3));
  size_t failures = 0;
  for (UChar32 c = 0; c <= 0x10FFFF && failures < 10; ++c) {
    if (U_IS_SURROGATE(c)) continue;
    const icu::UnicodeString one(c);
    const struct {
      const char* what;
      icu::UnicodeString text;
      bool to_upper;
    } rows[] = {
        {"lower", one, false},
        {"upper", one, true},
        {"lower before a sigma", icu::UnicodeString("A") + one + sigma, false},
        {"lower after a sigma", icu::UnicodeString("A") + sigma + one, false},
    };
    for (const auto& r : rows) {
      icu::UnicodeString want = r.text;
      if (r.to_upper) want.toUpper(icu::Locale::getRoot());
      else want.toLower(icu::Locale::getRoot());
      const std::string given = utf8(r.text);
      const std::string got = r.to_upper ? text::upper(given) : text::lower(given);
      if (got != utf8(want)) {
        ++failures;
        ADD_FAILURE() << r.what << " of U+" << std::hex << c << ": " << got << ", ICU gives " << utf8(want);
      }
    }
  }
}
