// The examples of the reference documents (docs/*.md), run through the shared
// library so that a document cannot drift from what the library answers.
//
// In a fenced block tagged `exchange`, a line starting "> " begins a request
// and one starting "< " its expected reply; either may continue over the
// following lines (pretty-printed JSON), and "#" lines are comments. The
// blocks of one document run in order in one process. In a request, the
// string "<previous reply /pointer>" stands for that part of the reply before
// it, and "@name" for the document shown in a block tagged `json name`. In a
// reply, the string "…" matches any value, a member "…" lets an object have
// members not shown, and a last element "…" lets an array go on.
// A `json` block outside an exchange that holds a request fails the test:
// every request a document shows must run. A block of another tag whose
// name is a file of the repository, as in "```c examples/host/host.c:10-24",
// must hold exactly those lines of that file (the whole file without a
// range), so that a program shown on a page is the program the tests build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "driver_util.hpp"
#include "doc_pages.hpp"
#include "engine_so.hpp"

namespace {

namespace fs = std::filesystem;
using zefa::json::Value;
using zefa::test::doc_blocks;
using zefa::test::replace_all;

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // …

std::vector<std::string> doc_files() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(ZEFA_DOCS))
    if (e.path().extension() == ".md") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Named documents of every reference page, as compact text.
const std::map<std::string, std::string>& named_documents() {
  static const std::map<std::string, std::string> docs = [] {
    std::map<std::string, std::string> m;
    for (const auto& f : doc_files())
      for (const auto& b : doc_blocks(fs::path(ZEFA_DOCS) / (f + ".md")))
        if (b.tag == "json" && !b.name.empty()) m[b.name] = zefa::test::J(b.text).dump();
    return m;
  }();
  return docs;
}

std::string expand(std::string request, const Value* previous) {
  for (const auto& [name, text] : named_documents()) replace_all(request, "\"@" + name + "\"", text);
  static constexpr std::string_view kRef = "\"<previous reply ";
  size_t at;
  while ((at = request.find(kRef)) != std::string::npos) {
    size_t end = request.find(">\"", at);
    if (end == std::string::npos || !previous) throw std::runtime_error("a reference with no reply before it");
    std::string ptr = request.substr(at + kRef.size(), end - at - kRef.size());
    const Value* part = previous->pointer(ptr == "/" ? "" : ptr);
    if (!part) throw std::runtime_error("no " + ptr + " in the reply before");
    request.replace(at, end + 2 - at, part->dump());
  }
  return request;
}

// The lines FIRST-LAST of a repository file named "PATH:FIRST-LAST", or the
// whole file named "PATH".
std::string excerpt(const std::string& name) {
  std::string path = name;
  size_t first = 1, last = std::string::npos;
  if (size_t colon = name.rfind(':'); colon != std::string::npos) {
    path = name.substr(0, colon);
    std::istringstream range(name.substr(colon + 1));
    char dash = 0;
    if (!(range >> first >> dash >> last) || dash != '-' || first < 1 || last < first)
      throw std::runtime_error("not a line range: " + name);
  }
  std::ifstream in(fs::path(ZEFA_DOCS).parent_path() / path);
  if (!in) throw std::runtime_error("no file " + path);
  std::string text, line;
  size_t lineno = 0;
  while (std::getline(in, line) && ++lineno <= last)
    if (lineno >= first) text += line + "\n";
  if (last != std::string::npos && lineno < last) throw std::runtime_error(path + " is shorter than " + name);
  return text;
}

bool is_ellipsis(const Value& v) { return v.is_string() && v.str() == kEllipsis; }

// Where `actual` differs from the shown `expected`; empty when it matches.
std::string mismatch(const Value& expected, const Value& actual, const std::string& at) {
  if (is_ellipsis(expected)) return "";
  if (expected.is_object() && actual.is_object()) {
    const bool open = expected.find(kEllipsis) != nullptr;
    size_t shown = 0;
    for (const auto& m : expected.obj()) {
      if (m.name() == kEllipsis) continue;
      ++shown;
      const Value* a = actual.find(m.name());
      if (!a) return at + "/" + std::string(m.name()) + " is missing";
      if (auto d = mismatch(m.value, *a, at + "/" + std::string(m.name())); !d.empty()) return d;
    }
    if (!open && shown != actual.size()) return at + " has members not shown";
    if (!open) {  // members in the order shown
      size_t i = 0;
      for (const auto& m : actual.obj())
        if (m.name() != expected.obj().at(i++).name()) return at + " has its members in another order";
    }
    return "";
  }
  if (expected.is_array() && actual.is_array()) {
    size_t n = expected.size();
    const bool open = n > 0 && is_ellipsis(expected[n - 1]);
    if (open) --n;
    if (open ? actual.size() < n : actual.size() != n) return at + " has " + std::to_string(actual.size()) + " elements";
    for (size_t i = 0; i < n; ++i)
      if (auto d = mismatch(expected[i], actual[i], at + "/" + std::to_string(i)); !d.empty()) return d;
    return "";
  }
  return expected.dump() == actual.dump() ? "" : at + " is " + actual.dump() + ", shown " + expected.dump();
}

