// Streams of driver inputs against a driver of a fixed realistic pack (the
// curtain-and-lamp pack of the tests): reports with random datapoints and
// times on every channel, commands, timers, link changes and describe
// requests. The live form plays every input: no fault, its outputs write
// text that reads back the same, and a failed input leaves it as it was.
// The stateless form ("handle", fed its own documents back) then plays the
// last inputs again from the live driver's document, the last of them as
// text through the exported entry: every reply parses, and both forms agree
// on every output, error and the final document.
//
// Input: raw bytes, read as a sequence of choices (at most 24 inputs).
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
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

// Exactly equal, members in the same order: what equal texts would show,
// without writing them.
bool identical(const Value& a, const Value& b) {
  if (a.same(b)) return true;
  if (a.type() != b.type() || a.size() != b.size()) return false;
  if (a.is_array()) {
    for (size_t i = 0; i < a.size(); ++i)
      if (!identical(a[i], b[i])) return false;
    return true;
  }
  if (a.is_object()) {
    for (size_t i = 0; i < a.size(); ++i) {
      const zefa::json::Member& m = a.obj().at(i);
      const zefa::json::Member& n = b.obj().at(i);
      if (m.name() != n.name() || !identical(m.value, n.value)) return false;
    }
    return true;
  }
  return a.is_string() && a.str() == b.str();
}

// One input as the live form played it.
struct Played {
  Value input;
  double given = 0;                   // the host's time; not a number when withheld
  zefa::driver::Driver before;        // the live driver it met
  std::optional<std::string> error;   // the live form's failure
  std::string outputs;                // the live form's outputs, written
};

// How many of the last inputs the stateless form plays. Each one checks a
// state and an input against the live form, and the fuzzer can move any
// input to the end of a stream; reading and writing a whole state document
// for every input instead cost nine tenths of the time.
constexpr size_t kStatelessInputs = 2;

// The reply envelope of "handle": through the exported entry as text, or
// the same envelope built from the operation table's own result.
Value handle_reply(const Value& request, bool as_text) {
  if (as_text) return parsed(zefa::lib::eval_guarded(request.dump().c_str()));
  auto result = zefa::api::request(request);
  if (!result.ok()) return Value(zefa::json::Object{{"ok", Value(false)}, {"error", Value(result.error().to_string())}});
  return Value(zefa::json::Object{{"ok", Value(true)}, {"value", std::move(result).value()}});
}

}  // namespace

// libFuzzer keeps the features seen fewer than 256 times in a list and
// searches it for each rare feature a run reaches; a stream reaches thousands,
// the list grew as long, and the search took more time than the streams. A
// lower threshold keeps it near the hundred rarest. Flags given on the
// command line come later and still win.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static char threshold[] = "-entropic_feature_frequency_threshold=32";
  static std::vector<char*> args;
  if (*argc < 1) return 0;
  args.assign(*argv, *argv + *argc);
  args.insert(args.begin() + 1, threshold);
  args.push_back(nullptr);
  *argc = static_cast<int>(args.size()) - 1;
  *argv = args.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& w = world();
  FuzzedDataProvider in(data, size);
  zefa::runtime::Driver live = *w.live;
  std::deque<Played> last;
  double now = 1000;
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
    Played p;
    p.input = input(in, live.driver.timers);
    now += in.ConsumeIntegralInRange(0, 100);
    p.given = in.ConsumeIntegralInRange(0, 40) == 0 ? std::nan("") : now;
    p.before = live.driver;

    // Live, as "drive" does it.
    auto decoded = zefa::protocol::Input::deserialize(p.input);
    check(decoded.ok());
    auto out = live.handle(decoded.value(), p.given);
    if (out.ok()) {
      p.outputs = zefa::driver::outputs_json(out.value()).dump();
      check(parsed(p.outputs).dump() == p.outputs);
    } else {
      p.error = out.error().to_string();
      check(live.driver == p.before);
    }
    if (last.size() == kStatelessInputs) last.pop_front();
    last.push_back(std::move(p));
  }
  if (last.empty()) return 0;

  // Stateless, from the document a host would have kept.
  Value document = last.front().before.serialize();
  for (size_t i = 0; i < last.size(); ++i) {
    const Played& p = last[i];
    const Value request(zefa::json::Object{{"op", Value("handle")},
                                           {"rules_id", Value("home")},
                                           {"driver", document},
                                           {"now", std::isfinite(p.given) ? Value(p.given) : Value()},
                                           {"input", p.input}});
    const Value reply = handle_reply(request, i + 1 == last.size());
    if (reply["ok"].as_bool() != !p.error)
      std::fprintf(stderr, "input %s\nlive %s\nstateless %s\n", p.input.dump().c_str(),
                   p.error ? p.error->c_str() : "ok", reply.dump().substr(0, 300).c_str());
    check(reply["ok"].as_bool() == !p.error);
    if (p.error) {
      check(reply["error"].str() == *p.error);
      continue;
    }
    check(reply["value"]["outputs"].dump() == p.outputs);
    document = reply["value"]["driver"];
  }
  check(identical(live.snapshot(), document));
  return 0;
}
