// The energy-meter strategies.
#include <gtest/gtest.h>

#include "adapter/codecs.hpp"
#include "adapter_test_util.hpp"

using zefa::test::jstr;
using zefa::test::read;

namespace {
// A raw value: the Base64 text of the bytes, as JSON.
std::string b64(std::initializer_list<uint8_t> bytes) {
  return jstr(zefa::adapter::b64_encode(std::vector<uint8_t>(bytes)));
}

struct Case {
  const char* name;
  std::string raw;
  std::string want;
};
}  // namespace

TEST(AdapterMetering, Periods) {
  const Case cases[] = {
      {"db_v1_daily", b64({3, 1, 3, 31, 0, 0, 4, 210}),
       R"({"startMonth": 3, "startDay": 1, "endMonth": 3, "endDay": 31, "electricTotal": 12.34})"},
      {"db_v1_daily", b64({5, 6}),
       R"({"startMonth": 5, "startDay": 6, "endMonth": 0, "endDay": 0, "electricTotal": 0.0})"},
      {"db_v1_daily", b64({1, 2, 3, 4, 0, 0, 4}),
       R"({"startMonth": 1, "startDay": 2, "endMonth": 3, "endDay": 4, "electricTotal": 0.0})"},
      {"db_v1_daily", b64({1, 2, 3, 4, 0, 0, 0, 100, 99}),
       R"({"startMonth": 1, "startDay": 2, "endMonth": 3, "endDay": 4, "electricTotal": 1.0})"},
      {"db_v1_daily", b64({0, 0, 0, 0, 255, 255, 255, 255}),
       R"({"startMonth": 0, "startDay": 0, "endMonth": 0, "endDay": 0, "electricTotal": 42949672.95})"},
      {"db_v1_month", jstr(""),
       R"({"startYear": 0, "startMonth": 0, "endYear": 0, "endMonth": 0, "electricTotal": 0.0})"},
      {"db_v1_month", b64({24, 1, 24, 12, 0, 1, 0, 0}),
       R"({"startYear": 24, "startMonth": 1, "endYear": 24, "endMonth": 12, "electricTotal": 655.36})"},
      {"db_v1_month", "5", "!invalid base64"},
      {"db_v1_daily", jstr("AAE"), "!invalid base64"},
      {"db_v1_frozen", b64({9}), R"({"day": 9, "hour": 0})"},
      {"db_v1_frozen", b64({9, 23, 1}), R"({"day": 9, "hour": 23})"},
      {"db_v1_frozen", jstr(""), R"({"day": 0, "hour": 0})"},
      {"db_v1_frozen", "[]", "!invalid base64"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.name, c.raw), c.want) << c.name << " " << c.raw;
}

TEST(AdapterMetering, Params) {
  const Case cases[] = {
      {"db_v1_params", b64({8, 0xFC, 0, 0, 5, 0, 0}), "!short electricity payload"},
      {"db_v1_params", jstr("!!"), "!short electricity payload"},
      {"db_v1_params", "true", "!invalid base64"},
      {"db_v1_params", b64({8, 0xFC, 0, 0, 5, 0, 0, 100}),
       R"({"voltage": 230.0, "electricCurrent": 0.005, "power": 0.1})"},
      {"db_v1_params", b64({8, 0xFC, 0, 7, 0xD0, 0, 0x0B, 0xB8}),
       R"({"voltage": 230.0, "electricCurrent": 2.0, "power": 3.0})"},
      {"db_v1_params", b64({1, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 0, 7, 0, 0, 200, 98}),
       R"({"voltage": 230.0, "electricCurrent": 0.005, "power": 0.1, "reactivePower": 0.007, )"
       R"("apparentPower": 0.2, "powerFactor": 0.98})"},
      {"db_v1_params", b64({1, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 7, 0xD0, 0, 0x0F, 0xA0, 100}),
       R"({"voltage": 230.0, "electricCurrent": 0.005, "power": 0.1, "reactivePower": 2, )"
       R"("apparentPower": 4, "powerFactor": 1})"},
      {"db_v1_params", b64({2, 0x0F, 8, 0xFC, 0, 0, 5, 0, 0, 100, 0, 0, 7, 0, 0, 200, 98, 0x0F}),
       R"({"voltage": 230.0, "electricCurrent": -0.005, "power": -0.1, "reactivePower": -0.007, )"
       R"("apparentPower": 0.2, "powerFactor": -0.98})"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.name, c.raw), c.want) << c.raw;
}

