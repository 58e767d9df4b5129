// The evaluator behind the exported functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zefa::lib {

// Parses the request, dispatches it and wraps the result in the reply
// envelope. Always returns a reply text.
std::string evaluate_json(std::string_view text);

// The whole of one evaluation as the exported function runs it: null and
// UTF-8 checks, evaluation, and the fault guard that turns any internal
// fault into "engine panic".
std::string eval_guarded(const char* request) noexcept;

// Room for the reply text handed to the host; null when memory is exhausted.
void* reply_alloc(size_t size) noexcept;

}  // namespace zefa::lib
