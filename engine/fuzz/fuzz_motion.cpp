// Motion trackers driven by random reports and timer expiries: no fault;
// every patch names the tracker's property with a motion state or null; the
// settle timer is armed or cancelled only by reports of an inferring tracker
// with a positive settle; every state the tracker reaches reads back as
// itself from its written text.
//
// Input: {"motion": a tracker's JSON form, or {"mode": 0-2, "settle",
// "words", "invert"} for a tracker on the codes "c" (instruction), "t"
// (set-position) and "p" (position); "steps": [{"report": {code: value},
// "changed": [codes], "active", "timer"}]} (at most 64 steps).
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/data.hpp"
#include "driver/motion.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "record.hpp"

namespace {

using zefa::driver::cover::Motion;
using zefa::driver::cover::TimerAction;
using zefa::json::Value;
using zefa::protocol::MotionState;
using zefa::protocol::StateSource;

using zefa::testing::check;

Motion tracker(const Value& v) {
  auto read = zefa::record::read<Motion>(v);
  if (read.ok()) return std::move(read).value();
  Motion m;
  m.prop = "cover_state";
  m.command = "c";
  m.target_code = "t";
  m.position = "p";
  m.words = v["words"];
  m.settle = zefa::data::n(v["settle"]);
  m.mode = static_cast<StateSource>(v["mode"].is_u64() ? v["mode"].as_u64() % 3 : 1);
  m.invert_report = zefa::data::truth(v["invert"]);
  return m;
}

void check_patch(const Motion& m, const Value& patch) {
  check(patch.is_object() && patch.size() <= 1);
  if (patch.size() == 0) return;
  const zefa::json::Member& p = patch.obj().at(0);
  check(p.name() == m.prop);
  if (p.value.is_null()) return;
  auto shown = zefa::record::read<MotionState>(p.value);
  check(shown.ok());
}

void check_readable(const Motion& m) {
  auto again = zefa::record::read<Motion>(zefa::testing::parse_or_abort(m.serialize().dump()));
  check(again.ok() && again.value() == m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const Value input = std::move(*parsed);

  Motion m = tracker(input["motion"]);
  if (!std::isfinite(m.settle)) return 0;  // a tracker's settle comes from JSON: always finite
  Value codes = Value::object();
  size_t n = 0;
  for (const Value& step : input["steps"].arr()) {
    if (++n > 64) break;
    std::vector<std::string> changed;
    for (const zefa::json::Member& r : step["report"].obj()) {
      codes.obj_mut().insert_or_assign(r.name(), r.value);
      changed.emplace_back(r.name());
    }
    for (const Value& c : step["changed"].arr())
      if (c.is_string()) changed.emplace_back(c.str());
    const bool timer = zefa::data::truth(step["timer"]);
    const bool active = zefa::data::truth(step["active"]);
    const Motion before = m;
    const Motion::Update u = m.update(codes, changed, active, timer);
    check_patch(m, u.patch);
    check(u.settle == m.settle);
    if (u.action != TimerAction::Leave) check(m.mode == StateSource::Inferred && m.settle > 0 && !timer);
    // Only the tracked motion changes; what the tracker is built from stays.
    check(m.prop == before.prop && m.words == before.words && m.mode == before.mode && m.settle == before.settle);
    check_readable(m);
  }
  Motion copy = m;
  copy.forget();
  check(!copy.state && !copy.target && !copy.last && !copy.by_word);
  check_readable(copy);
  return 0;
}