class Docs : public ::testing::TestWithParam<std::string> {};

TEST_P(Docs, ExamplesMatch) {
  const auto& engine = zefa::test::engine_so();
  ASSERT_TRUE(engine.loaded());
  const std::string file = GetParam() + ".md";
  Value previous;
  bool have_previous = false;
  for (const auto& b : doc_blocks(fs::path(ZEFA_DOCS) / file)) {
    if (b.tag == "json") {
      auto v = zefa::json::parse(b.text);
      ASSERT_TRUE(v) << file << " line " << b.line << ": not JSON";
      EXPECT_FALSE(v.value().is_object() && v.value().find("op"))
          << file << " line " << b.line << ": a request outside an exchange block";
      continue;
    }
    if (b.tag != "exchange") {
      if (b.name.find('/') != std::string::npos) {
        EXPECT_EQ(b.text, excerpt(b.name)) << file << " line " << b.line << ": not the lines of " << b.name;
      }
      continue;
    }
    const auto parsed = zefa::test::exchange_items(b.text);
    ASSERT_TRUE(parsed) << file << " line " << b.line << ": text before the first request";
    const auto& items = *parsed;
    for (size_t i = 0; i < items.size(); i += 2) {
      ASSERT_EQ(items[i].first, '>') << file << " block at line " << b.line << ": a reply without a request";
      ASSERT_TRUE(i + 1 < items.size() && items[i + 1].first == '<')
          << file << " block at line " << b.line << ": a request without its reply";
      const std::string request = expand(items[i].second, have_previous ? &previous : nullptr);
      const std::string reply = engine.call(request.c_str());
      auto expected = zefa::json::parse(items[i + 1].second);
      ASSERT_TRUE(expected) << file << " block at line " << b.line << ": a reply that is not JSON";
      auto actual = zefa::json::parse(reply);
      ASSERT_TRUE(actual) << reply;
      EXPECT_EQ(mismatch(expected.value(), actual.value(), ""), "")
          << file << " block at line " << b.line << ", request " << (i / 2 + 1) << "\n  reply: " << reply;
      zefa::test::expect_documents_round_trip(reply);
      previous = std::move(actual).value();
      have_previous = true;
    }
  }
}

// The anchor a heading gets on the pages as rendered: lower case, spaces as
// hyphens, punctuation other than '-' and '_' dropped (non-ASCII kept).
std::string slug(std::string_view heading) {
  std::string out;
  for (unsigned char c : heading) {
    if (c == ' ') out += '-';
    else if (c >= 0x80 || std::isalnum(c) || c == '-' || c == '_') out += static_cast<char>(std::tolower(c));
  }
  return out;
}

// The anchors of a page's headings (outside fenced blocks), a repeated one
// numbered as the renderer does.
std::set<std::string> anchors_of(const fs::path& file) {
  std::set<std::string> out;
  std::map<std::string, int> seen;
  std::ifstream in(file);
  std::string line;
  bool fenced = false;
  while (std::getline(in, line)) {
    if (line.rfind("```", 0) == 0) fenced = !fenced;
    if (fenced || line.empty() || line[0] != '#') continue;
    size_t text = line.find_first_not_of('#');
    if (text == std::string::npos || line[text] != ' ') continue;
    std::string a = slug(line.substr(text + 1));
    const int n = seen[a]++;
    out.insert(n == 0 ? a : a + "-" + std::to_string(n));
  }
  return out;
}

// Every relative link of a page names a file of the repository, and every
// anchor a heading of the page it points at.
TEST_P(Docs, LinksResolve) {
  const fs::path page = fs::path(ZEFA_DOCS) / (GetParam() + ".md");
  std::ifstream in(page);
  std::string line;
  int lineno = 0;
  bool fenced = false;
  while (std::getline(in, line)) {
    ++lineno;
    if (line.rfind("```", 0) == 0) fenced = !fenced;
    if (fenced) continue;
    for (size_t at = 0; (at = line.find("](", at)) != std::string::npos;) {
      const size_t end = line.find(')', at);
      if (end == std::string::npos) break;
      const std::string target = line.substr(at + 2, end - at - 2);
      at = end;
      if (target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0) continue;
      const size_t hash = target.find('#');
      const std::string path = target.substr(0, hash);
      const fs::path file = path.empty() ? page : fs::path(ZEFA_DOCS) / path;
      EXPECT_TRUE(fs::exists(file)) << page.filename() << " line " << lineno << ": no file " << path;
      if (hash == std::string::npos || !fs::exists(file)) continue;
      EXPECT_TRUE(anchors_of(file).count(target.substr(hash + 1)))
          << page.filename() << " line " << lineno << ": no heading for " << target;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, Docs, ::testing::ValuesIn(doc_files()),
                         [](const auto& info) {  // test names take no '-'
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
