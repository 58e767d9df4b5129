#include <gtest/gtest.h>

#include "data/prepare.hpp"
#include "test_util.hpp"

using zefa::json::Value;
using zefa::test::J;
namespace data = zefa::data;

TEST(DataPrepare, EnsureTables) {
  struct Case {
    const char* device;
    const char* want;
  } cases[] = {
      {R"({"status":[1]})", R"({"status":{},"function":{},"status_range":{}})"},
      {"null", R"({"function":{},"status_range":{},"status":{}})"},
      {R"({"id":"x","function":{"a":1},"status_range":null})",
       R"({"id":"x","function":{"a":1},"status_range":{},"status":{}})"},
      {"[1]", "[1]"},
      {"\"dev\"", "\"dev\""},
  };
  for (const auto& c : cases) {
    Value d = J(c.device);
    data::ensure_tables(d);
    EXPECT_EQ(d.dump(), c.want) << c.device;
  }
}

TEST(DataPrepare, Cond) {
  struct Case {
    const char* cond;
    const char* status;
    const char* want;
  } cases[] = {
      {"{}", "{}", "null"},
      {R"({"and":[]})", "{}", "true"},
      {R"({"or":[]})", "{}", "false"},
      {R"({"and":5})", "{}", "true"},
      {R"({"or":5})", "{}", "false"},
      {R"({"and":[1,"x",0]})", "{}", "false"},
      {R"({"or":[0,null,[1]]})", "{}", "true"},
      {R"({"ge":[{"status":"t"},20]})", R"({"t":21})", "true"},
      {R"({"ge":[{"status":"t"},20]})", R"({"t":20.0})", "true"},
      {R"({"ge":[{"status":"t"},20]})", R"({"t":"21"})", "false"},
      {R"({"ge":[{"status":"t"},20]})", "{}", "false"},
      {R"({"ge":[true,1]})", "{}", "true"},
      {R"({"ge":[1]})", "{}", "false"},
      {R"({"ge":5})", "{}", "false"},
      {R"({"is_int":3})", "{}", "true"},
      {R"({"is_int":-3})", "{}", "true"},
      {R"({"is_int":3.0})", "{}", "false"},
      {R"({"is_int":true})", "{}", "true"},
      {R"({"is_int":"3"})", "{}", "false"},
      {R"({"is_int":{"status":"t"}})", R"({"t":2})", "true"},
      {R"({"status":5})", R"({"":"empty","5":"five"})", "\"empty\""},
      {R"({"status":"t"})", R"({"t":{"deep":[1]}})", R"({"deep":[1]})"},
      {R"({"status":"t"})", "[1]", "null"},
      {R"({"status":"missing"})", "{}", "null"},
      {R"({"unknown":1,"and":[]})", "{}", "null"},
      {R"({"not":{"status":"t"}})", R"({"t":0})", "true"},
      {R"({"not":{"status":"t"}})", R"({"t":"0"})", "false"},
      {R"({"or":[true],"and":[]})", "{}", "true"},
      {"[1,2]", "{}", "[1,2]"},
      {"2.5", "{}", "2.5"},
      {"null", "{}", "null"},
      {R"({"and":[{"or":[false,{"ge":[{"status":"a"},{"status":"b"}]}]},{"not":false}]})", R"({"a":3,"b":2.5})",
       "true"},
  };
  for (const auto& c : cases) EXPECT_EQ(data::cond(J(c.cond), J(c.status)).dump(), c.want) << c.cond << " " << c.status;
}

TEST(DataPrepare, CondDeepNestingIsBounded) {
  Value c = Value(true);
  for (int i = 0; i < 1000; ++i) c = Value(zefa::json::Object{{"not", c}});
  // Built in memory beyond what the parser accepts: must still answer.
  EXPECT_TRUE(data::cond(c, J("{}")).is_bool());
}

