// The exported functions, loaded from the built shared library as a host loads them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine_so.hpp"
#include "json.hpp"
#include "lib.hpp"
#include "testing.hpp"
#include "zefa_engine.h"

namespace {

const zefa::test::EngineSo& engine() { return zefa::test::engine_so(); }

class CApi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(engine().loaded()) << dlerror(); }
};

}  // namespace

TEST_F(CApi, EntryLevelReplies) {
  struct Case {
    const char* request;
    const char* reply;
  } cases[] = {
      {nullptr, R"({"ok":false,"error":"null input"})"},
      {"\xFF", R"({"ok":false,"error":"invalid UTF-8"})"},
      {"{\"op\":\"\xC3\x28\"}", R"({"ok":false,"error":"invalid UTF-8"})"},
      {"", R"({"ok":false,"error":"EOF while parsing a value at line 1 column 0"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(engine().call(c.request), c.reply) << (c.request ? c.request : "null");
}

TEST_F(CApi, AllocAndFreeEdgeCases) {
  EXPECT_EQ(engine().alloc(0), nullptr);
  uint8_t* p = engine().alloc(4096);
  ASSERT_NE(p, nullptr);
  for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0);
  engine().dealloc(p, 4096);
  engine().dealloc(nullptr, 10);
  uint8_t* q = engine().alloc(1);
  engine().dealloc(q, 0);  // size 0 does nothing: the buffer is still ours
  engine().dealloc(q, 1);
  engine().free(nullptr);
}

TEST_F(CApi, AllocOfImpossibleSizeAborts) {
  EXPECT_DEATH(engine().alloc(static_cast<size_t>(PTRDIFF_MAX) + 1), "");
}

TEST_F(CApi, ReplyIsCompleteCompactJson) {
  // A request failing after an escaped NUL still gets a whole, compact reply.
  std::string reply = engine().call("{\"op\":\"a\\u0000b\"} \x01");
  EXPECT_EQ(reply.find('\0'), std::string::npos);
  auto v = zefa::json::parse(reply);
  ASSERT_TRUE(v) << reply;
  EXPECT_EQ(v->obj().at(0).name(), "ok");
  EXPECT_EQ(v->dump(), reply);
}

namespace {
void throwing_hook(std::string_view where) {
  if (where == "api::request") throw std::out_of_range("index out of range");
}
}  // namespace

TEST(Evaluator, InternalFaultAnswersEnginePanic) {
  zefa::testing::set_fault_hook(&throwing_hook);
  testing::internal::CaptureStderr();
  std::string reply = zefa::lib::eval_guarded("{\"op\":\"x\"}");
  std::string report = testing::internal::GetCapturedStderr();
  zefa::testing::set_fault_hook(nullptr);
  EXPECT_EQ(reply, R"({"ok":false,"error":"engine panic"})");
  EXPECT_NE(report.find("index out of range"), std::string::npos);
  // The process goes on and later requests are served.
  EXPECT_EQ(zefa::lib::eval_guarded("[]"), R"({"ok":false,"error":"unknown engine operation"})");
}

namespace {
int reply_faults = 0;
void reply_hook(std::string_view where) {
  if (where == "lib::reply" && reply_faults-- > 0) throw std::bad_alloc();
}
}  // namespace

// A reply whose copy finds no memory is answered "engine panic", not an abort.
TEST(Evaluator, ReplyWithoutMemoryAnswersEnginePanic) {
  reply_faults = 1;
  zefa::testing::set_fault_hook(&reply_hook);
  testing::internal::CaptureStderr();
  char* reply = zefa_engine_eval("{\"op\":\"merge_rules\",\"layers\":[]}");
  std::string report = testing::internal::GetCapturedStderr();
  zefa::testing::set_fault_hook(nullptr);
  ASSERT_NE(reply, nullptr);
  EXPECT_STREQ(reply, R"({"ok":false,"error":"engine panic"})");
  zefa_engine_free(reply);
  EXPECT_NE(report.find("no memory for the reply text"), std::string::npos);
}

TEST_F(CApi, ConcurrencyManyThreadsEvaluate) {
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        std::string r = engine().call(i % 2 ? "{\"op\":\"x\"}" : "[1,");
        if (r.rfind("{\"ok\":false,\"error\":", 0) != 0) ++bad;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}
