// The library reads nothing from its host's process: no file opened, no
// environment variable looked up, from loading it to unloading it. This
// program defines the functions through which a library opens a file or reads
// a variable, passes each call on, and records the calls made by the engine
// library or a library it links while the host is inside the library.
//
// Several libraries read once per process (a default locale, a configuration
// file), so a first read would hide every later path. The library is loaded
// here and each group of requests (an examples file, a reference page, each
// request of the table below) runs in a child process forked before any
// request, with the library untouched. The process stays in the C locale.
#undef _FORTIFY_SOURCE  // the fortified inline open() would clash with ours

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "doc_pages.hpp"

namespace {

namespace fs = std::filesystem;

// Set while a call into the library (its loading included) is in progress:
// outside it, this program's own standard library reads files.
std::atomic<bool> g_inside{false};
const void* g_self = nullptr;  // this program's load address
std::mutex g_mutex;
std::vector<std::string> g_calls;
thread_local bool t_busy = false;

void note(const void* caller, const char* fn, const char* arg) {
  if (!g_inside.load() || t_busy) return;
  t_busy = true;
  Dl_info info{};
  const bool known = dladdr(caller, &info) != 0;
  if (!known || info.dli_fbase != g_self) {
    std::lock_guard lock(g_mutex);
    g_calls.push_back(std::string(fn) + "(\"" + (arg ? arg : "(null)") + "\") from " +
                       (known && info.dli_fname ? info.dli_fname : "an unknown object"));
  }
  t_busy = false;
}

template <class F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::vector<std::string> take_calls() {
  std::lock_guard lock(g_mutex);
  std::vector<std::string> out;
  out.swap(g_calls);
  return out;
}

// The creation mode is read only where the flags say one was passed.
mode_t mode_of(int flags, va_list ap) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
}

}  // namespace

