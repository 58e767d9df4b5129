// Rule packs entering the engine: the version rule, full validation and the
// fingerprint by which registries and drivers identify a pack.
//
// Pure functions, safe from any number of threads; arguments are read only.
#pragma once

#include <mutex>
#include <string>

#include "error.hpp"
#include "json.hpp"

namespace zefa::runtime {

// Validates a pack: "version" must be the integer 1 ("unsupported rule
// version" otherwise, also for a non-object), then rules::validate. An error
// is of kind Rules. The fingerprint is not part of it: it is computed only
// where an operation reads it.
Status<> validated(const json::Value& pack);

// SHA-256 of the value's compact JSON text, as 64 lower-case hex digits.
std::string fingerprint(const json::Value& value);

// A validated rule pack, immutable once built and shared by reference count
// between the registry and the drivers built from it.
class RulePack {
 public:
  json::Value rules;

  // Validates the value in full and keeps it.
  static Result<RulePack> make(json::Value rules);

  // Keeps a value that `validated` has already accepted, without a second
  // validation.
  static RulePack of_validated(json::Value rules) { return RulePack(std::move(rules)); }

  // Moves a pack that is not shared yet.
  RulePack(RulePack&& o) noexcept : rules(std::move(o.rules)), fingerprint_(std::move(o.fingerprint_)) {}
  RulePack& operator=(RulePack&&) = delete;

  // The fingerprint of `rules`, computed on first use (once, whichever
  // thread asks first) and kept.
  const std::string& fingerprint() const;

 private:
  explicit RulePack(json::Value r) : rules(std::move(r)) {}

  mutable std::once_flag once_;
  mutable std::string fingerprint_;  // empty until computed
};

}  // namespace zefa::runtime
