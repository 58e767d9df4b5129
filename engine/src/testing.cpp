#include "testing.hpp"

#include <atomic>

namespace zefa::testing {

namespace {
std::atomic<FaultHook> g_hook{nullptr};
}

void set_fault_hook(FaultHook hook) noexcept { g_hook.store(hook, std::memory_order_release); }

void fault_point(std::string_view where) {
  if (FaultHook h = g_hook.load(std::memory_order_acquire)) h(where);
}

}  // namespace zefa::testing
