// Strategy dispatch, the generic strategies and the lighting and colour family.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "adapter/codecs.hpp"
#include "adapter/strategies.hpp"
#include "adapter_test_util.hpp"

using zefa::ErrorKind;
using zefa::test::jstr;
using zefa::test::read;
using zefa::test::write;

namespace {
// One row per case: the strategy, the raw value or value as JSON, and the
// result as `show` renders it.
struct ReadCase {
  const char* name;
  std::string raw;
  std::string want;
};
struct WriteCase {
  const char* name;
  std::string value;
  std::string want;
};
}  // namespace

#define CHECK_READS(cases, ...) \
  for (const auto& c : cases)   \
  EXPECT_EQ(read(c.name, c.raw __VA_OPT__(, ) __VA_ARGS__), c.want) << c.name << " " << c.raw
#define CHECK_WRITES(cases, ...) \
  for (const auto& c : cases)    \
  EXPECT_EQ(write(c.name, c.value __VA_OPT__(, ) __VA_ARGS__), c.want) << c.name << " " << c.value

TEST(AdapterStrategies, Dispatch) {
  const ReadCase reads[] = {
      {"no_such_strategy", "5", "=5"},
      {"no_such_strategy", R"({"a":[1.0]})", R"(={"a":[1.0]})"},
      {"no_such_strategy", "null", "=null"},
      {"Hb_range_v1", "140", "=140"},  // names are matched exactly
      {"hb_range_v1", "null", ""},
      {"hb_range_v2", "null", ""},
      {"hb_jsq_lightv1", "null", ""},
      {"hb_djv1_color", "null", "=null"},
      {"dj_v1_hsv_alg", "null", "=null"},
      {"voice_atm_color", "null", "=null"},
      {"dj_v1_scene_alg", "null", "=null"},
      {"dj_v2_color_alg", "null", "=null"},
      {"dj_v2_contr_alg", "null", "=null"},
      {"dj_v2_music_alg", "null", "=null"},
      {"dj_v2_scene_alg", "null", "=null"},
      {"db_v1_daily", "null", "=null"},
      {"db_v1_month", "null", "=null"},
      {"db_v1_frozen", "null", "=null"},
      {"db_v1_params", "null", "=null"},
      {"db_v1_alarm", "null", "=null"},
      {"sd_clean_record", "null", "=null"},
      {"ms_dp_syn_alg", "null", "=null"},
      {"cz_timer1_alg", "null", "=null"},
      {"cz_timer2_alg", "null", "=null"},
  };
  CHECK_READS(reads);

  const char* kNoInverse = "!unsupported: this dp's value conversion has no inverse";
  for (const char* name : {"", "no_such_strategy", "Enum", "hb_range_v1", "hb_range_v2", "hb_djv1_color",
                           "dj_v1_scene_alg", "db_v1_daily", "db_v1_month", "db_v1_frozen", "db_v1_params",
                           "db_v1_alarm", "sd_clean_record", "ms_dp_syn_alg"}) {
    EXPECT_EQ(write(name, "1"), kNoInverse) << name;
    auto r = zefa::adapter::strategy_write(name, zefa::json::Value(1), {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Unsupported);
    EXPECT_EQ(r.error().message, "this dp's value conversion has no inverse");
  }
}

TEST(AdapterStrategies, EnumRead) {
  const char* config = R"({"valueType":"Boolean","enumMappingMap":{
      "true":{"value":"on"}, "1":{"value":7}, "null":{"value":"nil"}, "[1]":{"value":"arr"},
      "abc":{"value":{"x":[1]}}, "σα":{"value":"sigma"}, "plain":5, "novalue":{"v":1},
      "isnull":{"value":null}, "ÄÖ":{"value":"exact"}, "äö":{"value":"lowered"}}})";
  const ReadCase cases[] = {
      {"enum", "true", "on"},     // "True" found through lower-casing
      {"enum", "1", "=7"},
      {"enum", "1.0", "=false"},       // key "1.0": not found, datapoint default
      {"enum", "null", "nil"},
      {"enum", "[1]", "arr"},
      {"enum", R"("ABC")", R"(={"x":[1]})"},
      {"enum", R"("ΣΑ")", "sigma"},
      {"enum", R"("ÄÖ")", "exact"},  // the exact key wins over the lower-cased one
      {"enum", R"("missing")", "=false"},
      {"enum", R"("plain")", "=false"},
      {"enum", R"("novalue")", "=false"},
      {"enum", R"("isnull")", "=null"},
      {"enum", "false", "=false"},
  };
  CHECK_READS(cases, config);
  EXPECT_EQ(read("enum", "true", R"({"enumMappingMap":{"True":{"value":1}}})"), "=1");
  EXPECT_EQ(read("enum", "true", R"({"enumMappingMap":[1]})"), "");  // no map: default ""
  EXPECT_EQ(read("enum", "1", "null"), "");
}

