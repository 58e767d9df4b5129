// The datapoint adapter and the strategies, beyond what the operations' exchanges show.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "adapter/adapter.hpp"
#include "data/codecs.hpp"
#include "adapter/strategies.hpp"
#include "record.hpp"
#include "fn_cases.hpp"

namespace adapter = zefa::adapter;
namespace record = zefa::record;
using adapter::Adapter;
using zefa::json::Value;
using zefa::test::J;

namespace {

Adapter doc(const Value& v) {
  auto a = record::read<Adapter>(v);
  if (!a.ok()) throw std::runtime_error("bad adapter document: " + a.error());
  return std::move(a).value();
}

// A failure as {"error": the kind's number, a space and the message}.
Value shown(const zefa::Result<Value>& r) {
  if (r.ok()) return r.value();
  return Value(zefa::json::Object{
      {"error", Value(std::to_string(static_cast<int>(r.error().kind)) + " " + r.error().message)}});
}

}  // namespace

TEST(Adapter, Calls) {
  using zefa::test::Args;
  static const Value device = zefa::test::load("adapter_device.json");
  zefa::test::run_cases("adapter_calls.json", {
      {"strategy_read", [](const Args& a) {
         return zefa::test::outcome(adapter::strategy_read(a[0].str(), a[1], a[2], a[3]), [](const Value& v) { return v; });
       }},
      {"strategy_write", [](const Args& a) { return shown(adapter::strategy_write(a[0].str(), a[1], a[2])); }},
      {"adapter_make", [](const Args& a) { return record::write(Adapter::make(a[0], a[1], a[2])); }},
      {"adapter_doc", [](const Args& a) { return record::write(doc(a[0])); }},
      {"adapter_write", [](const Args& a) { return shown(doc(a[0]).write(a[1].arr())); }},
      // [remaps, steps, device?]: the remaps after the steps (default device adapter_device.json).
      {"remaps", [](const Args& a) {
         Adapter ad;
         ad.remaps = a[0];
         const Value& on = a.size() > 2 ? a[2] : device;
         for (const Value& step : a[1].arr()) {
           if (step[0].str() == "invert") ad.invert(step[1].str(), on);
           else ad.set_bounds(step[1].str(), on);
         }
         return ad.remaps;
       }},
  });
}

// A carried adapter read by many requests at once must not touch its shared nodes.
TEST(AdapterConcurrency, OneAdapterSharedByThreads) {
  Adapter a = doc(J(
      R"({"entries":{"1":["pos","default",null],"2":["sw","enum",{"enumMappingMap":{"1":{"value":"on"}}}]},)"
      R"("enum_ranges":{"sw":[true]},"unsupported":{},"remaps":{"pos":{"invert":true,"bounds":[0,100]},)"
      R"("sw":{"alias":{"on":true}}}})"));
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

// One configuration and rule pack read by many strategy calls at once.
TEST(AdapterStrategiesConcurrency, SharedArgumentsAcrossThreads) {
  const Value config = J(
      R"({"valueType":"Enum","valueDesc":"{\"range\":[\"a\"]}","enumMappingMap":{"1":{"value":{"big":[1,2,3]}},"ä":{"value":"x"}}})");
  const Value rules = J(R"({"meter_alarms":{"3":[{"code":[1]},1]}})");
  const Value alarm(zefa::data::b64_encode(std::vector<uint8_t>{3, 1, 4, 210}));
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        auto a = adapter::strategy_read("enum", Value("1"), config, rules);
        auto b = adapter::strategy_read("enum", Value("Ä"), config, rules);
        auto c = adapter::strategy_read("db_v1_alarm", alarm, config, rules);
        auto d = adapter::strategy_write("enum", Value("x"), config);
        if (!a.ok() || a.value() != J(R"({"big":[1,2,3]})") || !b.ok() || b.value() != "x" || !c.ok() ||
            c.value().str() != R"([{"alarmCode": {"code": [1]}, "doAction": true, "threshold": "123.4"}])" ||
            !d.ok() || d.value() != "ä")
          ++bad;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

// Adapters large enough to be indexed (40 entries, codes c0..c4 held by eight ids each, long
// Enum range and alias table) match codes and ids as a scan would.
TEST(Adapter, LargeAdaptersMatchCodesAndIdsLikeSmallOnes) {
  std::string entries, range, alias;
  for (int i = 1; i <= 40; ++i)
    entries += (i > 1 ? "," : "") + ("\"" + std::to_string(i) + "\":[\"c" + std::to_string((i - 1) % 5) + "\",\"default\",null]");
  for (int v = 0; v < 30; ++v) range += (v ? "," : "") + std::to_string(v);
  for (int w = 0; w < 20; ++w) alias += "\"w" + std::to_string(w) + "\":" + std::to_string(w) + ",";
  Adapter a = doc(J(R"({"entries":{)" + entries + R"(},"enum_ranges":{"c1":[)" + range +
                    R"(]},"unsupported":{},"remaps":{"c2":{"alias":{)" + alias + R"("again":3}}}})"));
  // First entry of a code takes its commands; a repeated id keeps its place; first alias word wins.
  EXPECT_EQ(shown(a.write(J(R"([{"code":"c3","value":1},{"code":"c0","value":2},{"code":"c3","value":5}])").arr())),
            J(R"({"4":5,"1":2})"));
  EXPECT_EQ(shown(a.write(J(R"([{"code":"c2","value":3},{"code":"c9","value":3}])").arr())), J(R"({"error":"5 no dp for c9"})"));
  EXPECT_EQ(shown(a.write(J(R"([{"code":"c2","value":3}])").arr())), J(R"({"3":"w3"})"));

  // A reversed report: one code's values replace in its first place; out-of-range c1 values drop.
  std::string report = "{";
  for (int i = 40; i >= 1; --i) report += "\"" + std::to_string(i) + "\":" + std::to_string(i) + (i > 1 ? "," : "}");
  EXPECT_EQ(a.read(J(report), J("{}")).dump(), R"({"c4":5,"c3":4,"c2":3,"c0":1,"c1":2})");

  // A long "strategies" list is looked up by name; a dp map id already present keeps its entry.
  std::string strategies;
  for (int s = 0; s < 19; ++s) strategies += "\"s" + std::to_string(s) + "\",";
  Value made = record::write(Adapter::make(
      J(R"({"local_strategy":{"a":{"status_code":"ca","value_convert":"enum"},"b":{"status_code":"cb","value_convert":"nope"}}})"),
      J(R"({"b":"x","z":"cz"})"), J(R"({"strategies":[)" + strategies + R"("enum"]})")));
  EXPECT_EQ(made.dump(),
            R"({"entries":{"a":["ca","enum",null],"b":["cb","default",null],"z":["cz","default",{}]},)"
            R"("enum_ranges":{},"unsupported":{"b":"nope"},"remaps":{}})");
}
