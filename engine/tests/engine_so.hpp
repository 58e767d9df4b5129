// The built shared library, loaded as a host loads it.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "json.hpp"
#include "test_util.hpp"

namespace zefa::test {

struct EngineSo {
  void* handle = nullptr;
  uint8_t* (*alloc)(size_t) = nullptr;
  void (*dealloc)(uint8_t*, size_t) = nullptr;
  char* (*eval)(const char*) = nullptr;
  void (*free)(char*) = nullptr;

  EngineSo() {
    handle = dlopen(ZEFA_ENGINE_SO, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    alloc = reinterpret_cast<decltype(alloc)>(dlsym(handle, "zefa_engine_alloc"));
    dealloc = reinterpret_cast<decltype(dealloc)>(dlsym(handle, "zefa_engine_dealloc"));
    eval = reinterpret_cast<decltype(eval)>(dlsym(handle, "zefa_engine_eval"));
    free = reinterpret_cast<decltype(free)>(dlsym(handle, "zefa_engine_free"));
  }
  bool loaded() const { return handle && alloc && dealloc && eval && free; }

  // The reply text of one request.
  std::string call(const char* request) const {
    char* r = eval(request);
    std::string s(r);
    free(r);
    return s;
  }
  std::string call(const json::Value& request) const { return call(request.dump().c_str()); }
};

// One instance per process: the library's registries live as long as it does.
inline const EngineSo& engine_so() {
  static EngineSo e;
  return e;
}

}  // namespace zefa::test
