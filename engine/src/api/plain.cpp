// Operations that need nothing but the request.
#include "api/ops.hpp"
#include "api/registry.hpp"
#include "data.hpp"
#include "rules.hpp"

namespace zefa::api {

namespace {

Result<std::string_view> rules_id(const json::Value& req) {
  const json::Value& id = req["rules_id"];
  if (!id.is_string() || id.str().empty()) return fail(ErrorKind::Request, "rules_id must be a nonempty string");
  return id.str();
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
  if (name == "merge_rules") {
    auto composed = rules::compose(req);
    if (!composed.ok()) return fail(ErrorKind::Rules, std::move(composed).error());
    return std::move(composed).value();
  }
  return not_served(op);
}

}  // namespace zefa::api
