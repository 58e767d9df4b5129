// Streams of driver inputs against a driver of a fixed realistic pack (the
// curtain-and-lamp pack of the tests): reports with random datapoints and
// times on every channel, commands, timers, link changes and describe
// requests. No fault; every reply parses; the stateless form ("handle",
// fed its own documents back) and the live form agree on every output, error
// and final document; a failed input leaves the live driver as it was.
//
// Input: raw bytes, read as a sequence of choices (at most 24 inputs).
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api/request.hpp"
#include "driver/driver.hpp"
#include "driver/effects.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "lib.hpp"
#include "runtime/driver.hpp"

namespace {

using zefa::json::Value;

// A broken promise names its line before the fault.
#define check(ok) check_at((ok), __LINE__)
void check_at(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_inputs: check failed at line %d\n", line);
  std::abort();
}

Value parsed(const std::string& text) { return zefa::testing::parse_or_abort(text); }

Value fixture(const char* name) {
  std::ifstream in(std::string(ZEFA_TEST_DATA) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return parsed(s.str());
}

struct World {
  Value pack = fixture("curtain_lamp_pack.json");
  Value device = fixture("curtain_lamp_device.json");
  Value options = parsed(R"({"dpmap":{"1":"control","2":"percent_control","3":"percent_state","9":"fault",
      "17":"add_ele","20":"switch_led","22":"bright_value","40":"child_lock","101":"switch_mode1"},"device_settings":true})");
  std::unique_ptr<zefa::runtime::Driver> live;
  Value document;

  World() {
    auto pack_record = zefa::runtime::RulePack::make(pack);
    check(pack_record.ok());
    auto opts = zefa::runtime::DriverOptions::deserialize(options);
    check(opts.ok());
    auto d = zefa::runtime::Driver::make(device, std::make_shared<const zefa::runtime::RulePack>(std::move(pack_record).value()),
                                         opts.value());
    check(d.ok());
    live = std::make_unique<zefa::runtime::Driver>(std::move(d).value());
    document = live->snapshot();
    check(zefa::api::request(Value(zefa::json::Object{
                                 {"op", Value("install_rules")}, {"rules_id", Value("home")}, {"rules", pack}}))
              .ok());
  }
};

World& world() {
  static World w;
  return w;
}

const char* const kIds[] = {"1", "2", "3", "9", "17", "20", "22", "40", "101", "77", "t"};
const char* const kProps[] = {"position",    "light",        "brightness",   "button",        "energy",
                              "fault",       "child_lock",   "lamp_timer",   "beeper",        "cover_state",
                              "cover_settle", "cover_invert_position", "cover_state_source", "delta_accept_passive",
                              "available",   "nothing"};
const char* const kTimers[] = {"c0:poll", "c0:lamp_off", "c0:crash", "c1:settle", "c+0:poll", "c1:poll", "x", "c2:settle"};
const char* const kWords[] = {"open", "close", "stop", "click", "press", "double", "boom", "send", "read", "none",
                              "inferred", "control", "on", "off", ""};

Value any_value(FuzzedDataProvider& in, int depth = 0) {
  switch (in.ConsumeIntegralInRange(0, 8)) {
    case 0: return Value();
    case 1: return Value(in.ConsumeBool());
    case 2: return Value(in.ConsumeIntegralInRange<long long>(-5, 1200));
    case 3: return Value(in.ConsumeIntegral<long long>());
    case 4: return Value(in.ConsumeFloatingPointInRange<double>(-1e3, 1e6));
    case 5: return Value(kWords[in.ConsumeIntegralInRange<size_t>(0, std::size(kWords) - 1)]);
    case 6: {
      // Hosts speak UTF-8: other bytes become a two-byte character.
      std::string text;
      for (char c : in.ConsumeRandomLengthString(8)) text += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : "\u00e9";
      return Value(text);
    }
    case 7:
      if (depth < 3) return Value(zefa::json::Array{any_value(in, depth + 1), any_value(in, depth + 1)});
      return Value(1);
    default:
      if (depth < 3) return Value(zefa::json::Object{{"a", any_value(in, depth + 1)}});
      return Value("x");
  }
}

