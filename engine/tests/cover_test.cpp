// Cover settings, from the function table data/cases/cover_settings.json: reading a pack's
// "cover_defaults" (a pack's schema admits only well-formed ones, so the
// reader's own messages are reached only here), single-field changes and
// the known field names.
#include "rules/cover_settings.hpp"

#include <gtest/gtest.h>

#include <string>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using rules::CoverSettings;
using json::Value;
using test::J;

TEST(CoverSettings, Cases) {
  test::run_cases("cover_settings.json", {
      {"known", [](const test::Args& a) { return Value(CoverSettings::known(a[0].str())); }},
      // The JSON form, which reads back as the same settings.
      {"read", [](const test::Args& a) {
         return test::outcome(CoverSettings::from_rules(a[0]), [](const CoverSettings& s) {
           auto back = record::read<CoverSettings>(s.serialize());
           return back.ok() && back.value() == s ? s.serialize() : Value("does not read back");
         });
       }},
      // [key, value, field shown]: [accepted, the field after]; a refused
      // change leaves every field as it was.
      {"set", [](const test::Args& a) {
         CoverSettings s = CoverSettings::from_rules(J(R"({"settle": 7, "state_source": "control"})")).value();
         const CoverSettings before = s;
         const bool accepted = CoverSettings::set(s, a[0].str(), a[1]);
         if (!accepted && !(s == before)) return Value("refused but changed");
         return Value(json::Array{Value(accepted), s.serialize()[a[2].str()]});
       }},
  });
  // The member initialisers agree with the record's defaults.
  EXPECT_EQ(CoverSettings{}, record::defaults<CoverSettings>());
}

}  // namespace
}  // namespace zefa
