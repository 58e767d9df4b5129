// The rule-pack registry: sharing, broken locks and concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "api/registry.hpp"
#include "lib.hpp"
#include "test_util.hpp"
#include "testing.hpp"

namespace {

using zefa::json::Value;

std::string min_pack_text() { return zefa::test::load("rules_min.json").dump(); }

std::string install_request(const std::string& id, const std::string& pack) {
  return R"({"op":"install_rules","rules_id":")" + id + R"(","rules":)" + pack + "}";
}

// A reference taken before the removal still holds the pack.
TEST(RuleRegistry, RemovedPackLivesOnWhileInUse) {
  const std::string pack = min_pack_text();
  ASSERT_EQ(zefa::lib::eval_guarded(install_request("held", pack).c_str()), R"({"ok":true,"value":true})");
  auto ref = zefa::api::installed("held");
  ASSERT_TRUE(ref.ok());
  ASSERT_TRUE(ref.value());
  EXPECT_EQ(zefa::lib::eval_guarded(R"({"op":"remove_rules","rules_id":"held"})"), R"({"ok":true,"value":true})");
  EXPECT_EQ(ref.value()->rules.dump(), pack);
  EXPECT_EQ(ref.value()->fingerprint().size(), 64u);
  auto gone = zefa::api::installed("held");
  ASSERT_TRUE(gone.ok());
  EXPECT_FALSE(gone.value());
}

using Watch = std::weak_ptr<const zefa::runtime::RulePack>;

// The pack installed under an id, watched without holding it.
Watch watch(const std::string& id) {
  auto ref = zefa::api::installed(id);
  return ref.ok() ? Watch(ref.value()) : Watch();
}

// A thread of its own that runs each given step and stays alive between
// steps, as a host's pooled worker does.
class Worker {
 public:
  Worker() : thread_([this] { loop(); }) {}
  ~Worker() {
    run(nullptr);
    thread_.join();
  }
  // Runs the step on the worker and waits for it; null ends the worker.
  void run(std::function<void()> step) {
    std::unique_lock<std::mutex> lock(m_);
    step_ = std::move(step);
    pending_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return !pending_; });
  }

 private:
  void loop() {
    for (bool more = true; more;) {
      std::unique_lock<std::mutex> lock(m_);
      cv_.wait(lock, [&] { return pending_; });
      more = static_cast<bool>(step_);
      if (more) step_();
      pending_ = false;
      cv_.notify_all();
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::function<void()> step_;
  bool pending_ = false;
  std::thread thread_;
};

// Whatever threads used a pack before, its removal releases it once the last
// running lookup and open driver let go.
TEST(RuleRegistry, RemovalReleasesThePackWhenNothingHoldsIt) {
  enum class Holder { ReadByIdEarlier, RunningLookup, OpenDriver, InstalledAgainUnderTheId };
  const std::string pack = min_pack_text();
  const std::string read = R"({"op":"strategy_read","rules_id":"kept","name":"default","value":1})";
  for (Holder holder : {Holder::ReadByIdEarlier, Holder::RunningLookup, Holder::OpenDriver,
                        Holder::InstalledAgainUnderTheId}) {
    SCOPED_TRACE(static_cast<int>(holder));
    ASSERT_EQ(zefa::lib::eval_guarded(install_request("kept", pack).c_str()), R"({"ok":true,"value":true})");
    const Watch w = watch("kept");
    ASSERT_FALSE(w.expired());
    Worker worker;
    std::optional<zefa::api::Borrowed> running;
    std::string handle;
    // Twice, so that the second read finds the pack in the worker's cache.
    worker.run([&] {
      for (int i = 0; i < 2; ++i) EXPECT_EQ(zefa::lib::eval_guarded(read.c_str()), R"({"ok":true,"value":1})");
    });
    if (holder == Holder::RunningLookup) worker.run([&] { running.emplace(zefa::api::lookup("kept").value()); });
    if (holder == Holder::OpenDriver)
      worker.run([&] {
        auto opened = zefa::json::parse(zefa::lib::eval_guarded(R"({"op":"open","rules_id":"kept","device":{"id":"d"}})"));
        ASSERT_TRUE(opened.ok());
        handle = std::to_string(opened.value()["value"]["handle"].as_u64());
      });
    EXPECT_EQ(zefa::lib::eval_guarded(R"({"op":"remove_rules","rules_id":"kept"})"), R"({"ok":true,"value":true})");
    if (holder == Holder::InstalledAgainUnderTheId) {
      ASSERT_EQ(zefa::lib::eval_guarded(install_request("kept", pack).c_str()), R"({"ok":true,"value":true})");
      worker.run([&] { EXPECT_EQ(zefa::lib::eval_guarded(read.c_str()), R"({"ok":true,"value":1})"); });
      EXPECT_TRUE(w.expired());
      EXPECT_FALSE(watch("kept").expired());
      EXPECT_EQ(zefa::lib::eval_guarded(R"({"op":"remove_rules","rules_id":"kept"})"), R"({"ok":true,"value":true})");
      continue;
    }
    EXPECT_EQ(w.expired(), holder == Holder::ReadByIdEarlier);
    if (holder == Holder::RunningLookup) {
      worker.run([&] {
        EXPECT_EQ((**running)->rules.dump(), pack);
        running.reset();
      });
    }
    if (holder == Holder::OpenDriver) {
      worker.run([&] {
        EXPECT_EQ(zefa::lib::eval_guarded((R"({"op":"view","handle":)" + handle + "}").c_str()).rfind(R"({"ok":true)", 0), 0u);
      });
      EXPECT_FALSE(w.expired());
      EXPECT_EQ(zefa::lib::eval_guarded((R"({"op":"close","handle":)" + handle + "}").c_str()),
                R"({"ok":true,"value":true})");
    }
    EXPECT_TRUE(w.expired());
  }
}

void fault_in_registry(std::string_view where) {
  if (where == "registry:install") throw std::runtime_error("fault while the registry is locked");
}

// In a child process: a broken registry stays broken for the process.
TEST(RuleRegistry, FaultUnderTheLockBreaksItForGood) {
  EXPECT_EXIT(
      {
        const std::string pack = min_pack_text();
        zefa::testing::set_fault_hook(&fault_in_registry);
        std::string panic = zefa::lib::eval_guarded(install_request("x", pack).c_str());
        zefa::testing::set_fault_hook(nullptr);
        bool ok = panic == R"({"ok":false,"error":"engine panic"})";
        const char* poisoned = R"({"ok":false,"error":"rule registry poisoned"})";
        ok = ok && zefa::lib::eval_guarded(install_request("x", pack).c_str()) == poisoned;
        ok = ok && zefa::lib::eval_guarded(R"({"op":"remove_rules","rules_id":"x"})") == poisoned;
        ok = ok && zefa::lib::eval_guarded(R"({"op":"strategy_read","rules_id":"x"})") == poisoned;
        // Operations that do not touch the registry go on working.
        ok = ok && zefa::lib::eval_guarded(R"({"op":"merge"})") == R"({"ok":true,"value":{}})";
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "fault while the registry is locked");
}

TEST(RuleRegistry, ConcurrencyInstallRemoveLookup) {
  const std::string pack = min_pack_text();
  const std::string other = R"({"version":1,"platforms":{"p":{"table":"t","categories":{}}})" + pack.substr(pack.find(",\"entities\""));
  std::atomic<bool> stop{false};
  std::atomic<int> malformed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      unsigned n = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        std::string id = "id" + std::to_string((t + n) % 4);
        std::string req;
        switch ((t * 7 + n++) % 5) {
          case 0: req = install_request(id, (n % 2) ? pack : other); break;
          case 1: req = R"({"op":"remove_rules","rules_id":")" + id + "\"}"; break;
          case 2: req = R"({"op":"strategy_read","rules_id":")" + id + "\"}"; break;
          case 3: req = R"({"op":"close","handle":)" + std::to_string(n) + "}"; break;
          default: req = R"({"op":"strategy_read","rules":)" + pack + "}";
        }
        std::string reply = zefa::lib::eval_guarded(req.c_str());
        auto v = zefa::json::parse(reply);
        if (!v || !v->is_object() || v->obj().at(0).name() != "ok" ||
            reply.find("engine panic") != std::string::npos || reply.find("poisoned") != std::string::npos)
          ++malformed;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  stop = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(malformed.load(), 0);
}