TEST(AdapterStrategies, EnumWrite) {
  struct Case {
    const char* value;
    const char* config;
    const char* want;
  } cases[] = {
      {R"("on")", R"({"enumMappingMap":{"1":{"value":"on"},"a":{"value":"on"}}})", "1"},
      {R"("on")", R"({"enumMappingMap":{"x":{"value":"on"},"y":{"value":"on"}}})", "x"},
      {R"("on")", R"({"enumMappingMap":{"a":{"value":"on"},"22":{"value":"on"}}})", "22"},
      {R"("on")", R"({"enumMappingMap":{"a":{"value":"on"},"":{"value":"on"}}})", ""},
      {R"("on")", R"({"enumMappingMap":{"x":{"value":"off"}}})", "on"},
      {"1", R"({"enumMappingMap":{"x":{"value":1.0}}})", "=1"},
      {"1.0", R"({"enumMappingMap":{"x":{"value":1.0}}})", "x"},
      {"null", R"({"enumMappingMap":{"a":5,"b":{"v":1}}})", "a"},
      {R"({"p":1,"q":[2]})", R"({"enumMappingMap":{"o":{"value":{"q":[2],"p":1}}}})", "o"},
      {R"("{\"a\":1}")", R"({"enumMappingMap":{"o":{"value":{"a":1}},"s":{"value":"{\"a\":1}"}}})", "s"},
      {R"("on")", R"({"enumMappingMap":"x"})", "on"},
      {"[1]", "null", "=[1]"},
  };
  for (const auto& c : cases) EXPECT_EQ(write("enum", c.value, c.config), c.want) << c.value << " " << c.config;
}

TEST(AdapterStrategies, EnumRoundTrip) {
  const char* config = R"({"enumMappingMap":{"0":{"value":"off"},"1":{"value":"on"},"2":{"value":3}}})";
  for (const char* raw : {R"("0")", R"("1")", R"("2")"}) {
    auto v = zefa::adapter::strategy_read("enum", zefa::test::J(raw), zefa::test::J(config), {});
    ASSERT_TRUE(v.ok());
    auto back = zefa::adapter::strategy_write("enum", v.value(), zefa::test::J(config));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), zefa::test::J(raw));
  }
}

TEST(AdapterStrategies, Default) {
  const char* config = R"({"valueType":"Integer","valueDesc":"{\"min\":10}"})";
  const ReadCase reads[] = {
      {"default", R"("")", "=10"}, {"default", "null", "=10"},     {"default", "0", "=0"},
      {"default", "false", "=false"}, {"default", R"("x")", "x"}, {"default", "[]", "=[]"},
  };
  CHECK_READS(reads, config);
  const WriteCase writes[] = {
      {"default", R"("{\"a\":1}")", R"({"a":1})"},  // not parsed: the string itself
      {"default", "2.5", "=2.5"},
      {"default", "null", "=null"},
  };
  CHECK_WRITES(writes);
}

