// Fault injection for tests: lets a test raise an internal fault at a named
// point (for example while a registry lock is held). In normal operation no
// hook is installed and a fault point is one atomic load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "json.hpp"

namespace zefa::testing {

using FaultHook = void (*)(std::string_view where);

void set_fault_hook(FaultHook hook) noexcept;
void fault_point(std::string_view where);

// For benchmarks and fuzz harnesses: parses text they know to be valid JSON;
// a failure prints the parse error and aborts.
json::Value parse_or_abort(std::string_view text);

// For fuzz harnesses: aborts when an invariant does not hold, so the fuzzer
// reports the input.
void check(bool holds);

// For fuzz harnesses: the input bytes as a JSON value, or nothing when they
// are not UTF-8 or not JSON text (inputs the engine refuses at its door).
std::optional<json::Value> parse_input(const uint8_t* data, size_t size);

}  // namespace zefa::testing