TEST(AdapterMetering, Alarms) {
  struct AlarmCase {
    const char* rules;
    std::string raw;
    std::string want;
  } cases[] = {
      {R"({"meter_alarms":{"3":["over_current",1]}})", b64({3, 1, 4, 210}),
       R"([{"alarmCode": "over_current", "doAction": true, "threshold": "123.4"}])"},
      {R"({"meter_alarms":{"3":["c",2]}})", b64({3, 0, 4, 176}),
       R"([{"alarmCode": "c", "doAction": false, "threshold": "12.0"}])"},
      {R"({"meter_alarms":{"3":["c",0]}})", b64({3, 0, 4, 176}),
       R"([{"alarmCode": "c", "doAction": false, "threshold": "1200"}])"},
      {R"({"meter_alarms":{"3":["c",-1]}})", b64({3, 0, 0, 5}),
       R"([{"alarmCode": "c", "doAction": false, "threshold": "50"}])"},
      {R"({"meter_alarms":{"3":["c","2"]}})", b64({3, 2, 0, 5}),
       R"([{"alarmCode": "c", "doAction": false, "threshold": "0.05"}])"},
      {R"({"meter_alarms":{"3":["c",7]}})", b64({3, 1, 0, 1}),
       R"([{"alarmCode": "c", "doAction": true, "threshold": "0.0000001"}])"},
      {R"({"meter_alarms":{"3":["c",0.5]}})", b64({3, 1, 0, 12}),
       R"([{"alarmCode": "c", "doAction": true, "threshold": "12.0"}])"},
      {R"({"meter_alarms":{"3":["c",1e10]}})", b64({3, 1, 0, 12}),
       R"([{"alarmCode": "c", "doAction": true, "threshold": "0.0"}])"},
      {R"({"meter_alarms":{"3":["c",-20]}})", b64({3, 1, 0, 12}),
       R"([{"alarmCode": "c", "doAction": true, "threshold": "1200000000000000000000"}])"},
      {R"({"meter_alarms":{"3":["c",-400]}})", b64({3, 1, 0, 12}),
       R"([{"alarmCode": "c", "doAction": true, "threshold": "inf"}])"},
      {R"({"meter_alarms":{"3":["c",-400]}})", b64({3, 1, 0, 0}),
       R"([{"alarmCode": "c", "doAction": true, "threshold": "0"}])"},
      // A final record of one or three bytes.
      {R"({"meter_alarms":{"3":["c",1],"4":["d",0]}})", b64({4, 1, 0, 5, 3}),
       R"([{"alarmCode": "d", "doAction": true, "threshold": "5"}, {"alarmCode": "c", "doAction": false, "threshold": "0.0"}])"},
      {R"({"meter_alarms":{"3":["c",0]}})", b64({3}),
       R"([{"alarmCode": "c", "doAction": false, "threshold": "0"}])"},
      {R"({"meter_alarms":{"3":["c",1]}})", b64({3, 1, 7}),
       R"([{"alarmCode": "c", "doAction": true, "threshold": "0.7"}])"},
      // Entries without decimals, or not arrays; missing and null entries are skipped.
      {R"({"meter_alarms":{"3":["x"]}})", b64({3, 1, 0, 5}), R"([{"alarmCode": "x", "doAction": true}])"},
      {R"({"meter_alarms":{"3":["x",null]}})", b64({3, 1, 0, 5}), R"([{"alarmCode": "x", "doAction": true}])"},
      {R"({"meter_alarms":{"3":"x"}})", b64({3, 2, 0, 5}), R"([{"alarmCode": null, "doAction": false}])"},
      {R"({"meter_alarms":{"3":[]}})", b64({3, 1}), R"([{"alarmCode": null, "doAction": true}])"},
      {R"({"meter_alarms":{"3":[1.0,1]}})", b64({3, 1, 0, 5}),
       R"([{"alarmCode": 1, "doAction": true, "threshold": "0.5"}])"},
      {R"({"meter_alarms":{"3":null,"255":[{"a":[1]},0]}})", b64({3, 1, 0, 5, 9, 1, 0, 5, 255, 1, 1, 0}),
       R"([{"alarmCode": {"a": [1]}, "doAction": true, "threshold": "256"}])"},
      {"{}", b64({3, 1, 0, 5}), "[]"},
      {R"({"meter_alarms":[["c",1]]})", b64({0, 1, 0, 5}), "[]"},
      {R"({"meter_alarms":{"3":["c",1]}})", jstr(""), "[]"},
      {"null", "5", "!invalid base64"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(read("db_v1_alarm", c.raw, "null", c.rules), c.want) << c.rules << " " << c.raw;
}
