// The cover model from the case tables of data/cases: cover settings (whose
// reader messages a pack's schema never lets through), covers, the motion
// tracker; and, through the C API, settings blocks that build the driver again
// and the instruction words a report can match.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/cover.hpp"
#include "driver/motion.hpp"
#include "engine_so.hpp"
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

// A driver as a host keeps it: its state document ("create", "handle") or a
// live driver ("open", "drive") of the installed pack `rules_id`.
class HostDriver {
 public:
  HostDriver(bool live, std::string rules_id, const Value& device, Value options)
      : live_(live), rules_id_(std::move(rules_id)) {
    const Value r = ask(json::Object{{"op", Value(live ? "open" : "create")},
                                     {"rules_id", Value(rules_id_)},
                                     {"device", device},
                                     {"options", std::move(options)}});
    error = r["ok"].as_bool() ? "" : r.dump();
    if (live) handle_ = r["value"]["handle"];
    else doc_ = r["value"]["driver"];
  }
  // The driver of the "cover_switches" pack, built with `own` as the
  // device's own override block.
  HostDriver(bool live, const Value& own)
      : HostDriver(live, "cover_switches", device(), switches_options(own)) {}
  HostDriver(const HostDriver&) = delete;
  HostDriver& operator=(const HostDriver&) = delete;
  ~HostDriver() {
    if (live_ && !handle_.is_null()) ask(json::Object{{"op", Value("close")}, {"handle", handle_}});
  }

  // The outputs of one input.
  Value input(const Value& in, int now) {
    json::Object request{{"op", Value(live_ ? "drive" : "handle")}, {"now", Value(now)}, {"input", in}};
    if (live_) request.insert_or_assign("handle", handle_);
    else {
      request.insert_or_assign("rules_id", Value(rules_id_));
      request.insert_or_assign("driver", doc_);
    }
    const Value r = ask(std::move(request));
    if (!live_) doc_ = r["value"]["driver"];
    return r["value"]["outputs"];
  }

  // The "settings" reply for its state document (a live driver's snapshot).
  Value settings() const {
    const Value doc = live_ ? ask(json::Object{{"op", Value("snapshot")}, {"handle", handle_}})["value"] : doc_;
    return ask(json::Object{{"op", Value("settings")}, {"driver", doc}})["value"];
  }

  static Value ask(json::Object request) { return test::J(test::engine_so().call(Value(std::move(request)))); }
  static bool install(const char* rules_id, const char* file) {
    return ask(json::Object{{"op", Value("install_rules")}, {"rules_id", Value(rules_id)}, {"rules", test::load(file)}})
        ["ok"].as_bool();
  }

  std::string error;  // the reply when the build failed

 private:
  static Value switches_options(const Value& own) {
    json::Object options{{"device_settings", Value(true)},
                         {"dpmap", test::J(R"({"1":"control","2":"percent_control","3":"percent_state",)"
                                           R"("4":"angle","5":"blind_control","6":"blind_state"})")}};
    if (!own.is_null()) options.insert_or_assign("overrides", Value(json::Object{{"c1", own}}));
    return Value(std::move(options));
  }
  static Value device() {
    const std::string range = R"("{\"range\":[\"open\",\"stop\",\"close\"]}")";
    const std::string percent = R"("{\"min\":0,\"max\":100,\"scale\":0,\"step\":1}")";
    return test::J(R"({"id":"c1","product_id":"pc","category":"cl","function":{"control":{"type":"Enum","values":)" +
                   range + R"(},"percent_control":{"type":"Integer","values":)" + percent +
                   R"(},"blind_control":{"type":"Enum","values":)" + range +
                   R"(},"angle":{"type":"Integer","values":)" + percent +
                   R"(}},"status_range":{"percent_state":{"type":"Integer","values":)" + percent +
                   R"(},"blind_state":{"type":"Integer","values":)" + percent + "}}}");
  }

  bool live_;
  std::string rules_id_;
  Value doc_;
  Value handle_;
};

Value report(const Value& dps) {
  return Value(json::Object{{"type", Value("message")}, {"channel", Value("active")}, {"json", dps}});
}

