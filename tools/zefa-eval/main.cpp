// zefa-eval: a stand-in for the host. Loads the engine's shared library the
// way a host does (dlopen), evaluates requests, prints one reply per line.
//
//   zefa-eval [--lib PATH] [FILE...]
//
// Each input holds one JSON request per line; blank lines and lines whose
// first character is '#' (comments) are skipped. Without files, requests are
// read from standard input.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: zefa-eval [--lib PATH] [FILE...]\n"
    "Evaluates one JSON request per line with the zefa engine and prints one\n"
    "reply per line. Reads the FILEs in turn, or standard input without one.\n"
    "Blank lines and lines starting with '#' are skipped.\n"
    "  --lib PATH  the engine library to load; by default the one of this\n"
    "              program's build folder, or once installed the one of its\n"
    "              own prefix, else " ZEFA_ENGINE_SONAME " from the loader's path\n"
    "  -h, --help  print this text\n";

using EvalFn = char* (*)(const char*);
using FreeFn = void (*)(char*);

struct Engine {
  EvalFn eval = nullptr;
  FreeFn free = nullptr;
};

int run_stream(const Engine& engine, std::istream& in) {
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') continue;
    char* reply = engine.eval(line.c_str());
    std::fputs(reply, stdout);
    std::fputc('\n', stdout);
    engine.free(reply);
  }
  std::fflush(stdout);
  return 0;
}

int usage_error(const char* what, const char* arg) {
  std::fprintf(stderr, "zefa-eval: %s %s\n%s", what, arg, kUsage);
  return 2;
}

// The folder this program runs from, symbolic links resolved; empty when
// unknown.
std::string own_dir() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
  std::string path(buf.data(), static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

bool same_dir(const std::string& a, const char* b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The build's library serves only the program in its build folder, so an
// installed copy never loads a build tree's library by chance.
std::string default_library() {
  std::string dir = own_dir();
  if (dir.empty()) return ZEFA_ENGINE_SONAME;
  if (same_dir(dir, ZEFA_EVAL_BUILD_DIR)) return ZEFA_ENGINE_SO;
  std::string installed = dir + "/" ZEFA_EVAL_LIBDIR_FROM_BIN "/" ZEFA_ENGINE_SONAME;
  if (access(installed.c_str(), F_OK) == 0) return installed;
  return ZEFA_ENGINE_SONAME;
}

}  // namespace

int main(int argc, char** argv) {
  const char* lib_arg = nullptr;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--lib") == 0) {
      if (i + 1 == argc) return usage_error("missing the value of", argv[i]);
      lib_arg = argv[++i];
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      return usage_error("unknown option", argv[i]);
    } else {
      files.emplace_back(argv[i]);
    }
  }
  const std::string lib = lib_arg ? lib_arg : default_library();
  void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "zefa-eval: cannot load %s: %s\n", lib.c_str(), dlerror());
    return 2;
  }
  Engine engine;
  engine.eval = reinterpret_cast<EvalFn>(dlsym(handle, "zefa_engine_eval"));
  engine.free = reinterpret_cast<FreeFn>(dlsym(handle, "zefa_engine_free"));
  if (!engine.eval || !engine.free) {
    std::fprintf(stderr, "zefa-eval: %s lacks the engine's entry points\n", lib.c_str());
    return 2;
  }
  if (files.empty()) return run_stream(engine, std::cin);
  for (const std::string& f : files) {
    std::ifstream in(f);
    if (!in) {
      std::fprintf(stderr, "zefa-eval: cannot read %s\n", f.c_str());
      return 2;
    }
    run_stream(engine, in);
  }
  return 0;
}
