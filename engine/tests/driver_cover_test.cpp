// Covers: how they are built from the assembly's covers list, their JSON
// forms, setting values, which settings apply, and the override block's part
// for one cover (data/cases/driver_cover.json).
#include "driver/cover.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using driver::cover::Cover;
using json::Value;
using test::Args;

Cover cover(const Value& v) { return test::record_of<Cover>(v); }

std::optional<std::string> group(const Value& v) {
  return v.is_string() ? std::optional<std::string>(v.str()) : std::nullopt;
}

// make_covers from given [rules, plans] and [entry, device_settings, block].
Cover made(const Args& a) {
  const auto plans = test::record_of<std::vector<assembly::Plan>>(a[1]);
  const auto entry = test::record_of<assembly::CoverEntry>(a[2]);
  const bool device_settings = a.size() > 3 && a[3].as_bool();
  const Value block = a.size() > 4 ? a[4] : Value();
  return driver::cover::make_covers(entry, plans, a[0], device_settings, block);
}

Value code(const std::optional<data::Role>& r) { return r ? Value(r->code) : Value(); }

// The members of a settings form that differ from every field's default.
Value changed(const rules::CoverSettings& s) {
  const Value all = rules::CoverSettings{}.serialize();
  const Value form = s.serialize();
  json::Object out;
  for (const json::Member& m : form.obj())
    if (!(m.value == all[m.name()])) out.insert_or_assign(m.name(), m.value);
  return Value(std::move(out));
}

TEST(DriverCover, Cases) {
  test::run_cases("driver_cover.json", {
      {"form", [](const Args& a) { return test::outcome(record::read<Cover>(a[0]), test::round_trip<Cover>); }},
      {"value", [](const Args& a) { return cover(a[0]).value(a[1].str()); }},
      {"applies", [](const Args& a) { return Value(cover(a[0]).applies(a[1].str())); }},
      {"own", [](const Args& a) { return driver::cover::own(a[0], group(a[1])); }},
      {"make", [](const Args& a) { return test::round_trip(made(a)); }},
      {"make_roles", [](const Args& a) {
         const Cover c = made(a);
         return Value(json::Object{{"cur", code(c.cur)}, {"setp", code(c.setp)}, {"ins", code(c.ins)},
                                   {"tilt", code(c.tilt)}, {"position_choice", c.position_choice},
                                   {"words", c.words}});
       }},
      {"make_settings", [](const Args& a) {
         const Cover c = made(a);
         return Value(json::Object{{"defaults", changed(c.defaults)}, {"settings", changed(c.settings)}});
       }},
  });
}

}  // namespace
}  // namespace zefa
