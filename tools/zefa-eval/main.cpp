// zefa-eval: a stand-in for the host. Loads the engine's shared library the
// way a host does (dlopen), evaluates requests, prints one reply per line.
//
//   zefa-eval [--lib PATH] [FILE...]
//
// Each input holds one JSON request per line; blank lines and lines whose
// first character is '#' (comments) are skipped. Without files, requests are
// read from standard input.
#include <dlfcn.h>

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
    "  --lib PATH  the engine library to load (default: the one built beside it)\n"
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

}  // namespace

int main(int argc, char** argv) {
  std::string lib = ZEFA_ENGINE_SO;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--lib") == 0 && i + 1 < argc) {
      lib = argv[++i];
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      files.emplace_back(argv[i]);
    }
  }
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
