#include "runtime/options.hpp"

#include <gtest/gtest.h>

#include "test_util.hpp"

using namespace zefa;
using runtime::DriverOptions;
using runtime::HostEnv;
using test::J;

namespace {

// The options as a request member: every field written out, or the request
// error the operations give.
std::string options(const char* text) {
  auto r = record::decode<DriverOptions>(J(std::string(R"({"op":"create","options":)") + text + "}"), "options");
  return r.ok() ? record::write(r.value()).dump() : "error: " + r.error().message;
}

constexpr const char* kDefaults =
    R"({"env":null,"use_quirks":true,"dpmap":{},"allow_hazardous":false,"expose_unused":false,)"
    R"("overrides":{},"device_settings":false})";

}  // namespace

TEST(DriverOptions, Reading) {
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"{}", kDefaults},
      {R"({"use_quirks":false,"colour":1})",
       R"({"env":null,"use_quirks":false,"dpmap":{},"allow_hazardous":false,"expose_unused":false,)"
       R"("overrides":{},"device_settings":false})"},
      {R"({"device_settings":true,"expose_unused":true,"allow_hazardous":true,"dpmap":{"101":"switch"},)"
       R"("overrides":{"p1":{"x":1}},"env":{"temperature_unit":"F"}})",
       R"({"env":{"temperature_unit":"F","allowed_units":{}},"use_quirks":true,"dpmap":{"101":"switch"},)"
       R"("allow_hazardous":true,"expose_unused":true,"overrides":{"p1":{"x":1}},"device_settings":true})"},
      // "dpmap" and "overrides" take any value unchanged, null included.
      {R"({"dpmap":null,"overrides":5})",
       R"({"env":null,"use_quirks":true,"dpmap":null,"allow_hazardous":false,"expose_unused":false,)"
       R"("overrides":5,"device_settings":false})"},
      {R"({"env":null})", kDefaults},
      {"[]", kDefaults},
      {"[null,false]",
       R"({"env":null,"use_quirks":false,"dpmap":{},"allow_hazardous":false,"expose_unused":false,)"
       R"("overrides":{},"device_settings":false})"},
      {R"([["F",[1]],true,{"1":"a"},true,false,[],true])",
       R"({"env":{"temperature_unit":"F","allowed_units":[1]},"use_quirks":true,"dpmap":{"1":"a"},)"
       R"("allow_hazardous":true,"expose_unused":false,"overrides":[],"device_settings":true})"},
      {"[null,true,{},false,false,{},false,0]", "error: options: invalid length 8, expected fewer elements in array"},
      {R"({"allow_hazardous":1})", "error: options: invalid type: integer `1`, expected a boolean"},
      {R"({"use_quirks":null})", "error: options: invalid type: null, expected a boolean"},
      {R"({"expose_unused":"yes"})", "error: options: invalid type: string \"yes\", expected a boolean"},
      {R"({"device_settings":[]})", "error: options: invalid type: sequence, expected a boolean"},
      {"[null,0]", "error: options: invalid type: integer `0`, expected a boolean"},
      {"5", "error: options: invalid type: integer `5`, expected struct DriverOptions"},
      {R"("x")", "error: options: invalid type: string \"x\", expected struct DriverOptions"},
      // The environment.
      {R"({"env":{}})",
       R"({"env":{"temperature_unit":"C","allowed_units":{}},"use_quirks":true,"dpmap":{},"allow_hazardous":false,)"
       R"("expose_unused":false,"overrides":{},"device_settings":false})"},
      {R"({"env":["F"]})",
       R"({"env":{"temperature_unit":"F","allowed_units":{}},"use_quirks":true,"dpmap":{},"allow_hazardous":false,)"
       R"("expose_unused":false,"overrides":{},"device_settings":false})"},
      {R"({"env":"F"})", "error: options: invalid type: string \"F\", expected struct HostEnv"},
      {R"({"env":true})", "error: options: invalid type: boolean `true`, expected struct HostEnv"},
      {R"({"env":{"temperature_unit":5}})", "error: options: invalid type: integer `5`, expected a string"},
      {R"({"env":["F",{},1]})", "error: options: invalid length 3, expected fewer elements in array"},
      // The first bad field ends the read.
      {R"({"use_quirks":1,"env":"F"})", "error: options: invalid type: integer `1`, expected a boolean"},
  };
  for (const auto& c : cases) EXPECT_EQ(options(c.in), c.out) << c.in;
}

TEST(DriverOptions, Defaults) {
  DriverOptions d = DriverOptions::make_default();
  EXPECT_FALSE(d.env.has_value());
  EXPECT_TRUE(d.use_quirks);
  EXPECT_EQ(d.dpmap, J("{}"));
  EXPECT_EQ(d.overrides, J("{}"));
  EXPECT_FALSE(d.allow_hazardous || d.expose_unused || d.device_settings);
  EXPECT_EQ(record::write(d).dump(), kDefaults);

  HostEnv env = HostEnv::make_default();
  EXPECT_EQ(env.serialize().dump(), R"({"temperature_unit":"C","allowed_units":{}})");
}

TEST(HostEnv, ReadAndWrite) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {R"({"allowed_units":[1],"temperature_unit":"F"})", R"({"temperature_unit":"F","allowed_units":[1]})"},
      {R"({"allowed_units":null,"x":1})", R"({"temperature_unit":"C","allowed_units":null})"},
      {R"(["K"])", R"({"temperature_unit":"K","allowed_units":{}})"},
      {R"([])", R"({"temperature_unit":"C","allowed_units":{}})"},
      {R"(["F",{"°F":true},null])", "error: invalid length 3, expected fewer elements in array"},
      {R"([1])", "error: invalid type: integer `1`, expected a string"},
      {R"(null)", "error: invalid type: null, expected struct HostEnv"},
  };
  for (const auto& c : cases) {
    auto r = HostEnv::deserialize(J(c.in));
    EXPECT_EQ(r.ok() ? r.value().serialize().dump() : "error: " + r.error(), c.out) << c.in;
  }
}
