#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "adapter/adapter.hpp"
#include "record.hpp"
#include "test_util.hpp"

using zefa::ErrorKind;
using zefa::adapter::Adapter;
using zefa::adapter::DpEntry;
using zefa::json::Value;
using zefa::test::J;
namespace record = zefa::record;

namespace {

Adapter doc(const char* text) {
  auto a = record::read<Adapter>(J(text));
  if (!a.ok()) throw std::runtime_error("bad adapter document: " + a.error());
  return std::move(a).value();
}

std::string write_text(const Adapter& a, const char* commands) {
  auto r = a.write(J(commands).arr());
  return r.ok() ? r.value().dump() : "!" + r.error().to_string();
}

const char* kDevice = R"({
  "local_strategy": {
    "1": {"value_convert": "enum", "status_code": "switch",
          "config_item": {"enumMappingMap": {"0": {"value": "off"}, "1": {"value": "on"}}}},
    "3": {"status_code": "mode"},
    "4": {"value_convert": "xyz", "status_code": "foo", "config_item": {"a": 1}},
    "5": {"value_convert": "hb_range_v1", "config_item": {"statusFormat": "{}"}},
    "7": {"value_convert": 5, "status_code": "odd"},
    "8": {"value_convert": false, "config_item": {"statusFormat": "{\"x\":1,\"last\":2}"}}
  },
  "status_range": {
    "mode": {"type": "enum", "values": "{\"range\":[\"a\",\"b\"]}"},
    "pos": {"type": "value", "values": "{\"min\":0,\"max\":100}"},
    "norange": {"type": "enum", "values": "{}"},
    "badvalues": {"type": "enum", "values": "{"},
    "typeless": {"values": "{\"range\":[1]}"},
    "odd": {"type": 5}
  }
})";

}  // namespace

TEST(Adapter, MakeFromDescription) {
  struct Case {
    const char* name;
    const char* device;
    const char* dpmap;
    const char* rules;
    const char* want;
  } cases[] = {
      {"items, dp map and enum ranges", kDevice, R"({"5":"pos","1":"ignored","6":7})",
       R"({"strategies":["enum","default"]})",
       R"({"entries":{"1":["switch","enum",{"enumMappingMap":{"0":{"value":"off"},"1":{"value":"on"}}}],)"
       R"("3":["mode","default",null],"4":["foo","default",{"a":1}],"7":["odd","default",null],)"
       R"("8":["last","default",{"statusFormat":"{\"x\":1,\"last\":2}"}],)"
       R"("5":["pos","default",{}],"6":["","default",{}]},)"
       R"("enum_ranges":{"mode":["a","b"],"norange":null,"badvalues":null},)"
       R"("unsupported":{"4":"xyz","7":""},"remaps":{}})"},
      {"default not listed",
       R"({"local_strategy":{"3":{"status_code":"mode","value_convert":null},"4":{"status_code":"e","value_convert":""}}})",
       "{}", R"({"strategies":["enum"]})",
       R"({"entries":{"3":["mode","default",null],"4":["e","default",null]},"enum_ranges":{},)"
       R"("unsupported":{"3":"default","4":"default"},"remaps":{}})"},
      {"strategies not an array", R"({"local_strategy":{"3":{"status_code":"m","value_convert":"enum"}}})", "null",
       R"({"strategies":{"enum":true}})",
       R"({"entries":{"3":["m","default",null]},"enum_ranges":{},"unsupported":{"3":"enum"},"remaps":{}})"},
      {"nothing usable", R"({"local_strategy":[1],"status_range":"x"})", "[]", "null",
       R"({"entries":{},"enum_ranges":{},"unsupported":{},"remaps":{}})"},
      {"not a device", "7", R"({"2":"c"})", "{}",
       R"({"entries":{"2":["c","default",{}]},"enum_ranges":{},"unsupported":{},"remaps":{}})"},
  };
  for (const auto& c : cases) {
    Adapter a = Adapter::make(J(c.device), J(c.dpmap), J(c.rules));
    EXPECT_EQ(record::write(a).dump(), c.want) << c.name;
    // Every unsupported id has an entry, decoded by "default".
    for (const auto& m : a.unsupported.obj()) {
      const DpEntry* e = a.entries.find(m.name());
      ASSERT_NE(e, nullptr) << c.name;
      EXPECT_EQ(e->strategy, "default") << c.name;
    }
  }
}

