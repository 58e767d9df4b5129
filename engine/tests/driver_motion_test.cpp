// Motion tracking: the tracker's JSON form (data/cases/driver_motion_form.json)
// and scenarios of updates with the expected patch, settle timer action and
// tracker after every step (data/cases/driver_motion_scenarios.json).
#include "driver/motion.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using driver::cover::Motion;
using driver::cover::TimerAction;
using json::Value;
using test::Args;

Motion motion(const Value& v) { return test::record_of<Motion>(v); }

std::string_view action_name(TimerAction a) {
  switch (a) {
    case TimerAction::Cancel: return "cancel";
    case TimerAction::Arm: return "arm";
    case TimerAction::Leave: return "leave";
  }
  return "?";
}

// `base` with the members of `over` replaced.
Value with(Value base, const Value& over) {
  for (const json::Member& m : over.obj()) base.obj_mut().insert_or_assign(m.name(), m.value);
  return base;
}

TEST(DriverMotion, Form) {
  test::run_cases("driver_motion_form.json", {
      {"form", [](const Args& a) { return test::outcome(record::read<Motion>(a[0]), test::round_trip<Motion>); }},
  });
}

TEST(DriverMotion, Scenarios) {
  const Value file = test::load("cases/driver_motion_scenarios.json");
  for (const Value& sc : file["scenarios"].arr()) {
    const std::string name(sc["name"].str());
    Motion m = motion(with(file["base"], sc["motion"].is_object() ? sc["motion"] : Value::object()));
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
      EXPECT_EQ(action_name(u.action), step["action"].str()) << where;
      EXPECT_EQ(u.settle, m.settle) << where;
      const Value form = test::round_trip(m);
      for (const json::Member& e : step["expect"].obj())
        EXPECT_EQ(form[e.name()].dump(), e.value.dump()) << where << ": " << e.name();
    }
  }
}

}  // namespace
}  // namespace zefa
