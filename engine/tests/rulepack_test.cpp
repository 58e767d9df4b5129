// Rule packs entering the engine: the version rule and the fingerprint.
#include "runtime/rulepack.hpp"

#include <gtest/gtest.h>

#include "rules.hpp"
#include "test_util.hpp"

namespace zefa {
namespace {

using json::Value;
using test::J;

TEST(RulePackFingerprint, Sha256OfTheCompactText) {
  const struct {
    const char* value;
    const char* digest;
  } cases[] = {
      {"{}", "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a"},
      {" [ ] ", "4f53cda18c2baa0c0354bb5f9a3ecbe5ed12ab4d8e11ba873c2f11161202b945"},
      {"null", "74234e98afe7498fb5daf1f36ac2d78acc339464f950703b8c019892f982b90b"},
      // Written {"a":1.0,"b":[true,"é"]}: float form kept, UTF-8 unescaped.
      {R"({ "a" : 1.0, "b" : [true, "\u00e9"] })", "19793c1fd17472c61c019d8461373af2e9cb83108ab904f3d3dc953ea065bd21"},
  };
  for (const auto& c : cases) EXPECT_EQ(runtime::fingerprint(J(c.value)), c.digest) << c.value;
}

TEST(RulePackFingerprint, MemberOrderCounts) {
  EXPECT_NE(runtime::fingerprint(J(R"({"a":1,"b":2})")), runtime::fingerprint(J(R"({"b":2,"a":1})")));
  EXPECT_NE(runtime::fingerprint(J("1")), runtime::fingerprint(J("1.0")));
}

TEST(RulePackValidated, VersionRuleComesFirst) {
  const char* unsupported[] = {"{}", "[]", "null", "1", R"({"version": 1.0})", R"({"version": "1"})",
                               R"({"version": true})", R"({"version": 2})", R"({"version": -1})",
                               R"({"version": null})", R"({"platforms": {}})"};
  for (const char* text : unsupported) {
    auto r = runtime::validated(J(text));
    ASSERT_FALSE(r.ok()) << text;
    EXPECT_EQ(r.error(), (EngineError{ErrorKind::Rules, "unsupported rule version"})) << text;
  }
  auto r = runtime::validated(J(R"({"version": 1})"));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), (EngineError{ErrorKind::Rules, "rules : missing \"platforms\""}));
}

TEST(RulePackValidated, FullPackGivesItsFingerprint) {
  const Value pack = test::load("rules_full.json");
  auto r = runtime::validated(pack);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r.value(), runtime::fingerprint(pack));
  EXPECT_EQ(r.value().size(), 64u);

  // The same pack with its members in another order: valid, another digest.
  Value reordered = Value::object();
  const auto& members = pack.obj();
  for (size_t i = members.size(); i-- > 0;) reordered.obj_mut().insert_or_assign(members.at(i).name(), members.at(i).value);
  auto again = runtime::validated(reordered);
  ASSERT_TRUE(again.ok()) << again.error().message;
  EXPECT_NE(again.value(), r.value());
}

TEST(RulePackValidated, ValidationFailuresAreRulesKind) {
  Value pack = test::load("rules_full.json");
  rules::patch(pack, J(R"({"overrides": {"p": {"remove": "x"}}})"));
  auto r = runtime::validated(pack);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), (EngineError{ErrorKind::Rules, "override: p: remove needs list of codes"}));
}

}  // namespace
}  // namespace zefa
