// Request dispatch: every operation a request can name.
#pragma once

#include "error.hpp"
#include "json.hpp"

namespace zefa::api {

// Runs the operation the request names and returns its result.
Result<json::Value> request(const json::Value& req);

}  // namespace zefa::api
