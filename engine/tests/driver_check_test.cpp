// The command check's number text; the check itself is exercised through
// the "check" operation (data/exchanges/check.txt), whose reasons show the
// common forms.
#include "driver/check.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zefa {
namespace {

// Shortest digits that read back, never an exponent, even at the extremes
// of the double range.
TEST(DriverCheck, PlainNumber) {
  const struct {
    double d;
    std::string want;
  } cases[] = {
      {-0.0, "-0"},
      {0.30000000000000004, "0.30000000000000004"},
      {5e-324, "0." + std::string(323, '0') + "5"},
      {-1.7976931348623157e308, "-17976931348623157" + std::string(292, '0')},
  };
  for (const auto& c : cases) EXPECT_EQ(driver::check::plain_number(c.d), c.want) << c.want;
}

}  // namespace
}  // namespace zefa
