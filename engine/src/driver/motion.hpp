// Motion tracking of a cover. Many covers never say whether they are moving,
// so the driver keeps one `Motion` per tracked cover and publishes its state
// ("open", "closed", "opening", "closing", "stopped" or null) as a read-only
// property. Where the state comes from is the tracker's mode:
//   control   the words written to the instruction datapoint;
//   inferred  instruction words, set-position changes and position movement,
//             with a settle timer ending a motion that is no longer reported;
//   none      nothing is inferred: the property shows where the cover stands.
// Positions run from 0 (closed) to 100 (open).
//
// Plain values: copy freely (a driver copies its trackers for every input);
// every function is pure apart from changing the tracker it is called on, and
// none fails.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "json.hpp"
#include "protocol.hpp"
#include "record.hpp"

namespace zefa::driver::cover {

using json::Value;
using protocol::MotionState;
using protocol::StateSource;

// What to do with a tracker's settle timer after an update.
enum class TimerAction : uint8_t { Cancel, Arm, Leave };

struct Motion {
  // What one update asks of the driver.
  struct Update {
    Value patch;  // {} or {prop: state name or null}
    TimerAction action = TimerAction::Leave;
    double settle = 0;  // the delay to arm with; meaningful with Cancel and Arm
  };

  std::string prop;                        // the motion property: cover prefix + "cover_state"
  std::optional<std::string> group;        // the cover's group
  std::optional<std::string> command;      // instruction datapoint code
  std::optional<std::string> target_code;  // set-position code, when it differs from the position's
  std::optional<std::string> position;     // position datapoint code
  Value words;                             // {"open", "close", "stop"}: datapoint values of the words
  double settle = 0;                       // settle delay, in the host's unit of timer delays
  StateSource mode = StateSource::Inferred;
  bool invert_report = false;              // control mode: open and close read swapped
  std::optional<MotionState> state;        // the tracked state
  std::optional<double> target;            // the position the current motion heads for
  bool by_word = false;                    // the current motion was started by an open or close word
  std::optional<double> last;              // the position seen at the previous update

  // Object form: other members are ignored; group, command, target_code,
  // position, state, target and last may be missing (null). Array form:
  // exactly the thirteen fields in order. settle, target and last read any
  // JSON number and are always written as floats (30 as 30.0).
  static constexpr auto schema() {
    return record::Schema(
        "Motion", record::field("prop", &Motion::prop), record::field("group", &Motion::group),
        record::field("command", &Motion::command), record::field("target_code", &Motion::target_code),
        record::field("position", &Motion::position), record::field("words", &Motion::words),
        record::field("settle", &Motion::settle), record::field("mode", &Motion::mode),
        record::field("invert_report", &Motion::invert_report), record::field("state", &Motion::state),
        record::field("target", &Motion::target), record::field("by_word", &Motion::by_word),
        record::field("last", &Motion::last));
  }

  Value serialize() const;

  // Takes one datapoint report or the expiry of the settle timer into
  // account. `codes`: the driver's current datapoint values by code;
  // `changed`: the codes the report changed (empty for a timer); `active`:
  // the report's active flag (false for a timer); `timer`: the settle timer
  // expired. Instruction values match words by exact JSON equality (1 is not
  // 1.0), stop before open before close.
  Update update(const Value& codes, std::span<const std::string> changed, bool active, bool timer);

  // Forgets the current motion (state, target, last and the word flag), as
  // after a lost link.
  void forget();

  friend bool operator==(const Motion&, const Motion&) = default;
};

}  // namespace zefa::driver::cover
