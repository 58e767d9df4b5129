// Writing outputs. Reading inputs and enumerations:
// data/cases/protocol_reading.json, run in record_test.cpp.
#include "protocol.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "test_util.hpp"

using namespace zefa;
using namespace zefa::protocol;
using test::J;

TEST(ProtocolOutput, Writing) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Output out;
    const char* text;
  } cases[] = {
      {{Output::Value{"level", J("5")}}, R"({"type":"value","prop":"level","value":5})"},
      {{Output::Reject{"level", RejectCode::OutOfRange, "too high"}},
       R"({"type":"reject","prop":"level","code":"out_of_range","reason":"too high"})"},
      {{Output::SetTimer{"c0:settle", 5}}, R"({"type":"set_timer","name":"c0:settle","after":5.0})"},
      {{Output::SetTimer{"t", inf}}, R"({"type":"set_timer","name":"t","after":null})"},
      {{Output::SettingsChanged{J(R"({"cover":{}})")}}, R"({"type":"settings_changed","block":{"cover":{}}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out.serialize().dump(), c.text) << c.text;

  // A send_message built without naming its channel still says "set".
  Output send{Output::SendMessage{.json = J("{}")}};
  EXPECT_EQ(send.serialize().dump(), R"({"type":"send_message","channel":"set","json":{}})");
}