// Lookups beside installs and removals of one id see no pack or a whole one with its own fingerprint.
TEST(RuleRegistryConcurrency, LookupsBesideChangesOfOneId) {
  const std::string pack = min_pack_text();
  const Value a = zefa::test::J(pack);
  Value b = a;
  b.obj_mut().insert_or_assign("units", zefa::test::J(R"({"x":{"unit":"x"}})"));
  const std::string fa = zefa::runtime::fingerprint(a), fb = zefa::runtime::fingerprint(b);
  ASSERT_NE(fa, fb);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::atomic<long> found{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 6; ++t)
    readers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        auto ref = zefa::api::lookup("swap");
        if (!ref.ok()) {
          ++wrong;
          continue;
        }
        if (const zefa::api::PackRef& p = *ref.value()) {
          const std::string& fp = p->fingerprint();
          if (!((fp == fa && p->rules == a) || (fp == fb && p->rules == b))) ++wrong;
          ++found;
        }
      }
    });
  auto expect = [&](const char* reply, const std::string& req) {
    if (zefa::lib::eval_guarded(req.c_str()) != reply) ++wrong;
  };
  for (int round = 0; round < 200; ++round) {
    const Value& v = round % 2 ? b : a;
    const long seen = found.load();
    expect(R"({"ok":true,"value":true})", install_request("swap", v.dump()));
    auto mine = zefa::api::lookup("swap");
    if (!mine.ok() || !*mine.value() || !((*mine.value())->rules == v)) ++wrong;
    for (int k = 0; k < 1000 && found.load() == seen; ++k) std::this_thread::yield();
    expect(R"({"ok":false,"error":"rule id already registered with different content"})",
           install_request("swap", (round % 2 ? a : b).dump()));
    expect(R"({"ok":true,"value":true})", R"({"op":"remove_rules","rules_id":"swap"})");
    auto gone = zefa::api::lookup("swap");
    if (!gone.ok() || *gone.value()) ++wrong;
  }
  stop = true;
  for (auto& th : readers) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(found.load(), 0);
}

