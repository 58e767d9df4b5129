#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "data/role.hpp"
#include "record.hpp"
#include "test_util.hpp"

using zefa::data::Role;
using zefa::json::Value;
using zefa::protocol::DpKind;
using zefa::test::J;
namespace data = zefa::data;
namespace record = zefa::record;

namespace {

Role role(DpKind kind, const char* spec) { return Role{"dp", kind, J(spec), Value()}; }

const char* kInt = R"({"min":0,"max":1000,"scale":1,"step":5})";

}  // namespace

TEST(DataRole, ReadConversions) {
  struct Case {
    DpKind kind;
    const char* spec;
    const char* status;
    const char* want;  // compact text: tells 25 from 25.0
  } cases[] = {
      {DpKind::Integer, kInt, R"({"dp":255})", "25.5"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", R"({"dp":25})", "25.0"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", R"({"dp":25.0})", "null"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", R"({"dp":"25"})", "null"},
      {DpKind::Integer, kInt, R"({"dp":true})", "0.1"},
      {DpKind::Integer, R"({"min":2,"max":100,"scale":0})", R"({"dp":true})", "null"},
      {DpKind::Integer, kInt, R"({"dp":2000})", "null"},
      {DpKind::Integer, kInt, R"({"dp":-1})", "null"},
      {DpKind::Integer, kInt, "{}", "null"},
      {DpKind::Integer, R"({"min":0,"max":1000,"scale":1,"inverted":true})", R"({"dp":250})", "75.0"},
      {DpKind::Integer, R"({"min":0,"max":1000,"scale":1,"inverted":"yes"})", R"({"dp":250})", "25.0"},
      {DpKind::Integer, R"({"min":-50,"max":50,"scale":0})", R"({"dp":-7})", "-7.0"},
      {DpKind::Integer, R"({"min":0,"max":10,"scale":-400})", R"({"dp":5})", "null"},
      {DpKind::Integer, R"({"max":10})", R"({"dp":0})", "0.0"},
      {DpKind::Boolean, "{}", R"({"dp":true})", "true"},
      {DpKind::Boolean, "{}", R"({"dp":1})", "1"},
      {DpKind::Boolean, "{}", R"({"dp":0.0})", "0.0"},
      {DpKind::Boolean, "{}", R"({"dp":2})", "null"},
      {DpKind::Boolean, "{}", R"({"dp":"true"})", "null"},
      {DpKind::Enum, R"({"range":["a","b"]})", R"({"dp":"b"})", "\"b\""},
      {DpKind::Enum, R"({"range":["a","b"]})", R"({"dp":"c"})", "null"},
      {DpKind::Enum, R"({"range":[1,2]})", R"({"dp":1.0})", "null"},
      {DpKind::Enum, R"({"range":"ab"})", R"({"dp":"a"})", "null"},
      {DpKind::Bitmap, "{}", R"({"dp":7})", "7"},
      {DpKind::Json, "{}", R"({"dp":{"a":[1]}})", R"({"a":[1]})"},
      {DpKind::Raw, "{}", R"({"dp":"AAE="})", "\"AAE=\""},
      {DpKind::String, "{}", "{}", "null"},
      {DpKind::String, "{}", "[1]", "null"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(role(c.kind, c.spec).read(J(c.status)).dump(), c.want) << c.spec << " " << c.status;
}

TEST(DataRole, WriteConversions) {
  struct Case {
    DpKind kind;
    const char* spec;
    const char* value;
    const char* want;  // value text, or the message
  } cases[] = {
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "2.5", "2"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "3.5", "4"},
      {DpKind::Integer, R"({"min":-100,"max":100,"scale":0})", "-2.5", "-2"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "true", "1"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "30.0", "30"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "\"30\"", "invalid numeric value"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "null", "invalid numeric value"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0,"inverted":true})", "30", "70"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "101", "value out of range"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "-0.4", "0"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":0})", "-0.6", "value out of range"},
      {DpKind::Integer, kInt, "25.55", "256"},
      {DpKind::Integer, kInt, "100", "1000"},
      {DpKind::Integer, kInt, "100.1", "value out of range"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":400})", "1", "value out of range"},
      {DpKind::Integer, R"({"min":0,"max":100,"scale":400})", "0", "null"},
      {DpKind::Integer, R"({"min":"x","max":"nan","scale":0})", "1e300", "1e+300"},
      {DpKind::Boolean, "{}", "true", "true"},
      {DpKind::Boolean, "{}", "1", "invalid boolean value"},
      {DpKind::Enum, R"({"range":["a","b"]})", "\"a\"", "\"a\""},
      {DpKind::Enum, R"({"range":[1,2]})", "1", "invalid enum value"},
      {DpKind::Enum, R"({"range":["a"]})", "\"c\"", "invalid enum value"},
      {DpKind::Enum, "{}", "\"a\"", "invalid enum value"},
      {DpKind::Json, "{}", "[1,{}]", "[1,{}]"},
      {DpKind::String, "{}", "5", "5"},
  };
  for (const auto& c : cases) {
    auto got = role(c.kind, c.spec).write(J(c.value));
    EXPECT_EQ(got.ok() ? got.value().dump() : got.error(), c.want) << c.spec << " " << c.value;
  }
}