TEST(DataPrepare, PatchOp) {
  struct Case {
    const char* name;
    const char* device;
    const char* dpmap;
    const char* op;
    const char* want_device;
    const char* want_dpmap;
  } cases[] = {
      {"define R sets status_range and removes function",
       R"({"function":{"a":1,"x":{},"z":2},"status_range":{},"status":{}})", "{}",
       R"({"op":"DefineDp","code":"x","mode":"R","type":"value","values":"{}","report_type":"sum","dpid":7})",
       R"({"function":{"a":1,"z":2},"status_range":{"x":{"type":"value","values":"{}","report_type":"sum"}},"status":{}})",
       R"({"7":"x"})"},
      {"define RW replaces entries in place",
       R"({"function":{"x":1,"y":2},"status_range":{"x":1,"y":2},"status":{}})", "{}",
       R"({"op":"DefineDp","code":"x","mode":"WR","type":"bool","dpid":"12"})",
       R"({"function":{"x":{"type":"bool","values":null},"y":2},"status_range":{"x":{"type":"bool","values":null,"report_type":null},"y":2},"status":{}})",
       R"({"12":"x"})"},
      {"define lower-case mode removes both",
       R"({"function":{"x":1,"y":2,"z":3},"status_range":{"x":1},"status":{"x":0}})", R"({"1":"q"})",
       R"({"op":"DefineDp","code":"x","mode":"rw","dpid":1})",
       R"({"function":{"z":3,"y":2},"status_range":{},"status":{"x":0}})", R"({"1":"x"})"},
      {"define without dpid writes key null", R"({"function":{},"status_range":{},"status":{}})", "{}",
       R"({"op":"DefineDp","code":"c","mode":"W"})",
       R"({"function":{"c":{"type":null,"values":null}},"status_range":{},"status":{}})", R"({"null":"c"})"},
      {"define with object dpid uses its text", R"({"function":{},"status_range":{},"status":{}})", "{}",
       R"({"op":"DefineDp","code":"c","mode":"","dpid":{"a":[1.0]}})",
       R"({"function":{},"status_range":{},"status":{}})", R"({"{\"a\":[1.0]}":"c"})"},
      {"define with missing code uses the empty code", R"({"function":{},"status_range":{},"status":{}})", "{}",
       R"({"op":"DefineDp","code":5,"mode":"W","dpid":"3"})",
       R"({"function":{"":{"type":null,"values":null}},"status_range":{},"status":{}})", R"({"3":""})"},
      {"remove moves the last member into place",
       R"({"function":{"a":1},"status_range":{"b":1,"a":2,"c":3},"status":{"a":1,"b":2,"c":3}})",
       R"({"12":"a","13":"b","14":"c"})", R"({"op":"RemoveDp","code":"a","dpid":12})",
       R"({"function":{},"status_range":{"b":1,"c":3},"status":{"c":3,"b":2}})", R"({"14":"c","13":"b"})"},
      {"remove with a string id", R"({"function":{},"status_range":{},"status":{}})", R"({"12":"a","13":"b"})",
       R"({"op":"RemoveDp","code":"a","dpid":"12"})", R"({"function":{},"status_range":{},"status":{}})",
       R"({"13":"b"})"},
      {"remove without id drops key null", R"({"function":{},"status_range":{},"status":{}})",
       R"({"null":"a","x":"b"})", R"({"op":"RemoveDp","code":"a"})",
       R"({"function":{},"status_range":{},"status":{}})", R"({"x":"b"})"},
      {"set category appends", R"({"function":{},"status_range":{},"status":{}})", "{}",
       R"({"op":"SetCategory","category":{"k":"cl"}})",
       R"({"function":{},"status_range":{},"status":{},"category":{"k":"cl"}})", "{}"},
      {"set category without category writes null", R"({"category":"kg","function":{}})", "{}",
       R"({"op":"SetCategory"})", R"({"category":null,"function":{}})", "{}"},
      {"type override creates the table", R"({"type_overrides":null})", "{}",
       R"({"op":"TypeOverride","code":"t","as":"bool"})", R"({"type_overrides":{"t":"bool"}})", "{}"},
      {"type override without as", R"({"type_overrides":{"t":"x","u":1}})", "{}",
       R"({"op":"TypeOverride","code":"t"})", R"({"type_overrides":{"t":null,"u":1}})", "{}"},
      {"type override into a non-object table is dropped", R"({"type_overrides":[1]})", "{}",
       R"({"op":"TypeOverride","code":"t","as":"bool"})", R"({"type_overrides":[1]})", "{}"},
      {"lower-case name ignored", R"({"function":{"a":1}})", "{}", R"({"op":"removedp","code":"a"})",
       R"({"function":{"a":1}})", "{}"},
      {"map initial status is not a patch", R"({"status":{"a":1}})", "{}",
       R"({"op":"MapInitialStatus","code":"a","mapping":[[1,2]]})", R"({"status":{"a":1}})", "{}"},
      {"non-string op ignored", R"({"function":{"a":1}})", "{}", R"({"op":["RemoveDp"],"code":"a"})",
       R"({"function":{"a":1}})", "{}"},
      {"non-object op ignored", R"({"function":{"a":1}})", "{}", R"(["RemoveDp","a"])", R"({"function":{"a":1}})",
       "{}"},
      {"array device left unchanged", "[1]", "{}", R"({"op":"DefineDp","code":"c","mode":"RW","dpid":1})", "[1]",
       R"({"1":"c"})"},
      {"non-object tables left unchanged", R"({"function":5,"status_range":"x","status":[]})", "[]",
       R"({"op":"DefineDp","code":"c","mode":"RW","dpid":1})", R"({"function":5,"status_range":"x","status":[]})",
       "[]"},
      {"remove from non-object tables", R"({"function":5,"status":[]})", "7", R"({"op":"RemoveDp","code":"c"})",
       R"({"function":5,"status":[]})", "7"},
      {"missing tables are created on write", "{}", "null", R"({"op":"DefineDp","code":"c","mode":"R","dpid":2})",
       R"({"status_range":{"c":{"type":null,"values":null,"report_type":null}}})", R"({"2":"c"})"},
  };
  for (const auto& c : cases) {
    Value device = J(c.device);
    Value dpmap = J(c.dpmap);
    data::patch_op(device, dpmap, J(c.op));
    EXPECT_EQ(device.dump(), c.want_device) << c.name;
    EXPECT_EQ(dpmap.dump(), c.want_dpmap) << c.name;
  }
}

