#include <gtest/gtest.h>

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
