#include "testing.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zefa::testing {

namespace {
std::atomic<FaultHook> g_hook{nullptr};
}

void set_fault_hook(FaultHook hook) noexcept { g_hook.store(hook, std::memory_order_release); }

void fault_point(std::string_view where) {
  if (FaultHook h = g_hook.load(std::memory_order_acquire)) h(where);
}

json::Value parse_or_abort(std::string_view text) {
  auto parsed = json::parse(text);
  if (!parsed) {
    std::fprintf(stderr, "invalid JSON: %s\n", parsed.error().to_string().c_str());
    std::abort();
  }
  return std::move(parsed).value();
}

void check(bool holds) {
  if (!holds) std::abort();
}

std::optional<json::Value> parse_input(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!json::valid_utf8(text)) return std::nullopt;
  auto parsed = json::parse(text);
  if (!parsed) return std::nullopt;
  return std::move(parsed).value();
}

}  // namespace zefa::testing