TEST(AdapterStrategies, BrightnessRanges) {
  const ReadCase cases[] = {
      {"hb_range_v1", "25", "=0"},        {"hb_range_v1", "140", "=50"},      {"hb_range_v1", "255", "=100"},
      {"hb_range_v1", "10", "=0"},        {"hb_range_v1", "300", "=100"},     {"hb_range_v1", "24.9", "=0"},
      {"hb_range_v1", R"("140")", "=50"}, {"hb_range_v1", R"("1.4e2")", "=50"},
      {"hb_range_v1", R"("inf")", "=100"}, {"hb_range_v1", R"("-Infinity")", "=0"},
      {"hb_range_v1", R"("NaN")", "=null"}, {"hb_range_v1", R"("abc")", "!invalid range"},
      {"hb_range_v1", R"(" 50")", "!invalid range"}, {"hb_range_v1", R"("")", "!invalid range"},
      {"hb_range_v1", "true", "!invalid range"}, {"hb_range_v1", "[140]", "!invalid range"},
      {"hb_range_v1", "{}", "!invalid range"}, {"hb_range_v1", "-1e300", "=0"},
      {"hb_range_v1", "18446744073709551615", "=100"},
      {"hb_range_v2", "0", "=1000"},      {"hb_range_v2", "128", "=6521"},    {"hb_range_v2", "255", "=12000"},
      {"hb_range_v2", "-5", "=1000"},     {"hb_range_v2", R"("INF")", "=12000"},
      {"hb_range_v2", R"("nan")", "=null"}, {"hb_range_v2", "127.9", "=6478"},
  };
  CHECK_READS(cases);
}

TEST(AdapterStrategies, FixedSuffix) {
  const ReadCase reads[] = {
      {"hb_jsq_lightv1", R"("abc")", "abc|0|0"},
      {"hb_jsq_lightv1", R"("")", "|0|0"},
      {"hb_jsq_lightv1", "5", "|0|0"},
  };
  CHECK_READS(reads);
  const WriteCase writes[] = {
      {"hb_jsq_lightv1", R"("abc|0|0|0|0")", "abc|0|0"},
      {"hb_jsq_lightv1", R"("abc|0|0")", "abc"},
      {"hb_jsq_lightv1", R"("abc")", "abc"},
      {"hb_jsq_lightv1", R"("|0|0")", ""},
      {"hb_jsq_lightv1", R"("\"x|0|0\"")", "\"x|0|0\""},  // the value is not parsed first
      {"hb_jsq_lightv1", "5", ""},
  };
  CHECK_WRITES(writes);
}

TEST(AdapterStrategies, HsvToRgbText) {
  const ReadCase cases[] = {
      {"hb_djv1_color", R"({"h":0,"s":255,"v":255})", "255|0|0"},
      {"hb_djv1_color", jstr(R"({"h":120,"s":255,"v":255})"), "0|255|0"},
      {"hb_djv1_color", R"({"h":240,"s":"255","v":255})", "0|0|255"},
      {"hb_djv1_color", R"({"h":0,"s":0,"v":128})", "128|128|128"},
      {"hb_djv1_color", "{}", "0|0|0"},
      {"hb_djv1_color", R"("not json")", "0|0|0"},
      {"hb_djv1_color", R"({"s":0,"v":1e300})", "9223372036854775807|9223372036854775807|9223372036854775807"},
      {"hb_djv1_color", R"({"s":0,"v":-1e300})", "-9223372036854775808|-9223372036854775808|-9223372036854775808"},
      {"hb_djv1_color", R"({"h":"nan","s":255,"v":255})", "255|0|0"},
  };
  CHECK_READS(cases);
}

