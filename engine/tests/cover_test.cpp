// Cover settings, from data/cases/cover_settings.json: reading a pack's
// "cover_defaults" (a pack's schema admits only well-formed ones, so the
// reader's own messages are reached only here), single-field changes and
// the known field names.
#include "rules/cover_settings.hpp"

#include <gtest/gtest.h>

#include <string>

#include "test_util.hpp"

namespace zefa {
namespace {

using rules::CoverSettings;
using json::Value;
using test::J;

// The expected JSON form of the settings, or the expected message.
std::string text(const Value& expected) { return expected.is_string() ? std::string(expected.str()) : expected.dump(); }

TEST(CoverSettings, Cases) {
  const Value cases = test::load("cases/cover_settings.json");
  for (const Value& c : cases.arr()) {
    const std::string_view check = c["check"].str();
    if (check == "known") {
      EXPECT_EQ(CoverSettings::known(c["input"].str()), c["expected"].as_bool()) << c.dump();
    } else if (check == "read") {
      auto r = CoverSettings::from_rules(c["input"]);
      EXPECT_EQ(r.ok() ? r.value().serialize().dump() : r.error(), text(c["expected"])) << c.dump();
      if (!r.ok()) continue;
      // The JSON form reads back as the same settings.
      auto back = record::read<CoverSettings>(r.value().serialize());
      ASSERT_TRUE(back.ok()) << c.dump();
      EXPECT_EQ(back.value(), r.value()) << c.dump();
    } else {
      CoverSettings s = CoverSettings::from_rules(J(R"({"settle": 7, "state_source": "control"})")).value();
      const CoverSettings before = s;
      const bool accepted = CoverSettings::set(s, c["key"].str(), c["input"]);
      EXPECT_EQ(accepted, c["accepted"].as_bool()) << c.dump();
      EXPECT_EQ(s.serialize()[c["field"].str()].dump(), c["expected"].dump()) << c.dump();
      if (!accepted) {
        EXPECT_EQ(s, before) << c.dump();
      }
    }
  }
  // The member initialisers agree with the record's defaults.
  EXPECT_EQ(CoverSettings{}, record::defaults<CoverSettings>());
}

}  // namespace
}  // namespace zefa