TEST(DataPrepare, ApplyQuirk) {
  struct Case {
    const char* name;
    const char* device;
    const char* quirk;
    const char* want_device;
    const char* want_dpmap;
  } cases[] = {
      {"when null skips", R"({"status":{}})",
       R"({"ops":[{"op":"SetCategory","category":"a","when":null}]})", R"({"status":{}})", "{}"},
      {"no when applies", R"({"status":{}})", R"({"ops":[{"op":"SetCategory","category":"a"}]})",
       R"({"status":{},"category":"a"})", "{}"},
      {"ops not an array", R"({"status":{}})", R"({"ops":{"op":"SetCategory","category":"a"}})",
       R"({"status":{}})", "{}"},
      {"null quirk", R"({"status":{}})", "null", R"({"status":{}})", "{}"},
      {"condition over status", R"({"status":{"v":2}})",
       R"({"ops":[{"op":"SetCategory","category":"hi","when":{"ge":[{"status":"v"},2]}},
                  {"op":"SetCategory","category":"lo","when":{"not":{"ge":[{"status":"v"},2]}}}]})",
       R"({"status":{"v":2},"category":"hi"})", "{}"},
      {"later ops see earlier changes",
       R"({"function":{},"status_range":{},"status":{"v":1,"w":2}})",
       R"({"ops":[{"op":"RemoveDp","code":"v","dpid":1},
                  {"op":"SetCategory","category":"gone","when":{"not":{"status":"v"}}},
                  {"op":"DefineDp","code":"n","mode":"W","dpid":9,"when":{"is_int":{"status":"w"}}}]})",
       R"({"function":{"n":{"type":null,"values":null}},"status_range":{},"status":{"w":2},"category":"gone"})",
       R"({"9":"n"})"},
      {"device without status reads null", "{}",
       R"({"ops":[{"op":"SetCategory","category":"x","when":{"not":{"status":"v"}}}]})",
       R"({"category":"x"})", "{}"},
  };
  for (const auto& c : cases) {
    Value device = J(c.device);
    Value dpmap = Value::object();
    data::apply_quirk(device, dpmap, J(c.quirk));
    EXPECT_EQ(device.dump(), c.want_device) << c.name;
    EXPECT_EQ(dpmap.dump(), c.want_dpmap) << c.name;
  }
}

