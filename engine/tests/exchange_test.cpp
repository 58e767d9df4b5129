// Request/reply exchanges through the shared library, from data files:
// engine/tests/data/exchanges/*.txt. Each file runs in order in one process;
// "> " lines are requests, "< " lines the exact replies expected, "#" lines
// comments. In a request, "@name" (a quoted JSON string) is replaced by the
// text of engine/tests/data/name. Every driver state document in a reply must
// read back to the same bytes.
#include <gtest/gtest.h>

#include <fstream>

#include "driver_util.hpp"
#include "engine_so.hpp"
#include "exchange_files.hpp"

namespace {

using zefa::test::exchange_files;
using zefa::test::expand;

class Exchange : public ::testing::TestWithParam<std::string> {};

TEST_P(Exchange, RepliesMatch) {
  const auto& engine = zefa::test::engine_so();
  ASSERT_TRUE(engine.loaded());
  std::ifstream in(zefa::test::exchange_path(GetParam()));
  std::string line, request, reply;
  int lineno = 0, request_line = 0;
  bool pending = false;
  while (std::getline(in, line)) {
    ++lineno;
    if (line.rfind("> ", 0) == 0) {
      ASSERT_FALSE(pending) << "line " << request_line << ": request without an expected reply";
      request = expand(line.substr(2));
      reply = engine.call(request.c_str());
      request_line = lineno;
      pending = true;
    } else if (line.rfind("< ", 0) == 0) {
      ASSERT_TRUE(pending) << "line " << lineno << ": reply without a request";
      EXPECT_EQ(reply, line.substr(2)) << GetParam() << ".txt line " << request_line;
      zefa::test::expect_documents_round_trip(reply);
      pending = false;
    }
  }
  EXPECT_FALSE(pending) << "line " << request_line << ": request without an expected reply";
}

INSTANTIATE_TEST_SUITE_P(Files, Exchange, ::testing::ValuesIn(exchange_files()),
                         [](const auto& info) { return info.param; });

}  // namespace