TEST(AdapterStrategies, HexHsv) {
  const ReadCase reads[] = {
      {"dj_v1_hsv_alg", R"("0000000078ff80")", R"({"h": 120.0, "s": 255.0, "v": 128.0})"},
      {"voice_atm_color", R"("0000000078ff80")", R"({"h": 120.0, "s": 255.0, "v": 128.0})"},
      {"dj_v1_hsv_alg", R"("00000000000003")", R"({"h": 0.0, "s": 0.0, "v": 3.1})"},
      {"voice_atm_color", R"("00000000000003")", R"({"h": 0.0, "s": 0.0, "v": 3.0})"},
      {"dj_v1_hsv_alg", R"("ff00000168ffff")", R"({"h": 0.0, "s": 255.0, "v": 255.0})"},
      {"voice_atm_color", R"("0000ff0168ffff")", R"({"h": 240.0, "s": 255.0, "v": 255.0})"},
      {"dj_v1_hsv_alg", R"("zz00000168ffff")", "!invalid hex"},
      {"dj_v1_hsv_alg", R"("000000ffff")", R"({"h": 65535.0, "s": 0.0, "v": 0.0})"},
      {"dj_v1_hsv_alg", R"("")", R"({"h": 0.0, "s": 0.0, "v": 0.0})"},
      {"dj_v1_hsv_alg", "5", R"({"h": 0.0, "s": 0.0, "v": 0.0})"},
      {"dj_v1_hsv_alg", R"("000000zz")", "!invalid hex"},
      {"dj_v1_hsv_alg", R"("0000000078ff8g")", "!invalid hex"},
      {"dj_v1_hsv_alg", R"("0000000078ffé")", "!invalid hex"},
  };
  CHECK_READS(reads);
  const WriteCase writes[] = {
      {"dj_v1_hsv_alg", R"({"h":0,"s":255,"v":255})", "ff00000000ffff"},
      {"voice_atm_color", R"({"h":0,"s":255,"v":255})", "ff00000000ffff"},
      {"dj_v1_hsv_alg", R"({"h":120,"s":0,"v":255})", "ffffff007800ff"},
      {"dj_v1_hsv_alg", jstr(R"({"h":120,"s":0,"v":255})"), "ffffff007800ff"},
      {"dj_v1_hsv_alg", R"({"h":240,"s":255,"v":255})", "0000ff00f0ffff"},
      {"dj_v1_hsv_alg", R"({"h":120.0,"s":255.0,"v":128.0})", "0080000078ff80"},
      {"dj_v1_hsv_alg", R"({"h":0.5,"s":254.5,"v":254.5})", "fe01010000fefe"},  // ties to even
      {"dj_v1_hsv_alg", R"({"h":2.5,"s":0,"v":0})", "00000000020000"},
      {"dj_v1_hsv_alg", "{}", "00000000000000"},
      {"dj_v1_hsv_alg", R"("garbage")", "00000000000000"},
      {"dj_v1_hsv_alg", R"({"h":-1,"s":0,"v":0})", "000000ffffffffffffffff0000"},
  };
  CHECK_WRITES(writes);
}

TEST(AdapterStrategies, HexColourV2) {
  const ReadCase reads[] = {
      {"dj_v2_color_alg", R"("007803e803e8")", R"({"h": 120, "s": 1000, "v": 1000})"},
      {"dj_v2_color_alg", R"("007803e803e8ffff")", R"({"h": 120, "s": 1000, "v": 1000})"},
      {"dj_v2_color_alg", R"("")", R"({"h": 0, "s": 0, "v": 0})"},
      {"dj_v2_color_alg", R"("0078")", R"({"h": 120, "s": 0, "v": 0})"},
      {"dj_v2_color_alg", R"("00zz")", "!invalid hex"},
  };
  CHECK_READS(reads);
  const WriteCase writes[] = {
      {"dj_v2_color_alg", R"({"h":120,"s":1000,"v":1000})", "007803e803e8"},
      {"dj_v2_color_alg", R"({"h":120.9})", "007800000000"},
      {"dj_v2_color_alg", R"({"h":"120","s":true,"v":-1})", "00780001ffffffffffffffff"},
  };
  CHECK_WRITES(writes);
}

TEST(AdapterStrategies, LightModes) {
  const ReadCase reads[] = {
      {"dj_v2_contr_alg", R"("")", ""},
      {"dj_v2_contr_alg", R"("1007803e803e803e80bb8")",
       R"({"change_mode": "gradient", "h": 120, "s": 1000, "v": 1000, "bright": 1000, "temperature": 3000})"},
      {"dj_v2_music_alg", R"("0007803e803e803e80bb8")",
       R"({"change_mode": "direct", "h": 120, "s": 1000, "v": 1000, "bright": 1000, "temperature": 3000})"},
      {"dj_v2_contr_alg", R"("2")",
       R"({"change_mode": "", "h": 0, "s": 0, "v": 0, "bright": 0, "temperature": 0})"},
      {"dj_v2_contr_alg", R"("g")", "!invalid hex"},
      {"dj_v2_contr_alg", R"("0000000000000000000zz")", "!invalid hex"},
      {"dj_v2_music_alg", "7", ""},
  };
  CHECK_READS(reads);
  const WriteCase writes[] = {
      {"dj_v2_contr_alg",
       R"({"change_mode":"gradient","h":120,"s":1000,"v":1000,"bright":1000,"temperature":3000})",
       "1007803e803e803e80bb8"},
      {"dj_v2_music_alg", R"({"change_mode":"direct"})", "000000000000000000000"},
      {"dj_v2_music_alg", R"({"change_mode":1,"h":1.9})", "000010000000000000000"},
      {"dj_v2_contr_alg", "null", "000000000000000000000"},
  };
  CHECK_WRITES(writes);
}

