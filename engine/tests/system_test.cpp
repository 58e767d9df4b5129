// The whole engine as a host uses it: faults raised in the middle of input
// handling, and many threads mixing every kind of request at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lib.hpp"
#include "test_util.hpp"
#include "testing.hpp"

namespace {

using zefa::json::Value;

std::string eval(const std::string& req) { return zefa::lib::eval_guarded(req.c_str()); }

// The curtain-and-lamp pack and the device members that follow a request's operation name.
struct Fixture {
  std::string pack = zefa::test::load("curtain_lamp_pack.json").dump();
  std::string device = zefa::test::load("curtain_lamp_device.json").dump();
  std::string options =
      R"({"dpmap":{"1":"control","2":"percent_control","3":"percent_state","9":"fault","17":"add_ele",)"
      R"("20":"switch_led","22":"bright_value","40":"child_lock","101":"switch_mode1"},"device_settings":true})";

  std::string install(const std::string& id) const {
    return R"({"op":"install_rules","rules_id":")" + id + R"(","rules":)" + pack + "}";
  }
  std::string built(const char* op) const {
    return R"({"op":")" + std::string(op) + R"(","rules_id":"cl","device":)" + device + R"(,"options":)" + options +
           "}";
  }
};

const char* kConnected = R"({"type":"connected"})";
const char* kReport =
    R"({"type":"message","channel":"active","json":{"1":"stop","2":40,"20":true,"22":500,"t":1700000000}})";

std::string drive(uint64_t handle, const char* input) {
  return R"({"op":"drive","handle":)" + std::to_string(handle) + R"(,"now":1000,"input":)" + input + "}";
}
std::string live(const char* op, uint64_t handle) {
  return R"({"op":")" + std::string(op) + R"(","handle":)" + std::to_string(handle) + "}";
}

// The value of a successful reply; a failed or malformed one yields null.
Value value_of(const std::string& reply) {
  auto parsed = zefa::json::parse(reply);
  if (!parsed.ok()) return Value();
  const Value& v = parsed.value();
  if (!v.is_object() || !v["ok"].is_bool() || !v["ok"].as_bool()) return Value();
  return v["value"];
}

uint64_t opened(const std::string& reply) {
  const Value v = value_of(reply)["handle"];
  return v.is_number() ? static_cast<uint64_t>(v.to_f64()) : 0;
}

std::atomic<bool> armed{false};
void fault_when_armed(std::string_view where) {
  // Every entity state read, live or stateless, passes here.
  if (where == "assembly:state" && armed.load()) throw std::runtime_error("fault while reading a state");
}

bool panics(const std::string& req) {
  armed = true;
  const std::string reply = eval(req);
  armed = false;
  return reply == R"({"ok":false,"error":"engine panic"})";
}

// In a child process (a broken driver stays broken); the exit code counts unexpected replies.
int fault_in_drive() {
  Fixture f;
  zefa::testing::set_fault_hook(&fault_when_armed);
  int failed = 0;
  auto expect = [&](const std::string& req, const std::string& reply) {
    if (eval(req) != reply) ++failed;
  };
  expect(f.install("cl"), R"({"ok":true,"value":true})");
  const uint64_t a = opened(eval(f.built("open"))), b = opened(eval(f.built("open")));
  for (uint64_t h : {a, b})
    if (value_of(eval(drive(h, kConnected))).is_null()) ++failed;
  const std::string poisoned = R"({"ok":false,"error":"driver poisoned"})";
  if (!a || !b || !panics(drive(a, kReport))) ++failed;
  expect(drive(a, kReport), poisoned);
  expect(live("view", a), poisoned);
  expect(live("snapshot", a), poisoned);
  expect(R"({"op":"carry_handle","handle":)" + std::to_string(a) + R"(,"old":)" + std::to_string(b) + "}", poisoned);
  expect(R"({"op":"carry_handle","handle":)" + std::to_string(b) + R"(,"old":)" + std::to_string(a) + "}", poisoned);
  // The other driver, the registries and the stateless form go on.
  if (value_of(eval(drive(b, kReport)))["outputs"].size() == 0) ++failed;
  if (value_of(eval(live("snapshot", b)))["rules_fingerprint"].is_null()) ++failed;
  expect(f.install("cl2"), R"({"ok":true,"value":true})");
  expect(R"({"op":"remove_rules","rules_id":"cl2"})", R"({"ok":true,"value":true})");
  if (value_of(eval(f.built("create")))["driver"].is_null()) ++failed;
  const uint64_t c = opened(eval(f.built("open")));
  if (c != b + 1) ++failed;
  // Closing is the one thing a broken driver still answers.
  expect(live("close", a), R"({"ok":true,"value":true})");
  expect(live("view", a), R"({"ok":false,"error":"handle: no open driver )" + std::to_string(a) + "\"}");
  return failed;
}

