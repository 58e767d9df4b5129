#include "protocol.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_util.hpp"

using namespace zefa;
using namespace zefa::protocol;
using test::J;

namespace {

// The input as written back (a readable picture of what was read), or the
// reader's message.
std::string read_input(const char* text) {
  auto r = Input::deserialize(J(text));
  return r.ok() ? record::write(r.value()).dump() : "error: " + r.error();
}

template <class E>
std::string read_enum(const char* text) {
  auto r = record::read<E>(J(text));
  return r.ok() ? std::string(record::name_of(r.value())) : "error: " + r.error();
}

}  // namespace

TEST(ProtocolInput, Reading) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      // Link changes take any members and no array elements.
      {R"({"type":"connected","x":1,"y":[2]})", R"({"type":"connected"})"},
      {R"(["connected"])", R"({"type":"connected"})"},
      {R"(["disconnected"])", R"({"type":"disconnected"})"},
      {R"(["connected",1])", "error: invalid length 1, expected 0 elements in sequence"},
      {R"(["disconnected",1,2])", "error: invalid length 2, expected 0 elements in sequence"},
      // Messages.
      {R"({"json":{"dps":{"1":true}},"type":"message","channel":"active"})",
       R"({"type":"message","channel":"active","json":{"dps":{"1":true}}})"},
      {R"(["message","state",null])", R"({"type":"message","channel":"state","json":null})"},
      {R"({"type":"message","channel":{"state":null},"json":1})", R"({"type":"message","channel":"state","json":1})"},
      {R"({"type":"message","channel":{"passive":{}},"json":1})", R"({"type":"message","channel":"passive","json":1})"},
      {R"(["message","active",1,2])", "error: invalid length 3, expected 2 elements in sequence"},
      {R"(["message","active"])", "error: invalid length 1, expected struct variant Input::Message with 2 elements"},
      {R"(["message"])", "error: invalid length 0, expected struct variant Input::Message with 2 elements"},
      {R"({"type":"message","json":1})", "error: missing field `channel`"},
      {R"({"type":"message","channel":"active"})", "error: missing field `json`"},
      {R"({"type":"message","channel":"Active","json":1})",
       "error: unknown variant `Active`, expected one of `active`, `passive`, `state`"},
      {R"({"type":"message","channel":{},"json":1})", "error: invalid value: map, expected map with a single key"},
      {R"({"type":"message","channel":{"state":null,"active":null},"json":1})",
       "error: invalid value: map, expected map with a single key"},
      {R"({"type":"message","channel":{"state":0},"json":1})", "error: invalid type: integer `0`, expected unit"},
      {R"({"type":"message","channel":1,"json":1})", "error: invalid type: integer `1`, expected string or map"},
      {R"({"type":"message","channel":["state"],"json":1})", "error: invalid type: sequence, expected string or map"},
      // Commands: a missing value is null.
      {R"({"type":"command","prop":"switch"})", R"({"type":"command","prop":"switch","value":null})"},
      {R"(["command","switch"])", R"({"type":"command","prop":"switch","value":null})"},
      {R"(["command","level",{"x":[1.5]}])", R"({"type":"command","prop":"level","value":{"x":[1.5]}})"},
      {R"({"type":"command","prop":5,"value":1})", "error: invalid type: integer `5`, expected a string"},
      {R"({"type":"command","value":1})", "error: missing field `prop`"},
      {R"(["command"])", "error: invalid length 0, expected struct variant Input::Command with 2 elements"},
      {R"(["command","p",1,2])", "error: invalid length 3, expected 2 elements in sequence"},
      // Timers.
      {R"({"type":"timer","name":"c0:settle","other":1})", R"({"type":"timer","name":"c0:settle"})"},
      {R"({"type":"timer"})", "error: missing field `name`"},
      {R"({"type":"timer","name":null})", "error: invalid type: null, expected a string"},
      {R"(["timer"])", "error: invalid length 0, expected struct variant Input::Timer with 1 element"},
      {R"(["timer","t","x"])", "error: invalid length 2, expected 1 element in sequence"},
      // Describe, with seeds whose variants may also be numbered.
      {R"({"type":"describe"})", R"({"type":"describe","seed":[]})"},
      {R"(["describe"])", R"({"type":"describe","seed":[]})"},
      {R"({"type":"describe","seed":[{"type":2,"channel":"state","json":{}},[3,"p"],["connected"]]})",
       R"({"type":"describe","seed":[{"type":"message","channel":"state","json":{}},)"
       R"({"type":"command","prop":"p","value":null},{"type":"connected"}]})"},
      {R"(["describe",[[5,[[4,"t"],{"type":0}]]]])",
       R"({"type":"describe","seed":[{"type":"describe","seed":[{"type":"timer","name":"t"},{"type":"connected"}]}]})"},
      {R"({"type":"describe","seed":[{"type":6}]})", "error: invalid value: integer `6`, expected variant index 0 <= i < 6"},
      {R"({"type":"describe","seed":[[7]]})", "error: invalid value: integer `7`, expected variant index 0 <= i < 6"},
      {R"({"type":"describe","seed":[{"type":-1}]})", "error: invalid type: integer `-1`, expected variant identifier"},
      {R"({"type":"describe","seed":[{"type":1.0}]})",
       "error: invalid type: floating point `1.0`, expected variant identifier"},
      {R"({"type":"describe","seed":5})", "error: invalid type: integer `5`, expected a sequence"},
      {R"({"type":"describe","seed":[5]})", "error: invalid type: integer `5`, expected internally tagged enum Input"},
      // A fault in a nested input reads like one at the top level.
      {R"(["describe",[["describe",[["timer"]]]]])",
       "error: invalid length 0, expected struct variant Input::Timer with 1 element"},
      {R"(["describe",[["connected",{}]]])", "error: invalid length 1, expected 0 elements in sequence"},
      // The variant name.
      {R"({"type":"Message"})",
       "error: unknown variant `Message`, expected one of `connected`, `disconnected`, `message`, `command`, "
       "`timer`, `describe`"},
      {R"({"type":2,"channel":"state","json":{}})", "error: invalid type: integer `2`, expected variant identifier"},
      {R"([2,"state",{}])", "error: invalid type: integer `2`, expected variant identifier"},
      {R"({"type":true})", "error: invalid type: boolean `true`, expected variant identifier"},
      {R"({"type":null})", "error: invalid type: null, expected variant identifier"},
      {R"({"name":"t"})", "error: missing field `type`"},
      {R"({})", "error: missing field `type`"},
      {R"([])", "error: missing field `type`"},
      // The variant is checked before its members.
      {R"({"prop":5,"type":"nope"})",
       "error: unknown variant `nope`, expected one of `connected`, `disconnected`, `message`, `command`, "
       "`timer`, `describe`"},
      {R"(null)", "error: invalid type: null, expected internally tagged enum Input"},
      {R"("connected")", "error: invalid type: string \"connected\", expected internally tagged enum Input"},
      {R"(1.5)", "error: invalid type: floating point `1.5`, expected internally tagged enum Input"},
  };
  for (const auto& c : cases) EXPECT_EQ(read_input(c.in), c.out) << c.in;
}