TEST(AdapterStrategies, ScenesV1) {
  const ReadCase cases[] = {
      {"dj_v1_scene_alg", R"("")", ""},
      {"dj_v1_scene_alg", R"("64320500")", R"({"frequency": 5, "bright": 100, "temperature": 50, "hsv": []})"},
      {"dj_v1_scene_alg", R"("643")", R"({"frequency": 0, "bright": 100, "temperature": 3, "hsv": []})"},
      {"dj_v1_scene_alg", R"("64320500ff0000")",
       R"({"frequency": 5, "bright": 100, "temperature": 50, "hsv": [{"h": 0.0, "s": 255.0, "v": 255.0}]})"},
      {"dj_v1_scene_alg", R"("64320500ff000000ff00")",
       R"({"frequency": 5, "bright": 100, "temperature": 50, "hsv": [{"h": 0.0, "s": 255.0, "v": 255.0}, )"
       R"({"h": 120.0, "s": 255.0, "v": 255.0}]})"},
      {"dj_v1_scene_alg", R"("64320500ff000")", "!invalid scene"},         // 13 bytes
      {"dj_v1_scene_alg", R"("64320500zz0000")", "!invalid hex"},
      {"dj_v1_scene_alg", R"("64320500zz0000ff")", "!invalid hex"},        // groups in order
      {"dj_v1_scene_alg", R"("6432050é00000")", "!invalid scene"},        // group starts inside a character
      {"dj_v1_scene_alg", R"("64320500ff000é0000")", "!invalid scene"},   // group boundary cuts a character
      {"dj_v1_scene_alg", R"("zz320500")", "!invalid hex"},
  };
  CHECK_READS(cases);
}

TEST(AdapterStrategies, ScenesV2) {
  const std::string unit = "0a1402007803e803e801f40bb8";
  const std::string unit_text =
      R"({"unit_switch_duration": 10, "unit_gradient_duration": 20, "unit_change_mode": "gradient", )"
      R"("h": 120, "s": 1000, "v": 1000, "bright": 500, "temperature": 3000})";
  const std::string two = "03" + unit + "0506" "00" "0000000000000000000a";
  const ReadCase reads[] = {
      {"dj_v2_scene_alg", jstr(std::string(27, '0')), R"({"scene_num": 0, "scene_units": []})"},
      {"dj_v2_scene_alg", R"("")", R"({"scene_num": 0, "scene_units": []})"},
      {"dj_v2_scene_alg", jstr("01" + unit), R"({"scene_num": 1, "scene_units": [)" + unit_text + "]}"},
      {"dj_v2_scene_alg", jstr("01" + unit + "xyz"), R"({"scene_num": 1, "scene_units": [)" + unit_text + "]}"},
      {"dj_v2_scene_alg", jstr(two),
       R"({"scene_num": 3, "scene_units": [)" + unit_text +
           R"(, {"unit_switch_duration": 5, "unit_gradient_duration": 6, "unit_change_mode": "static", )"
           R"("h": 0, "s": 0, "v": 0, "bright": 0, "temperature": 10}]})"},
      {"dj_v2_scene_alg", jstr("01" + unit.substr(0, 4) + "01" + unit.substr(6)),
       R"({"scene_num": 1, "scene_units": [{"unit_switch_duration": 10, "unit_gradient_duration": 20, )"
       R"("unit_change_mode": "jump", "h": 120, "s": 1000, "v": 1000, "bright": 500, "temperature": 3000}]})"},
      {"dj_v2_scene_alg", jstr("01" + unit.substr(0, 4) + "07" + unit.substr(6)),
       R"({"scene_num": 1, "scene_units": [{"unit_switch_duration": 10, "unit_gradient_duration": 20, )"
       R"("unit_change_mode": "", "h": 120, "s": 1000, "v": 1000, "bright": 500, "temperature": 3000}]})"},
      {"dj_v2_scene_alg", jstr("zz" + unit), "!invalid hex"},
      {"dj_v2_scene_alg", jstr("01" + unit.substr(0, 25) + "z"), "!invalid hex"},
      // The unit cut through a character fails before the scene number's bad digit.
      {"dj_v2_scene_alg", jstr("0\xC3\xA9" + unit.substr(1)), "!invalid scene"},
      {"dj_v2_scene_alg", jstr("01" + unit.substr(0, 25) + "\xC3\xA9"), "!invalid scene"},
  };
  CHECK_READS(reads);
  const WriteCase writes[] = {
      {"dj_v2_scene_alg", R"({"scene_num":0})", "ffffffffffffffff"},
      {"dj_v2_scene_alg", R"({"scene_num":1})", "00"},
      {"dj_v2_scene_alg", R"({"scene_num":2,"scene_units":{"a":1}})", "01"},
      {"dj_v2_scene_alg", R"({"scene_num":-1e300})", "8000000000000000"},
      {"dj_v2_scene_alg", "{\"scene_num\":2,\"scene_units\":[" + unit_text + "]}", "01" + unit},
      {"dj_v2_scene_alg", R"({"scene_num":2,"scene_units":[{"unit_change_mode":"jump"},5]})",
       "01" "000001" + std::string(20, '0') + std::string(26, '0')},
  };
  for (const auto& c : writes) EXPECT_EQ(write(c.name, c.value), c.want) << c.value;
}

