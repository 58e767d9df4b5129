// The conversation between host and driver: driver inputs and outputs, and
// the small enumerations that they and the driver's persisted records carry.
// All are plain values, read and written through record:: (record.hpp); each
// enumeration is written as its name and read from its name or {"name": null}.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "error.hpp"
#include "json.hpp"
#include "record.hpp"

namespace zefa::protocol {

// Why a command was refused (written only).
enum class RejectCode : uint8_t {
  UnknownProperty,
  ReadOnly,
  RequiresUnmet,
  InvalidValue,
  OutOfRange,
  BadStep,
  Unsupported,
  Unavailable,
};
constexpr auto enum_names(RejectCode) {
  return std::array<std::string_view, 8>{"unknown_property", "read_only",    "requires_unmet", "invalid_value",
                                         "out_of_range",     "bad_step",     "unsupported",    "unavailable"};
}

// The channel of an outgoing datapoint message; always "set" (written only).
enum class SendChannel : uint8_t { Set };
constexpr auto enum_names(SendChannel) { return std::array<std::string_view, 1>{"set"}; }

// The channel a device message came on.
enum class Channel : uint8_t { Active, Passive, State };
constexpr auto enum_names(Channel) { return std::array<std::string_view, 3>{"active", "passive", "state"}; }

// The value type of a datapoint. A class rather than an enum so that it can
// carry `parse`; it converts to its `Tag`, so it switches and compares like an
// enum (`kind == DpKind::Boolean`).
class DpKind {
 public:
  enum Tag : uint8_t { Integer, Boolean, Enum, Bitmap, Json, Raw, String };
  constexpr DpKind() = default;
  constexpr DpKind(Tag t) : tag_(t) {}
  constexpr operator Tag() const { return tag_; }

  // The type word of a datapoint in a device description: the seven names and
  // "value", "bool", "enum", "bitmap", "json", "raw", "string", byte for byte.
  // Any other text, the empty text included, gives none.
  static std::optional<DpKind> parse(std::string_view word) noexcept;

 private:
  Tag tag_ = Integer;
};
// JSON takes the capitalised names only (not the other words of `parse`).
constexpr auto enum_names(DpKind) {
  return std::array<std::string_view, 7>{"Integer", "Boolean", "Enum", "Bitmap", "Json", "Raw", "String"};
}

// How a plan's status slot takes reports.
enum class SlotKind : uint8_t { Event, Delta };
constexpr auto enum_names(SlotKind) { return std::array<std::string_view, 2>{"event", "delta"}; }

// Where a cover's motion state comes from. None is a value of its own,
// distinct from an unset (null) setting.
enum class StateSource : uint8_t { Control, Inferred, None };
constexpr auto enum_names(StateSource) { return std::array<std::string_view, 3>{"control", "inferred", "none"}; }

// A cover's motion state.
enum class MotionState : uint8_t { Open, Closed, Opening, Closing, Stopped };
constexpr auto enum_names(MotionState) {
  return std::array<std::string_view, 5>{"open", "closed", "opening", "closing", "stopped"};
}

// One driver input, tagged by "type"; also read from the array form
// [type, members...]. Only ever read (hosts write it). Inside "seed", at any
// depth, the type may also be given by its number 0 to 5. Nesting is bounded
// by the JSON depth limit; the driver bounds it further.
struct Input {
  // The device's link came up.
  struct Connected {
    static constexpr auto schema() { return record::Schema("Input::Connected"); }
  };
  // The device's link went down.
  struct Disconnected {
    static constexpr auto schema() { return record::Schema("Input::Disconnected"); }
  };
  // A report from the device, as received, and its channel.
  struct Message {
    Channel channel{};
    json::Value json;
    static constexpr auto schema() {
      return record::Schema("Input::Message", record::field("channel", &Message::channel),
                            record::field("json", &Message::json));
    }
  };
  // The host asks that property `prop` take `value` (null when missing).
  struct Command {
    std::string prop;
    json::Value value;
    static constexpr auto schema() {
      return record::Schema("Input::Command", record::field("prop", &Command::prop),
                            record::field("value", &Command::value, nullptr));
    }
  };
  // The named timer, armed by an earlier "set_timer", has expired.
  struct Timer {
    std::string name;
    static constexpr auto schema() { return record::Schema("Input::Timer", record::field("name", &Timer::name)); }
  };
  // Describe the driver, then handle the seed inputs in order.
  struct Describe {
    std::vector<Input> seed;
    static constexpr auto schema() {
      return record::Schema("Input::Describe", record::field("seed", &Describe::seed, record::empty));
    }
  };