TEST(Adapter, DocumentForm) {
  const char* text =
      R"({"entries":{"2":["c","enum",{"k":[1]}],"1":["d","default",null]},"enum_ranges":{"c":[1]},)"
      R"("unsupported":5,"remaps":{"c":{"invert":true}}})";
  Adapter a = doc(text);
  EXPECT_EQ(record::write(a).dump(), text);
  EXPECT_EQ(a.entries.begin()->first, "2");
  EXPECT_EQ(doc(R"([{"2":["c","enum",{"k":[1]}],"1":["d","default",null]},{"c":[1]},5,{"c":{"invert":true}}])"), a);

  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"5", "invalid type: integer `5`, expected struct Adapter"},
      {"\"a\"", "invalid type: string \"a\", expected struct Adapter"},
      {R"({"enum_ranges":{},"unsupported":{},"remaps":{}})", "missing field `entries`"},
      {R"({"entries":{},"unsupported":{},"remaps":{}})", "missing field `enum_ranges`"},
      {R"({"entries":{},"enum_ranges":{},"unsupported":{}})", "missing field `remaps`"},
      {R"([{},{},{}])", "invalid length 3, expected struct Adapter with 4 elements"},
      {R"([{},{},{},{},{}])", "invalid length 5, expected fewer elements in array"},
  };
  for (const auto& c : cases) EXPECT_EQ(record::read<Adapter>(J(c.text)).error(), c.message) << c.text;

  // Entries must be an object of [text, text, any] triples.
  for (const char* bad : {R"({"entries":[],"enum_ranges":0,"unsupported":0,"remaps":0})",
                          R"({"entries":{"1":["c","s"]},"enum_ranges":0,"unsupported":0,"remaps":0})",
                          R"({"entries":{"1":["c","s",1,2]},"enum_ranges":0,"unsupported":0,"remaps":0})",
                          R"({"entries":{"1":["c",2,1]},"enum_ranges":0,"unsupported":0,"remaps":0})",
                          R"({"entries":{"1":{"code":"c","strategy":"s","config":1}},"enum_ranges":0,)"
                          R"("unsupported":0,"remaps":0})"})
    EXPECT_FALSE(record::read<Adapter>(J(bad)).ok()) << bad;
}

TEST(Adapter, Read) {
  const char* base =
      R"({"entries":{"1":["sw","default",null],"2":["pos","default",null],"3":["mode","default",null],)"
      R"("4":["pos","default",null],"5":["bright","hb_range_v1",null],"6":["word","default",null],)"
      R"("7":["unk","no_such_strategy",null],"8":["norange","default",null],"9":["pct","default",null]},)"
      R"("enum_ranges":{"mode":["a","b",1],"norange":null},"unsupported":{},)"
      R"("remaps":{"pos":{"invert":true,"bounds":[0,100]},"sw":{"invert":1},"word":{"alias":{"on":true,"x":"y"}},)"
      R"("pct":{"invert":true,"bounds":["0","100"]}}})";
  Adapter a = doc(base);
  struct Case {
    const char* report;
    const char* want;
  } cases[] = {
      {R"({"2":30})", R"({"pos":70})"},
      {R"({"2":2.5})", R"({"pos":97.5})"},
      {R"({"9":30})", R"({"pct":70})"},
      {R"({"1":true,"6":"on"})", R"({"sw":false,"word":true})"},
      {R"({"6":"x"})", R"({"word":"y"})"},
      {R"({"6":"off"})", R"({"word":"off"})"},
      {R"({"1":"text","2":"text","2x":1})", R"({"sw":"text","pos":"text"})"},
      {R"({"1":[1],"2":{"a":1}})", R"({"sw":[1],"pos":{"a":1}})"},
      {R"({"3":"a","8":"a"})", R"({"mode":"a"})"},
      {R"({"3":"c"})", "{}"},
      {R"({"3":1.0})", "{}"},
      {R"({"3":1})", R"({"mode":1})"},
      {R"({"5":"zz","1":false})", R"({"sw":true})"},
      {R"({"7":{"k":1}})", R"({"unk":{"k":1}})"},
      {R"({"4":10,"1":true,"2":20})", R"({"pos":80,"sw":false})"},
      {"[1]", "{}"},
      {"null", "{}"},
  };
  for (const auto& c : cases) EXPECT_EQ(a.read(J(c.report), J("{}")).dump(), c.want) << c.report;

  Adapter no_bounds = doc(
      R"({"entries":{"1":["n","default",null],"2":["m","default",null]},"enum_ranges":[],"unsupported":{},)"
      R"("remaps":{"n":{"invert":true,"bounds":[]},"m":{"invert":true}}})");
  EXPECT_EQ(no_bounds.read(J(R"({"1":30,"2":30})"), J("{}")).dump(), R"({"n":-30,"m":30})");
}

