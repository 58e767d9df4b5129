#include "lib.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "api/request.hpp"
#include "error.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "zefa_engine.h"

namespace zefa::lib {

namespace {

std::string failure_reply(std::string_view message) {
  json::Object reply;
  reply.push_unique("ok", false);
  reply.push_unique("error", message);
  return json::dump(json::Value(std::move(reply)));
}

// The fault report: the only text the library ever writes.
void report_fault(const char* what, const char* type) noexcept {
  std::fprintf(stderr, "zefa engine: internal fault (%s): %s\n", type, what);
  std::fflush(stderr);
}

constexpr const char* kPanicReply = R"({"ok":false,"error":"engine panic"})";

}  // namespace

// Room for the reply text handed to the host, or null. Tests make it fail
// through the fault point "lib::reply".
void* reply_alloc(size_t size) noexcept {
  try {
    testing::fault_point("lib::reply");
  } catch (...) {
    return nullptr;
  }
  return std::malloc(size);
}

std::string evaluate_json(std::string_view text) {
  int depth = 0;
  auto request = json::parse(text, json::kMaxDepth, &depth);
  if (!request) return failure_reply(request.error().to_string());
  json::Object reply;
  Result<json::Value> result = api::request(*request, depth);
  if (result.ok()) {
    reply.push_unique("ok", true);
    reply.push_unique("value", std::move(result).value());
  } else {
    reply.push_unique("ok", false);
    reply.push_unique("error", result.error().to_string());
  }
  return json::dump(json::Value(std::move(reply)));
}

std::string eval_guarded(const char* request) noexcept {
  try {
    try {
      if (!request) return failure_reply("null input");
      std::string_view text(request);
      if (!json::valid_utf8(text)) return failure_reply("invalid UTF-8");
      return evaluate_json(text);
    } catch (const std::exception& e) {
      report_fault(e.what(), typeid(e).name());
    } catch (...) {
      report_fault("unknown fault", "non-standard exception");
    }
    return failure_reply("engine panic");
  } catch (...) {
    // Not even the panic reply could be built (memory is exhausted): the
    // fixed text needs no allocation beyond the string itself.
    try {
      return kPanicReply;
    } catch (...) {
      std::abort();
    }
  }
}

}  // namespace zefa::lib

extern "C" {

ZEFA_ENGINE_API uint8_t* zefa_engine_alloc(size_t size) {
  if (size == 0) return nullptr;
  if (size > static_cast<size_t>(PTRDIFF_MAX)) std::abort();
  void* p = std::calloc(size, 1);
  if (!p) std::abort();
  return static_cast<uint8_t*>(p);
}

ZEFA_ENGINE_API void zefa_engine_dealloc(uint8_t* ptr, size_t size) {
  if (!ptr || size == 0) return;
  std::free(ptr);
}

ZEFA_ENGINE_API char* zefa_engine_eval(const char* request) {
  std::string reply = zefa::lib::eval_guarded(request);
  char* out = static_cast<char*>(zefa::lib::reply_alloc(reply.size() + 1));
  if (!out) {
    // A large reply that finds no room for its copy is a fault like any
    // other: its own memory goes back first, so the short text fits.
    zefa::lib::report_fault("no memory for the reply text", "std::bad_alloc");
    std::string().swap(reply);
    reply = zefa::lib::kPanicReply;
    out = static_cast<char*>(zefa::lib::reply_alloc(reply.size() + 1));
    if (!out) std::abort();
  }
  std::memcpy(out, reply.data(), reply.size());
  out[reply.size()] = 0;
  return out;
}

ZEFA_ENGINE_API void zefa_engine_free(char* reply) { std::free(reply); }

}  // extern "C"
