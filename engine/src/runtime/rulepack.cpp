#include "runtime/rulepack.hpp"

#include "rules/rules.hpp"
#include "sha256.hpp"

namespace zefa::runtime {

Status<> validated(const json::Value& pack) {
  const json::Value* version = pack.find("version");
  if (!version || !version->is_u64() || version->as_u64() != 1) return fail(ErrorKind::Rules, "unsupported rule version");
  ZEFA_CHECK(with_kind(ErrorKind::Rules, rules::validate(pack)));
  return ok_unit;
}

std::string fingerprint(const json::Value& value) {
  const sha256::Digest digest = sha256::digest(value.dump());
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(64, '0');
  for (size_t i = 0; i < digest.size(); ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return out;
}

Result<RulePack> RulePack::make(json::Value rules) {
  ZEFA_CHECK(validated(rules));
  return RulePack(std::move(rules));
}

const std::string& RulePack::fingerprint() const {
  // A pack moved in with its fingerprint already known keeps it.
  std::call_once(once_, [this] {
    if (fingerprint_.empty()) fingerprint_ = runtime::fingerprint(rules);
  });
  return fingerprint_;
}

}  // namespace zefa::runtime