  std::variant<Connected, Disconnected, Message, Command, Timer, Describe> v;

  static constexpr auto schema() {
    return record::internally_tagged("Input", "type", &Input::v, "connected", "disconnected", "message", "command",
                                     "timer", "describe");
  }
  // The input, or the reader's message (callers put "input: " before it).
  static Result<Input, std::string> deserialize(const json::Value& v) { return record::read<Input>(v); }
};

// One driver output: a JSON object, "type" first, then every member of the
// variant in the order declared here; none is ever left out. Only ever
// written; writing cannot fail.
struct Output {
  // The device's descriptor document.
  struct Descriptor {
    json::Value desc;
    static constexpr auto schema() {
      return record::Schema("Output::Descriptor", record::field("desc", &Descriptor::desc));
    }
  };
  // The property's new value.
  struct Value {
    std::string prop;
    json::Value value;
    static constexpr auto schema() {
      return record::Schema("Output::Value", record::field("prop", &Value::prop), record::field("value", &Value::value));
    }
  };
  // The property has no value any more.
  struct Absent {
    std::string prop;
    static constexpr auto schema() { return record::Schema("Output::Absent", record::field("prop", &Absent::prop)); }
  };
  // The event property fired; `kind` tells which of its events.
  struct Event {
    std::string prop;
    std::string kind;
    static constexpr auto schema() {
      return record::Schema("Output::Event", record::field("prop", &Event::prop), record::field("kind", &Event::kind));
    }
  };
  // Datapoint writes for the host to send: `json` is {"dps": {...}}.
  struct SendMessage {
    SendChannel channel = SendChannel::Set;
    json::Value json;
    static constexpr auto schema() {
      return record::Schema("Output::SendMessage", record::field("channel", &SendMessage::channel),
                            record::field("json", &SendMessage::json));
    }
  };
  // A command for the property was refused.
  struct Reject {
    std::string prop;
    RejectCode code{};
    std::string reason;
    static constexpr auto schema() {
      return record::Schema("Output::Reject", record::field("prop", &Reject::prop), record::field("code", &Reject::code),
                            record::field("reason", &Reject::reason));
    }
  };
  // Arm the named timer; "after" is written as a float, null when not finite.
  struct SetTimer {
    std::string name;
    double after{};
    static constexpr auto schema() {
      return record::Schema("Output::SetTimer", record::field("name", &SetTimer::name),
                            record::field("after", &SetTimer::after));
    }
  };
  // Disarm the named timer.
  struct CancelTimer {
    std::string name;
    static constexpr auto schema() {
      return record::Schema("Output::CancelTimer", record::field("name", &CancelTimer::name));
    }
  };
  // The driver's settings block after a settings command.
  struct SettingsChanged {
    json::Value block;
    static constexpr auto schema() {
      return record::Schema("Output::SettingsChanged", record::field("block", &SettingsChanged::block));
    }
  };

  std::variant<Descriptor, Value, Absent, Event, SendMessage, Reject, SetTimer, CancelTimer, SettingsChanged> v;

  static constexpr auto schema() {
    return record::internally_tagged("Output", "type", &Output::v, "descriptor", "value", "absent", "event",
                                     "send_message", "reject", "set_timer", "cancel_timer", "settings_changed");
  }
  json::Value serialize() const { return record::write(*this); }
};

}  // namespace zefa::protocol
