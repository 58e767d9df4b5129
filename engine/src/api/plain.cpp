// Operations that need nothing but the request.
#include "api/ops.hpp"
#include "api/registry.hpp"
#include "adapter/adapter.hpp"
#include "adapter/strategies.hpp"
#include "data/data.hpp"
#include "data/prepare.hpp"
#include "driver/check.hpp"
#include "record.hpp"
#include "rules/rules.hpp"

namespace zefa::api {

namespace {

Result<std::string_view> rules_id(const json::Value& req) {
  const json::Value& id = req["rules_id"];
  if (!id.is_string() || id.str().empty()) return fail(ErrorKind::Request, "rules_id must be a nonempty string");
  return id.str();
}

// Commands for datapoints the adapter knows go to the adapter; the codes of
// the others come back unhandled.
Result<json::Value> adapter_write(const json::Value& req) {
  ZEFA_TRY(adapter::Adapter a, record::decode<adapter::Adapter>(req, "adapter"));
  json::Array handled, unhandled;
  for (const json::Value& cmd : req["commands"].arr()) {
    std::string_view code = cmd["code"].str();
    bool known = false;
    for (const auto& [id, entry] : a.entries)
      if (entry.code == code) {
        known = true;
        break;
      }
    if (known) handled.push_back(cmd);
    else unhandled.push_back(cmd["code"]);
  }
  json::Value writes = json::Value::object();
  if (!handled.empty()) {
    ZEFA_TRY(writes, a.write(handled));
  }
  return json::Value(json::Array{std::move(writes), json::Value(std::move(unhandled))});
}

// A refusal is a successful reply: the host asked whether, not to do it.
Result<json::Value> check_command(const json::Value& req) {
  auto r = driver::check::check(req["descriptor"], req["state"], text_member(req, "prop"), req["value"]);
  if (r.ok()) return json::Value(json::Object{{"accept", std::move(r).value()}});
  const driver::check::Refusal& no = r.error();
  return json::Value(json::Object{{"reject", json::Value(record::name_of(no.code))}, {"reason", json::Value(no.reason)}});
}

json::Value merge_mappings(const json::Value& req) {
  json::Value out = json::Value::object();
  for (const json::Value& m : req["mappings"].arr()) data::merge(out, m);
  return out;
}

}  // namespace

Result<json::Value> plain(const json::Value& req, Op op) {
  std::string_view name = op_name(op);
  if (name == "install_rules") {
    ZEFA_TRY(std::string_view id, rules_id(req));
    return install(req["rules"], id);
  }
  if (name == "remove_rules") {
    ZEFA_TRY(std::string_view id, rules_id(req));
    return remove(id);
  }
  if (name == "merge") return merge_mappings(req);
  if (name == "status_quirk") {
    json::Value status = req["status"];
    data::map_initial_status(status, req["quirk"]);
    return status;
  }
  if (name == "check") return check_command(req);
  if (name == "carry") return carry_documents(req);
  if (name == "settings") return settings_of(req);
  if (name == "adapter_write") return adapter_write(req);
  if (name == "strategy_write") return adapter::strategy_write(req["name"].str(), req["value"], req["config"]);
  if (name == "merge_rules") {
    auto composed = rules::compose(req);
    if (!composed.ok()) return fail(ErrorKind::Rules, std::move(composed).error());
    return std::move(composed).value();
  }
  return not_served(op);
}

}  // namespace zefa::api
