#include "runtime/rulepack.hpp"

#include <openssl/evp.h>

#include <stdexcept>

#include "rules/rules.hpp"

namespace zefa::runtime {

Status<> validated(const json::Value& pack) {
  const json::Value* version = pack.find("version");
  if (!version || !version->is_u64() || version->as_u64() != 1) return fail(ErrorKind::Rules, "unsupported rule version");
  ZEFA_CHECK(with_kind(ErrorKind::Rules, rules::validate(pack)));
  return ok_unit;
}

std::string fingerprint(const json::Value& value) {
  const std::string text = value.dump();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  // Fails only when libcrypto cannot allocate: an internal fault.
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1 || size != 32)
    throw std::runtime_error("SHA-256 digest failed");
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(64, '0');
  for (unsigned i = 0; i < 32; ++i) {
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
