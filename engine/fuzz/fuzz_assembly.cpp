// Random rule packs, devices and plans through assembly and the bindings:
// no crash; a descriptor has "available" first and reads back from its own
// text; an assembly reads back as itself; a read through a shared cache
// equals a read computed afresh; the command check judges every property.
//
// Input: {"rules", "device", "plans": [plan records], "allow_hazardous",
// "value": a command value}; plans that do not read are left out.
#include <cstdlib>
#include <string>
#include <vector>

#include "assembly/assembly.hpp"
#include "driver/check.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "record.hpp"

namespace {

using zefa::json::Value;
namespace assembly = zefa::assembly;

using zefa::testing::check;

std::string shown(const zefa::Result<Value, std::string>& r) { return r.ok() ? r.value().dump() : r.error(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const Value in = std::move(*parsed);
  std::vector<assembly::Plan> plans;
  for (const Value& p : in["plans"].arr()) {
    auto plan = assembly::Plan::deserialize(p);
    if (plan.ok() && plans.size() < 8) plans.push_back(std::move(plan).value());
  }
  const Value& rules = in["rules"];
  const Value& device = in["device"];
  auto made = assembly::assemble(device, plans, in["info"], in["allow_hazardous"].as_bool(), rules);
  if (!made.ok()) return 0;
  const assembly::Assembly& a = made.value();

  const Value& props = a.descriptor["props"];
  check(props.obj().at(0).name() == "available");
  check(props.size() == a.bindings.size() + 1);
  // The descriptor copies the device's "name" and identity members as they
  // are; only an assembly within the parser's nesting can be read back.
  const Value written = zefa::record::write(a);
  if (written.depth() <= zefa::json::kMaxDepth) {
    auto reread = zefa::record::read<assembly::Assembly>(zefa::testing::parse_or_abort(written.dump()));
    check(reread.ok() && reread.value() == a);
  }

  const Value& status = device["status"];
  assembly::ReadCache shared;
  for (const auto& [name, binding] : a.bindings) {
    const Value& def = props[name];
    (void)binding.readable(plans, rules);
    assembly::ReadCache own;
    check(shown(binding.read(plans, status, rules, def, shared)) == shown(binding.read(plans, status, rules, def, own)));
    (void)binding.write(plans, in["value"], status, rules, def);
    // Every assembled property exists for the check.
    auto judged = zefa::driver::check::check(a.descriptor, Value::object(), name, in["value"]);
    check(judged.ok() || judged.error().code != zefa::protocol::RejectCode::UnknownProperty);
  }
  return 0;
}
