#include <gtest/gtest.h>

#include <vector>

#include "text.hpp"

TEST(Text, LowerIsFullUnicode) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"ABC def 123", "abc def 123"},
      {"\xC3\x84\xC3\x96\xC3\x9C", "\xC3\xA4\xC3\xB6\xC3\xBC"},  // umlauts
      // Capital sigma at the end of a word becomes the final small sigma.
      {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"},
      {"\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},
      // Capital I with dot above lower-cases to two characters (no Turkish tailoring).
      {"\xC4\xB0", "i\xCC\x87"},
      {"TRUE", "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(zefa::text::lower(c.in), c.out) << c.in;
}

TEST(Text, Boundaries) {
  std::string_view s = "a\xC3\xA9z";  // a, e-acute (2 bytes), z
  EXPECT_TRUE(zefa::text::on_boundary(s, 0));
  EXPECT_TRUE(zefa::text::on_boundary(s, 1));
  EXPECT_FALSE(zefa::text::on_boundary(s, 2));
  EXPECT_TRUE(zefa::text::on_boundary(s, 3));
  EXPECT_TRUE(zefa::text::on_boundary(s, 4));
  EXPECT_TRUE(zefa::text::on_boundary(s, 99));
}

TEST(Text, UpperCapitalizeLength) {
  EXPECT_EQ(zefa::text::upper("stra\xC3\x9F" "e"), "STRASSE");
  EXPECT_EQ(zefa::text::upper("abc"), "ABC");
  EXPECT_EQ(zefa::text::capitalize("\xC3\x9F"), "SS");
  // The rest is lowered on its own: a lone capital sigma there is no word end.
  EXPECT_EQ(zefa::text::capitalize("\xCE\x91\xCE\xA3"), "\xCE\x91\xCF\x83");
  EXPECT_EQ(zefa::text::length("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), 4u);
  EXPECT_EQ(zefa::text::length(""), 0u);
}

TEST(Text, FromUtf16be) {
  using Bytes = std::vector<uint8_t>;
  EXPECT_EQ(zefa::text::from_utf16be(Bytes{0x00, 0x41, 0x20, 0xAC}), "A\xE2\x82\xAC");
  EXPECT_EQ(zefa::text::from_utf16be(Bytes{0xD8, 0x3D, 0xDE, 0x00}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(zefa::text::from_utf16be(Bytes{}), "");
  EXPECT_EQ(zefa::text::from_utf16be(Bytes{0x00}), std::nullopt);
  EXPECT_EQ(zefa::text::from_utf16be(Bytes{0xD8, 0x3D}), std::nullopt);
  EXPECT_EQ(zefa::text::from_utf16be(Bytes{0xDE, 0x00, 0xD8, 0x3D}), std::nullopt);
  EXPECT_EQ(zefa::text::from_utf16be(Bytes{0xD8, 0x3D, 0xD8, 0x3D, 0xDE, 0x00}), std::nullopt);
}

TEST(Text, TrimWhiteSpace) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"  42 ", "42"},
      {"\t\n\v\f\r42\r\n", "42"},
      {"\xC2\xA0" "42" "\xE3\x80\x80", "42"},             // no-break space, ideographic space
      {"\xE2\x80\x82" "4 2" "\xE2\x81\x9F", "4 2"},       // en space, medium mathematical space
      {"\xE2\x80\x8B" "42", "\xE2\x80\x8B" "42"},         // zero-width space is not White_Space
      {"42\xC3\xA9", "42\xC3\xA9"},
      {"   ", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(zefa::text::trim_white_space(c.in), c.out) << c.in;
}
