// Rule packs entering the engine: the version rule, full validation and the
// fingerprint by which registries and drivers identify a pack.
//
// Pure functions, safe from any number of threads; arguments are read only.
#pragma once

#include <string>

#include "error.hpp"
#include "json.hpp"

namespace zefa::runtime {

// Validates a pack: "version" must be the integer 1 ("unsupported rule
// version" otherwise, also for a non-object), then rules::validate. Returns
// the pack's fingerprint, or an error of kind Rules.
Result<std::string> validated(const json::Value& pack);

// SHA-256 of the value's compact JSON text, as 64 lower-case hex digits.
std::string fingerprint(const json::Value& value);

// A validated rule pack, immutable once built and shared by reference count
// between the registry and the drivers built from it.
struct RulePack {
  std::string fingerprint;
  json::Value rules;

  // Validates the value in full and keeps it with its fingerprint.
  static Result<RulePack> make(json::Value rules);
};

}  // namespace zefa::runtime