// Each switch flipped as a host flips it: the block of "settings_changed",
// kept as the device's own override block, builds the driver again in both
// forms with the setting in force (published switch value, a report read
// through it) and is answered again by "settings". The pack's
// "cover_defaults" name no boolean setting.
TEST(DriverCover, SettingsBlockBuildsTheDriverAgain) {
  ASSERT_TRUE(test::engine_so().loaded());
  ASSERT_TRUE(HostDriver::install("cover_switches", "cover_switches_pack.json"));
  struct Flip {
    const char* prop;
    const char* value;
    const char* own;    // the device's own block before the flip
    const char* block;  // answered by "settings_changed"
    const char* probe;  // a report to the rebuilt driver
    const char* seen;   // its outputs
  };
  const Flip flips[] = {
      {"cover_invert_position", "true", "null", R"({"cover":{"invert_position":true}})", R"({"3":30})",
       R"([{"type":"value","prop":"cover_state","value":"stopped"},{"type":"value","prop":"position","value":70}])"},
      {"cover_invert_set_position", "true", "null", R"({"cover":{"invert_set_position":true}})", R"({"3":50,"2":80})",
       R"([{"type":"value","prop":"cover_state","value":"closing"},)"
       R"({"type":"set_timer","name":"c0:settle","after":10.0},{"type":"value","prop":"position","value":50}])"},
      {"cover_settle", "25", "null", R"({"cover":{"settle":25}})", R"({"2":80})",
       R"([{"type":"value","prop":"cover_state","value":"opening"},)"
       R"({"type":"set_timer","name":"c0:settle","after":25.0}])"},
      {"cover_invert_tilt", "true", "null", R"({"cover":{"invert_tilt":true}})", R"({"4":20})",
       R"([{"type":"value","prop":"tilt","value":80}])"},
      // The position datapoint leaves the description, so its report shows nothing.
      {"cover_position_from_target", "true", "null", R"({"cover":{"position_from_target":true}})", R"({"3":30})",
       "[]"},
      {"cover_state_source", "\"none\"", "null", R"({"cover":{"state_source":"none"}})", R"({"2":80})", "[]"},
      // Its switch exists only while the state comes from control.
      {"cover_invert_reported_motion", "true", R"({"cover":{"state_source":"control"}})",
       R"({"cover":{"state_source":"control","invert_reported_motion":true}})", R"({"1":"open"})",
       R"([{"type":"value","prop":"cover_state","value":"closing"}])"},
      {"blind_cover_invert_position", "true", "null", R"({"cover":{"blind":{"invert_position":true}}})",
       R"({"6":30})",
       R"([{"type":"value","prop":"blind_cover_state","value":"stopped"},)"
       R"({"type":"value","prop":"blind_position","value":70}])"},
      {"blind_cover_invert_control", "true", "null", R"({"cover":{"blind":{"invert_control":true}}})",
       R"({"6":50,"5":"open"})",
       R"([{"type":"value","prop":"blind_cover_state","value":"closing"},)"
       R"({"type":"set_timer","name":"c1:settle","after":10.0},{"type":"value","prop":"blind_position","value":50}])"},
      {"blind_cover_settle", "2.5", "null", R"({"cover":{"blind":{"settle":2.5}}})", R"({"5":"open"})",
       R"([{"type":"value","prop":"blind_cover_state","value":"opening"},)"
       R"({"type":"set_timer","name":"c1:settle","after":2.5}])"},
      // A switch at the top beside a group's switch in one block.
      {"cover_invert_position", "true", R"({"cover":{"blind":{"invert_position":true}}})",
       R"({"cover":{"invert_position":true,"blind":{"invert_position":true}}})", R"({"3":30,"6":30})",
       R"([{"type":"value","prop":"cover_state","value":"stopped"},)"
       R"({"type":"value","prop":"blind_cover_state","value":"stopped"},)"
       R"({"type":"value","prop":"position","value":70},{"type":"value","prop":"blind_position","value":70}])"},
  };
  const Value sync = report(test::J(R"({"1":"stop","2":0,"3":0,"4":0,"5":"stop","6":0})"));
  for (bool live : {false, true}) {
    for (const Flip& f : flips) {
      const std::string where = std::string(live ? "open " : "create ") + f.prop + " " + f.own;
      const Value published(
          json::Object{{"type", Value("value")}, {"prop", Value(f.prop)}, {"value", test::J(f.value)}});
      HostDriver first(live, test::J(f.own));
      EXPECT_EQ(first.error, "") << where;
      if (!first.error.empty()) continue;
      first.input(sync, 1);
      // The probe shows the setting: the driver before the flip answers otherwise.
      EXPECT_NE(first.input(report(test::J(f.probe)), 2).dump(), f.seen) << where;
      const Value changed = first.input(
          Value(json::Object{{"type", Value("command")}, {"prop", Value(f.prop)}, {"value", test::J(f.value)}}), 3);
      ASSERT_EQ(changed.arr().size(), 2u) << where << ": " << changed.dump();
      EXPECT_EQ(changed[0], published) << where;
      EXPECT_EQ(changed[1]["type"], Value("settings_changed")) << where;
      const Value block = changed[1]["block"];
      EXPECT_EQ(block.dump(), f.block) << where;

      HostDriver rebuilt(live, block);
      EXPECT_EQ(rebuilt.error, "") << where;
      if (!rebuilt.error.empty()) continue;
      EXPECT_EQ(rebuilt.settings().dump(), f.block) << where;
      const json::Array synced = rebuilt.input(sync, 1).arr();
      EXPECT_NE(std::find(synced.begin(), synced.end(), published), synced.end()) << where;
      EXPECT_EQ(rebuilt.input(report(test::J(f.probe)), 2).dump(), f.seen) << where;
    }
  }
}

