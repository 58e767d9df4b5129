// Operations that need a rule pack, given inline as "rules" or installed
// and named by "rules_id".
#include "api/ops.hpp"
#include "api/registry.hpp"

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

}  // namespace

Result<json::Value> ruled(const json::Value& req, Op op) {
  ZEFA_TRY(Rules rules, resolve(req));
  (void)rules;
  return not_served(op);
}

}  // namespace zefa::api
