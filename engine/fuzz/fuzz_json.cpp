// Parser and writer: any text either fails to parse or parses to a value
// whose compact text parses back to an equal value and is itself stable.
#include <cstdlib>
#include <string>

#include "json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!zefa::json::valid_utf8(text)) return 0;
  zefa::json::Value v;
  zefa::json::ParseError err;
  if (!zefa::json::parse(text, v, err)) {
    if (err.message.empty() || err.line == 0) std::abort();
    return 0;
  }
  std::string once = v.dump();
  zefa::json::Value back;
  if (!zefa::json::parse(once, back, err)) std::abort();
  if (!(back == v)) std::abort();
  if (back.dump() != once) std::abort();
  // Copies are independent of writes to the original.
  zefa::json::Value copy = v;
  if (v.is_object()) v.obj_mut().insert_or_assign("fuzz", 1);
  if (v.is_array()) v.arr_mut().push_back(1);
  if (!(copy == back)) std::abort();
  return 0;
}