TEST(DriverFaults, FaultInDriveBreaksThatDriverOnly) {
  EXPECT_EXIT(std::exit(fault_in_drive()), ::testing::ExitedWithCode(0), "fault while reading a state");
}

int fault_in_handle() {
  Fixture f;
  zefa::testing::set_fault_hook(&fault_when_armed);
  int failed = 0;
  if (eval(f.install("cl")) != R"({"ok":true,"value":true})") ++failed;
  const uint64_t h = opened(eval(f.built("open")));
  const std::string before = eval(live("snapshot", h));
  const Value doc = value_of(eval(f.built("create")))["driver"];
  auto handle = [&](const Value& d, const char* input) {
    return R"({"op":"handle","rules_id":"cl","now":1000,"driver":)" + d.dump() + R"(,"input":)" + input + "}";
  };
  const Value linked = value_of(eval(handle(doc, kConnected)))["driver"];
  const std::string expected = eval(handle(linked, kReport));
  if (value_of(expected)["driver"].is_null()) ++failed;
  if (!panics(handle(linked, kReport))) ++failed;
  // The same document answers as before; the pack, live driver and handles are as they were.
  if (eval(handle(linked, kReport)) != expected) ++failed;
  if (eval(live("snapshot", h)) != before) ++failed;
  if (opened(eval(f.built("open"))) != h + 1) ++failed;
  return failed;
}

TEST(DriverFaults, FaultInHandleChangesNothingTheHostHolds) {
  EXPECT_EXIT(std::exit(fault_in_handle()), ::testing::ExitedWithCode(0), "fault while reading a state");
}