TEST(DataRole, ScaleAndView) {
  struct Case {
    const char* scale;
    double want;
  } cases[] = {
      {"2", 100}, {"0", 1}, {"-1", 0.1}, {"1.9", 10}, {"-1.9", 0.1}, {"\"3\"", 1000}, {"null", 1},
      {"400", INFINITY}, {"-400", 0}, {"1e20", INFINITY}, {"\"nan\"", 1}, {"22", 1e22},
  };
  for (const auto& c : cases)
    EXPECT_EQ(role(DpKind::Integer, (std::string(R"({"scale":)") + c.scale + "}").c_str()).scale(), c.want)
        << c.scale;

  Role r{"pos", DpKind::Integer, J(R"({"min":0,"max":1000,"step":5,"scale":1,"range":[1]})"), J("\"sum\"")};
  EXPECT_EQ(r.view().dump(),
            R"({"code":"pos","kind":"Integer","spec":{"min":0,"max":1000,"step":5,"scale":1,"range":[1]},)"
            R"("report_type":"sum","range":[1],"lo":0,"hi":100,"step":0.5,"scale":10})");
  EXPECT_EQ(r.lo(), 0);
  EXPECT_EQ(r.hi(), 1000);
  Role e{"mode", DpKind::Enum, J(R"({"range":"x"})"), Value()};
  EXPECT_EQ(e.view().dump(),
            R"({"code":"mode","kind":"Enum","spec":{"range":"x"},"report_type":null,"range":[],"lo":0,"hi":0,)"
            R"("step":0,"scale":1})");
}

TEST(DataRole, RecordForm) {
  Role r{"c", DpKind::Bitmap, J(R"({"label":["a"]})"), J("1")};
  Value w = record::write(r);
  EXPECT_EQ(w.dump(), R"({"code":"c","kind":"Bitmap","spec":{"label":["a"]},"report_type":1})");
  EXPECT_EQ(record::read<Role>(w).value(), r);
  EXPECT_EQ(record::read<Role>(J(R"(["c","Bitmap",{"label":["a"]},1])")).value(), r);
  EXPECT_EQ(record::read<Role>(J(R"({"code":"c","kind":"Bitmap","spec":{"label":["a"]},"report_type":1,"x":2})"))
                .value(),
            r);

  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {R"({"code":"c","kind":"Enum","spec":{}})", "missing field `report_type`"},
      {R"({"kind":"Enum","spec":{},"report_type":null})", "missing field `code`"},
      {R"(["c","Enum",{}])", "invalid length 3, expected struct Role with 4 elements"},
      {R"(["c","Enum",{},null,5])", "invalid length 5, expected fewer elements in array"},
      {R"(["c","bool",{},null])", "unknown variant `bool`, expected one of `Integer`, `Boolean`, `Enum`, `Bitmap`, "
                                  "`Json`, `Raw`, `String`"},
  };
  for (const auto& c : cases) EXPECT_EQ(record::read<Role>(J(c.text)).error(), c.message) << c.text;

  // A copy shares nothing observable with its source.
  Role copy = r;
  copy.spec.obj_mut().insert_or_assign("label", Value(2));
  EXPECT_EQ(r.spec.dump(), R"({"label":["a"]})");
}