// Readers that hold several lookups at once (more than a thread's pins) while
// one id is removed and installed again see whole packs; once the id is gone
// and the readers idle, alive, every pack installed under it is released.
TEST(RuleRegistryConcurrency, ChurnedPacksAreReleasedBesideLiveReaders) {
  const std::string pack = min_pack_text();
  const Value a = zefa::test::J(pack);
  const std::string read = R"({"op":"strategy_read","rules_id":"churn","name":"default","value":1})";
  const std::string absent = R"({"ok":false,"error":"rules are required or rules_id is not registered"})";
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, idle{0};
  std::mutex m;
  std::condition_variable cv;
  bool finish = false;
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        std::vector<zefa::api::Borrowed> held;
        for (int k = 0; k < 6; ++k) {
          auto r = zefa::api::lookup("churn");
          if (!r.ok() || (*r.value() && !((*r.value())->rules == a))) ++wrong;
          if (r.ok()) held.push_back(std::move(r.value()));
          std::this_thread::yield();
        }
        const std::string reply = zefa::lib::eval_guarded(read.c_str());
        if (reply != R"({"ok":true,"value":1})" && reply != absent) ++wrong;
      }
      ++idle;
      std::unique_lock<std::mutex> lock(m);
      cv.wait(lock, [&] { return finish; });
    });
  std::vector<Watch> installed;
  for (int round = 0; round < 300; ++round) {
    if (zefa::lib::eval_guarded(install_request("churn", pack).c_str()) != R"({"ok":true,"value":true})") ++wrong;
    installed.push_back(watch("churn"));
    if (zefa::lib::eval_guarded(R"({"op":"remove_rules","rules_id":"churn"})") != R"({"ok":true,"value":true})")
      ++wrong;
  }
  stop = true;
  while (idle.load() < 4) std::this_thread::yield();
  size_t alive = 0;
  for (const Watch& w : installed) alive += !w.expired();
  {
    std::lock_guard<std::mutex> lock(m);
    finish = true;
  }
  cv.notify_all();
  for (auto& th : readers) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(alive, 0u);
}

}  // namespace
