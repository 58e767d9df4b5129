// Request/reply exchanges through the shared library, from data files:
// engine/tests/data/exchanges/*.txt. Each file runs in order in one process;
// "> " lines are requests, "< " lines the exact replies expected, "#" lines
// comments. In a request, "@name" (a quoted JSON string) is replaced by the
// text of engine/tests/data/name. Every driver state document in a reply must
// read back to the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver_util.hpp"
#include "engine_so.hpp"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  std::string t = s.str();
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t;
}

std::string expand(std::string line) {
  size_t at;
  while ((at = line.find("\"@")) != std::string::npos) {
    size_t end = line.find('"', at + 2);
    std::string name = line.substr(at + 2, end - at - 2);
    line.replace(at, end - at + 1, slurp(fs::path(ZEFA_TEST_DATA) / name));
  }
  return line;
}

std::vector<std::string> exchange_files() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(fs::path(ZEFA_TEST_DATA) / "exchanges"))
    if (e.path().extension() == ".txt") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Exchange : public ::testing::TestWithParam<std::string> {};

TEST_P(Exchange, RepliesMatch) {
  const auto& engine = zefa::test::engine_so();
  ASSERT_TRUE(engine.loaded());
  std::ifstream in(fs::path(ZEFA_TEST_DATA) / "exchanges" / (GetParam() + ".txt"));
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