TEST(ProtocolInput, RequestMember) {
  auto missing = record::decode<Input>(J(R"({"op":"drive"})"), "input");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, ErrorKind::Request);
  EXPECT_EQ(missing.error().message, "input: invalid type: null, expected internally tagged enum Input");

  auto in = record::decode<Input>(J(R"({"input":{"type":"command","prop":"p","value":[1]}})"), "input");
  ASSERT_TRUE(in.ok());
  const auto* cmd = std::get_if<Input::Command>(&in.value().v);
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(cmd->prop, "p");
  EXPECT_EQ(cmd->value, J("[1]"));
}

TEST(ProtocolOutput, Writing) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Output out;
    const char* text;
  } cases[] = {
      {{Output::Descriptor{J(R"({"props":{}})")}}, R"({"type":"descriptor","desc":{"props":{}}})"},
      {{Output::Value{"level", J("5")}}, R"({"type":"value","prop":"level","value":5})"},
      {{Output::Value{"level", json::Value()}}, R"({"type":"value","prop":"level","value":null})"},
      {{Output::Absent{"level"}}, R"({"type":"absent","prop":"level"})"},
      {{Output::Event{"button", "single"}}, R"({"type":"event","prop":"button","kind":"single"})"},
      {{Output::SendMessage{SendChannel::Set, J(R"({"dps":{"1":true}})")}},
       R"({"type":"send_message","channel":"set","json":{"dps":{"1":true}}})"},
      {{Output::Reject{"level", RejectCode::OutOfRange, "too high"}},
       R"({"type":"reject","prop":"level","code":"out_of_range","reason":"too high"})"},
      {{Output::SetTimer{"c0:settle", 5}}, R"({"type":"set_timer","name":"c0:settle","after":5.0})"},
      {{Output::SetTimer{"t", 0.25}}, R"({"type":"set_timer","name":"t","after":0.25})"},
      {{Output::SetTimer{"t", inf}}, R"({"type":"set_timer","name":"t","after":null})"},
      {{Output::SetTimer{"t", std::nan("")}}, R"({"type":"set_timer","name":"t","after":null})"},
      {{Output::CancelTimer{"c0:settle"}}, R"({"type":"cancel_timer","name":"c0:settle"})"},
      {{Output::SettingsChanged{J(R"({"cover":{}})")}}, R"({"type":"settings_changed","block":{"cover":{}}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out.serialize().dump(), c.text) << c.text;

  std::vector<Output> list{{Output::Absent{"a"}}, {Output::CancelTimer{"b"}}};
  EXPECT_EQ(record::write(list).dump(), R"([{"type":"absent","prop":"a"},{"type":"cancel_timer","name":"b"}])");
  // A send_message built without naming its channel still says "set".
  Output send{Output::SendMessage{.json = J("{}")}};
  EXPECT_EQ(send.serialize().dump(), R"({"type":"send_message","channel":"set","json":{}})");
}

TEST(ProtocolEnums, Names) {
  std::string codes;
  for (size_t i = 0; i < 8; ++i) codes += std::string(record::name_of(static_cast<RejectCode>(i))) + " ";
  EXPECT_EQ(codes, "unknown_property read_only requires_unmet invalid_value out_of_range bad_step unsupported unavailable ");
  EXPECT_EQ(record::write(SendChannel::Set).dump(), "\"set\"");
  EXPECT_EQ(record::write(DpKind(DpKind::Json)).dump(), "\"Json\"");
  EXPECT_EQ(record::write(StateSource::None).dump(), "\"none\"");
  EXPECT_EQ(record::write(std::optional<StateSource>()).dump(), "null");
  EXPECT_EQ(record::write(MotionState::Closing).dump(), "\"closing\"");
  EXPECT_EQ(record::write(SlotKind::Delta).dump(), "\"delta\"");
}

TEST(ProtocolEnums, Reading) {
  EXPECT_EQ(read_enum<DpKind>(R"("Boolean")"), "Boolean");
  EXPECT_EQ(read_enum<DpKind>(R"({"Raw":null})"), "Raw");
  EXPECT_EQ(read_enum<DpKind>(R"("bool")"),
            "error: unknown variant `bool`, expected one of `Integer`, `Boolean`, `Enum`, `Bitmap`, `Json`, `Raw`, "
            "`String`");
  EXPECT_EQ(read_enum<SlotKind>(R"("event")"), "event");
  EXPECT_EQ(read_enum<SlotKind>(R"("Event")"), "error: unknown variant `Event`, expected `event` or `delta`");
  EXPECT_EQ(read_enum<StateSource>(R"({"none":null})"), "none");
  EXPECT_EQ(read_enum<StateSource>(R"("None")"),
            "error: unknown variant `None`, expected one of `control`, `inferred`, `none`");
  EXPECT_EQ(read_enum<MotionState>(R"("stopped")"), "stopped");
  EXPECT_EQ(read_enum<MotionState>(R"(3)"), "error: invalid type: integer `3`, expected string or map");
  EXPECT_EQ(read_enum<Channel>(R"({"state":null})"), "state");

  auto none = record::read<std::optional<SlotKind>>(J("null"));
  ASSERT_TRUE(none.ok());
  EXPECT_FALSE(none.value().has_value());
  auto some = record::read<std::optional<StateSource>>(J(R"("none")"));
  ASSERT_TRUE(some.ok());
  EXPECT_EQ(some.value(), StateSource::None);
}

TEST(ProtocolEnums, DpKindParse) {
  struct Case {
    const char* word;
    std::optional<DpKind> kind;
  } cases[] = {
      {"Integer", DpKind::Integer}, {"value", DpKind::Integer}, {"Boolean", DpKind::Boolean},
      {"bool", DpKind::Boolean},    {"Enum", DpKind::Enum},     {"enum", DpKind::Enum},
      {"Bitmap", DpKind::Bitmap},   {"bitmap", DpKind::Bitmap}, {"Json", DpKind::Json},
      {"json", DpKind::Json},       {"Raw", DpKind::Raw},       {"raw", DpKind::Raw},
      {"String", DpKind::String},   {"string", DpKind::String}, {"integer", std::nullopt},
      {"boolean", std::nullopt},    {"Bool", std::nullopt},     {"", std::nullopt},
      {"Value", std::nullopt},      {"bool ", std::nullopt},    {"RAW", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(DpKind::parse(c.word), c.kind) << c.word;
}
