// Device preparation as the engine serves it is exercised through the C API
// (data/exchanges/data_prepare.txt); here are the parts no request reaches.
#include "data/prepare.hpp"

#include <gtest/gtest.h>

#include "fn_cases.hpp"

using zefa::json::Value;
using zefa::test::Args;
using zefa::test::J;
namespace data = zefa::data;

TEST(DataPrepare, Cases) {
  zefa::test::run_cases("data_prepare.json", {
      {"cond", [](const Args& a) { return data::cond(a[0], a[1]); }},
      {"identity", [](const Args& a) { return data::identity(a[0], a[1]); }},
      {"patch_op", [](const Args& a) {
         Value device = a[0], dpmap = a[1];
         data::patch_op(device, dpmap, a[2]);
         return Value(zefa::json::Array{device, dpmap});
       }},
      {"apply_quirk", [](const Args& a) {
         Value device = a[0], dpmap = Value::object();
         data::apply_quirk(device, dpmap, a[1]);
         return Value(zefa::json::Array{device, dpmap});
       }},
  });
}

TEST(DataPrepare, CondDeepNestingIsBounded) {
  Value c = Value(true);
  for (int i = 0; i < 1000; ++i) c = Value(zefa::json::Object{{"not", c}});
  // Built in memory beyond what the parser accepts: must still answer.
  EXPECT_TRUE(data::cond(c, J("{}")).is_bool());
}

TEST(DataPrepare, ApplyQuirkTakenFromTheDeviceItself) {
  // The quirk lives inside the description it changes: the ops must survive.
  Value device = J(R"({"q":{"ops":[{"op":"SetCategory","category":1},{"op":"RemoveDp","code":"x"},
                                   {"op":"SetCategory","category":2}]},"status":{"x":1}})");
  Value dpmap = Value::object();
  data::apply_quirk(device, dpmap, device["q"]);
  EXPECT_EQ(device["category"].dump(), "2");
  EXPECT_EQ(device["status"].dump(), "{}");
}