TEST(DataRole, Resolve) {
  Value device = J(R"({
    "function": {
      "both": {"type": "value", "values": "{\"min\":0,\"max\":10,\"scale\":0,\"step\":1}"},
      "sw": {"type": "bool", "values": "{}"},
      "mode": {"type": "enum", "values": ""},
      "nostep": {"type": "Integer", "values": {"min":0,"max":10,"scale":0}},
      "texts": {"type": "value", "values": {"min":" 5 ","max":"+10","scale":5.7,"step":true}},
      "badmin": {"type": "value", "values": {"min":"5.5","max":1,"scale":0,"step":1}},
      "badstep": {"type": "value", "values": {"min":1,"max":1,"scale":0,"step":[1]}},
      "nullmax": {"type": "value", "values": {"min":1,"max":null,"scale":0,"step":1}},
      "huge": {"type": "value", "values": {"min":-1e300,"max":18446744073709551615,"scale":"\u3000-3\u2003","step":"-9223372036854775808"}},
      "overflow": {"type": "value", "values": {"min":"9223372036854775808","max":1,"scale":0,"step":1}},
      "notype": {"values": "{}"},
      "blob": {"type": "raw"}
    },
    "status_range": {
      "both": {"type": "value", "values": "{\"min\":1,\"max\":20,\"scale\":1,\"step\":2,\"unit\":\"%\"}", "report_type": "sum"},
      "sw": {"type": "bool", "report_type": "rt"},
      "mode": {"type": "enum", "values": "{\"range\":[\"a\"]}"}
    }
  })");
  struct Case {
    std::vector<std::string> codes;
    const char* kind;
    bool prefer_function;
    const char* want;  // role record text, "none", or the message
  } cases[] = {
      {{"both"}, "Integer", false,
       R"({"code":"both","kind":"Integer","spec":{"min":1,"max":20,"scale":1,"step":2,"unit":"%"},"report_type":"sum"})"},
      {{"both"}, "Integer", true,
       R"({"code":"both","kind":"Integer","spec":{"min":0,"max":10,"scale":0,"step":1},"report_type":"sum"})"},
      {{"sw"}, "Boolean", true, R"({"code":"sw","kind":"Boolean","spec":{},"report_type":"rt"})"},
      {{"mode"}, "Enum", true, R"({"code":"mode","kind":"Enum","spec":{"range":["a"]},"report_type":null})"},
      {{"missing", "sw"}, "Boolean", false, R"({"code":"sw","kind":"Boolean","spec":null,"report_type":"rt"})"},
      {{}, "Boolean", true, "none"},
      {{"sw"}, "Enum", true, "none"},
      {{"both"}, "value", true, "none"},
      {{"sw"}, "bool", true, "none"},
      {{"nostep"}, "Integer", true, "schema nostep: missing integer field"},
      {{"nullmax"}, "Integer", true, "schema nullmax: missing integer field"},
      {{"texts"}, "Integer", true,
       R"({"code":"texts","kind":"Integer","spec":{"min":5,"max":10,"scale":5,"step":1},"report_type":null})"},
      {{"badmin"}, "Integer", true, "schema badmin: invalid integer min"},
      {{"badstep"}, "Integer", true, "schema badstep: invalid integer step"},
      {{"overflow"}, "Integer", true, "schema overflow: invalid integer min"},
      {{"huge"}, "Integer", true,
       R"({"code":"huge","kind":"Integer","spec":{"min":-9223372036854775808,"max":9223372036854775807,"scale":-3,"step":-9223372036854775808},"report_type":null})"},
      {{"notype"}, "", true, "invalid dp kind"},
      {{"absent"}, "", true, "invalid dp kind"},
      {{"blob"}, "Raw", true, R"({"code":"blob","kind":"Raw","spec":null,"report_type":null})"},
  };
  for (const auto& c : cases) {
    auto got = data::resolve(device, c.codes, c.kind, c.prefer_function);
    std::string text = !got.ok() ? got.error() : got.value() ? record::write(*got.value()).dump() : "none";
    EXPECT_EQ(text, c.want) << (c.codes.empty() ? "" : c.codes[0]) << " " << c.kind;
  }
  // Integer fields are held in integer form: the role writes integers back.
  auto r = data::resolve(device, std::vector<std::string>{"texts"}, "Integer", true);
  EXPECT_TRUE(r.value()->spec["scale"].is_u64());
  EXPECT_TRUE(data::resolve(J("[1]"), std::vector<std::string>{"a"}, "Integer", true).value() == std::nullopt);
}

TEST(DataRole, CoverWords) {
  Value rules = J(R"({"maps":{
    "oc": {"open":"open","close":"close","stop":"stop"},
    "ud": {"open":"up","close":"down","stop":"pause"},
    "num": {"open":1,"close":0}
  }})");
  Role ud{"c", DpKind::Enum, J(R"({"range":["up","down","pause"]})"), Value()};
  Role ints{"c", DpKind::Enum, J(R"({"range":[1,0]})"), Value()};
  Role floats{"c", DpKind::Enum, J(R"({"range":[1.0,0.0]})"), Value()};
  Role none{"c", DpKind::Enum, J("{}"), Value()};
  struct Case {
    const Role* role;
    const char* names;
    const char* want;
  } cases[] = {
      {&ud, R"(["oc","ud"])", R"({"open":"up","close":"down","stop":"pause"})"},
      {&ud, R"("ud")", R"({"open":"up","close":"down","stop":"pause"})"},
      {&ud, R"(["oc","num"])", R"({"open":"open","close":"close","stop":"stop"})"},
      {&ud, "[]", "null"},
      {&ud, "5", "null"},
      {&ud, R"(["nope","ud"])", R"({"open":"up","close":"down","stop":"pause"})"},
      {&ud, R"(["nope","oc"])", "null"},
      {&ints, R"(["oc","num"])", R"({"open":1,"close":0})"},
      {&floats, R"(["oc","num"])", R"({"open":"open","close":"close","stop":"stop"})"},
      {&none, R"(["ud","oc"])", R"({"open":"up","close":"down","stop":"pause"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(data::cover_words(*c.role, J(c.names), rules).dump(), c.want) << c.names;
  Role sw{"c", DpKind::Boolean, Value(), Value()};
  EXPECT_EQ(data::cover_words(sw, J("[]"), J("null")).dump(), R"({"open":true,"close":false,"stop":{"never":true}})");
}
