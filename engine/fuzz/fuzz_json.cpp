// Parser and writer: any text either fails to parse or parses to a value
// whose compact text parses back to an equal value and is itself stable.
#include <cstdlib>
#include <string>

#include "json.hpp"
#include "testing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!zefa::json::valid_utf8(text)) return 0;
  auto parsed = zefa::json::parse(text);
  if (!parsed) {
    if (parsed.error().message.empty() || parsed.error().line == 0) std::abort();
    return 0;
  }
  zefa::json::Value v = std::move(parsed).value();
  std::string once = v.dump();
  const zefa::json::Value back = zefa::testing::parse_or_abort(once);
  if (!(back == v)) std::abort();
  if (back.dump() != once) std::abort();
  // Copies are independent of writes to the original.
  zefa::json::Value copy = v;
  if (v.is_object()) v.obj_mut().insert_or_assign("fuzz", 1);
  if (v.is_array()) v.arr_mut().push_back(1);
  if (!(copy == back)) std::abort();
  return 0;
}