TEST(AdapterStrategies, ColourRoundTrips) {
  struct Case {
    const char* name;
    const char* payload;
  } cases[] = {
      {"dj_v1_hsv_alg", "0080000078ff80"},  {"voice_atm_color", "ff00000000ffff"},
      {"dj_v2_color_alg", "007803e803e8"},  {"dj_v2_contr_alg", "1007803e803e803e80bb8"},
      {"dj_v2_music_alg", "0" "0001" "0002" "0003" "0004" "000f"},
  };
  for (const auto& c : cases) {
    auto v = zefa::adapter::strategy_read(c.name, zefa::json::Value(c.payload), {}, {});
    ASSERT_TRUE(v.ok()) << c.name;
    auto back = zefa::adapter::strategy_write(c.name, v.value(), {});
    ASSERT_TRUE(back.ok()) << c.name;
    EXPECT_EQ(back.value().str(), c.payload) << c.name;
  }
  // Scenes write the number one lower than they read it; the units come back whole.
  std::string payload = "05" "0a1402007803e803e801f40bb8" "00000000000000000000000000";
  auto v = zefa::adapter::strategy_read("dj_v2_scene_alg", zefa::json::Value(payload), {}, {});
  ASSERT_TRUE(v.ok());
  auto back = zefa::adapter::strategy_write("dj_v2_scene_alg", v.value(), {});
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back.value().str(), "04" + payload.substr(2));
}

// Strategies share nothing but their arguments: one configuration and rule
// pack read by many threads at once, results handed out of the shared values.
TEST(AdapterStrategiesConcurrency, SharedArgumentsAcrossThreads) {
  const zefa::json::Value config = zefa::test::J(
      R"({"valueType":"Enum","valueDesc":"{\"range\":[\"a\"]}","enumMappingMap":{"1":{"value":{"big":[1,2,3]}},"ä":{"value":"x"}}})");
  const zefa::json::Value rules = zefa::test::J(R"({"meter_alarms":{"3":[{"code":[1]},1]}})");
  const zefa::json::Value alarm(zefa::adapter::b64_encode(std::vector<uint8_t>{3, 1, 4, 210}));
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        auto a = zefa::adapter::strategy_read("enum", zefa::json::Value("1"), config, rules);
        auto b = zefa::adapter::strategy_read("enum", zefa::json::Value("Ä"), config, rules);
        auto c = zefa::adapter::strategy_read("db_v1_alarm", alarm, config, rules);
        auto d = zefa::adapter::strategy_write("enum", zefa::json::Value("x"), config);
        if (!a.ok() || a.value() != zefa::test::J(R"({"big":[1,2,3]})") || !b.ok() || b.value() != "x" || !c.ok() ||
            c.value().str() != R"([{"alarmCode": {"code": [1]}, "doAction": true, "threshold": "123.4"}])" ||
            !d.ok() || d.value() != "ä")
          ++bad;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}
