#include "driver/motion.hpp"

#include <algorithm>

namespace zefa::driver::cover {

namespace {

bool moving(std::optional<MotionState> s) { return s == MotionState::Opening || s == MotionState::Closing; }

// Where a cover at rest stands.
MotionState standing(double pos) {
  if (pos <= 0) return MotionState::Closed;
  if (pos >= 100) return MotionState::Open;
  return MotionState::Stopped;
}

bool in(const std::optional<std::string>& code, std::span<const std::string> changed) {
  return code && std::find(changed.begin(), changed.end(), *code) != changed.end();
}

// An object word stands for "no such word" (a Boolean instruction has no
// stop value), so a device that reports that object has still said nothing.
bool says(const Value& w, const Value& word) { return !word.is_object() && w == word; }

// The word an instruction value means, first of stop, open, close; none when
// it matches none of them.
std::optional<MotionState> word(const Value& words, const Value& w) {
  if (says(w, words["stop"])) return MotionState::Stopped;
  if (says(w, words["open"])) return MotionState::Opening;
  if (says(w, words["close"])) return MotionState::Closing;
  return std::nullopt;
}

// Most updates publish nothing: one shared empty object serves them all.
Value no_patch() {
  static const Value empty = Value::object();
  return empty;
}

Value patch(const std::string& prop, std::optional<MotionState> shown) {
  json::Object o;
  o.push_unique(Value(prop), shown ? Value(record::name_of(*shown)) : Value());
  return Value(std::move(o));
}

}  // namespace

Value Motion::serialize() const { return record::write(*this); }

void Motion::forget() {
  state.reset();
  target.reset();
  by_word = false;
  last.reset();
}

Motion::Update Motion::update(const Value& codes, std::span<const std::string> changed, bool active, bool timer) {
  std::optional<double> pos;
  if (position) {
    const Value& p = codes[*position];
    if (p.is_number()) pos = p.to_f64();
  }
  const std::optional<double> old_last = last;
  if (pos) last = pos;
  const Update unchanged{no_patch(), TimerAction::Leave, settle};

  if (mode != StateSource::Inferred) {
    const bool by_command = in(command, changed);
    if (!by_command && !in(position, changed)) return unchanged;
    if (active && mode == StateSource::Control) {
      std::optional<MotionState> heard;
      if (by_command) heard = word(words, codes[*command]);
      if (heard && invert_report && moving(heard))
        heard = *heard == MotionState::Opening ? MotionState::Closing : MotionState::Opening;
      if (heard) {
        state = heard;
        return {patch(prop, heard), TimerAction::Leave, settle};
      }
      if (moving(state)) return unchanged;
    }
    forget();
    return {patch(prop, pos ? std::optional(standing(*pos)) : std::nullopt), TimerAction::Leave, settle};
  }

  // Inferred: `next` is the new state, none when the state stays.
  std::optional<MotionState> next;
  if (timer) {
    if (!moving(state)) return unchanged;
    next = MotionState::Stopped;
  } else if (!active) {
    // A report the cover did not cause itself (a poll, a reconnect) touching
    // its datapoints means it is not being driven any more.
    if (pos && (in(command, changed) || in(position, changed) || in(target_code, changed)))
      next = MotionState::Stopped;
  } else {
    if (in(command, changed)) {
      next = word(words, codes[*command]);
      if (next == MotionState::Opening || next == MotionState::Closing) {
        target = next == MotionState::Opening ? 100.0 : 0.0;
        by_word = true;
      }
    } else if (in(target_code, changed) && pos) {
      const Value& v = codes[*target_code];
      if (v.is_number()) {
        const double t = v.to_f64();
        target = t;
        by_word = false;
        next = t > *pos ? MotionState::Opening : t < *pos ? MotionState::Closing : MotionState::Stopped;
      }
    } else if (in(position, changed) && pos) {
      if (!moving(state)) {
        next = MotionState::Stopped;
      } else {
        MotionState dir = *state;
        // A motion started by a word heads for an end stop; a position going
        // the other way means the cover was turned round without a word.
        if (old_last && by_word && *pos != *old_last) {
          const MotionState d = *pos > *old_last ? MotionState::Opening : MotionState::Closing;
          if (d != *state) {
            target = d == MotionState::Opening ? 100.0 : 0.0;
            next = dir = d;
          }
        }
        if (target && ((dir == MotionState::Opening && *pos >= *target) ||
                       (dir == MotionState::Closing && *pos <= *target)))
          next = MotionState::Stopped;
      }
    }
    if (pos) {
      const std::optional<MotionState> eff = next ? next : state;
      if ((*pos <= 0 && eff == MotionState::Closing) || (*pos >= 100 && eff == MotionState::Opening))
        next = MotionState::Stopped;
    }
  }

  // A report re-arms the settle timer while the cover moves and cancels it
  // otherwise; the timer's own expiry leaves it alone.
  const bool timed = settle > 0 && !timer;
  Update out{no_patch(), TimerAction::Leave, settle};
  if (timed) out.action = moving(next ? next : state) ? TimerAction::Arm : TimerAction::Cancel;
  if (!next) return out;
  state = next;
  std::optional<MotionState> shown = next;
  if (next == MotionState::Stopped) {
    target.reset();
    by_word = false;
    if (pos) shown = standing(*pos);
  }
  out.patch = patch(prop, shown);
  return out;
}

}  // namespace zefa::driver::cover
