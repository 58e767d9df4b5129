// The exchange files of engine/tests/data/exchanges: "> " lines are requests,
// "< " lines the replies expected, "#" lines comments. In a request, "@name"
// (a quoted JSON string) stands for the text of engine/tests/data/name.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zefa::test {

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  std::string t = s.str();
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t;
}

inline std::string expand(std::string line) {
  size_t at;
  while ((at = line.find("\"@")) != std::string::npos) {
    size_t end = line.find('"', at + 2);
    std::string name = line.substr(at + 2, end - at - 2);
    line.replace(at, end - at + 1, slurp(std::filesystem::path(ZEFA_TEST_DATA) / name));
  }
  return line;
}

// The names (without ".txt") of the exchange files, sorted.
inline std::vector<std::string> exchange_files() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(ZEFA_TEST_DATA) / "exchanges"))
    if (e.path().extension() == ".txt") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::filesystem::path exchange_path(const std::string& name) {
  return std::filesystem::path(ZEFA_TEST_DATA) / "exchanges" / (name + ".txt");
}

// The requests of one file, expanded, in order.
inline std::vector<std::string> exchange_requests(const std::string& name) {
  std::ifstream in(exchange_path(name));
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("> ", 0) == 0) out.push_back(expand(line.substr(2)));
  return out;
}

}  // namespace zefa::test
