// The datapoint adapter and the strategies. Operations carry most cases
// (data/exchanges/adapter_ops.txt, strategy_*.txt); the rows of
// data/cases/adapter_calls.json are calls no operation makes as such.
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
      // [remaps, steps, device]: the remaps after the steps, on
      // adapter_device.json when no device is given.
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

TEST(AdapterConcurrency, OneAdapterSharedByThreads) {
  // A carried adapter is read by many requests at once; its values are
  // shared, never copied, so reading must not touch the shared nodes.
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

// Strategies share nothing but their arguments: one configuration and rule
// pack read by many threads at once, results handed out of the shared values.
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