Value message(FuzzedDataProvider& in) {
  static const char* const kChannels[] = {"active", "passive", "state"};
  zefa::json::Object report;
  const int n = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < n; ++i)
    report.insert_or_assign(kIds[in.ConsumeIntegralInRange<size_t>(0, std::size(kIds) - 1)], any_value(in));
  Value json = in.ConsumeIntegralInRange(0, 15) == 0 ? any_value(in) : Value(std::move(report));
  return Value(zefa::json::Object{{"type", Value("message")},
                                  {"channel", Value(kChannels[in.ConsumeIntegralInRange(0, 2)])},
                                  {"json", std::move(json)}});
}

Value input(FuzzedDataProvider& in, const std::vector<std::string>& armed, int depth = 0) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return Value(zefa::json::Object{{"type", Value("connected")}});
    case 1: return Value(zefa::json::Object{{"type", Value("disconnected")}});
    case 2:
    case 3: return message(in);
    case 4:
      return Value(zefa::json::Object{{"type", Value("command")},
                                      {"prop", Value(kProps[in.ConsumeIntegralInRange<size_t>(0, std::size(kProps) - 1)])},
                                      {"value", any_value(in)}});
    case 5: {
      std::string name = !armed.empty() && in.ConsumeBool()
                             ? armed[in.ConsumeIntegralInRange<size_t>(0, armed.size() - 1)]
                             : kTimers[in.ConsumeIntegralInRange<size_t>(0, std::size(kTimers) - 1)];
      return Value(zefa::json::Object{{"type", Value("timer")}, {"name", Value(name)}});
    }
    default: {
      zefa::json::Array seed;
      if (depth < 2)
        for (int i = in.ConsumeIntegralInRange(0, 2); i > 0; --i) seed.push_back(input(in, armed, depth + 1));
      return Value(zefa::json::Object{{"type", Value("describe")}, {"seed", Value(std::move(seed))}});
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& w = world();
  FuzzedDataProvider in(data, size);
  zefa::runtime::Driver live = *w.live;
  Value document = w.document;
  double now = 1000;
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
    const Value request_input = input(in, live.driver.timers);
    now += in.ConsumeIntegralInRange(0, 100);
    const double given = in.ConsumeIntegralInRange(0, 40) == 0 ? std::nan("") : now;

    // Live, as "drive" does it.
    auto decoded = zefa::protocol::Input::deserialize(request_input);
    check(decoded.ok());
    const zefa::driver::Driver before = live.driver;
    auto out = live.handle(decoded.value(), given);
    if (!out.ok()) check(live.snapshot().dump() == before.serialize().dump());

    // Stateless, through the exported entry with the document fed back.
    const Value request(zefa::json::Object{{"op", Value("handle")},
                                           {"rules_id", Value("home")},
                                           {"driver", document},
                                           {"now", std::isfinite(given) ? Value(given) : Value()},
                                           {"input", request_input}});
    const Value reply = parsed(zefa::lib::eval_guarded(request.dump().c_str()));
    if (reply["ok"].as_bool() != out.ok())
      std::fprintf(stderr, "input %s\nlive %s\nstateless %s\n", request_input.dump().c_str(),
                   out.ok() ? "ok" : out.error().to_string().c_str(), reply.dump().substr(0, 300).c_str());
    check(reply["ok"].as_bool() == out.ok());
    if (!out.ok()) {
      check(reply["error"].str() == out.error().to_string());
      continue;
    }
    const std::string outputs = zefa::driver::outputs_json(out.value()).dump();
    check(parsed(outputs).dump() == outputs);
    check(reply["value"]["outputs"].dump() == outputs);
    document = reply["value"]["driver"];
  }
  check(live.snapshot().dump() == document.dump());
  return 0;
}