TEST(Adapter, Flip) {
  Adapter a = doc(
      R"({"entries":{},"enum_ranges":{},"unsupported":{},"remaps":{"c":{"invert":true,"bounds":[0,10]},)"
      R"("big":{"invert":true,"bounds":[1e308,1e308]},"off":{"invert":false,"bounds":[0,10]},"odd":5}})");
  struct Case {
    const char* code;
    const char* value;
    const char* want;
  } cases[] = {
      {"c", "3", "7"},       {"c", "2.5", "7.5"},   {"c", "-1", "11"},         {"c", "true", "false"},
      {"c", "\"3\"", "\"3\""}, {"c", "null", "null"}, {"c", "[1]", "[1]"},      {"off", "3", "3"},
      {"none", "3", "3"},    {"odd", "3", "3"},     {"big", "1", "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(a.flip(c.code, J(c.value)).dump(), c.want) << c.code << " " << c.value;
  Adapter odd = doc(R"({"entries":{},"enum_ranges":{},"unsupported":{},"remaps":[1]})");
  EXPECT_EQ(odd.flip("c", J("true")).dump(), "true");
}

TEST(Adapter, Write) {
  Adapter a = doc(
      R"({"entries":{"1":["sw","default",null],"2":["pos","default",null],"3":["pos","enum",null],)"
      R"("4":["mode","enum",{"enumMappingMap":{"x":{"value":"a"},"12":{"value":"a"}}}],)"
      R"("5":["bright","hb_range_v1",null],"6":["word","default",null],"7":["","default",null],)"
      R"("8":["timer","cz_timer1_alg",null]},)"
      R"("enum_ranges":{},"unsupported":{},)"
      R"("remaps":{"pos":{"invert":true,"bounds":[0,100]},"sw":{"invert":true},)"
      R"("word":{"alias":{"on":true,"ON":true,"off":false}}}})");
  struct Case {
    const char* commands;
    const char* want;
  } cases[] = {
      {R"([{"code":"pos","value":30}])", R"({"2":70})"},
      {R"([{"code":"sw","value":true}])", R"({"1":false})"},
      {R"([{"code":"sw","value":"t"}])", R"({"1":"t"})"},
      {R"([{"code":"word","value":true},{"code":"word"}])", R"({"6":null})"},
      {R"([{"code":"word","value":false}])", R"({"6":"off"})"},
      {R"([{"code":"word","value":1}])", R"({"6":1})"},
      {R"([{"code":"mode","value":"a"}])", R"({"4":"12"})"},
      {R"([{"code":"sw","value":1},{"code":"pos","value":10},{"code":"sw","value":false}])",
       R"({"1":true,"2":90})"},
      {R"([{"value":5}])", R"({"7":5})"},
      {R"([{"code":7,"value":5}])", R"({"7":5})"},
      {"[]", "!unsupported: no dp for command"},
      {R"([{"code":"nope","value":1}])", "!unsupported: no dp for nope"},
      {R"([{"code":"sw","value":1},{"code":"nope","value":1}])", "!unsupported: no dp for nope"},
      {R"([{"code":"bright","value":1}])", "!unsupported: this dp's value conversion has no inverse"},
      {R"([{"code":"timer","value":"[{\"time\":\"99:99\"}]"}])", "!invalid time"},
  };
  for (const auto& c : cases) EXPECT_EQ(write_text(a, c.commands), c.want) << c.commands;

  Adapter empty = doc(R"({"entries":{},"enum_ranges":{},"unsupported":{},"remaps":{}})");
  EXPECT_EQ(write_text(empty, "[]"), "!unsupported: no dp for command");
  EXPECT_EQ(write_text(empty, R"([{"code":"a"},{"code":"b"}])"), "!unsupported: no dp for a");
  auto err = empty.write(J(R"([{"code":"a"}])").arr());
  EXPECT_EQ(err.error().kind, ErrorKind::Unsupported);
  auto strategy_err = a.write(J(R"([{"code":"timer","value":"[{\"time\":\"99:99\"}]"}])").arr());
  EXPECT_EQ(strategy_err.error().kind, ErrorKind::Engine);
}

TEST(Adapter, InvertAndBounds) {
  Value device = J(R"({
    "function": {"pos": {"type": "value", "values": "{\"min\":1,\"max\":9}"},
                 "sw": {"type": "bool"},
                 "f": {"type": "Integer", "values": {"min": "0", "max": [1]}}},
    "status_range": {"pos": {"type": "value", "values": "{\"min\":0,\"max\":100}"},
                     "hidden": null,
                     "nomax": {"type": "value", "values": "{\"min\":5}"}}
  })");
  struct Step {
    const char* op;  // "invert" or "bounds"
    const char* code;
  };
  struct Case {
    const char* name;
    const char* remaps;
    std::vector<Step> steps;
    const char* want;
  } cases[] = {
      {"invert once", "{}", {{"invert", "pos"}}, R"({"pos":{"invert":true,"bounds":[0,100]}})"},
      {"invert twice", "{}", {{"invert", "pos"}, {"invert", "pos"}}, R"({"pos":{"invert":false,"bounds":[0,100]}})"},
      {"invert boolean", "{}", {{"invert", "sw"}}, R"({"sw":{"invert":true}})"},
      {"bounds of a boolean", "{}", {{"bounds", "sw"}}, "{}"},
      {"function when status_range lacks it", "{}", {{"bounds", "f"}}, R"({"f":{"bounds":["0",[1]]}})"},
      {"status_range member even when null", "{}", {{"bounds", "hidden"}}, "{}"},
      {"missing max", "{}", {{"bounds", "nomax"}}, R"({"nomax":{"bounds":[5,null]}})"},
      {"unknown code", "{}", {{"invert", "zzz"}}, R"({"zzz":{"invert":true}})"},
      {"keeps other members", R"({"pos":{"alias":{"a":1},"invert":"yes"}})", {{"invert", "pos"}},
       R"({"pos":{"alias":{"a":1},"invert":false,"bounds":[0,100]}})"},
      {"null remaps", "null", {{"bounds", "pos"}}, R"({"pos":{"bounds":[0,100]}})"},
      {"null entry", R"({"pos":null})", {{"invert", "pos"}}, R"({"pos":{"invert":true,"bounds":[0,100]}})"},
      {"odd remaps ignored", "[1]", {{"invert", "pos"}, {"bounds", "pos"}}, "[1]"},
      {"odd entry ignored", R"({"pos":"x","q":1})", {{"invert", "pos"}, {"bounds", "pos"}}, R"({"pos":"x","q":1})"},
  };
  for (const auto& c : cases) {
    Adapter a;
    a.remaps = J(c.remaps);
    for (const Step& s : c.steps) {
      if (std::string_view(s.op) == "invert")
        a.invert(s.code, device);
      else
        a.set_bounds(s.code, device);
    }
    EXPECT_EQ(a.remaps.dump(), c.want) << c.name;
  }
  Adapter a;
  a.invert("pos", J("[1]"));
  EXPECT_EQ(a.remaps.dump(), R"({"pos":{"invert":true}})");
}

TEST(Adapter, RoundTripThroughDocument) {
  Value device = J(kDevice);
  Adapter a = Adapter::make(device, J(R"({"9":"pos"})"), J(R"({"strategies":["enum","default"]})"));
  a.invert("pos", device);
  a.remaps.obj_mut()["switch"] = J(R"({"alias":{"on":"ON"}})");
  Adapter back = doc(record::write(a).dump().c_str());
  EXPECT_EQ(back, a);
  Value report = J(R"({"1":1,"9":40,"3":"b","4":"free"})");
  EXPECT_EQ(back.read(report, J("{}")).dump(), R"({"switch":"ON","pos":60,"mode":"b","foo":"free"})");
  EXPECT_EQ(back.write(J(R"([{"code":"switch","value":"ON"},{"code":"pos","value":75}])").arr()).value().dump(),
            R"({"1":"1","9":25})");
}

TEST(AdapterConcurrency, OneAdapterSharedByThreads) {
  // A carried adapter is read by many requests at once; its values are
  // shared, never copied, so reading must not touch the shared nodes.
  Adapter a = doc(
      R"({"entries":{"1":["pos","default",null],"2":["sw","enum",{"enumMappingMap":{"1":{"value":"on"}}}]},)"
      R"("enum_ranges":{"sw":[true]},"unsupported":{},"remaps":{"pos":{"invert":true,"bounds":[0,100]},)"
      R"("sw":{"alias":{"on":true}}}})");
  Value report = J(R"({"1":30,"2":"1"})"), rules = J("{}");
  Value commands = J(R"([{"code":"pos","value":30},{"code":"sw","value":true}])");
  std::vector<std::thread> threads;
  std::vector<std::string> got(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::string last;
      for (int i = 0; i < 2000; ++i) last = a.read(report, rules).dump() + a.write(commands.arr()).value().dump();
      got[t] = last;
    });
  for (auto& th : threads) th.join();
  for (const std::string& g : got) EXPECT_EQ(g, R"({"pos":70,"sw":true}{"1":70,"2":"1"})");
}
