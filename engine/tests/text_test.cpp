#include "text.hpp"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <atomic>
#include <thread>
#include <vector>

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

// The case map is opened on first use and then shared: threads that start
// mapping at the same moment all see it whole and get the same results.
TEST(TextConcurrency, FirstCaseMappingFromManyThreads) {
  const struct {
    std::string (*map)(std::string_view);
    std::string_view given, want;
  } rows[] = {
      {text::lower, "\xC3\x84\xC3\x96\xC3\x9C \xCE\xA3\xCE\x91\xCE\xA3", "\xC3\xA4\xC3\xB6\xC3\xBC \xCF\x83\xCE\xB1\xCF\x82"},
      {text::upper, "stra\xC3\x9F" "e", "STRASSE"},
      {text::capitalize, "\xC7\x86" "emal", "\xC7\x84" "emal"},
  };
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 300; ++i)
        for (const auto& r : rows)
          if (r.map(r.given) != r.want) ++wrong;
    });
  go = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}
