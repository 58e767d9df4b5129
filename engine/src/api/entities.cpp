// The entity operations on a rule pack: classification, unused datapoints,
// entity state and actions, and the status slot of one plan.
#include <algorithm>
#include <unordered_set>

#include "adapter/adapter.hpp"
#include "api/ops.hpp"
#include "assembly/entity.hpp"
#include "data/data.hpp"
#include "record.hpp"

namespace zefa::api {

namespace {

using assembly::Plan;

json::Value plan_list(const std::vector<Plan>& plans) {
  json::Array out;
  out.reserve(plans.size());
  for (const Plan& p : plans) out.push_back(p.serialize());
  return json::Value(std::move(out));
}

// The slot after one report: totals for a delta plan, events for an event
// plan, and whether the host should store the slot again.
Result<json::Value> slot_update(const json::Value& req, const json::Value& pack) {
  ZEFA_TRY(Plan plan, record::decode<Plan>(req, "plan"));
  json::Value slot = req["slot"];
  json::Value fire;
  bool write_state = true;
  const json::Value& changed_v = req["changed"];
  if (!changed_v.is_null()) {
    const std::vector<std::string> changed = data::codes(changed_v);
    if (!plan.slot_kind) {
      write_state = plan.affected(changed);
    } else if (*plan.slot_kind == protocol::SlotKind::Event) {
      ZEFA_TRY(std::optional<json::Value> event, plan.event(req["status"], changed, pack));
      write_state = event.has_value();
      if (event) fire = std::move(*event);
    } else if (plan.depends_on.empty()) {
      write_state = false;
    } else {
      const std::string& code = plan.depends_on.front();
      double total = data::n(slot["total"]);
      json::Value last_ts = slot["last_ts"];
      const bool enabled = std::ranges::find(changed, code) != changed.end();
      write_state = assembly::plan::accumulate(total, last_ts, req["status"][code], req["timestamps"][code], enabled);
      if (write_state) {
        if (slot.is_null()) slot = json::Value::object();
        if (!slot.is_object()) return fail(ErrorKind::Request, "slot must be an object to hold a total");
        slot.obj_mut().insert_or_assign("total", json::Value(total));
        slot.obj_mut().insert_or_assign("last_ts", std::move(last_ts));
      }
    }
  }
  json::Object reply;
  reply.push_unique(json::Value("slot"), std::move(slot));
  reply.push_unique(json::Value("write_state"), json::Value(write_state));
  reply.push_unique(json::Value("fire"), std::move(fire));
  return json::Value(std::move(reply));
}

Result<json::Value> unused_plans(const json::Value& req, const json::Value& pack) {
  using Entries = record::OrderedMap<std::string, adapter::DpEntry>;
  ZEFA_TRY(Entries entries, record::decode<Entries>(req, "entries"));
  const std::vector<std::string> consumed_list = data::codes(req["consumed"]);
  const std::unordered_set<std::string_view> consumed(consumed_list.begin(), consumed_list.end());
  Entries kept;
  for (auto& [id, entry] : entries)
    if (!consumed.contains(entry.code)) kept.push_unique(id, std::move(entry));
  std::vector<Plan> plans;
  ZEFA_CHECK(assembly::entity::unused(req["device"], kept, plans, pack));
  return plan_list(plans);
}

}  // namespace

namespace ops {

Result<json::Value> classify(const Call& c) {
  ZEFA_TRY(std::vector<Plan> plans,
           assembly::entity::classify(c.req["device"], c.req["env"], *c.rules->pack, c.req["platforms"]));
  return plan_list(plans);
}

Result<json::Value> unused(const Call& c) { return unused_plans(c.req, *c.rules->pack); }

Result<json::Value> on_update(const Call& c) { return slot_update(c.req, *c.rules->pack); }

Result<json::Value> read(const Call& c) {
  ZEFA_TRY(Plan plan, record::decode<Plan>(c.req, "plan"));
  return with_kind(ErrorKind::Engine,
                   assembly::entity::state(plan, c.req["status"], *c.rules->pack, data::n(c.req["total"])));
}

Result<json::Value> write(const Call& c) {
  ZEFA_TRY(Plan plan, record::decode<Plan>(c.req, "plan"));
  ZEFA_TRY(json::Array writes,
           assembly::entity::act(plan, c.req["action"].str(), c.req["args"], c.req["status"], *c.rules->pack));
  return json::Value(std::move(writes));
}

}  // namespace ops

}  // namespace zefa::api
