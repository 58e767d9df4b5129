// The command check's number text; the check itself is exercised through
// the "check" operation (data/exchanges/check.txt).
#include "driver/check.hpp"

#include <gtest/gtest.h>

#include <string>

#include "fn_cases.hpp"

namespace zefa {
namespace {

TEST(DriverCheck, PlainNumber) {
  test::run_cases("driver_check.json", {{"plain_number", [](const test::Args& a) {
                                           return json::Value(driver::check::plain_number(a[0].to_f64()));
                                         }}});
}

// The extremes of the double range, written out in full.
TEST(DriverCheck, PlainNumberExtremes) {
  const std::string tiny = driver::check::plain_number(5e-324);
  EXPECT_EQ(tiny, "0." + std::string(323, '0') + "5");
  EXPECT_EQ(driver::check::plain_number(-1.7976931348623157e308), "-17976931348623157" + std::string(292, '0'));
}

}  // namespace
}  // namespace zefa