// Installs, removals, stateless, private and shared live drivers and malformed requests at once:
// replies are well-formed, nothing panics or is poisoned, and no handle is handed out twice.
TEST(SystemConcurrency, MixedRequestsFromSixteenThreads) {
  const Fixture f;
  ASSERT_EQ(eval(f.install("cl")), R"({"ok":true,"value":true})");
  const std::string created = eval(f.built("create"));
  const std::string doc = value_of(created)["driver"].dump();
  ASSERT_NE(doc, "null") << created;
  std::vector<uint64_t> shared;
  for (int i = 0; i < 4; ++i) shared.push_back(opened(eval(f.built("open"))));
  std::mutex m;
  std::set<uint64_t> handles(shared.begin(), shared.end());
  ASSERT_EQ(handles.size(), 4u);
  ASSERT_EQ(handles.count(0), 0u);

  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::atomic<long> served{0};
  std::vector<std::string> faults;
  auto check = [&](const std::string& req, const std::string& reply, bool must_succeed) {
    auto parsed = zefa::json::parse(reply);
    const bool well_formed = parsed.ok();
    const Value v = well_formed ? std::move(parsed).value() : Value();
    const bool bad = !well_formed || !v.is_object() || v.obj().empty() ||
                     v.obj().at(0).name() != "ok" || !v["ok"].is_bool() ||
                     reply.find("engine panic") != std::string::npos || reply.find("poisoned") != std::string::npos ||
                     (must_succeed && !v["ok"].as_bool());
    if (bad) {
      ++wrong;
      std::lock_guard<std::mutex> l(m);
      if (faults.size() < 5) faults.push_back(req.substr(0, 120) + " -> " + reply.substr(0, 200));
    }
    ++served;
    return v;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      for (unsigned n = 0; n < 400 && !stop.load(std::memory_order_relaxed); ++n) {
        if (std::chrono::steady_clock::now() > deadline) break;
        const uint64_t s = shared[(t + n) % shared.size()];
        switch ((t * 5 + n) % 8) {
          case 0: {
            const std::string id = "p" + std::to_string((t + n) % 3);
            const std::string req = n % 2 ? f.install(id) : R"({"op":"remove_rules","rules_id":")" + id + "\"}";
            check(req, eval(req), true);
            break;
          }
          case 1: {
            const std::string req =
                R"({"op":"handle","rules_id":"cl","now":5,"driver":)" + doc + R"(,"input":)" + kReport + "}";
            check(req, eval(req), true);
            break;
          }
          case 2: {
            // A driver of its own: open, feed, look, copy from a shared one, close.
            const std::string req = f.built("open");
            const std::string reply = eval(req);
            check(req, reply, true);
            const uint64_t h = opened(reply);
            if (!h) break;
            {
              std::lock_guard<std::mutex> l(m);
              if (!handles.insert(h).second) ++wrong;
            }
            for (const std::string& r :
                 {drive(h, kConnected), drive(h, kReport), live("view", h), live("snapshot", h),
                  R"({"op":"carry_handle","handle":)" + std::to_string(h) + R"(,"old":)" + std::to_string(s) + "}"})
              check(r, eval(r), true);
            if (eval(live("close", h)) != R"({"ok":true,"value":true})") ++wrong;
            const std::string after = eval(live("view", h));
            if (after != R"({"ok":false,"error":"handle: no open driver )" + std::to_string(h) + "\"}") ++wrong;
            break;
          }
          case 3:
          case 4: {
            const std::string req = n % 3 == 0 ? live("view", s) : n % 3 == 1 ? drive(s, kReport) : live("snapshot", s);
            check(req, eval(req), true);
            break;
          }
          case 5: {
            const std::string req = f.built("create");
            check(req, eval(req), true);
            break;
          }
          case 6: {
            const std::string req = R"({"op":"carry_handle","handle":)" + std::to_string(s) + R"(,"old":)" +
                                    std::to_string(shared[(t + n + 1) % shared.size()]) + "}";
            check(req, eval(req), true);
            break;
          }
          default: {
            static const char* const kMalformed[] = {R"({"op":"drive","handle":-1,"input":{}})",
                                                     R"({"op":"close","handle":18446744073709551615})",
                                                     R"({"op":"drive","handle":1,"now":null,"input":{"type":"timer"}})",
                                                     R"({"op":"handle","rules_id":"cl"})",
                                                     R"({"op":"install_rules","rules_id":"","rules":{}})",
                                                     R"({"op":"open","rules_id":"cl","device":[]})",
                                                     R"({"op":"create","rules":{"version":2}})",
                                                     R"({"op":)",
                                                     "\xff\xfe",
                                                     R"({"op":"nope"})"};
            const std::string req = kMalformed[(t + n) % std::size(kMalformed)];
            const Value v = check(req, eval(req), false);
            if (v["ok"].is_bool() && v["ok"].as_bool()) ++wrong;
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  stop = true;
  for (uint64_t s : shared) EXPECT_EQ(eval(live("close", s)), R"({"ok":true,"value":true})");
  EXPECT_EQ(wrong.load(), 0) << ::testing::PrintToString(faults);
  EXPECT_GT(served.load(), 16);
  std::printf("%ld requests answered\n", served.load());
}

}  // namespace