#define ZEFA_OPEN(name)                                                  \
  extern "C" int name(const char* path, int flags, ...) {               \
    va_list ap;                                                          \
    va_start(ap, flags);                                                 \
    const mode_t mode = mode_of(flags, ap);                              \
    va_end(ap);                                                          \
    note(__builtin_return_address(0), #name, path);                      \
    static const auto real = next<int (*)(const char*, int, ...)>(#name); \
    return real(path, flags, mode);                                      \
  }
#define ZEFA_OPENAT(name)                                                      \
  extern "C" int name(int dir, const char* path, int flags, ...) {            \
    va_list ap;                                                                \
    va_start(ap, flags);                                                       \
    const mode_t mode = mode_of(flags, ap);                                    \
    va_end(ap);                                                                \
    note(__builtin_return_address(0), #name, path);                            \
    static const auto real = next<int (*)(int, const char*, int, ...)>(#name); \
    return real(dir, path, flags, mode);                                       \
  }
#define ZEFA_FOPEN(name)                                                       \
  extern "C" FILE* name(const char* path, const char* how) {                  \
    note(__builtin_return_address(0), #name, path);                            \
    static const auto real = next<FILE* (*)(const char*, const char*)>(#name); \
    return real(path, how);                                                    \
  }
#define ZEFA_GETENV(name)                                                  \
  extern "C" char* name(const char* var) noexcept {                       \
    note(__builtin_return_address(0), #name, var);                         \
    static const auto real = next<char* (*)(const char*) noexcept>(#name); \
    return real(var);                                                      \
  }

ZEFA_OPEN(open)
ZEFA_OPEN(open64)
ZEFA_OPENAT(openat)
ZEFA_OPENAT(openat64)
ZEFA_FOPEN(fopen)
ZEFA_FOPEN(fopen64)
ZEFA_GETENV(getenv)
ZEFA_GETENV(secure_getenv)

namespace {

struct Request {
  std::string text;
  std::string shown;  // the reply shown beside it, or text the reply must hold
};

struct Group {
  std::string name;
  std::vector<Request> requests;
  bool shown_is_reply = true;
};

// A minimal rule pack, its entities given by `entities`.
std::string pack(const std::string& platforms, const std::string& entities) {
  return R"({"version":1,"platforms":)" + platforms + R"(,"entities":)" + entities +
         R"(,"unused":{"role":"dp","variants":[]},"templates":{},"functions":{},"quirks":{},"units":{},)"
         R"("host_units":{},"maps":{},"features":{},"constants":{},"cover_defaults":{},"cover_switches":{},)"
         R"("motion_property":{},"strategies":[]})";
}

std::string expression_read(const std::string& op, const std::string& arg) {
  const std::string entity = R"({"t":{"state":{"fields":{"v":{"op":")" + op + R"(","args":[")" + arg + R"("]}}}}})";
  return R"({"op":"read","rules":)" + pack("{}", entity) + R"(,"plan":["t","",{},{},[],null,false,{}]})";
}

// Every use of case mapping, each reached with non-ASCII text; the dotted
// capital I would come out dotless were the Turkish locale of the test's
// environment taken as the default.
std::vector<Group> case_mapping_groups() {
  const std::string lamp_pack = pack(
      R"({"light":{"table":"lights","categories":{"dj":{"key":"lamp"}}}})",
      R"({"light":{"variants":[{"steps":[{"role":"switch","codes":["switch_led"],"types":["Boolean"],"required":true}]}],)"
      R"("state":{"fields":{"on":{"op":"get","path":"values.switch"}}},)"
      R"("layout":[{"name":"ÄIBC","definition":{"type":"binary"},"read":{"op":"get","path":"state.on"}}]}})");
  const std::string lamp = R"({"id":"l1","product_id":"p","category":"dj","name":"Lamp",)"
                           R"("function":{"switch_led":{"type":"Boolean","values":"{}"}},"status_range":{},"status":{}})";
  const struct {
    const char* name;
    std::string request, holds;
  } rows[] = {
      {"expression lower", expression_read("lower", "ÄIBC"), R"("v":"äibc")"},
      {"expression capitalize", expression_read("capitalize", "äIBC"), R"("v":"Äibc")"},
      {"command check", R"({"op":"check","prop":"on","value":"ÄN","state":{},)"
                        R"("descriptor":{"props":{"on":{"type":"binary","rw":true}}}})",
       "not a boolean"},
      {"enum strategy lookup", R"({"op":"strategy_read","rules":)" + pack("{}", "{}") +
                                   R"(,"name":"enum","value":"ÄIBC","config":{"enumMappingMap":{"äibc":{"value":"found"}}}})",
       R"("value":"found")"},
      {"property names", R"({"op":"create","rules":)" + lamp_pack + R"(,"device":)" + lamp + "}", R"(_ibc)"},
  };
  std::vector<Group> out;
  for (const auto& r : rows) out.push_back({r.name, {{r.request, r.holds}}, false});
  return out;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<fs::path> files(const fs::path& dir, const char* extension) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == extension) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// Examples: one request per line, its reply on the same line of X.replies.
Group examples_group(const fs::path& file) {
  Group g{"examples/" + file.filename().string(), {}};
  auto replies = lines_of(slurp(fs::path(file).replace_extension(".replies")));
  size_t n = 0;
  for (const auto& line : lines_of(slurp(file)))
    if (!line.empty() && line[0] != '#') {
      g.requests.push_back({line, n < replies.size() ? replies[n] : ""});
      ++n;
    }
  return g;
}

// Reference pages: the requests of their `exchange` blocks, "@name" standing
// for the document of the block `json name` of any page.
Group docs_group(const fs::path& file, const std::map<std::string, std::string>& named) {
  Group g{"docs/" + file.filename().string(), {}};
  for (const auto& b : zefa::test::doc_blocks(file)) {
    if (b.tag != "exchange") continue;
    for (auto& [kind, text] : zefa::test::exchange_items(b.text).value_or(std::vector<std::pair<char, std::string>>{})) {
      if (kind == '>') g.requests.push_back({std::move(text), ""});
      else if (!g.requests.empty()) g.requests.back().shown = std::move(text);
    }
  }
  for (auto& r : g.requests)
    for (const auto& [name, text] : named) zefa::test::replace_all(r.text, "\"@" + name + "\"", text);
  return g;
}

// Just enough JSON to find the text of a value by a JSON pointer.
size_t skip_space(std::string_view s, size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) ++i;
  return i;
}

size_t skip_value(std::string_view s, size_t i) {
  int depth = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      for (++i; i < s.size() && s[i] != '"'; ++i) i += s[i] == '\\';
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth < 0) return i;
    } else if (c == ',' && depth == 0) {
      return i;
    }
    if (depth == 0 && (c == '"' || c == '}' || c == ']')) return i + 1;
  }
  return i;
}

std::optional<std::string> at_pointer(std::string_view s, std::string_view pointer) {
  size_t i = skip_space(s, 0);
  while (!pointer.empty()) {
    pointer.remove_prefix(1);
    const std::string_view token = pointer.substr(0, pointer.find('/'));
    pointer.remove_prefix(token.size());
    if (i >= s.size() || (s[i] != '{' && s[i] != '[')) return std::nullopt;
    const bool object = s[i] == '{';
    size_t index = object ? 0 : std::strtoul(std::string(token).c_str(), nullptr, 10);
    for (i = skip_space(s, i + 1);; i = skip_space(s, i + 1)) {
      if (i >= s.size() || s[i] == '}' || s[i] == ']') return std::nullopt;
      bool found = index == 0;
      if (object) {
        const size_t key_end = skip_value(s, i);
        found = s.substr(i, key_end - i) == "\"" + std::string(token) + "\"";
        i = skip_space(s, skip_space(s, key_end) + 1);  // past the colon
      } else {
        --index;
      }
      if (found) break;
      i = skip_space(s, skip_value(s, i));
      if (i >= s.size() || s[i] != ',') return std::nullopt;
    }
  }
  return std::string(s.substr(i, skip_value(s, i) - i));
}

struct Engine {
  void* handle = nullptr;
  char* (*eval)(const char*) = nullptr;
  void (*free)(char*) = nullptr;
};

std::string call(const Engine& e, const std::string& request) {
  g_inside = true;
  char* r = e.eval(request.c_str());
  std::string reply(r ? r : "");
  e.free(r);
  g_inside = false;
  return reply;
}

// Runs one group and gives its findings, one per line: the calls recorded and
// any request that did not run as its page or file shows it.
std::string run_group(const Engine& e, const Group& g) {
  std::string found, previous;
  for (size_t n = 0; n < g.requests.size(); ++n) {
    std::string request = g.requests[n].text;
    const std::string where = g.name + " request " + std::to_string(n + 1);
    for (size_t at; (at = request.find("\"<previous reply ")) != std::string::npos;) {
      const size_t end = request.find(">\"", at);
      const auto part = end == std::string::npos ? std::nullopt
                                                 : at_pointer(previous, request.substr(at + 17, end - at - 17));
      if (!part) return found + where + ": no such part of the reply before it\n";
      request.replace(at, end + 2 - at, *part);
    }
    const std::string reply = call(e, request);
    for (const auto& c : take_calls()) found += where + ": " + c + "\n";
    const std::string& shown = g.requests[n].shown;
    if (g.shown_is_reply ? at_pointer(reply, "/ok") != at_pointer(shown, "/ok")
                         : reply.find(shown) == std::string::npos)
      found += where + ": answered " + reply.substr(0, 300) + "\n";
    previous = reply;
  }
  return found;
}

std::string in_child(const Engine& e, const Group& g) {
  int fds[2];
  if (pipe(fds) != 0) return g.name + ": no pipe\n";
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string found = run_group(e, g);
    for (size_t done = 0; done < found.size();) {
      const ssize_t n = write(fds[1], found.data() + done, found.size() - done);
      if (n <= 0) _exit(2);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string found;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) found.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) found += g.name + ": the child process failed\n";
  return found;
}

void self_marker() {}

}  // namespace

int main() {
  Dl_info self{};
  dladdr(reinterpret_cast<const void*>(&self_marker), &self);
  g_self = self.dli_fbase;

  // Every file is read before the library is loaded.
  const fs::path root(ZEFA_SOURCE_DIR);
  std::vector<Group> groups = case_mapping_groups();
  for (const auto& f : files(root / "examples", ".jsonl")) groups.push_back(examples_group(f));
  std::map<std::string, std::string> named;
  const auto pages = files(root / "docs", ".md");
  for (const auto& f : pages)
    for (const auto& b : zefa::test::doc_blocks(f))
      if (b.tag == "json" && !b.name.empty()) named[b.name] = b.text;
  for (const auto& f : pages) groups.push_back(docs_group(f, named));

  std::string found;
  Engine e;
  g_inside = true;
  e.handle = dlopen(ZEFA_ENGINE_SO, RTLD_NOW | RTLD_LOCAL);
  g_inside = false;
  if (!e.handle) {
    std::fprintf(stderr, "cannot load %s: %s\n", ZEFA_ENGINE_SO, dlerror());
    return 1;
  }
  for (const auto& c : take_calls()) found += "loading: " + c + "\n";
  e.eval = reinterpret_cast<char* (*)(const char*)>(dlsym(e.handle, "zefa_engine_eval"));
  e.free = reinterpret_cast<void (*)(char*)>(dlsym(e.handle, "zefa_engine_free"));
  if (!e.eval || !e.free) {
    std::fprintf(stderr, "the library lacks its entry points\n");
    return 1;
  }

  size_t requests = 0;
  for (const auto& g : groups) {
    requests += g.requests.size();
    found += in_child(e, g);
  }
  g_inside = true;
  dlclose(e.handle);
  g_inside = false;
  for (const auto& c : take_calls()) found += "unloading: " + c + "\n";

  std::printf("%zu requests in %zu processes\n", requests, groups.size());
  if (found.empty()) return 0;
  std::fprintf(stderr, "read from the host's process:\n%s", found.c_str());
  return 1;
}
