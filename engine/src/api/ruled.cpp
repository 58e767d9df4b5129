// Operations that need a rule pack, given inline as "rules" or installed
// and named by "rules_id"; the pack is resolved before the handler runs.
#include "adapter/adapter.hpp"
#include "adapter/strategies.hpp"
#include "api/ops.hpp"
#include "data/prepare.hpp"
#include "record.hpp"
#include "runtime/options.hpp"

namespace zefa::api {

Result<Rules> resolve(const json::Value& req) {
  const json::Value& inline_rules = req["rules"];
  if (!inline_rules.is_null()) {
    ZEFA_CHECK(runtime::validated(inline_rules));
    return Rules{&inline_rules, {}};
  }
  ZEFA_TRY(Borrowed ref, lookup(req["rules_id"].str()));
  if (!*ref) return fail(ErrorKind::Rules, "rules are required or rules_id is not registered");
  const json::Value* pack = &(*ref)->rules;
  return Rules{pack, std::move(ref)};
}

std::string fingerprint(const Rules& rules) {
  return *rules.installed ? (*rules.installed)->fingerprint() : runtime::fingerprint(*rules.pack);
}

namespace ops {

namespace {

const json::Value& pack(const Call& c) { return *c.rules->pack; }

// The quirk for a request: its own "quirk" when given, else the pack's quirk
// for the device's product id.
json::Value quirk_for(const Call& c) {
  const json::Value& own = c.req["quirk"];
  if (!own.is_null()) return own;
  return pack(c)["quirks"][c.req["device"]["product_id"].str()];
}

}  // namespace


Result<json::Value> quirk_schema(const Call& c) {
  json::Value device = c.req["device"];
  data::ensure_tables(device);
  const json::Value* own = device.find("dpmap");
  json::Value dpmap = own ? *own : json::Value::object();
  data::apply_quirk(device, dpmap, quirk_for(c));
  // A description that is not an object has nowhere to keep its map.
  if (device.is_object()) device.obj_mut().insert_or_assign("dpmap", std::move(dpmap));
  return device;
}

Result<json::Value> device_info(const Call& c) { return data::device_info(c.req["device"], quirk_for(c), pack(c)); }

Result<json::Value> adapter_create(const Call& c) {
  return record::write(adapter::Adapter::make(c.req["device"], c.req["dpmap"], pack(c)));
}

Result<json::Value> adapter_read(const Call& c) {
  ZEFA_TRY(adapter::Adapter a, record::decode<adapter::Adapter>(c.req, "adapter"));
  return a.read(c.req["dps"], pack(c));
}

Result<json::Value> strategy_read(const Call& c) {
  return with_kind(ErrorKind::Engine,
                   adapter::strategy_read(c.req["name"].str(), c.req["value"], c.req["config"], pack(c)));
}

}  // namespace ops

}  // namespace zefa::api
