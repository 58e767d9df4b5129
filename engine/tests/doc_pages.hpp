// How the reference pages (docs/*.md) hold their examples, read the same way
// by the docs test and by the host-reads program. Needs nothing of the engine.
//
// A fenced block's info line gives its tag and an optional name (```json name).
// In a block tagged `exchange`, a line starting "> " begins a request and one
// starting "< " its reply; either continues over the lines after it, and "#"
// lines and blank lines are skipped.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zefa::test {

struct DocBlock {
  std::string tag, name, text;
  int line = 0;  // of the opening fence
};

inline std::vector<DocBlock> doc_blocks(const std::filesystem::path& page) {
  std::ifstream in(page);
  std::vector<DocBlock> out;
  std::string line;
  int lineno = 0;
  bool open = false;
  while (std::getline(in, line)) {
    ++lineno;
    if (line.rfind("```", 0) == 0) {
      if (!open) {
        std::istringstream info(line.substr(3));
        DocBlock b;
        b.line = lineno;
        info >> b.tag >> b.name;
        out.push_back(std::move(b));
      }
      open = !open;
    } else if (open) {
      out.back().text += line + "\n";
    }
  }
  return out;
}

// The requests ('>') and replies ('<') of an exchange block, in order;
// nullopt when text stands before the first of them.
inline std::optional<std::vector<std::pair<char, std::string>>> exchange_items(const std::string& block) {
  std::vector<std::pair<char, std::string>> items;
  std::istringstream lines(block);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("> ", 0) == 0 || line.rfind("< ", 0) == 0) {
      items.emplace_back(line[0], line.substr(2) + "\n");
    } else if (line.rfind('#', 0) == 0 || line.empty()) {
      continue;
    } else {
      if (items.empty()) return std::nullopt;
      items.back().second += line + "\n";
    }
  }
  return items;
}

inline void replace_all(std::string& s, std::string_view from, std::string_view to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
}

}  // namespace zefa::test
