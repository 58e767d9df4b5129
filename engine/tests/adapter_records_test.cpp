// Weekly timers, cleaning records and bit-set lists.
#include <gtest/gtest.h>

#include "adapter/codecs.hpp"
#include "adapter_test_util.hpp"

using zefa::test::jstr;
using zefa::test::read;
using zefa::test::write;

namespace {
std::string b64_text(std::vector<uint8_t> bytes) { return zefa::adapter::b64_encode(bytes); }
std::string b64(std::vector<uint8_t> bytes) { return jstr(b64_text(std::move(bytes))); }

struct Case {
  const char* name;
  std::string raw;
  std::string want;
};
}  // namespace

TEST(AdapterRecords, TimerReading) {
  const std::string t1 =
      R"({"timer_switch": true, "week_day": [1, 2, 3, 4, 5], "start_time": "08:00", "end_time": "10:00"})";
  const Case cases[] = {
      {"cz_timer1_alg", b64({1, 0x3E, 0x01, 0xE0, 0x02, 0x58}), "[" + t1 + "]"},
      {"cz_timer1_alg", b64({1, 0x3E, 0x01, 0xE0, 0x02, 0x58, 0, 0x80, 0x05, 0xDC, 0xFF, 0xFF}),
       "[" + t1 +
           R"(, {"timer_switch": false, "week_day": [7], "start_time": "25:00", "end_time": "1092:15"}])"},
      {"cz_timer1_alg", b64({2, 0, 0, 0, 0, 59}),
       R"([{"timer_switch": true, "week_day": [], "start_time": "00:00", "end_time": "00:59"}])"},
      {"cz_timer1_alg", b64({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), "!invalid timer"},
      {"cz_timer2_alg", b64({1, 0xFF, 0, 1, 0, 2, 0, 3, 0x27, 0x0F}),
       R"([{"timer_switch": true, "week_day": [0, 1, 2, 3, 4, 5, 6, 7], "start_time": "00:01", )"
       R"("end_time": "00:02", "open_time": "00:03", "close_time": "166:39"}])"},
      {"cz_timer2_alg", b64({1, 2, 3, 4, 5, 6}), "!invalid timer"},
      {"cz_timer1_alg", jstr(""), "[]"},
      {"cz_timer2_alg", jstr(" \n"), "[]"},
      {"cz_timer1_alg", "5", "!invalid base64"},
      {"cz_timer1_alg", jstr("AQID"), "!invalid timer"},
      {"cz_timer2_alg", jstr("AQI"), "!invalid base64"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.name, c.raw), c.want) << c.name << " " << c.raw;
}

TEST(AdapterRecords, TimerWriting) {
  const std::string one = R"({"timer_switch":1,"week_day":[1,9,1],"start_time":"8:5","end_time":"23:59"})";
  struct WriteCase {
    const char* name;
    std::string value;
    std::string want;
  } cases[] = {
      {"cz_timer1_alg", "[" + one + "]", b64_text({1, 0x02, 0x01, 0xE5, 0x05, 0x9F})},
      {"cz_timer1_alg", jstr("[" + one + "]"), b64_text({1, 0x02, 0x01, 0xE5, 0x05, 0x9F})},
      {"cz_timer1_alg", "[" + one + "," + one + "]",
       b64_text({1, 0x02, 0x01, 0xE5, 0x05, 0x9F, 1, 0x02, 0x01, 0xE5, 0x05, 0x9F})},
      {"cz_timer1_alg", R"([{"timer_switch":"","week_day":[-3,7.9,"2",1e300,"nan",null],"start_time":"+8:+05",)"
                        R"("end_time":"25:99"}])",
       b64_text({0, 0x85, 0x01, 0xE5, 0x06, 0x3F})},
      {"cz_timer1_alg", R"([{"week_day":5,"start_time":"0:65535","end_time":"1092:15"}])",
       b64_text({0, 0, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"cz_timer1_alg", R"([{"start_time":"0008:0","end_time":"0:0"}])", b64_text({0, 0, 0x01, 0xE0, 0, 0})},
      {"cz_timer2_alg", R"([{"timer_switch":true,"start_time":"0:1","end_time":"0:2","open_time":"0:3",)"
                        R"("close_time":"166:39"}])",
       b64_text({1, 0, 0, 1, 0, 2, 0, 3, 0x27, 0x0F})},
      {"cz_timer1_alg", R"({"timer_switch":1})", ""},
      {"cz_timer1_alg", "[]", ""},
      {"cz_timer1_alg", jstr("not json"), ""},
      {"cz_timer1_alg", R"([{"start_time":"08:00:00","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"8","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"8:00"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":" 8:00","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"8:00 ","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"-1:00","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":":00","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"8:","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"1092:16","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"0:65536","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":"65536:0","end_time":"1:0"}])", "!invalid time"},
      {"cz_timer1_alg", R"([{"start_time":480,"end_time":"1:0"}])", "!invalid time"},
      {"cz_timer2_alg", "[" + one + "]", "!invalid time"},  // no open and close times
      {"cz_timer1_alg", R"([5])", "!invalid time"},
  };
  for (const auto& c : cases) EXPECT_EQ(write(c.name, c.value), c.want) << c.name << " " << c.value;

  auto r = zefa::adapter::strategy_write("cz_timer1_alg", zefa::test::J(R"([{"start_time":"8"}])"), {});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), (zefa::EngineError{zefa::ErrorKind::Engine, "invalid time"}));
}

TEST(AdapterRecords, TimerRoundTrip) {
  const std::vector<uint8_t> payloads[] = {
      {},
      {1, 0x3E, 0x01, 0xE0, 0x02, 0x58},
      {0, 0x80, 0xFF, 0xFF, 0x00, 0x00, 1, 0x7F, 0x05, 0xDC, 0x00, 0x3B},
  };
  for (const char* name : {"cz_timer1_alg", "cz_timer2_alg"}) {
    for (std::vector<uint8_t> bytes : payloads) {
      if (std::string_view(name) == "cz_timer2_alg") {
        // Widen each 6-byte record with an open and a close time.
        std::vector<uint8_t> wide;
        for (size_t i = 0; i < bytes.size(); i += 6) {
          wide.insert(wide.end(), bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i) + 6);
          wide.insert(wide.end(), {0x01, 0x02, 0xFF, 0xFE});
        }
        bytes = wide;
      }
      std::string text = b64_text(bytes);
      auto v = zefa::adapter::strategy_read(name, zefa::json::Value(text), {}, {});
      ASSERT_TRUE(v.ok()) << name << " " << text;
      auto back = zefa::adapter::strategy_write(name, v.value(), {});
      ASSERT_TRUE(back.ok()) << name << " " << v.value().str();
      EXPECT_EQ(back.value().str(), text) << name;
    }
  }
}

