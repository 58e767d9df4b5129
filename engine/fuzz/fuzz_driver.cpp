// Driver state documents from the host: reading, the state check, the
// settings block and carrying never fault; every document that reads writes
// back to text that reads again to the same bytes; carrying keeps the larger
// report counter; "carry" and "settings" requests answer.
//
// Input: {"driver": a state document, "old": a state document}.
#include <cstdlib>
#include <string>

#include "api/request.hpp"
#include "driver/driver.hpp"
#include "json.hpp"
#include "testing.hpp"

namespace {

using zefa::driver::Driver;
using zefa::json::Value;

using zefa::testing::check;

// Written and read again, a document keeps its bytes and stays parseable.
void check_round_trip(const Driver& d) {
  const std::string text = d.serialize().dump();
  auto back = Driver::deserialize(zefa::testing::parse_or_abort(text));
  check(back.ok());
  check(back.value().serialize().dump() == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const Value input = std::move(*parsed);

  for (const char* op : {"carry", "settings"}) {
    Value req = input;
    if (!req.is_object()) break;
    req.obj_mut().insert_or_assign("op", Value(op));
    auto r = zefa::api::request(req);
    if (r.ok() && r.value().find("driver")) {
      auto d = Driver::deserialize(r.value()["driver"]);
      check(d.ok());
      check_round_trip(d.value());
    }
  }

  auto d = Driver::deserialize(input["driver"]);
  if (!d.ok()) return 0;
  check_round_trip(d.value());
  if (!d.value().validate_state().ok()) return 0;
  check(d.value().settings_block().is_object());
  auto old = Driver::deserialize(input["old"]);
  if (!old.ok()) return 0;
  Driver carried = d.value();
  carried.carry(old.value());
  check(carried.seq == std::max(d.value().seq, old.value().seq));
  check(carried.config == d.value().config);
  check_round_trip(carried);
  return 0;
}
