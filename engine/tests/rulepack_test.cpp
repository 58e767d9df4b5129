// Pack fingerprints: SHA-256 of the compact text.
#include "runtime/rulepack.hpp"

#include <gtest/gtest.h>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

TEST(RulePackFingerprint, Sha256OfTheCompactText) {
  test::run_cases("rules_fingerprint.json",
                  {{"fingerprint", [](const test::Args& a) { return Value(runtime::fingerprint(a[0])); }}});
  // Member order and the float form are part of the text.
  EXPECT_NE(runtime::fingerprint(J(R"({"a":1,"b":2})")), runtime::fingerprint(J(R"({"b":2,"a":1})")));
  EXPECT_NE(runtime::fingerprint(J("1")), runtime::fingerprint(J("1.0")));
}

}  // namespace
}  // namespace zefa
