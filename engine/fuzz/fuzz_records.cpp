// Typed-record readers on arbitrary JSON: reading never throws or crashes,
// a failure always carries a message, and what reads back from its own
// written form writes the same text again.
#include <cstdlib>
#include <string>

#include "driver/cover.hpp"
#include "driver/motion.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "protocol.hpp"
#include "record.hpp"
#include "runtime/options.hpp"

namespace {

template <class T>
void check(const zefa::json::Value& v) {
  auto first = zefa::record::read<T>(v);
  if (!first.ok()) {
    if (first.error().empty()) std::abort();
    return;
  }
  std::string once = zefa::record::write(first.value()).dump();
  auto again = zefa::record::read<T>(zefa::record::write(first.value()));
  if (!again.ok()) std::abort();
  if (zefa::record::write(again.value()).dump() != once) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parsed = zefa::testing::parse_input(data, size);
  if (!parsed) return 0;
  const zefa::json::Value v = std::move(*parsed);

  using namespace zefa::protocol;
  check<Input>(v);
  check<zefa::runtime::DriverOptions>(v);
  check<zefa::runtime::HostEnv>(v);
  check<zefa::driver::cover::Cover>(v);
  check<zefa::driver::cover::Motion>(v);
  check<std::optional<Channel>>(v);
  check<DpKind>(v);
  // The same value as held-back content: a seed of a describe input.
  if (v.depth() < zefa::json::kMaxDepth - 2) {
    zefa::json::Value seed = zefa::json::Value::array();
    seed.arr_mut().push_back(v);
    check<Input>(zefa::json::Value(zefa::json::Object{{"type", "describe"}, {"seed", seed}}));
  }
  return 0;
}
