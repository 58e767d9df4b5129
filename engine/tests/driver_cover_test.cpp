// The cover model from the case tables of data/cases: cover settings (whose
// reader messages a pack's schema never lets through), covers, the motion tracker.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/cover.hpp"
#include "driver/motion.hpp"
#include "fn_cases.hpp"
#include "rules/cover_settings.hpp"

namespace zefa {
namespace {

using driver::cover::Cover;
using driver::cover::Motion;
using driver::cover::TimerAction;
using json::Value;
using rules::CoverSettings;
using test::Args;

TEST(CoverSettings, Cases) {
  test::run_cases("cover_settings.json", {
      {"known", [](const Args& a) { return Value(CoverSettings::known(a[0].str())); }},
      // The JSON form, which reads back as the same settings.
      {"read", [](const Args& a) {
         return test::outcome(CoverSettings::from_rules(a[0]), [](const CoverSettings& s) {
           auto back = record::read<CoverSettings>(s.serialize());
           return back.ok() && back.value() == s ? s.serialize() : Value("does not read back");
         });
       }},
      // [key, value, field shown]: [accepted, the field after]; a refused
      // change leaves every field as it was.
      {"set", [](const Args& a) {
         CoverSettings s = CoverSettings::from_rules(test::J(R"({"settle": 7, "state_source": "control"})")).value();
         const CoverSettings before = s;
         const bool accepted = CoverSettings::set(s, a[0].str(), a[1]);
         if (!accepted && !(s == before)) return Value("refused but changed");
         return Value(json::Array{Value(accepted), s.serialize()[a[2].str()]});
       }},
  });
  // The member initialisers agree with the record's defaults.
  EXPECT_EQ(CoverSettings{}, record::defaults<CoverSettings>());
}

Cover cover(const Value& v) { return test::record_of<Cover>(v); }

Value code(const std::optional<data::Role>& r) { return r ? Value(r->code) : Value(); }

// The members of a settings form that differ from every field's default.
Value changed(const CoverSettings& s) {
  const Value all = CoverSettings{}.serialize();
  const Value form = s.serialize();
  json::Object out;
  for (const json::Member& m : form.obj())
    if (!(m.value == all[m.name()])) out.insert_or_assign(m.name(), m.value);
  return Value(std::move(out));
}

// make_covers: the entry's members copied, no switches yet, the cover reads
// back; the row shows what the rules and the block decided.
Value made(const Args& a) {
  const auto plans = test::record_of<std::vector<assembly::Plan>>(a[1]);
  const auto entry = test::record_of<assembly::CoverEntry>(a[2]);
  const Cover c = driver::cover::make_covers(entry, plans, a[0], a[3].as_bool(), a[4]);
  EXPECT_TRUE(c.plan == entry.plan && c.prefix == entry.prefix && c.group == entry.group &&
              c.hazardous == entry.hazard && c.switches.empty())
      << a[2].dump();
  test::round_trip(c);
  return Value(json::Object{{"roles", Value(json::Array{code(c.cur), code(c.setp), code(c.ins), code(c.tilt)})},
                            {"choice", Value(c.position_choice)},
                            {"words", c.words},
                            {"defaults", changed(c.defaults)},
                            {"settings", changed(c.settings)}});
}

TEST(DriverCover, Cases) {
  test::run_cases("driver_cover.json", {
      {"form", [](const Args& a) { return test::outcome(record::read<Cover>(a[0]), test::round_trip<Cover>); }},
      {"value", [](const Args& a) { return cover(a[0]).value(a[1].str()); }},
      {"applies", [](const Args& a) { return Value(cover(a[0]).applies(a[1].str())); }},
      {"own", [](const Args& a) {
         return driver::cover::own(a[0], a[1].is_string() ? std::optional<std::string>(a[1].str()) : std::nullopt);
       }},
      {"make", made},
  });
}

// The tracker's form, and scenarios of reports with the patch, timer action and tracker after each.
TEST(DriverMotion, FormAndScenarios) {
  test::run_cases("driver_motion_form.json", {
      {"form", [](const Args& a) { return test::outcome(record::read<Motion>(a[0]), test::round_trip<Motion>); }},
  });
  const Value file = test::load("cases/driver_motion_scenarios.json");
  for (const Value& sc : file["scenarios"].arr()) {
    const std::string name(sc["name"].str());
    Value base = file["base"];
    if (sc["motion"].is_object())
      for (const json::Member& m : sc["motion"].obj()) base.obj_mut().insert_or_assign(m.name(), m.value);
    Motion m = test::record_of<Motion>(base);
    Value codes = sc["codes"];
    size_t n = 0;
    for (const Value& step : sc["steps"].arr()) {
      ++n;
      const bool timer = step["timer"].is_bool() && step["timer"].as_bool();
      const bool active = step["active"].is_bool() ? step["active"].as_bool() : !timer;
      std::vector<std::string> changed;
      for (const json::Member& r : step["report"].obj()) {
        codes.obj_mut().insert_or_assign(r.name(), r.value);
        changed.emplace_back(r.name());
      }
      const Motion::Update u = m.update(codes, changed, active, timer);
      const std::string where = name + ", step " + std::to_string(n);
      EXPECT_EQ(u.patch.dump(), step["patch"].dump()) << where;
      EXPECT_EQ(u.action == TimerAction::Cancel ? "cancel" : u.action == TimerAction::Arm ? "arm" : "leave",
                step["action"].str()) << where;
      EXPECT_EQ(u.settle, m.settle) << where;
      const Value form = test::round_trip(m);
      for (const json::Member& e : step["expect"].obj())
        EXPECT_EQ(form[e.name()].dump(), e.value.dump()) << where << ": " << e.name();
    }
  }
}

}  // namespace
}  // namespace zefa