TEST(AdapterRecords, CleaningRecord) {
  auto rec = [](const char* rt, int ct, int ca, const char* map) {
    return std::string(R"({"record_time": ")") + rt + R"(", "clean_time": )" + std::to_string(ct) +
           R"(, "clean_area": )" + std::to_string(ca) + R"(, "map_id": ")" + map + "\"}";
  };
  const Case cases[] = {
      {"sd_clean_record", jstr("202401011230045120"), rec("202401011230", 45, 120, "")},
      {"sd_clean_record", jstr("045120"), rec("", 45, 120, "")},
      {"sd_clean_record", jstr("-05+07"), rec("", -5, 7, "")},
      {"sd_clean_record", jstr("-00999"), rec("", 0, 999, "")},
      {"sd_clean_record", jstr("04512012345"), rec("", 45, 120, "12345")},
      {"sd_clean_record", jstr("2024010112300451201"), rec("202401011230", 45, 120, "")},
      {"sd_clean_record", jstr("2024010112300451201234567"), rec("202401011230", 45, 120, "12345")},
      {"sd_clean_record", jstr("+5-03"), "!invalid clean time"},
      {"sd_clean_record", jstr("045abc"), "!invalid area"},
      {"sd_clean_record", jstr("2024010112300451"), "!invalid area"},
      {"sd_clean_record", jstr("202401011230"), "!invalid clean time"},
      {"sd_clean_record", jstr("0451201234"), "!invalid clean time"},
      {"sd_clean_record", jstr(""), "!invalid clean time"},
      {"sd_clean_record", "45120", "!invalid clean time"},
      {"sd_clean_record", jstr("+-5120"), "!invalid clean time"},
      {"sd_clean_record", jstr(" 45120"), "!invalid clean time"},
      {"sd_clean_record", jstr("045+1x"), "!invalid area"},
      // Byte ranges that cut a character count as missing.
      {"sd_clean_record", jstr("20240101123\xC3\xA9" "45120"), "!invalid clean time"},
      {"sd_clean_record", jstr("2024010112\xC3\xA9" "045120"), rec("2024010112\xC3\xA9", 45, 120, "")},
      {"sd_clean_record", jstr("2024010112300451201234\xC3\xA9x"), rec("202401011230", 45, 120, "")},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.name, c.raw), c.want) << c.raw;
}

TEST(AdapterRecords, BitSets) {
  const Case cases[] = {
      {"ms_dp_syn_alg", jstr("not base64!"), "=[]"},
      {"ms_dp_syn_alg", "17", "=[]"},
      {"ms_dp_syn_alg", b64({1}), "=[]"},
      {"ms_dp_syn_alg", b64({1, 0x81, 2, 0x01}), "=[0,7,8]"},
      {"ms_dp_syn_alg", b64({0, 1}), "=[-8]"},
      {"ms_dp_syn_alg", b64({0, 0xFF}), "=[-8,-7,-6,-5,-4,-3,-2,-1]"},
      {"ms_dp_syn_alg", b64({0x81, 1}), "=[0]"},
      {"ms_dp_syn_alg", b64({2, 1, 1, 1, 0x81, 1, 1}), "=[0,8]"},
      {"ms_dp_syn_alg", b64({127, 0x80, 0xFF, 0x80}), "=[1015]"},
      {"ms_dp_syn_alg", b64({5, 0}), "=[]"},
      {"ms_dp_syn_alg", jstr(""), "=[]"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.name, c.raw), c.want) << c.raw;
}