TEST(DataPrepare, ApplyQuirkTakenFromTheDeviceItself) {
  // The quirk lives inside the description it changes: the ops must survive.
  Value device = J(R"({"q":{"ops":[{"op":"SetCategory","category":1},{"op":"RemoveDp","code":"x"},
                                   {"op":"SetCategory","category":2}]},"status":{"x":1}})");
  Value dpmap = Value::object();
  data::apply_quirk(device, dpmap, device["q"]);
  EXPECT_EQ(device["category"].dump(), "2");
  EXPECT_EQ(device["status"].dump(), "{}");
}

TEST(DataPrepare, MapInitialStatus) {
  struct Case {
    const char* status;
    const char* quirk;
    const char* want;
  } cases[] = {
      {R"({"s":1})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[true,"on"]]}]})", R"({"s":"on"})"},
      {R"({"s":"1"})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[1,"on"]]}]})", R"({"s":"1"})"},
      {R"({"a":1})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[null,0]]}]})", R"({"a":1,"s":0})"},
      {R"({"s":2})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[1,"a"],[2.0,"b"],[2,"c"]]}]})",
       R"({"s":"b"})"},
      {R"({"s":2})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[2]]}]})", R"({"s":null})"},
      {R"({"s":0})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[5,[],[false,"n"]]}]})",
       R"({"s":"n"})"},
      {R"({"s":0})", R"({"ops":[{"op":"MapInitialStatus","code":"t","mapping":[5,[null,"n"]]}]})",
       R"({"s":0,"t":null})"},
      {R"({"s":[1]})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[[1.0],"x"],[[1],"y"]]}]})",
       R"({"s":"y"})"},
      {R"({"s":1})", R"({"ops":[{"op":"mapinitialstatus","code":"s","mapping":[[1,"x"]]}]})", R"({"s":1})"},
      {R"({"s":1})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[]}]})", R"({"s":1})"},
      {R"({"s":1})", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[1,"x"]],"when":false}]})",
       R"({"s":"x"})"},
      {R"({"s":1})",
       R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[1,2]]},
                  {"op":"SetCategory"},
                  {"op":"MapInitialStatus","code":"s","mapping":[[2,3]]}]})",
       R"({"s":3})"},
      {R"({"s":1})", R"({"ops":"MapInitialStatus"})", R"({"s":1})"},
      {"[1]", R"({"ops":[{"op":"MapInitialStatus","code":"s","mapping":[[null,0]]}]})", "[1]"},
  };
  for (const auto& c : cases) {
    Value status = J(c.status);
    data::map_initial_status(status, J(c.quirk));
    EXPECT_EQ(status.dump(), c.want) << c.status << " " << c.quirk;
  }
}

TEST(DataPrepare, DeviceInfo) {
  Value device = J(R"({"product_name":"Lamp","product_id":"p1"})");
  Value rules = J(R"({"constants":{"manufacturer":"Acme"}})");
  struct Case {
    const char* quirk;
    const char* want;
  } cases[] = {
      {R"({"meta":{"manufacturer":"M","model":"X"}})", R"({"manufacturer":"M","model":"X","model_id":null})"},
      {R"({"meta":{"manufacturer":"","model":"X","model_id":"i"}})",
       R"({"manufacturer":"Acme","model":"Lamp","model_id":"p1"})"},
      {"null", R"({"manufacturer":"Acme","model":"Lamp","model_id":"p1"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(data::device_info(device, J(c.quirk), rules).dump(), c.want) << c.quirk;
  EXPECT_EQ(data::device_info(J("[]"), J("5"), J("{}")).dump(),
            R"({"manufacturer":null,"model":null,"model_id":null})");
}

TEST(DataPrepare, Identity) {
  struct Case {
    const char* ident;
    const char* defaults;
    const char* want;
  } cases[] = {
      {R"({"$x":1,"a":2,"c":null})", R"({"a":9,"b":3,"c":4})", R"({"a":2,"c":null,"b":3})"},
      {R"({"z":1,"$a":2,"y":3,"$b":4,"x":5})", "null", R"({"z":1,"y":3,"x":5})"},
      {"[1]", R"({"$d":1,"e":2})", R"({"$d":1,"e":2})"},
      {"null", "[1]", "{}"},
  };
  for (const auto& c : cases) EXPECT_EQ(data::identity(J(c.ident), J(c.defaults)).dump(), c.want) << c.ident;
}
