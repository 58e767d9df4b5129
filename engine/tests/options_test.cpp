// Reading the options: data/cases/options_reading.json (run in
// record_test.cpp) and, for the errors, data/exchanges/options_reading.txt.
#include "runtime/options.hpp"

#include <gtest/gtest.h>

#include "test_util.hpp"

using namespace zefa;
using runtime::DriverOptions;
using runtime::HostEnv;
using test::J;

TEST(DriverOptions, DefaultsAreThoseOfAnEmptyObject) {
  auto empty = DriverOptions::deserialize(J("{}"));
  EXPECT_EQ(record::write(DriverOptions::make_default()).dump(), record::write(empty.value()).dump());
  EXPECT_EQ(HostEnv::make_default().serialize().dump(), R"({"temperature_unit":"C","allowed_units":{}})");
}
