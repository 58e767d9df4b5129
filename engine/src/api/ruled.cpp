// Operations that need a rule pack, given inline as "rules" or installed
// and named by "rules_id".
#include "api/ops.hpp"
#include "adapter/adapter.hpp"
#include "adapter/strategies.hpp"
#include "api/registry.hpp"
#include "data/prepare.hpp"
#include "record.hpp"
#include "runtime/options.hpp"

namespace zefa::api {

namespace {

// The pack a request runs with: the request's own "rules" (validated for
// this request only) or a shared reference to an installed pack.
struct Rules {
  const json::Value* pack = nullptr;
  std::string fingerprint;
  PackRef installed;
};

Result<Rules> resolve(const json::Value& req) {
  const json::Value& inline_rules = req["rules"];
  if (!inline_rules.is_null()) {
    ZEFA_TRY(std::string fp, runtime::validated(inline_rules));
    return Rules{&inline_rules, std::move(fp), nullptr};
  }
  ZEFA_TRY(PackRef ref, installed(req["rules_id"].str()));
  if (!ref) return fail(ErrorKind::Rules, "rules are required or rules_id is not registered");
  return Rules{&ref->rules, ref->fingerprint, ref};
}


// The quirk for a request: its own "quirk" when given, else the pack's quirk
// for the device's product id.
json::Value quirk_for(const json::Value& req, const json::Value& pack) {
  const json::Value& own = req["quirk"];
  if (!own.is_null()) return own;
  return pack["quirks"][req["device"]["product_id"].str()];
}

json::Value quirk_schema(const json::Value& req, const json::Value& pack) {
  json::Value device = req["device"];
  data::ensure_tables(device);
  const json::Value* own = device.find("dpmap");
  json::Value dpmap = own ? *own : json::Value::object();
  data::apply_quirk(device, dpmap, quirk_for(req, pack));
  // A description that is not an object has nowhere to keep its map.
  if (device.is_object()) device.obj_mut().insert_or_assign("dpmap", std::move(dpmap));
  return device;
}

}  // namespace

Result<json::Value> ruled(const json::Value& req, Op op) {
  ZEFA_TRY(Rules rules, resolve(req));
  const json::Value& pack = *rules.pack;
  std::string_view name = op_name(op);
  if (name == "quirk_schema") return quirk_schema(req, pack);
  if (name == "device_info") return data::device_info(req["device"], quirk_for(req, pack), pack);
  if (name == "adapter_create") {
    return record::write(adapter::Adapter::make(req["device"], req["dpmap"], pack));
  }
  if (name == "adapter_read") {
    ZEFA_TRY(adapter::Adapter a, record::decode<adapter::Adapter>(req, "adapter"));
    return a.read(req["dps"], pack);
  }
  if (name == "strategy_read") {
    auto r = adapter::strategy_read(req["name"].str(), req["value"], req["config"], pack);
    if (!r.ok()) return fail(ErrorKind::Engine, std::move(r).error());
    return std::move(r).value();
  }
  if (name == "create") return create_driver(req, pack, rules.fingerprint);
  if (name == "open") return open_driver(req, pack, rules.installed);
  if (name == "handle") return handle_document(req, pack, rules.fingerprint);
  if (name == "classify" || name == "unused" || name == "read" || name == "write" || name == "on_update")
    return entity_op(req, name, pack);
  return not_served(op);
}

}  // namespace zefa::api