// A word that is a JSON object stands for "no such word" (the Boolean
// instruction's stop word is {"never":true}; a pack's word set may hold one
// too): a device reporting that very object has said no word, so a moving
// cover goes on moving. Each row: the mode (through the device's own block),
// the instruction's type, and after "connected" and a position report, three
// instruction reports (open word, object word, close word) with the outputs
// of each.
TEST(DriverMotion, ObjectWordsMatchNoReport) {
  ASSERT_TRUE(test::engine_so().loaded());
  ASSERT_TRUE(HostDriver::install("motion_words", "motion_words_pack.json"));
  struct Row {
    const char* name;
    const char* own;          // the device's own block: the state source
    const char* control;      // the instruction datapoint's definition
    const char* words[3];     // reports: open word, object word, close word
    const char* seen[4];      // outputs of the position report and of each word report
  };
  const char* const opened = R"([{"type":"value","prop":"cover_state","value":"opening"},)"
                             R"({"type":"set_timer","name":"c0:settle","after":20.0}])";
  const char* const rearmed = R"([{"type":"set_timer","name":"c0:settle","after":20.0}])";
  const char* const closed = R"([{"type":"value","prop":"cover_state","value":"closing"},)"
                             R"({"type":"set_timer","name":"c0:settle","after":20.0}])";
  const char* const at50 = R"([{"type":"value","prop":"available","value":true},)"
                           R"({"type":"value","prop":"cover_state","value":"stopped"},)"
                           R"({"type":"value","prop":"position","value":50}])";
  const char* const boolean = R"({"type":"Boolean","values":"{}"})";
  const char* const words = R"({"type":"Enum","values":"{\"range\":[\"open\",\"close\",\"stop\"]}"})";
  const Row rows[] = {
      {"inferred, Boolean", "null", boolean, {"true", R"({"never":true})", "false"}, {at50, opened, rearmed, closed}},
      {"inferred, pack word set", "null", words, {R"("open")", R"({"halt":1})", R"("close")"},
       {at50, opened, rearmed, closed}},
      {"control, Boolean", R"({"cover":{"state_source":"control"}})", boolean,
       {"true", R"({"never":true})", "false"},
       {at50, R"([{"type":"value","prop":"cover_state","value":"opening"}])", "[]",
        R"([{"type":"value","prop":"cover_state","value":"closing"}])"}},
      {"control, pack word set", R"({"cover":{"state_source":"control"}})", words,
       {R"("open")", R"({"halt":1})", R"("close")"},
       {at50, R"([{"type":"value","prop":"cover_state","value":"opening"}])", "[]",
        R"([{"type":"value","prop":"cover_state","value":"closing"}])"}},
  };
  const std::string percent = R"({"type":"Integer","values":"{\"min\":0,\"max\":100,\"scale\":0,\"step\":1}"})";
  for (bool live : {false, true}) {
    for (const Row& row : rows) {
      const std::string where = std::string(live ? "open, " : "create, ") + row.name;
      const Value device = test::J(R"({"id":"c1","product_id":"pc","category":"cl","function":{"control":)" +
                                   std::string(row.control) + R"(},"status_range":{"percent_state":)" + percent +
                                   "}}");
      json::Object options{{"dpmap", test::J(R"({"1":"control","3":"percent_state"})")}};
      if (const Value own = test::J(row.own); !own.is_null())
        options.insert_or_assign("overrides", Value(json::Object{{"c1", own}}));
      HostDriver driver(live, "motion_words", device, Value(std::move(options)));
      ASSERT_EQ(driver.error, "") << where;
      driver.input(test::J(R"({"type":"connected"})"), 1);
      EXPECT_EQ(driver.input(report(test::J(R"({"3":50})")), 2).dump(), row.seen[0]) << where;
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(driver.input(report(test::J(std::string(R"({"1":)") + row.words[i] + "}")), 3 + i).dump(),
                  row.seen[i + 1])
            << where << ", report " << row.words[i];
    }
  }
}

}  // namespace
}  // namespace zefa
