// Operations that need nothing but the request.
#include "adapter/adapter.hpp"
#include "adapter/strategies.hpp"
#include "api/ops.hpp"
#include "data/data.hpp"
#include "data/prepare.hpp"
#include "driver/check.hpp"
#include "record.hpp"
#include "rules/rules.hpp"

namespace zefa::api::ops {

namespace {

Result<std::string_view> rules_id(const json::Value& req) {
  const json::Value& id = req["rules_id"];
  if (!id.is_string() || id.str().empty()) return fail(ErrorKind::Request, "rules_id must be a nonempty string");
  return id.str();
}

}  // namespace

Result<json::Value> merge_rules(const Call& c) {
  return with_kind(ErrorKind::Rules, rules::compose(c.req));
}

Result<json::Value> install_rules(const Call& c) {
  ZEFA_TRY(std::string_view id, rules_id(c.req));
  return install(c.req["rules"], id);
}

Result<json::Value> remove_rules(const Call& c) {
  ZEFA_TRY(std::string_view id, rules_id(c.req));
  return remove(id);
}

Result<json::Value> merge(const Call& c) {
  json::Value out = json::Value::object();
  for (const json::Value& m : c.req["mappings"].arr()) data::merge(out, m);
  return out;
}

Result<json::Value> status_quirk(const Call& c) {
  json::Value status = c.req["status"];
  data::map_initial_status(status, c.req["quirk"]);
  return status;
}

// Commands for datapoints the adapter knows go to the adapter; the codes of
// the others come back unhandled.
Result<json::Value> adapter_write(const Call& c) {
  ZEFA_TRY(adapter::Adapter a, record::decode<adapter::Adapter>(c.req, "adapter"));
  json::Array handled, unhandled;
  const adapter::CodeIndex by_code(a.entries);
  for (const json::Value& cmd : c.req["commands"].arr()) {
    if (by_code.find(cmd["code"].str())) handled.push_back(cmd);
    else unhandled.push_back(cmd["code"]);
  }
  json::Value writes = json::Value::object();
  if (!handled.empty()) {
    ZEFA_TRY(writes, a.write(handled, by_code));
  }
  return json::Value(json::Array{std::move(writes), json::Value(std::move(unhandled))});
}

Result<json::Value> strategy_write(const Call& c) {
  return adapter::strategy_write(c.req["name"].str(), c.req["value"], c.req["config"]);
}

// A refusal is a successful reply: the host asked whether, not to do it.
Result<json::Value> check(const Call& c) {
  auto r = driver::check::check(c.req["descriptor"], c.req["state"], c.req["prop"].str(), c.req["value"]);
  if (r.ok()) return json::Value(json::Object{{"accept", std::move(r).value()}});
  const driver::check::Refusal& no = r.error();
  return json::Value(json::Object{{"reject", json::Value(record::name_of(no.code))}, {"reason", json::Value(no.reason)}});
}

}  // namespace zefa::api::ops
