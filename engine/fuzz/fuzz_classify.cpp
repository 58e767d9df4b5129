// Random rule packs (platforms, entity definitions with variants, groups,
// templates, build, state and action programs, "unused" sections) and
// devices: classification, unused datapoints, entity state and actions
// never crash or hang, and every plan they make is written and read back
// unchanged, within the nesting the parser accepts.
//
// Input: {"rules": pack, "device": description, "only": platform filter,
// "entries": datapoint id -> [code, strategy, config], "action": name,
// "args": value}; any member may be missing.
#include <cstdlib>
#include <string>

#include "assembly/entity.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "record.hpp"

namespace {

using zefa::assembly::Plan;
using zefa::json::Value;
namespace entity = zefa::assembly::entity;

using zefa::testing::check;

// A plan's document parses back into the same plan.
void check_plan(const Plan& plan) {
  auto again = Plan::deserialize(zefa::testing::parse_or_abort(plan.serialize().dump()));
  check(again.ok() && again.value() == plan);
}

void check_value(const Value& v) {
  (void)zefa::testing::parse_or_abort(v.dump());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const Value input = std::move(*parsed);
  const Value& rules = input["rules"];
  const Value& device = input["device"];

  auto plans = entity::classify(device, Value(), rules, input["only"]);
  if (!plans.ok()) return 0;
  auto entries = zefa::record::read<zefa::record::OrderedMap<std::string, zefa::adapter::DpEntry>>(input["entries"]);
  std::vector<Plan> all = plans.value();
  if (entries.ok()) {
    const size_t before = all.size();
    if (entity::unused(device, entries.value(), all, rules).ok()) check(all.size() >= before);
  }
  const Value& status = device["status"];
  for (const Plan& plan : all) {
    check_plan(plan);
    if (auto state = entity::state(plan, status, rules, 1.5); state.ok()) check_value(state.value());
    if (auto writes = entity::act(plan, input["action"].str(), input["args"], status, rules); writes.ok())
      check_value(Value(writes.value()));
    (void)plan.event(status, plan.depends_on, rules);
  }
  return 0;
}
