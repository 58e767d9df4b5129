// Override application from case tables: device preparation and descriptor patches.
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
         const std::string device = a[1].dump();
         auto r = ov::prepare(a[1], options_of(a[2]), a[0]);
         EXPECT_EQ(a[1].dump(), device) << "the device it was given changed";
         return test::outcome(r, [](const ov::Prepared& p) { return Value(json::Array{p.device, p.block, p.dpmap, p.info}); });
       }},
  });
}

// [rules, device, assembly, plans, block] -> [assembly, plans] or {"error"};
// a copy made before, sharing the descriptor, stays as it was.
Value patched(const Args& a) {
  auto assembly = record::read<assembly::Assembly>(a[2]);
  if (!assembly.ok()) throw std::runtime_error(assembly.error());
  const assembly::Assembly before = assembly.value();
  std::vector<assembly::Plan> plans;
  for (const Value& p : a[3].arr()) plans.push_back(record::read<assembly::Plan>(p).value());
  auto r = ov::patch_descriptor(assembly.value(), plans, a[4], a[1], a[0]);
  EXPECT_EQ(record::write(before).dump(), a[2].dump());
  if (!r.ok()) return Value(json::Object{{"error", Value(r.error())}});
  json::Array written;
  for (const assembly::Plan& p : plans) written.push_back(p.serialize());
  return Value(json::Array{record::write(assembly.value()), Value(std::move(written))});
}

TEST(DriverOverrides, PatchDescriptor) { test::run_cases("driver_patch.json", {{"patch_descriptor", patched}}); }

}  // namespace
}  // namespace zefa
