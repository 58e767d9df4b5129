// The exported evaluation function: any bytes give a well-formed reply.
#include <cstdlib>
#include <cstring>
#include <string>

#include "json.hpp"
#include "zefa_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  char* reply = zefa_engine_eval(text.c_str());
  // A host parses every reply: it must be well-formed UTF-8 JSON.
  if (!zefa::json::valid_utf8(reply)) std::abort();
  auto parsed = zefa::json::parse(reply);
  if (!parsed) std::abort();
  const zefa::json::Value& v = *parsed;
  if (!v.is_object() || v.obj().at(0).name() != "ok") std::abort();
  if (v["ok"].as_bool() ? !v.find("value") : !v["error"].is_string()) std::abort();
  zefa_engine_free(reply);
  return 0;
}
