// Cover settings: defaults, reading from objects and arrays, the JSON form,
// the rule-pack reader and single-field changes.
#include "driver/cover.hpp"

#include <gtest/gtest.h>

#include <string>

#include "rules.hpp"
#include "test_util.hpp"

namespace zefa {
namespace {

using driver::cover::CoverSettings;
using json::Value;
using test::J;

constexpr const char* kDefaults =
    R"({"invert_position":false,"invert_set_position":false,"invert_control":false,"settle":0,"invert_tilt":false,)"
    R"("position_from_target":false,"state_source":null,"invert_reported_motion":false})";

std::string read_outcome(const Value& v) {
  auto r = CoverSettings::from_rules(v);
  return r.ok() ? r.value().serialize().dump() : r.error();
}

TEST(CoverSettingsRead, FromRules) {
  const struct {
    const char* value;
    const char* expected;  // the JSON form read back, or the message
  } cases[] = {
      {"{}", kDefaults},
      {"[]", kDefaults},
      {R"({"settle": 30})", R"({"invert_position":false,"invert_set_position":false,"invert_control":false,"settle":30,)"
                            R"("invert_tilt":false,"position_from_target":false,"state_source":null,"invert_reported_motion":false})"},
      {R"({"settle": 30.0})", R"({"invert_position":false,"invert_set_position":false,"invert_control":false,"settle":30,)"
                              R"("invert_tilt":false,"position_from_target":false,"state_source":null,"invert_reported_motion":false})"},
      {R"({"settle": 2.5, "state_source": "control"})",
       R"({"invert_position":false,"invert_set_position":false,"invert_control":false,"settle":2.5,)"
       R"("invert_tilt":false,"position_from_target":false,"state_source":"control","invert_reported_motion":false})"},
      {R"({"state_source": {"none": null}, "settle": -1e300, "invert_reported_motion": true, "invert_position": true})",
       R"({"invert_position":true,"invert_set_position":false,"invert_control":false,"settle":-1e+300,)"
       R"("invert_tilt":false,"position_from_target":false,"state_source":"none","invert_reported_motion":true})"},
      {R"([true, true, true, 1.5, true, true, "inferred", true])",
       R"({"invert_position":true,"invert_set_position":true,"invert_control":true,"settle":1.5,)"
       R"("invert_tilt":true,"position_from_target":true,"state_source":"inferred","invert_reported_motion":true})"},
      {R"([false, true])", R"({"invert_position":false,"invert_set_position":true,"invert_control":false,"settle":0,)"
                           R"("invert_tilt":false,"position_from_target":false,"state_source":null,"invert_reported_motion":false})"},
      {R"({"settle": 18446744073709551615})",
       R"({"invert_position":false,"invert_set_position":false,"invert_control":false,"settle":1.8446744073709552e+19,)"
       R"("invert_tilt":false,"position_from_target":false,"state_source":null,"invert_reported_motion":false})"},
      {"null", "cover_defaults: invalid type: null, expected struct CoverSettings"},
      {"5", "cover_defaults: invalid type: integer `5`, expected struct CoverSettings"},
      {R"("x")", "cover_defaults: invalid type: string \"x\", expected struct CoverSettings"},
      {R"(["x"])", "cover_defaults: invalid type: string \"x\", expected a boolean"},
      {"[false, false, false, 0, false, false, null, false, false]",
       "cover_defaults: invalid length 9, expected fewer elements in array"},
      {R"({"speed": 1})",
       "cover_defaults: unknown field `speed`, expected one of `invert_position`, `invert_set_position`, "
       "`invert_control`, `settle`, `invert_tilt`, `position_from_target`, `state_source`, `invert_reported_motion`"},
      {R"({"settle": "5"})", "cover_defaults: invalid type: string \"5\", expected f64"},
      {R"({"invert_tilt": 1})", "cover_defaults: invalid type: integer `1`, expected a boolean"},
      {R"({"state_source": "auto"})",
       "cover_defaults: unknown variant `auto`, expected one of `control`, `inferred`, `none`"},
      {R"({"state_source": "Control"})",
       "cover_defaults: unknown variant `Control`, expected one of `control`, `inferred`, `none`"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_outcome(J(c.value)), c.expected) << c.value;
}

TEST(CoverSettingsRead, DefaultsOfTheRecord) {
  EXPECT_EQ(record::defaults<CoverSettings>().serialize().dump(), kDefaults);
  EXPECT_EQ(CoverSettings{}.serialize().dump(), kDefaults);
  auto back = record::read<CoverSettings>(J(R"({"settle": 12.5, "state_source": "inferred"})"));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back.value().settle, 12.5);
  EXPECT_EQ(back.value().state_source, driver::cover::StateSource::Inferred);
  EXPECT_EQ(record::read<CoverSettings>(back.value().serialize()).value(), back.value());
}

TEST(CoverSettingsKnown, ExactlyTheEightFieldNames) {
  for (const char* name : {"invert_position", "invert_set_position", "invert_control", "settle", "invert_tilt",
                           "position_from_target", "state_source", "invert_reported_motion"})
    EXPECT_TRUE(CoverSettings::known(name)) << name;
  for (const char* name : {"", "Settle", "settle ", "speed", "cover", "invert"}) EXPECT_FALSE(CoverSettings::known(name)) << name;
}

TEST(CoverSettingsSet, AcceptsWhatTheReaderAccepts) {
  const struct {
    const char* key;
    const char* value;
    bool accepted;
    const char* field;     // the member to look at afterwards
    const char* expected;  // its value in the JSON form
  } cases[] = {
      {"settle", "-1", true, "settle", "-1"},
      {"settle", "2.5", true, "settle", "2.5"},
      {"settle", "\"5\"", false, "settle", "7"},
      {"state_source", "null", true, "state_source", "null"},
      {"state_source", "\"inferred\"", true, "state_source", "\"inferred\""},
      {"state_source", R"({"none": null})", true, "state_source", "\"none\""},
      {"state_source", "\"auto\"", false, "state_source", "\"control\""},
      {"invert_position", "true", true, "invert_position", "true"},
      {"invert_position", "\"yes\"", false, "invert_position", "false"},
      {"invert_position", "1", false, "invert_position", "false"},
      {"speed", "1", false, "settle", "7"},
  };
  for (const auto& c : cases) {
    CoverSettings s = CoverSettings::from_rules(J(R"({"settle": 7, "state_source": "control"})")).value();
    const CoverSettings before = s;
    EXPECT_EQ(CoverSettings::set(s, c.key, J(c.value)), c.accepted) << c.key << " " << c.value;
    EXPECT_EQ(s.serialize()[c.field].dump(), c.expected) << c.key << " " << c.value;
    if (!c.accepted) {
      EXPECT_EQ(s, before) << c.key << " " << c.value;
    }
  }
}

TEST(CoverSettingsRules, PackValidationReadsCoverDefaults) {
  // The schema admits only well-formed cover defaults, so the reader is the
  // last word only for packs the schema already accepted.
  const Value pack = test::load("rules_full.json");
  auto settings = CoverSettings::from_rules(pack["cover_defaults"]);
  ASSERT_TRUE(settings.ok()) << settings.error();
  EXPECT_EQ(settings.value().settle, 30);
  EXPECT_EQ(settings.value().state_source, driver::cover::StateSource::Control);
  Value without = pack;
  without.obj_mut().erase_ordered("cover_defaults");
  EXPECT_EQ(rules::validate(without).error(), "rules : missing \"cover_defaults\"");
}

}  // namespace
}  // namespace zefa
