// Override application: device preparation and descriptor patches, from the
// case tables data/cases/driver_prepare.json and driver_patch.json.
#include "driver/overrides.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "fn_cases.hpp"
#include "record.hpp"

namespace zefa {
namespace {

using json::Value;
using test::Args;
namespace ov = driver::overrides;

// Options as the driver reads them: missing members take their defaults.
ov::Options options_of(const Value& v) {
  ov::Options o;
  if (const Value* q = v.find("use_quirks")) o.use_quirks = q->as_bool();
  if (const Value* d = v.find("dpmap")) o.dpmap = *d;
  if (const Value* m = v.find("overrides")) o.overrides = *m;
  return o;
}

TEST(DriverOverrides, Prepare) {
  test::run_cases("driver_prepare.json", {
      {"prepare", [](const Args& a) {
         return test::outcome(ov::prepare(a[1], options_of(a[2]), a[0]), [](const ov::Prepared& p) {
           return Value(json::Array{p.device, p.block, p.dpmap, p.info});
         });
       }},
  });
}

// [rules, device, assembly, plans, block] -> [assembly, plans] after the
// patch, or {"error": message}.
Value patched(const Args& a) {
  auto assembly = record::read<assembly::Assembly>(a[2]);
  if (!assembly.ok()) throw std::runtime_error(assembly.error());
  std::vector<assembly::Plan> plans;
  for (const Value& p : a[3].arr()) plans.push_back(record::read<assembly::Plan>(p).value());
  auto r = ov::patch_descriptor(assembly.value(), plans, a[4], a[1], a[0]);
  if (!r.ok()) return Value(json::Object{{"error", Value(r.error())}});
  json::Array written;
  for (const assembly::Plan& p : plans) written.push_back(p.serialize());
  return Value(json::Array{record::write(assembly.value()), Value(std::move(written))});
}

TEST(DriverOverrides, PatchDescriptor) { test::run_cases("driver_patch.json", {{"patch_descriptor", patched}}); }

TEST(DriverOverrides, PatchLeavesASharedDescriptorAlone) {
  const Value cases = test::load("cases/driver_patch.json");
  const Args& given = cases[0]["given"].arr();
  auto original = record::read<assembly::Assembly>(given[2]).value();
  assembly::Assembly copy = original;
  std::vector<assembly::Plan> plans;
  const Value block = test::J(R"({"props":{"mode":{"hide":true},"temp":{"label":"X"}},"device":{"vendor":null}})");
  ASSERT_TRUE(ov::patch_descriptor(copy, plans, block, given[1], given[0]).ok());
  EXPECT_EQ(record::write(original).dump(), given[2].dump());
  EXPECT_EQ(copy.descriptor["props"]["temp"]["label"].dump(), R"("X")");
  EXPECT_EQ(copy.bindings.find("mode"), nullptr);
}

TEST(DriverOverrides, PrepareLeavesItsInputAlone) {
  const Value device = test::J(R"({"id":"d","function":{"a":{"type":"enum","values":{"range":["1"]}}},
                                   "status":{"a":"1"}})");
  const std::string before = device.dump();
  ov::Options o;
  o.dpmap = test::J(R"({"1":"a"})");
  o.overrides = test::J(R"({"d":{"dp":{"1":{"code":"b"}},"remap":{"b":{"alias":{"1":"x"}}},"remove":["c"]}})");
  auto r = ov::prepare(device, o, Value::object());
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r->device["function"].dump(), R"({"b":{"type":"enum","values":{"range":["x"]}}})");
  EXPECT_EQ(device.dump(), before);
}

}  // namespace
}  // namespace zefa
